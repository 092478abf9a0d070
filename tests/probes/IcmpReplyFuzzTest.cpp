// The fuzz entry point over the stored corpus and systematic damage to it: cut short, and
// each byte set to the values the check cares about (versions, header lengths, protocols,
// types, identifier bytes).
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "IcmpReplyFuzz.h"

namespace {

std::vector<std::string> Corpus() {
    std::vector<std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator(LUMIDEX_ICMP_CORPUS_DIR)) {
        std::ifstream in(entry.path(), std::ios::binary);
        files.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    return files;
}

void Fuzz(const std::string& input) {
    FuzzIcmpReply(reinterpret_cast<const uint8_t*>(input.data()), input.size());
}

TEST(IcmpReplyFuzz, SurvivesTheCorpusAndDamageToIt) {
    const std::vector<std::string> corpus = Corpus();
    ASSERT_GE(corpus.size(), 5u);
    const std::string special("\x00\x01\x03\x08\x0b\x12\x34\x40\x41\x44\x45\x46\x4f\x60\xff", 15);
    for (const std::string& file : corpus) {
        Fuzz(file);
        for (std::size_t cut = 0; cut < file.size(); ++cut) {
            Fuzz(file.substr(0, cut));
        }
        for (std::size_t pos = 0; pos < std::min<std::size_t>(file.size(), 64); ++pos) {
            for (char value : special) {
                std::string damaged = file;
                damaged[pos] = value;
                Fuzz(damaged);
            }
        }
    }
}

}  // namespace
