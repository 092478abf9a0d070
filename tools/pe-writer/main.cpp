// make-version-pe OUTPUT MAJOR.MINOR.BUILD.REVISION [--no-translation]: writes a PE image
// with that file version (the lab's fixture programs are made with it).
#include <cstdio>
#include <cstring>
#include <fstream>

#include "tools/pe-writer/PeWriter.h"

int main(int argc, char** argv) {
    lumidex::tools::PeVersionSpec spec;
    if (argc < 3 || argc > 4 || !lumidex::tools::ParseVersion(argv[2], spec.fileVersion) ||
        (argc == 4 && std::strcmp(argv[3], "--no-translation") != 0)) {
        std::fprintf(stderr, "usage: make-version-pe OUTPUT A.B.C.D [--no-translation]\n");
        return 2;
    }
    spec.withTranslation = argc != 4;
    std::copy(std::begin(spec.fileVersion), std::end(spec.fileVersion), spec.productVersion);
    const std::string image = lumidex::tools::MakeVersionPe(spec);
    std::ofstream out(argv[1], std::ios::binary | std::ios::trunc);
    out.write(image.data(), static_cast<std::streamsize>(image.size()));
    return out ? 0 : 1;
}
