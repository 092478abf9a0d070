// Runs one service fuzz entry point over a corpus: service_fuzz xml|label|probe-reply|hosts
// DIR|FILE...
#include <cstdio>

#include "ServiceFuzz.h"
#include "support/FuzzCorpus.h"

int main(int argc, char** argv) {
    const ServiceFuzzTarget target = argc > 1 ? ServiceFuzzTargetNamed(argv[1]) : nullptr;
    if (target == nullptr) {
        std::fprintf(stderr, "usage: service_fuzz xml|label|probe-reply|hosts DIR|FILE...\n");
        return 2;
    }
    return lumidex::testing::RunFuzzCorpusProgram(argc - 2, argv + 2, target);
}
