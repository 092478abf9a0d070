// Writes a small, structurally valid 32-bit PE image whose only content is a version
// resource, for tests and for the lab's fixture programs. Not a program that runs.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace lumidex::tools {

struct PeVersionSpec {
    uint16_t fileVersion[4] = {0, 0, 0, 0};     // major, minor, build, revision
    uint16_t productVersion[4] = {0, 0, 0, 0};  // kept apart to show which one is read
    bool withTranslation = true;                // "\VarFileInfo\Translation" present
};

namespace pe_detail {

inline void Put16(std::string& out, uint16_t v) {
    out += static_cast<char>(v & 0xff);
    out += static_cast<char>(v >> 8);
}
inline void Put32(std::string& out, uint32_t v) {
    Put16(out, static_cast<uint16_t>(v & 0xffff));
    Put16(out, static_cast<uint16_t>(v >> 16));
}
inline void Set16(std::string& out, std::size_t at, uint16_t v) {
    out[at] = static_cast<char>(v & 0xff);
    out[at + 1] = static_cast<char>(v >> 8);
}
inline void Set32(std::string& out, std::size_t at, uint32_t v) {
    Set16(out, at, static_cast<uint16_t>(v & 0xffff));
    Set16(out, at + 2, static_cast<uint16_t>(v >> 16));
}
inline void Align(std::string& out, std::size_t to) {
    while (out.size() % to != 0) {
        out += '\0';
    }
}

// One VS_VERSIONINFO node: header, UTF-16 key, aligned value, aligned children.
inline std::string Node(std::string_view key, uint16_t type, const std::string& value,
                        uint16_t valueLength, const std::string& children) {
    std::string node;
    Put16(node, 0);
    Put16(node, valueLength);
    Put16(node, type);
    for (char c : key) {
        Put16(node, static_cast<uint16_t>(c));
    }
    Put16(node, 0);
    Align(node, 4);
    node += value;
    if (!children.empty()) {
        Align(node, 4);
        node += children;
    }
    Set16(node, 0, static_cast<uint16_t>(node.size()));
    return node;
}

inline std::string Utf16(std::string_view text) {
    std::string out;
    for (char c : text) {
        Put16(out, static_cast<uint16_t>(c));
    }
    Put16(out, 0);
    return out;
}

inline std::string Padded(std::string node) {
    Align(node, 4);
    return node;
}

}  // namespace pe_detail

// The VS_VERSIONINFO block alone.
inline std::string MakeVersionBlock(const PeVersionSpec& pe) {
    using namespace pe_detail;
    std::string fixed;
    Put32(fixed, 0xfeef04bd);  // signature
    Put32(fixed, 0x00010000);  // structure version
    Put32(fixed, uint32_t{pe.fileVersion[0]} << 16 | pe.fileVersion[1]);
    Put32(fixed, uint32_t{pe.fileVersion[2]} << 16 | pe.fileVersion[3]);
    Put32(fixed, uint32_t{pe.productVersion[0]} << 16 | pe.productVersion[1]);
    Put32(fixed, uint32_t{pe.productVersion[2]} << 16 | pe.productVersion[3]);
    Put32(fixed, 0x3f);     // flags mask
    Put32(fixed, 0);        // flags
    Put32(fixed, 0x40004);  // VOS_NT_WINDOWS32
    Put32(fixed, 1);        // VFT_APP
    Put32(fixed, 0);
    Put32(fixed, 0);
    Put32(fixed, 0);
    const std::string versionText =
        std::to_string(pe.fileVersion[0]) + "." + std::to_string(pe.fileVersion[1]) + "." +
        std::to_string(pe.fileVersion[2]) + "." + std::to_string(pe.fileVersion[3]);
    const std::string fileVersion = Node("FileVersion", 1, Utf16(versionText),
                                         static_cast<uint16_t>(versionText.size() + 1), {});
    const std::string table = Node("040904B0", 1, {}, 0, Padded(fileVersion));
    std::string children = Padded(Node("StringFileInfo", 1, {}, 0, Padded(table)));
    if (pe.withTranslation) {
        std::string translation;
        Put16(translation, 0x0409);
        Put16(translation, 0x04b0);
        const std::string var = Node("Translation", 0, translation, 4, {});
        children += Padded(Node("VarFileInfo", 1, {}, 0, Padded(var)));
    }
    return Node("VS_VERSION_INFO", 0, fixed, static_cast<uint16_t>(fixed.size()), children);
}

namespace pe_detail {

constexpr uint32_t kFileAlignment = 0x200;
constexpr uint32_t kSectionRva = 0x1000;
constexpr uint32_t kPeOffset = 0x40;
constexpr uint16_t kOptionalHeaderBytes = 224;

// The ".rsrc" section's contents, unpadded: three directories of one entry each
// (RT_VERSION / 1 / 0x409), a data entry, then the block.
inline std::string ResourceSection(const std::string& block) {
    std::string rsrc;
    const auto directory = [&rsrc](uint32_t id, uint32_t target) {
        Put32(rsrc, 0);
        Put32(rsrc, 0);
        Put16(rsrc, 4);
        Put16(rsrc, 0);
        Put16(rsrc, 0);  // named entries
        Put16(rsrc, 1);  // id entries
        Put32(rsrc, id);
        Put32(rsrc, target);
    };
    directory(16, 0x80000000 | 24);  // RT_VERSION -> directory at 24
    directory(1, 0x80000000 | 48);   // name 1 -> directory at 48
    directory(0x409, 72);            // language -> data entry at 72
    Put32(rsrc, kSectionRva + 88);
    Put32(rsrc, static_cast<uint32_t>(block.size()));
    Put32(rsrc, 0);
    Put32(rsrc, 0);
    rsrc += block;  // at 88
    return rsrc;
}

inline void PutOptionalHeader(std::string& image, uint32_t rsrcSize) {
    const std::size_t optional = image.size();
    image.resize(optional + kOptionalHeaderBytes, '\0');
    Set16(image, optional, 0x10b);
    Set32(image, optional + 28, 0x400000);              // image base
    Set32(image, optional + 32, 0x1000);                // section alignment
    Set32(image, optional + 36, kFileAlignment);        // file alignment
    Set16(image, optional + 40, 4);                     // OS version
    Set16(image, optional + 48, 4);                     // subsystem version
    Set32(image, optional + 56, kSectionRva + 0x1000);  // image size
    Set32(image, optional + 60, kFileAlignment);        // headers size
    Set16(image, optional + 68, 2);                     // GUI subsystem
    Set32(image, optional + 92, 16);                    // data directories
    Set32(image, optional + 96 + 16, kSectionRva);      // resource directory
    Set32(image, optional + 96 + 20, rsrcSize);
}

inline void PutSectionHeader(std::string& image, uint32_t rsrcSize, uint32_t rawSize) {
    std::string section(".rsrc\0\0\0", 8);
    Put32(section, rsrcSize);
    Put32(section, kSectionRva);
    Put32(section, rawSize);
    Put32(section, kFileAlignment);
    Put32(section, 0);
    Put32(section, 0);
    Put16(section, 0);
    Put16(section, 0);
    Put32(section, 0x40000040);  // initialised data, readable
    image += section;
}

// DOS stub pointing at the PE header, COFF header, optional header, one section header.
inline std::string Headers(uint32_t rsrcSize, uint32_t rawSize) {
    std::string image(kPeOffset, '\0');
    image[0] = 'M';
    image[1] = 'Z';
    Set32(image, 0x3c, kPeOffset);
    image += std::string("PE\0\0", 4);
    Put16(image, 0x14c);  // i386
    Put16(image, 1);      // sections
    Put32(image, 0);
    Put32(image, 0);
    Put32(image, 0);
    Put16(image, kOptionalHeaderBytes);
    Put16(image, 0x0102);  // executable, 32-bit
    PutOptionalHeader(image, rsrcSize);
    PutSectionHeader(image, rsrcSize, rawSize);
    Align(image, kFileAlignment);
    return image;
}

}  // namespace pe_detail

// A PE32 image: headers, one ".rsrc" section holding RT_VERSION / 1 / 0x409.
inline std::string MakeVersionPe(const PeVersionSpec& pe) {
    using namespace pe_detail;
    std::string rsrc = ResourceSection(MakeVersionBlock(pe));
    const auto rsrcSize = static_cast<uint32_t>(rsrc.size());
    Align(rsrc, kFileAlignment);
    return Headers(rsrcSize, static_cast<uint32_t>(rsrc.size())) + rsrc;
}

// "10.0.0.3802" -> pe with that file version (product version 0); false when malformed.
inline bool ParseVersion(std::string_view text, uint16_t (&out)[4]) {
    std::size_t part = 0;
    uint32_t value = 0;
    bool digits = false;
    for (std::size_t i = 0; i <= text.size(); ++i) {
        if (i == text.size() || text[i] == '.') {
            if (!digits || part >= 4) {
                return false;
            }
            out[part++] = static_cast<uint16_t>(value);
            value = 0;
            digits = false;
            continue;
        }
        if (text[i] < '0' || text[i] > '9') {
            return false;
        }
        value = value * 10 + static_cast<uint32_t>(text[i] - '0');
        if (value > 0xffff) {
            return false;
        }
        digits = true;
    }
    return part == 4;
}

}  // namespace lumidex::tools
