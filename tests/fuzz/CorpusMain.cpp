// The corpus program of one fuzz entry point, named by LUMIDEX_FUZZ_ENTRY when it is built:
// NAME-corpus DIR|FILE... (lumidex_fuzz_target in tests/CMakeLists.txt).
#include <cstddef>
#include <cstdint>

#include "support/FuzzCorpus.h"

int LUMIDEX_FUZZ_ENTRY(const uint8_t* data, size_t size);

int main(int argc, char** argv) {
    return lumidex::testing::RunFuzzCorpusProgram(argc - 1, argv + 1, LUMIDEX_FUZZ_ENTRY);
}
