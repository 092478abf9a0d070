// The libFuzzer program of one fuzz entry point, named by LUMIDEX_FUZZ_ENTRY when it is built
// (lumidex_fuzz_target in tests/CMakeLists.txt).
#include <cstddef>
#include <cstdint>

int LUMIDEX_FUZZ_ENTRY(const uint8_t* data, size_t size);

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return LUMIDEX_FUZZ_ENTRY(data, size);
}
