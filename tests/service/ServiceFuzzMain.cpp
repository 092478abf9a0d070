// Runs one service fuzz entry point over files and directories named on the command line (a
// corpus), one input per file: service_fuzz xml|label|probe-reply|hosts DIR|FILE...
// Exit status 0 when every input was handled.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "ServiceFuzz.h"

int main(int argc, char** argv) {
    const ServiceFuzzTarget target = argc > 1 ? ServiceFuzzTargetNamed(argv[1]) : nullptr;
    if (target == nullptr) {
        std::fprintf(stderr, "usage: service_fuzz xml|label|probe-reply|hosts DIR|FILE...\n");
        return 2;
    }
    int inputs = 0;
    for (int i = 2; i < argc; ++i) {
        const std::filesystem::path arg = argv[i];
        std::vector<std::filesystem::path> files;
        if (std::filesystem::is_directory(arg)) {
            for (const auto& entry : std::filesystem::directory_iterator(arg)) {
                if (entry.is_regular_file()) {
                    files.push_back(entry.path());
                }
            }
        } else {
            files.push_back(arg);
        }
        for (const auto& file : files) {
            std::ifstream in(file, std::ios::binary);
            const std::string bytes((std::istreambuf_iterator<char>(in)),
                                    std::istreambuf_iterator<char>());
            target(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
            ++inputs;
        }
    }
    std::printf("%d inputs\n", inputs);
    return inputs > 0 ? 0 : 1;
}
