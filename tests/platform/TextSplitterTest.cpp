#include "platform/TextSplitter.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace lumidex {
namespace {

TEST(TextSplitterTest, KeepsInnerEmptyPiecesOnly) {
    const struct {
        const char* delimiter;
        const char* text;
        std::vector<std::string> pieces;
    } rows[] = {
        {",", "a,b", {"a", "b"}},
        {",", "a,,b", {"a", "", "b"}},
        {",", "a,b,", {"a", "b"}},
        {",", ",a", {"", "a"}},
        {",", "", {}},
        {",", "ab", {"ab"}},
        {"\r\n", "x\r\ny\r\n\r\nz", {"x", "y", "", "z"}},
        {"", "a,b", {"a,b"}},
    };
    TextSplitter splitter;
    EXPECT_EQ(splitter.Delimiter(), "\r\n");
    for (const auto& row : rows) {
        splitter.SetDelimiter(row.delimiter);
        splitter.Split(row.text);
        EXPECT_EQ(splitter.Pieces(), row.pieces) << row.text;
    }
}

}  // namespace
}  // namespace lumidex
