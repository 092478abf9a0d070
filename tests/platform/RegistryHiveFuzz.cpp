#include "RegistryHiveFuzz.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "HiveDump.h"
#include "platform/HiveParser.h"

namespace {

using lumidex::platform::HiveParser;
using lumidex::platform::HiveParseStatus;

struct Outcome {
    HiveParseStatus status;
    std::size_t malformed;
    std::string dump;
};

Outcome Parse(std::string_view input, std::size_t firstCut, std::size_t pieceSize) {
    HiveParser parser;
    parser.Feed(input.substr(0, firstCut));
    for (std::size_t pos = firstCut; pos < input.size(); pos += pieceSize) {
        parser.Feed(input.substr(pos, pieceSize));
    }
    Outcome outcome{parser.Finish(), parser.MalformedLines(), {}};
    if (outcome.status == HiveParseStatus::Complete) {
        outcome.dump = lumidex::testing::DumpHive(*parser.TakeHive());
    }
    return outcome;
}

[[noreturn]] void Broken(const char* what) {
    std::fprintf(stderr, "FuzzRegistryHive: %s\n", what);
    std::abort();
}

void CheckLookups(const lumidex::platform::HiveKey& key) {
    for (const auto& value : key.Values()) {
        const auto* found = key.FindValue(lumidex::platform::FoldName(value.name));
        if (found == nullptr || !lumidex::platform::NamesEqual(found->name, value.name)) {
            Broken("a value cannot be found by its own name");
        }
    }
    for (const auto* child : key.Children()) {
        if (key.FindChild(child->Name()) != child) {
            Broken("a key cannot be found by its own name");
        }
        CheckLookups(*child);
    }
}

}  // namespace

int FuzzRegistryHive(const uint8_t* data, size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const Outcome whole = Parse(input, size, 1);
    if (whole.status == HiveParseStatus::NeedMore) {
        Broken("Finish left the parser waiting");
    }
    // The tree may not depend on how the bytes arrive.
    const std::size_t cut = size == 0 ? 0 : data[0] % size;
    for (std::size_t piece : {std::size_t{1}, std::size_t{3}, std::size_t{64}}) {
        const Outcome split = Parse(input, cut, piece);
        if (split.status != whole.status || split.malformed != whole.malformed ||
            split.dump != whole.dump) {
            Broken("feeding in pieces changed the result");
        }
    }
    if (whole.status == HiveParseStatus::Complete) {
        const auto result = lumidex::platform::ParseHive(input);
        if (!result.hive) {
            Broken("a complete parse gave no tree");
        }
        CheckLookups(result.hive->Root());
    }
    return 0;
}
