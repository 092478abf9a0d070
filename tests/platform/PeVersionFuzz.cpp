#include "PeVersionFuzz.h"

#include <cstdio>
#include <cstdlib>
#include <span>

#include "platform/FileVersionInfo.h"
#include "platform/StandInLimits.h"

namespace {

using lumidex::platform::PeVersionError;
using lumidex::platform::VerQueryValue;

[[noreturn]] void Broken(const char* what) {
    std::fprintf(stderr, "FuzzPeVersion: %s\n", what);
    std::abort();
}

constexpr const char* kQueries[] = {
    "\\",
    "\\VarFileInfo\\Translation",
    "\\StringFileInfo\\040904B0\\FileVersion",
    "\\StringFileInfo",
    "VarFileInfo\\\\Translation\\",
};

// Every answer of a query lies inside the block it was asked of.
void CheckQueries(std::span<const uint8_t> block) {
    for (const char* query : kQueries) {
        std::span<const uint8_t> value;
        if (!VerQueryValue(block, query, value)) {
            continue;
        }
        if (!value.empty() && (value.data() < block.data() ||
                               value.data() + value.size() > block.data() + block.size())) {
            Broken("a value lies outside its block");
        }
    }
}

}  // namespace

int FuzzPeVersion(const uint8_t* data, size_t size) {
    const std::span<const uint8_t> input(data, size);
    const auto result = lumidex::platform::ExtractVersionBlock(input);
    if (result.error == PeVersionError::None) {
        if (result.block.empty() ||
            result.block.size() > lumidex::platform::kVersionBlockMaxBytes) {
            Broken("a found block has an impossible size");
        }
        std::span<const uint8_t> root;
        if (!VerQueryValue(result.block, "\\", root)) {
            Broken("a found block has no root");
        }
        CheckQueries(result.block);
    } else if (!result.block.empty()) {
        Broken("a rejected file gave a block");
    }
    // The block parser on its own, fed the raw bytes.
    CheckQueries(input);
    return 0;
}
