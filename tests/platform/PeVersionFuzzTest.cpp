// The fuzz entry point over the stored corpus and systematic damage to it: every cut, bytes
// set to values that offsets and lengths care about, the file doubled.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "PeVersionFuzz.h"

namespace {

std::vector<std::string> Corpus() {
    std::vector<std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator(LUMIDEX_PE_CORPUS_DIR)) {
        std::ifstream in(entry.path(), std::ios::binary);
        files.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    return files;
}

void Fuzz(const std::string& input) {
    FuzzPeVersion(reinterpret_cast<const uint8_t*>(input.data()), input.size());
}

TEST(PeVersionFuzz, SurvivesTheCorpusAndDamageToIt) {
    const std::vector<std::string> corpus = Corpus();
    ASSERT_GE(corpus.size(), 4u);
    const char special[] = {'\0', '\x01', '\x7f', '\x80', '\xff', '\x10', '\x04', '\x58'};
    for (const std::string& file : corpus) {
        Fuzz(file);
        for (std::size_t cut = 0; cut < file.size(); ++cut) {
            Fuzz(file.substr(0, cut));
        }
        for (std::size_t pos = 0; pos < file.size(); ++pos) {
            std::string damaged = file;
            damaged[pos] = special[pos % sizeof special];
            Fuzz(damaged);
        }
        Fuzz(file + file);
    }
}

}  // namespace
