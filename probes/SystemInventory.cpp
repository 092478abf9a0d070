#include "probes/SystemInventory.h"

#include <cstdio>
#include <span>
#include <vector>

#include "platform/AsciiCase.h"
#include "platform/ByteReader.h"
#include "platform/FileVersionInfo.h"
#include "platform/RegistryReader.h"

namespace lumidex {
namespace {

struct OsNameEntry {
    uint32_t flag;
    char name[32];
};

constexpr OsNameEntry kOsNames[] = {
    {platform::kOsWin98, "Microsoft Windows 98"},
    {platform::kOsWinNt, "Microsoft Windows NT"},
    {platform::kOsWin2000, "Microsoft Windows 2000"},
    {platform::kOsWinXp, "Microsoft Windows xp"},
    {platform::kOsWinXpSp2, "Microsoft Windows xpSP2"},
    {platform::kOsWin2003, "Microsoft Windows 2003"},
    {platform::kOsWin2003R2, "Microsoft Windows 2003R2"},
    {platform::kOsWinMe, "Microsoft Windows me"},
    {platform::kOsWinVista, "Microsoft Windows Vista"},
    {platform::kOsWinLonghorn, "Microsoft Windows Longhorn"},
    {platform::kOsWinXp64, "Microsoft Windows xp64"},
};

constexpr char kTranslationQuery[] = "\\VarFileInfo\\Translation";
constexpr char kRootQuery[] = "\\";
constexpr std::size_t kFileVersionMsOffset = 8;

void ReadOne(RegistryReader& reader, const char* executable, const char* name,
             SoftwareVersion& record) {
    if (!reader.EnumValues(executable)) {
        return;
    }
    for (const auto& [valueName, value] : reader.Values()) {
        if (value.kind != RegistryValue::kText) {
            continue;
        }
        const std::string lower = platform::FoldName(value.data);
        if (lower.find(executable) == std::string::npos) {
            continue;
        }
        record.path = lower;
        record.name = name;
        if (!SystemInventory::GetFileVersion(record.path, record.versionHigh, record.versionLow,
                                             record.versionText)) {
            record.versionHigh = 0;
            record.versionLow = 0;
            record.versionText.clear();
        }
    }
}

}  // namespace

SystemInventory::SystemInventory(VersionSource source) : m_source(std::move(source)) {}

bool SystemInventory::DetectOs() {
    m_osFlags = 0;
    m_record = m_source ? m_source() : platform::QueryOsVersion();
    if (!m_record.available) {
        return false;
    }
    m_osFlags = platform::OsFlagsFor(m_record);
    return true;
}

void SystemInventory::ReadSoftwareVersions() {
    RegistryReader reader(platform::RootKey::LocalMachine, kAppPathsKey);
    ReadOne(reader, kWmpExecutable, "WMP", m_wmp);
    ReadOne(reader, kIeExecutable, "IE", m_ie);
}

bool SystemInventory::GetFileVersion(std::string_view path, uint32_t& versionHigh,
                                     uint32_t& versionLow, std::string& versionText) {
    if (platform::GetFileVersionInfoSizeA(path) == 0) {
        return false;
    }
    std::vector<uint8_t> block;
    std::span<const uint8_t> translation;
    // A file without a translation table counts as having no version, as it always has.
    if (!platform::GetFileVersionInfoA(path, block) ||
        !platform::VerQueryValueA(block, kTranslationQuery, translation) ||
        translation.size() < 4) {
        return false;
    }
    std::span<const uint8_t> fixed;
    versionText.clear();
    if (!platform::VerQueryValueA(block, kRootQuery, fixed) ||
        fixed.size() < platform::kFixedFileInfoBytes) {
        return true;
    }
    platform::ByteReader r(fixed);
    r.Skip(kFileVersionMsOffset);
    versionHigh = r.U32Le();
    versionLow = r.U32Le();
    char text[48];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", versionHigh >> 16, versionHigh & 0xffff,
                  versionLow >> 16, versionLow & 0xffff);
    versionText = text;
    return true;
}

OsNameResolver::OsNameResolver(VersionSource source) : SystemInventory(std::move(source)) {
    for (const OsNameEntry& entry : kOsNames) {
        m_names.emplace(entry.flag, entry.name);
    }
}

std::string OsNameResolver::GetOsName() {
    DetectOs();
    for (const auto& [flag, name] : m_names) {
        if ((OsFlags() & flag) != 0) {
            return name;
        }
    }
    const platform::OsVersionRecord& record = VersionRecord();
    const bool windows = record.platformId == platform::kPlatformWin32Windows ||
                         record.platformId == platform::kPlatformWin32Nt;
    return record.available && !windows ? record.systemName : std::string();
}

bool HasXpSp2Row(const SystemInventory::VersionSource& source) {
    SystemInventory inventory(source);
    inventory.DetectOs();
    return (inventory.OsFlags() & platform::kOsWinXpSp2) != 0;
}

}  // namespace lumidex
