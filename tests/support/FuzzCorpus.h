// What every fuzz entry point shares: the entry's signature, reading a stored corpus (one
// input per file), and the plain program that runs an entry over the files and directories
// named on its command line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

namespace lumidex::testing {

using FuzzEntry = int (*)(const uint8_t* data, size_t size);

inline int RunFuzzEntry(FuzzEntry entry, std::string_view input) {
    return entry(reinterpret_cast<const uint8_t*>(input.data()), input.size());
}

// The bytes of every regular file in dir, one input each.
inline std::vector<std::string> ReadCorpus(const std::filesystem::path& dir) {
    std::vector<std::string> inputs;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        if (entry.is_regular_file()) {
            std::ifstream in(entry.path(), std::ios::binary);
            inputs.emplace_back(std::istreambuf_iterator<char>(in),
                                std::istreambuf_iterator<char>());
        }
    }
    return inputs;
}

// The corpus program's main over paths[0..count): each file named, and each regular file in
// each directory named, is one input. A file that cannot be read, or an entry that returns
// other than 0, is a failure. Exit status 0 when there were inputs and no failures.
inline int RunFuzzCorpusProgram(int count, char** paths, FuzzEntry entry) {
    int failures = 0;
    int inputs = 0;
    auto runOne = [&](const std::filesystem::path& path) {
        ++inputs;
        std::ifstream in(path, std::ios::binary);
        if (!in) {
            std::fprintf(stderr, "cannot read %s\n", path.c_str());
            ++failures;
            return;
        }
        const std::string bytes((std::istreambuf_iterator<char>(in)),
                                std::istreambuf_iterator<char>());
        failures += RunFuzzEntry(entry, bytes) != 0 ? 1 : 0;
    };
    for (int i = 0; i < count; ++i) {
        const std::filesystem::path arg = paths[i];
        if (!std::filesystem::is_directory(arg)) {
            runOne(arg);
            continue;
        }
        for (const auto& file : std::filesystem::directory_iterator(arg)) {
            if (file.is_regular_file()) {
                runOne(file.path());
            }
        }
    }
    std::printf("%d inputs, %d failures\n", inputs, failures);
    return failures == 0 && inputs > 0 ? 0 : 1;
}

}  // namespace lumidex::testing
