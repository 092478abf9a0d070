// The fuzz entry point over the stored corpus and systematic damage to it: cut short, single
// bytes changed to the characters the grammar cares about, lines doubled.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "RegistryHiveFuzz.h"
#include "support/FuzzCorpus.h"

namespace {

std::vector<std::string> Corpus() {
    return lumidex::testing::ReadCorpus(LUMIDEX_HIVE_CORPUS_DIR);
}

void Fuzz(const std::string& input) {
    lumidex::testing::RunFuzzEntry(FuzzRegistryHive, input);
}

TEST(RegistryHiveFuzz, SurvivesTheCorpusAndDamageToIt) {
    const std::vector<std::string> corpus = Corpus();
    ASSERT_GE(corpus.size(), 4u);
    const std::string special("\\\"[]=:,@;#\n\r\0x(", 15);
    for (const std::string& file : corpus) {
        Fuzz(file);
        for (std::size_t cut = 0; cut < file.size(); cut += 7) {
            Fuzz(file.substr(0, cut));
        }
        for (std::size_t pos = 0; pos < file.size(); pos += 5) {
            std::string damaged = file;
            damaged[pos] = special[pos % special.size()];
            Fuzz(damaged);
        }
        Fuzz(file + file);
    }
}

}  // namespace
