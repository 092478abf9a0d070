#include "platform/FileVersionInfo.h"

#include <gtest/gtest.h>

#include <string>

#include "support/Files.h"
#include "support/TempDir.h"
#include "tools/pe-writer/PeWriter.h"

namespace lumidex::platform {
namespace {

// Where the writer puts things: PE header at 0x40, optional header at 0x58, the resource
// section at 0x200 (RVA 0x1000), the version block 88 bytes into it.
constexpr std::size_t kNumberOfSections = 0x46;
constexpr std::size_t kOptionalMagic = 0x58;
constexpr std::size_t kResourceRva = 0x58 + 112;
constexpr std::size_t kTypeId = 0x200 + 16;
constexpr std::size_t kNameEntryOffset = 0x200 + 24 + 20;
constexpr std::size_t kBlock = 0x200 + 88;

std::string Image(bool translation = true) {
    tools::PeVersionSpec pe;
    tools::ParseVersion("10.0.0.3802", pe.fileVersion);
    tools::ParseVersion("11.1.2.3", pe.productVersion);
    pe.withTranslation = translation;
    return tools::MakeVersionPe(pe);
}

std::string Patched(std::size_t at, std::string bytes) {
    std::string image = Image();
    image.replace(at, bytes.size(), bytes);
    return image;
}

PeVersionResult Extract(const std::string& image) {
    return ExtractVersionBlock({reinterpret_cast<const uint8_t*>(image.data()), image.size()});
}

TEST(FileVersionInfo, EachRuleRejectsItsDamage) {
    const struct {
        const char* what;
        std::string image;
        PeVersionError error;
    } rows[] = {
        {"good", Image(), PeVersionError::None},
        {"no MZ", Patched(0, "ZM"), PeVersionError::NoDosHeader},
        {"header offset past the end", Patched(0x3c, std::string("\xff\xff\x00\x00", 4)),
         PeVersionError::NoDosHeader},
        {"no PE signature", Patched(0x40, "PX"), PeVersionError::NoPeHeader},
        {"too many sections", Patched(kNumberOfSections, std::string("\x61\x00", 2)),
         PeVersionError::NoPeHeader},
        {"no section", Patched(kNumberOfSections, std::string("\0\0", 2)),
         PeVersionError::RvaOutsideSections},
        {"unknown magic", Patched(kOptionalMagic, std::string("\x0b\x09", 2)),
         PeVersionError::BadOptionalHeader},
        {"no resources", Patched(kResourceRva, std::string(4, '\0')), PeVersionError::NoResources},
        {"resources elsewhere", Patched(kResourceRva, std::string("\x00\x90\x00\x00", 4)),
         PeVersionError::RvaOutsideSections},
        {"no RT_VERSION", Patched(kTypeId, std::string("\x03", 1)),
         PeVersionError::NoVersionResource},
        {"leaf where a directory belongs", Patched(kNameEntryOffset + 3, std::string("\x00", 1)),
         PeVersionError::BadResourceDirectory},
        {"directory offset out of range",
         Patched(kNameEntryOffset, std::string("\xf0\xff\x00\x80", 4)),
         PeVersionError::BadResourceDirectory},
        {"wrong root key", Patched(kBlock + 6, "X"), PeVersionError::BadVersionBlock},
        {"root longer than the data", Patched(kBlock, std::string("\xff\x7f", 2)),
         PeVersionError::BadVersionBlock},
    };
    for (const auto& row : rows) {
        const PeVersionResult result = Extract(row.image);
        EXPECT_EQ(result.error, row.error) << row.what << ": " << PeVersionErrorText(result.error);
        EXPECT_EQ(result.block.empty(), row.error != PeVersionError::None) << row.what;
    }
}

TEST(FileVersionInfo, EveryCutIsRejected) {
    const std::string image = Image();
    const std::size_t needed = kBlock + Extract(image).block.size();
    for (std::size_t cut = 0; cut < needed; ++cut) {
        EXPECT_NE(Extract(image.substr(0, cut)).error, PeVersionError::None) << cut;
    }
}

TEST(FileVersionInfo, QueriesNameValuesInAnyCase) {
    const std::vector<uint8_t> block = Extract(Image()).block;
    const struct {
        const char* query;
        bool found;
        std::size_t size;
    } rows[] = {
        {"\\", true, kFixedFileInfoBytes},
        {"", true, kFixedFileInfoBytes},
        {"\\VarFileInfo\\Translation", true, 4},
        {"\\varfileinfo\\TRANSLATION\\", true, 4},
        {"\\StringFileInfo\\040904b0\\FileVersion", true, 24},  // "10.0.0.3802" and its zero
        {"\\VarFileInfo\\Nothing", false, 0},
        {"\\Translation", false, 0},
    };
    for (const auto& row : rows) {
        std::span<const uint8_t> value;
        EXPECT_EQ(VerQueryValueA(block, row.query, value), row.found) << row.query;
        EXPECT_EQ(value.size(), row.size) << row.query;
    }
    std::span<const uint8_t> translation;
    const std::vector<uint8_t> bare = Extract(Image(false)).block;
    EXPECT_FALSE(VerQueryValueA(bare, "\\VarFileInfo\\Translation", translation));
}

TEST(FileVersionInfo, ReadsFilesThroughTheirPaths) {
    testing::TempDir dir;
    testing::WriteFile(dir / "good.exe", Image());
    testing::WriteFile(dir / "empty.exe", "");
    std::vector<uint8_t> block;
    EXPECT_EQ(GetFileVersionInfoSizeA(dir / "good.exe"), Extract(Image()).block.size());
    EXPECT_TRUE(GetFileVersionInfoA(dir / "good.exe", block));
    EXPECT_EQ(GetFileVersionInfoSizeA(dir / "empty.exe"), 0u);
    EXPECT_EQ(GetFileVersionInfoSizeA(dir / "missing.exe"), 0u);
    EXPECT_EQ(GetFileVersionInfoSizeA(dir.path().string()), 0u);  // a directory
    EXPECT_FALSE(GetFileVersionInfoA(dir / "missing.exe", block));
}

}  // namespace
}  // namespace lumidex::platform
