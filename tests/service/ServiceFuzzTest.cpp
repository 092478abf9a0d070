// The service fuzz entry points over their stored corpora and systematic damage to them: cut
// short, single bytes changed to the bytes their grammars care about, doubled.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ServiceFuzz.h"
#include "support/FuzzCorpus.h"

namespace {

std::vector<std::string> Corpus(const std::string& name) {
    return lumidex::testing::ReadCorpus(std::string(LUMIDEX_SERVICE_CORPUS_DIR) + "/" + name);
}

void Damage(ServiceFuzzTarget target, const std::string& file, const std::string& special) {
    auto fuzz = [target](const std::string& input) {
        lumidex::testing::RunFuzzEntry(target, input);
    };
    fuzz(file);
    const std::size_t step = file.size() > 2000 ? file.size() / 500 : 1;
    for (std::size_t cut = 0; cut < file.size(); cut += step) {
        fuzz(file.substr(0, cut));
    }
    for (std::size_t pos = 0; pos < file.size(); pos += step) {
        std::string damaged = file;
        damaged[pos] = special[pos % special.size()];
        fuzz(damaged);
    }
    fuzz(file + file);
}

TEST(ServiceFuzz, SurvivesTheCorporaAndDamageToThem) {
    const struct {
        const char* corpus;
        std::string special;
    } targets[] = {
        {"xml", std::string("<>/?!-='\"\r\n\t x\0", 15)},
        {"label", std::string("=a7.0/:@?#klv\0", 14)},
        {"probe-reply", std::string("\x00\x06\x07\x08\x43\xff\x02", 7)},
        {"hosts", std::string("#; \t\r\n.:1kelvora\0", 17)},
        {"channel-list", std::string("<>/=\"Ux.:@", 10)},
        {"service-url", std::string(":/@?#.klv7\0", 11)},
    };
    for (const auto& t : targets) {
        SCOPED_TRACE(t.corpus);
        const ServiceFuzzTarget target = ServiceFuzzTargetNamed(t.corpus);
        ASSERT_NE(target, nullptr);
        const std::vector<std::string> corpus = Corpus(t.corpus);
        ASSERT_GE(corpus.size(), 3u);
        for (const std::string& file : corpus) {
            Damage(target, file, t.special);
        }
    }
}

}  // namespace
