// The fuzz entry point over the stored corpus and systematic damage to it: cut short, single
// bytes changed to the characters the grammar cares about, responses doubled.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "HttpResponseFuzz.h"
#include "support/FuzzCorpus.h"

namespace {

std::vector<std::string> Corpus() {
    return lumidex::testing::ReadCorpus(LUMIDEX_HTTP_CORPUS_DIR);
}

void Fuzz(const std::string& input) {
    lumidex::testing::RunFuzzEntry(FuzzHttpResponse, input);
}

TEST(HttpResponseFuzz, SurvivesTheCorpusAndDamageToIt) {
    const std::vector<std::string> corpus = Corpus();
    ASSERT_GE(corpus.size(), 6u);
    const std::string special(":\r\n\0 -fx;0\t", 11);
    for (const std::string& file : corpus) {
        Fuzz(file);
        for (std::size_t cut = 0; cut < file.size(); cut += 3) {
            Fuzz(file.substr(0, cut));
        }
        for (std::size_t pos = 0; pos < file.size(); ++pos) {
            std::string damaged = file;
            damaged[pos] = special[pos % special.size()];
            Fuzz(damaged);
        }
        Fuzz(file + file);
    }
}

}  // namespace
