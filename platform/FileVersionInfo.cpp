#include "platform/FileVersionInfo.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>

#include <algorithm>
#include <optional>

#include "platform/AsciiCase.h"
#include "platform/ByteReader.h"
#include "platform/StandInLimits.h"
#include "platform/SystemError.h"
#include "platform/UniqueFd.h"
#include "platform/WinePaths.h"

namespace lumidex::platform {
namespace {

constexpr uint16_t kDosMagic = 0x5a4d;         // "MZ"
constexpr uint32_t kPeSignature = 0x00004550;  // "PE\0\0"
constexpr std::size_t kDosLfanewOffset = 0x3c;
constexpr uint16_t kPe32Magic = 0x10b;
constexpr uint16_t kPe32PlusMagic = 0x20b;
constexpr std::size_t kResourceDirectoryIndex = 2;
constexpr std::size_t kSectionHeaderBytes = 40;
constexpr uint32_t kRtVersion = 16;
constexpr uint32_t kHighBit = 0x80000000;
constexpr std::size_t kNodeHeaderBytes = 6;  // wLength, wValueLength, wType
constexpr uint16_t kNodeTypeText = 1;
constexpr std::string_view kRootKey = "VS_VERSION_INFO";

// A whole file mapped read-only; unmapped when the object goes.
class MappedFile {
public:
    explicit MappedFile(const std::string& path) {
        const UniqueFd fd(
            RetryAfterSignal([&] { return ::open(path.c_str(), O_RDONLY | O_CLOEXEC); }));
        struct stat st {};
        if (!fd || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size <= 0) {
            return;
        }
        void* data = ::mmap(nullptr, static_cast<std::size_t>(st.st_size), PROT_READ, MAP_PRIVATE,
                            fd.get(), 0);
        if (data == MAP_FAILED) {
            return;
        }
        m_data = static_cast<const uint8_t*>(data);
        m_size = static_cast<std::size_t>(st.st_size);
    }
    ~MappedFile() {
        if (m_data != nullptr) {
            ::munmap(const_cast<uint8_t*>(m_data), m_size);
        }
    }
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;

    bool Ok() const { return m_data != nullptr; }
    std::span<const uint8_t> Bytes() const { return {m_data, m_size}; }

private:
    const uint8_t* m_data = nullptr;
    std::size_t m_size = 0;
};

struct Section {
    uint32_t virtualAddress = 0;
    uint32_t rawSize = 0;
    uint32_t rawOffset = 0;
};

// Where a relative virtual address lies in the file: the offset of rva and how many bytes of
// its section follow it in the file. Empty when no section backs rva with file bytes.
struct FileRange {
    std::size_t offset = 0;
    std::size_t available = 0;
};

std::optional<FileRange> RvaToFile(const std::vector<Section>& sections, std::size_t fileSize,
                                   uint32_t rva) {
    for (const Section& s : sections) {
        if (rva < s.virtualAddress) {
            continue;
        }
        const uint64_t into = rva - s.virtualAddress;
        const uint64_t rawEnd = std::min<uint64_t>(uint64_t{s.rawOffset} + s.rawSize, fileSize);
        const uint64_t at = uint64_t{s.rawOffset} + into;
        if (into < s.rawSize && at < rawEnd) {
            return FileRange{static_cast<std::size_t>(at), static_cast<std::size_t>(rawEnd - at)};
        }
    }
    return std::nullopt;
}

struct DirectoryEntry {
    uint32_t nameOrId = 0;
    uint32_t offset = 0;  // kHighBit: a subdirectory
};

// The entries of the resource directory at offset (relative to the resource tree's start).
bool ReadDirectory(std::span<const uint8_t> tree, uint32_t offset,
                   std::vector<DirectoryEntry>& entries) {
    ByteReader r(tree);
    r.Seek(offset);
    r.Skip(12);  // Characteristics, TimeDateStamp, MajorVersion, MinorVersion
    const std::size_t count = std::size_t{r.U16Le()} + r.U16Le();
    entries.clear();
    for (std::size_t i = 0; i < std::min(count, kPeMaxDirectoryEntries) && r.Ok(); ++i) {
        DirectoryEntry entry;
        entry.nameOrId = r.U32Le();
        entry.offset = r.U32Le();
        entries.push_back(entry);
    }
    return r.Ok() && !entries.empty();
}

// One node of a VS_VERSIONINFO tree: header, UTF-16 key, value, children, each start aligned
// to 32 bits (counted from the block's start).
struct VersionNode {
    std::string key;  // ASCII; other characters become 0x7f, which no query names
    std::size_t valueOffset = 0;
    std::size_t valueBytes = 0;
    std::size_t childrenOffset = 0;
    std::size_t end = 0;
};

std::size_t Align4(std::size_t n) {
    return (n + 3) & ~std::size_t{3};
}

bool ParseNode(std::span<const uint8_t> block, std::size_t offset, std::size_t limit,
               VersionNode& node) {
    ByteReader r(block.first(limit));
    r.Seek(offset);
    const uint16_t length = r.U16Le();
    const uint16_t valueLength = r.U16Le();
    const uint16_t type = r.U16Le();
    if (!r.Ok() || length < kNodeHeaderBytes || length > limit - offset) {
        return false;
    }
    node.end = offset + length;
    ByteReader key(block.first(node.end));
    key.Seek(offset + kNodeHeaderBytes);
    node.key.clear();
    for (uint16_t c = key.U16Le(); c != 0 && key.Ok(); c = key.U16Le()) {
        node.key += c < 0x80 ? static_cast<char>(c) : '\x7f';
    }
    if (!key.Ok()) {
        return false;
    }
    node.valueOffset = std::min(Align4(key.Offset()), node.end);
    // Text values count characters; writers disagree about that, so a text value is cut at
    // the node's end rather than rejected.
    const std::size_t room = node.end - node.valueOffset;
    if (type == kNodeTypeText) {
        node.valueBytes = std::min<std::size_t>(std::size_t{valueLength} * 2, room);
    } else if (valueLength > room) {
        return false;
    } else {
        node.valueBytes = valueLength;
    }
    node.childrenOffset = std::min(Align4(node.valueOffset + node.valueBytes), node.end);
    return true;
}

bool FindChild(std::span<const uint8_t> block, const VersionNode& parent, std::string_view name,
               VersionNode& child) {
    for (std::size_t at = parent.childrenOffset; at + kNodeHeaderBytes <= parent.end;
         at = Align4(child.end)) {
        if (!ParseNode(block, at, parent.end, child)) {
            return false;
        }
        if (NamesEqual(child.key, name)) {
            return true;
        }
    }
    return false;
}

PeVersionError ReadSections(ByteReader& r, std::size_t count, std::vector<Section>& sections) {
    if (count > kPeMaxSections) {
        return PeVersionError::NoPeHeader;
    }
    for (std::size_t i = 0; i < count; ++i) {
        r.Skip(12);  // Name, VirtualSize
        Section s;
        s.virtualAddress = r.U32Le();
        s.rawSize = r.U32Le();
        s.rawOffset = r.U32Le();
        r.Skip(kSectionHeaderBytes - 24);
        sections.push_back(s);
    }
    return r.Ok() ? PeVersionError::None : PeVersionError::NoPeHeader;
}

// The optional header (r at its start, optionalBytes long): where the resource tree is.
PeVersionError ReadOptionalHeader(ByteReader& r, uint16_t optionalBytes, uint32_t& resourceRva) {
    const std::size_t optionalStart = r.Offset();
    const uint16_t magic = r.U16Le();
    const std::size_t countAt = magic == kPe32Magic ? 92 : 108;
    r.Seek(optionalStart + countAt);
    const uint32_t directoryCount = r.U32Le();
    r.Skip(8 * kResourceDirectoryIndex);
    resourceRva = r.U32Le();
    const uint32_t resourceSize = r.U32Le();
    if (!r.Ok() || (magic != kPe32Magic && magic != kPe32PlusMagic) ||
        directoryCount <= kResourceDirectoryIndex || r.Offset() > optionalStart + optionalBytes) {
        return PeVersionError::BadOptionalHeader;
    }
    if (resourceRva == 0 || resourceSize == 0) {
        return PeVersionError::NoResources;
    }
    r.Seek(optionalStart + optionalBytes);
    return PeVersionError::None;
}

// What the headers say about where things are: the section table and the resource tree.
struct PeLayout {
    std::vector<Section> sections;
    uint32_t resourceRva = 0;
};

// DOS header, PE signature, COFF header, optional header, section table.
PeVersionError ReadPeLayout(std::span<const uint8_t> image, PeLayout& layout) {
    ByteReader r(image);
    if (r.U16Le() != kDosMagic) {
        return PeVersionError::NoDosHeader;
    }
    r.Seek(kDosLfanewOffset);
    const uint32_t peOffset = r.U32Le();
    r.Seek(peOffset);
    if (!r.Ok()) {
        return PeVersionError::NoDosHeader;
    }
    const uint32_t signature = r.U32Le();
    r.Skip(2);  // Machine
    const uint16_t sectionCount = r.U16Le();
    r.Skip(12);  // TimeDateStamp, PointerToSymbolTable, NumberOfSymbols
    const uint16_t optionalBytes = r.U16Le();
    r.Skip(2);  // Characteristics
    if (!r.Ok() || signature != kPeSignature) {
        return PeVersionError::NoPeHeader;
    }
    if (const PeVersionError e = ReadOptionalHeader(r, optionalBytes, layout.resourceRva);
        e != PeVersionError::None) {
        return e;
    }
    return ReadSections(r, sectionCount, layout.sections);
}

// Follows type RT_VERSION, then its first name and first language, to the data entry.
PeVersionError FindVersionData(std::span<const uint8_t> tree, uint32_t& dataRva,
                               uint32_t& dataSize) {
    std::vector<DirectoryEntry> entries;
    if (!ReadDirectory(tree, 0, entries)) {
        return PeVersionError::BadResourceDirectory;
    }
    const auto version = std::find_if(entries.begin(), entries.end(),
                                      [](const auto& e) { return e.nameOrId == kRtVersion; });
    if (version == entries.end()) {
        return PeVersionError::NoVersionResource;
    }
    uint32_t offset = version->offset;
    for (int level = 0; level < 2; ++level) {
        if ((offset & kHighBit) == 0 || !ReadDirectory(tree, offset & ~kHighBit, entries)) {
            return PeVersionError::BadResourceDirectory;
        }
        offset = entries.front().offset;
    }
    if ((offset & kHighBit) != 0) {
        return PeVersionError::BadResourceDirectory;
    }
    ByteReader r(tree);
    r.Seek(offset);
    dataRva = r.U32Le();
    dataSize = r.U32Le();
    return r.Ok() ? PeVersionError::None : PeVersionError::BadResourceDirectory;
}

}  // namespace

std::string_view PeVersionErrorText(PeVersionError error) {
    switch (error) {
        case PeVersionError::None:
            return "version block found";
        case PeVersionError::Unreadable:
            return "file cannot be read";
        case PeVersionError::NoDosHeader:
            return "no DOS header";
        case PeVersionError::NoPeHeader:
            return "no PE header";
        case PeVersionError::BadOptionalHeader:
            return "bad optional header";
        case PeVersionError::NoResources:
            return "no resource directory";
        case PeVersionError::RvaOutsideSections:
            return "address outside the sections";
        case PeVersionError::BadResourceDirectory:
            return "bad resource directory";
        case PeVersionError::NoVersionResource:
            return "no version resource";
        case PeVersionError::BadVersionBlock:
            return "bad version block";
    }
    return "unknown";
}

PeVersionResult ExtractVersionBlock(std::span<const uint8_t> image) {
    PeVersionResult result;
    PeLayout layout;
    result.error = ReadPeLayout(image, layout);
    if (result.error != PeVersionError::None) {
        return result;
    }
    const auto tree = RvaToFile(layout.sections, image.size(), layout.resourceRva);
    if (!tree) {
        result.error = PeVersionError::RvaOutsideSections;
        return result;
    }
    uint32_t dataRva = 0;
    uint32_t dataSize = 0;
    result.error = FindVersionData(image.subspan(tree->offset, tree->available), dataRva, dataSize);
    if (result.error != PeVersionError::None) {
        return result;
    }
    const auto data = RvaToFile(layout.sections, image.size(), dataRva);
    if (!data) {
        result.error = PeVersionError::RvaOutsideSections;
        return result;
    }
    const auto bytes = image.subspan(
        data->offset, std::min({std::size_t{dataSize}, data->available, kVersionBlockMaxBytes}));
    VersionNode root;
    if (!ParseNode(bytes, 0, bytes.size(), root) || root.key != kRootKey) {
        result.error = PeVersionError::BadVersionBlock;
        return result;
    }
    result.block.assign(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(root.end));
    return result;
}

PeVersionResult ReadVersionBlock(std::string_view path) {
    const MappedFile file(MapWindowsPath(path));
    if (!file.Ok()) {
        return {};
    }
    return ExtractVersionBlock(file.Bytes());
}

bool VerQueryValue(std::span<const uint8_t> block, std::string_view subBlock,
                   std::span<const uint8_t>& value) {
    VersionNode node;
    if (!ParseNode(block, 0, block.size(), node)) {
        return false;
    }
    std::size_t pos = 0;
    while (pos < subBlock.size()) {
        std::size_t next = subBlock.find('\\', pos);
        if (next == std::string_view::npos) {
            next = subBlock.size();
        }
        const std::string_view name = subBlock.substr(pos, next - pos);
        pos = next + 1;
        if (name.empty()) {
            continue;
        }
        VersionNode child;
        if (!FindChild(block, node, name, child)) {
            return false;
        }
        node = child;
    }
    value = block.subspan(node.valueOffset, node.valueBytes);
    return true;
}

uint32_t GetFileVersionInfoSizeA(std::string_view path) {
    return static_cast<uint32_t>(ReadVersionBlock(path).block.size());
}

bool GetFileVersionInfoA(std::string_view path, std::vector<uint8_t>& block) {
    PeVersionResult result = ReadVersionBlock(path);
    if (result.error != PeVersionError::None) {
        return false;
    }
    block = std::move(result.block);
    return true;
}

}  // namespace lumidex::platform
