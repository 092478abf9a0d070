// The fuzz entry point over the stored corpus and systematic damage to it: every cut, bytes
// set to values that offsets and lengths care about, the file doubled.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "PeVersionFuzz.h"
#include "support/FuzzCorpus.h"

namespace {

std::vector<std::string> Corpus() {
    return lumidex::testing::ReadCorpus(LUMIDEX_PE_CORPUS_DIR);
}

void Fuzz(const std::string& input) {
    lumidex::testing::RunFuzzEntry(FuzzPeVersion, input);
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
