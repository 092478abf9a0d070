#include "platform/RegistryReader.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "support/FixturePrefix.h"

namespace lumidex {
namespace {

using platform::RootKey;

std::string HexList(std::size_t bytes, uint8_t fill) {
    std::string out;
    char byte[4];
    std::snprintf(byte, sizeof byte, "%02x", fill);
    for (std::size_t i = 0; i < bytes; ++i) {
        out += i == 0 ? "" : (i % 20 == 0 ? ",\\\n  " : ",");
        out += byte;
    }
    return out;
}

class RegistryReaderTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::ofstream out(m_prefix.path() / "system.reg", std::ios::binary);
        out << "WINE REGISTRY Version 2\n;; All keys relative to \\\\Machine\n\n#arch=win32\n\n"
            << "[Software\\\\AppConfig] 1700000000\n"
            << "@=\"default of the base\"\n"
            << "\"Base\"=\"at the base\"\n"
            << "[Software\\\\AppConfig\\\\Kinds] 1700000000\n"
            << "\"Text\"=\"\\x5b89\\x88c5\"\n"  // 安装
            << "\"Expand\"=str(2):\"%SystemRoot%\\\\x\"\n"
            << "\"Number\"=dword:12345678\n"
            << "\"Blob\"=hex:01,00,ff\n"
            << "\"Multi\"=str(7):\"a\\0b\\0\"\n"
            << "\"Quad\"=hex(b):01,02,03,04,05,06,07,08\n"
            << "\"Text1029\"=\"" << std::string(1029, 't') << "\"\n"
            << "\"Text1030\"=\"" << std::string(1030, 't') << "\"\n"
            << "\"Blob1030\"=hex:" << HexList(1030, 0xb1) << "\n"
            << "\"Blob1031\"=hex:" << HexList(1031, 0xb2) << "\n";
        out.close();
        ::setenv("WINEPREFIX", m_prefix.path().c_str(), 1);
    }

    static RegistryValue Marked() {
        RegistryValue value;
        std::memset(value.data, 0x5a, sizeof value.data);
        value.length = -7;
        value.kind = -1;
        return value;
    }

    static bool Unchanged(const RegistryValue& value) {
        const RegistryValue marked = Marked();
        return std::memcmp(&value, &marked, sizeof value) == 0;
    }

    testing::TempDir m_prefix;
};

TEST_F(RegistryReaderTest, BasePathDefaultsAndEndsWithABackslash) {
    EXPECT_EQ(RegistryReader(RootKey::LocalMachine).BasePath(), "Software\\AppConfig\\");
    EXPECT_EQ(RegistryReader(RootKey::LocalMachine, "").BasePath(), "Software\\AppConfig\\");
    EXPECT_EQ(RegistryReader(RootKey::CurrentUser, "A\\B").BasePath(), "A\\B\\");
    EXPECT_EQ(RegistryReader(RootKey::CurrentUser, "A\\B\\").BasePath(), "A\\B\\");
    EXPECT_TRUE(RegistryReader(RootKey::CurrentUser).Values().empty());

    // No sub-key reads the base key itself; no value name reads its default value.
    const RegistryReader reader(RootKey::LocalMachine);
    RegistryValue value = Marked();
    ASSERT_TRUE(reader.Read("", "base", value));
    EXPECT_STREQ(value.data, "at the base");
    ASSERT_TRUE(reader.Read("", "", value));
    EXPECT_STREQ(value.data, "default of the base");
}

TEST_F(RegistryReaderTest, FillsTheValueByKind) {
    const RegistryReader reader(RootKey::LocalMachine, "SOFTWARE\\appconfig");

    RegistryValue text = Marked();
    ASSERT_TRUE(reader.Read("Kinds", "TEXT", text));
    EXPECT_EQ(text.kind, RegistryValue::kText);
    EXPECT_STREQ(text.data, "\xE5\xAE\x89\xE8\xA3\x85");
    EXPECT_EQ(text.length, -7);  // length belongs to binary values only

    RegistryValue expand = Marked();
    ASSERT_TRUE(reader.Read("Kinds", "Expand", expand));
    EXPECT_EQ(expand.kind, RegistryValue::kText);
    EXPECT_STREQ(expand.data, "%SystemRoot%\\x");  // not expanded

    RegistryValue number = Marked();
    ASSERT_TRUE(reader.Read("Kinds", "Number", number));
    EXPECT_EQ(number.kind, RegistryValue::kNumber);
    uint32_t n = 0;
    std::memcpy(&n, number.data, sizeof n);
    EXPECT_EQ(n, 0x12345678u);
    EXPECT_EQ(number.data[4], 0x5a);  // only the four bytes are written

    RegistryValue blob = Marked();
    ASSERT_TRUE(reader.Read("Kinds", "Blob", blob));
    EXPECT_EQ(blob.kind, RegistryValue::kBinary);
    EXPECT_EQ(blob.length, 3);
    EXPECT_EQ(std::memcmp(blob.data, "\x01\x00\xff\x5a", 4), 0);
}

TEST_F(RegistryReaderTest, LeavesTheValueUntouchedOnEveryFalse) {
    const RegistryReader reader(RootKey::LocalMachine);
    for (const char* name : {"Multi", "Quad", "Missing"}) {
        RegistryValue value = Marked();
        EXPECT_FALSE(reader.Read("Kinds", name, value)) << name;
        EXPECT_TRUE(Unchanged(value)) << name;
    }
    RegistryValue value = Marked();
    EXPECT_FALSE(reader.Read("NoSuchKey", "Text", value));
    EXPECT_FALSE(RegistryReader(RootKey::CurrentUser).Read("Kinds", "Text", value));  // no user.reg
    EXPECT_TRUE(Unchanged(value));
}

TEST_F(RegistryReaderTest, ReadsUpTo1030BytesAndNoMore) {
    const RegistryReader reader(RootKey::LocalMachine);

    // 1029 characters and the stored zero make 1030 bytes: the longest text that reads.
    RegistryValue value = Marked();
    ASSERT_TRUE(reader.Read("Kinds", "Text1029", value));
    EXPECT_EQ(std::strlen(value.data), 1029u);
    EXPECT_EQ(value.data[1030], '\0');
    EXPECT_EQ(value.data[1031], 0x5a);
    value = Marked();
    EXPECT_FALSE(reader.Read("Kinds", "Text1030", value));
    EXPECT_TRUE(Unchanged(value));

    ASSERT_TRUE(reader.Read("Kinds", "Blob1030", value));
    EXPECT_EQ(value.length, 1030);
    EXPECT_EQ(static_cast<uint8_t>(value.data[1029]), 0xb1);
    EXPECT_EQ(value.data[1030], 0x5a);
    value = Marked();
    EXPECT_FALSE(reader.Read("Kinds", "Blob1031", value));
    EXPECT_TRUE(Unchanged(value));
}

}  // namespace
}  // namespace lumidex
