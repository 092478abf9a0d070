// Stands in for the XP SP2 patch program in tests and the lab (never installed).
//   xpsp2-patch-standin getliminfo HANDLE  answers the window HANDLE over copied data
//   xpsp2-patch-standin                    the visible start: only recorded
// Environment: LUMIDEX_PATCH_ANSWER the answer text (default "50|standin"),
// LUMIDEX_PATCH_DATA its dwData (default 5890), LUMIDEX_PATCH_RECORD a file that gets one line
// per start: the arguments joined by blanks, or "start" when there were none.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/CopyData.h"

namespace {

constexpr char kDefaultAnswer[] = "50|standin";
constexpr unsigned long kDefaultData = 5890;

const char* Env(const char* name, const char* fallback) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : fallback;
}

void Record(int argc, char** argv) {
    const char* path = std::getenv("LUMIDEX_PATCH_RECORD");
    if (path == nullptr) {
        return;
    }
    std::string line = argc > 1 ? "" : "start";
    for (int i = 1; i < argc; ++i) {
        line += (i > 1 ? " " : "") + std::string(argv[i]);
    }
    if (std::FILE* file = std::fopen(path, "a")) {
        std::fprintf(file, "%s\n", line.c_str());
        std::fclose(file);
    }
}

}  // namespace

int main(int argc, char** argv) {
    Record(argc, argv);
    if (argc == 1) {
        return 0;
    }
    if (argc != 3 || std::strcmp(argv[1], "getliminfo") != 0) {
        std::fprintf(stderr, "usage: xpsp2-patch-standin [getliminfo HANDLE]\n");
        return 2;
    }
    const auto window = static_cast<lumidex::platform::WindowHandle>(std::atol(argv[2]));
    const auto data = static_cast<uint32_t>(
        std::strtoul(Env("LUMIDEX_PATCH_DATA", std::to_string(kDefaultData).c_str()), nullptr, 10));
    return lumidex::platform::SendCopyData(window, data,
                                           Env("LUMIDEX_PATCH_ANSWER", kDefaultAnswer))
               ? 0
               : 1;
}
