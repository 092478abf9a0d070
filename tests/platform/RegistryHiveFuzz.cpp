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

// Fed in pieces of 1 + pattern[n % size] % 64 bytes.
Outcome ParseInPattern(std::string_view input, std::string_view pattern) {
    HiveParser parser;
    for (std::size_t pos = 0, turn = 0; pos < input.size(); ++turn) {
        const std::size_t piece =
            1 + static_cast<unsigned char>(pattern[turn % pattern.size()]) % 64;
        parser.Feed(input.substr(pos, piece));
        pos += piece;
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

// About 12 000 inputs a second per core on the seeds, 8 000 once the corpus has grown: every
// line builds owned strings and keys, and the sanitizer's allocator is most of the cost. Both
// reads are what the target is for (the result may not depend on how the bytes arrive).
int FuzzRegistryHive(const uint8_t* data, size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const auto whole = lumidex::platform::ParseHive(input);
    if (whole.status == HiveParseStatus::NeedMore) {
        Broken("Finish left the parser waiting");
    }
    if (whole.status == HiveParseStatus::Complete && !whole.hive) {
        Broken("a complete parse gave no tree");
    }
    if (size == 0) {
        return 0;
    }
    // The tree may not depend on how the bytes arrive. One split whose cuts the input decides:
    // over many inputs every cut is tried, at a fraction of the cost of feeding each input byte
    // by byte.
    const Outcome split = ParseInPattern(input, input);
    if (split.status != whole.status || split.malformed != whole.malformedLines ||
        split.dump != (whole.hive ? lumidex::testing::DumpHive(*whole.hive) : "")) {
        Broken("feeding in pieces changed the result");
    }
    if (whole.hive) {
        CheckLookups(whole.hive->Root());
    }
    return 0;
}
