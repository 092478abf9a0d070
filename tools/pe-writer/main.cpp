// make-version-pe OUTPUT MAJOR.MINOR.BUILD.REVISION [--no-translation]: writes a PE image
// with that file version (the lab's fixture programs are made with it).
#include <cstdio>
#include <cstring>
#include <fstream>

#include "tools/pe-writer/PeWriter.h"

int main(int argc, char** argv) {
    lumidex::tools::PeVersionSpec pe;
    if (argc < 3 || argc > 4 || !lumidex::tools::ParseVersion(argv[2], pe.fileVersion) ||
        (argc == 4 && std::strcmp(argv[3], "--no-translation") != 0)) {
        std::fprintf(stderr, "usage: make-version-pe OUTPUT A.B.C.D [--no-translation]\n");
        return 2;
    }
    pe.withTranslation = argc != 4;
    std::copy(std::begin(pe.fileVersion), std::end(pe.fileVersion), pe.productVersion);
    const std::string image = lumidex::tools::MakeVersionPe(pe);
    std::ofstream out(argv[1], std::ios::binary | std::ios::trunc);
    out.write(image.data(), static_cast<std::streamsize>(image.size()));
    return out ? 0 : 1;
}
