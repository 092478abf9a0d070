// The catalogue and its documented table (docs/problems.md) are one list: a code, its
// severity, its rows or its next step changed on one side only fails here.
#include "engine/ProblemCatalog.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <string>
#include <vector>

namespace lumidex {
namespace {

struct DocumentedProblem {
    std::string severity;
    std::vector<int> items;
    std::string advice;
};

// The item ids a Row cell starts with: "13 域名映射", "14-16", "17, 18", "P2P", "Path".
std::vector<int> ItemIds(const std::string& cell) {
    // The blocks beside the rows have no item id of their own.
    if (cell.rfind("P2P", 0) == 0) {
        return {kP2pBlockItem};
    }
    if (cell.rfind("Path", 0) == 0) {
        return {kPathBlockItem};
    }
    std::vector<int> ids;
    std::size_t at = 0;
    const auto number = [&] {
        int value = 0;
        for (; at < cell.size() && cell[at] >= '0' && cell[at] <= '9'; ++at) {
            value = value * 10 + (cell[at] - '0');
        }
        return value;
    };
    while (at < cell.size() && cell[at] >= '0' && cell[at] <= '9') {
        const int first = number();
        int last = first;
        if (at < cell.size() && cell[at] == '-') {
            ++at;
            last = number();
        }
        for (int id = first; id <= last; ++id) {
            ids.push_back(id);
        }
        if (cell.compare(at, 2, ", ") != 0) {
            break;
        }
        at += 2;
    }
    return ids;
}

std::vector<int> ItemIds(ItemRange range) {
    std::vector<int> ids;
    for (int id = range.first; id <= range.last; ++id) {
        ids.push_back(id);
    }
    return ids;
}

std::vector<std::string> Cells(const std::string& line) {
    std::vector<std::string> cells;
    std::size_t start = 1;  // past the leading "|"
    for (std::size_t bar; (bar = line.find(" |", start)) != std::string::npos; start = bar + 2) {
        std::string cell = line.substr(start, bar - start);
        cells.push_back(cell.size() > 0 && cell[0] == ' ' ? cell.substr(1) : cell);
    }
    return cells;
}

// The rows of the table headed "| Code | Severity | Row | ... | 下一步 | Next step |", by code.
std::map<std::string, DocumentedProblem> DocumentedProblems(std::vector<std::string>& errors) {
    std::ifstream in(LUMIDEX_PROBLEMS_DOC);
    std::map<std::string, DocumentedProblem> table;
    bool inTable = false;
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("| Code | Severity | Row |", 0) == 0) {
            inTable = true;
            continue;
        }
        if (!inTable || line.rfind("|---", 0) == 0) {
            continue;
        }
        if (line.rfind("| `", 0) != 0) {
            break;  // the table ended
        }
        const std::vector<std::string> cells = Cells(line);
        if (cells.size() != 7 || cells[0].size() < 3 || cells[0].back() != '`') {
            errors.push_back("malformed row: " + line);
            continue;
        }
        const std::string code = cells[0].substr(1, cells[0].size() - 2);
        if (!table.emplace(code, DocumentedProblem{cells[1], ItemIds(cells[2]), cells[5]}).second) {
            errors.push_back("documented twice: " + code);
        }
    }
    return table;
}

TEST(ProblemCatalogTest, DocumentedTableAndCatalogueAreTheSameList) {
    std::vector<std::string> errors;
    std::map<std::string, DocumentedProblem> documented = DocumentedProblems(errors);
    ASSERT_FALSE(documented.empty()) << "no table in " << LUMIDEX_PROBLEMS_DOC;
    for (const ProblemInfo& info : ProblemCatalog()) {
        const std::string name(info.name);
        EXPECT_EQ(ProblemCodeFromName(name), info.code) << name;
        EXPECT_EQ(name.find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789_"),
                  std::string::npos)
            << name;
        const auto found = documented.find(name);
        if (found == documented.end()) {
            ADD_FAILURE() << name << " is not in docs/problems.md";
            continue;
        }
        EXPECT_EQ(found->second.severity, SeverityName(info.severity)) << name;
        EXPECT_EQ(found->second.items, ItemIds(info.items)) << name;
        EXPECT_FALSE(found->second.items.empty()) << name;
        EXPECT_EQ(found->second.advice, info.advice) << name;
        EXPECT_FALSE(info.advice.empty()) << name;
        documented.erase(found);
    }
    for (const auto& [code, row] : documented) {
        ADD_FAILURE() << code << " is documented but not in the catalogue";
    }
    for (const std::string& error : errors) {
        ADD_FAILURE() << error;
    }
}

}  // namespace
}  // namespace lumidex
