// The fuzz entry point over the stored corpus and systematic damage to it: cut short, and
// each byte set to the values the check cares about (versions, header lengths, protocols,
// types, identifier bytes).
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "IcmpReplyFuzz.h"
#include "support/FuzzCorpus.h"

namespace {

std::vector<std::string> Corpus() {
    return lumidex::testing::ReadCorpus(LUMIDEX_ICMP_CORPUS_DIR);
}

void Fuzz(const std::string& input) {
    lumidex::testing::RunFuzzEntry(FuzzIcmpReply, input);
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
