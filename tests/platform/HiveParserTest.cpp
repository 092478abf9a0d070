#include "platform/HiveParser.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "HiveDump.h"

namespace lumidex::platform {
namespace {

using testing::DumpHive;
using testing::HexBytes;

std::vector<uint8_t> Bytes(std::string_view s) {
    return {s.begin(), s.end()};
}
std::vector<uint8_t> Text(std::string_view s) {
    auto data = Bytes(s);
    data.push_back(0);
    return data;
}

std::string Utf16Le(std::string_view ascii) {
    std::string out;
    for (char c : ascii) {
        out += c;
        out += '\0';
    }
    return out;
}

const HiveValue& ValueAt(const RegistryHive& hive, std::string_view path, std::string_view name) {
    const HiveKey* key = hive.Root().FindPath(path);
    static const HiveValue kMissing{"<missing>", 0xFFFFFFFF, {}};
    if (key == nullptr || key->FindValue(name) == nullptr) {
        return kMissing;
    }
    return *key->FindValue(name);
}

// A hive the way Wine writes one, with every value form it uses.
const std::string kWineHive =
    "WINE REGISTRY Version 2\n"
    ";; All keys relative to \\\\Machine\n"
    "\n"
    "#arch=win64\n"
    "\n"
    "[Software\\\\Classes\\\\.asf] 1700000000\n"
    "#time=1d9a0c2b3c4d5e6\n"
    "@=\"ASFFile\"\n"
    "\"Content Type\"=\"video/x-ms-asf\"\n"
    "\n"
    "[Software\\\\Lumidex\\\\Kinds] 1700000001\n"
    "#time=1d9a0c2b3c4d5e7\n"
    "\"Text\"=\"plain\"\n"
    "\"Number\"=dword:0000001a\n"
    "\"Blob\"=hex:de,ad,be,\\\n"
    "  ef,00\n"
    "\"Empty\"=hex:\n"
    "\"Expand\"=str(2):\"%SystemRoot%\\\\system32\"\n"
    "\"ExpandHex\"=hex(2):25,00,41,00,25,00,00,00\n"
    "\"Multi\"=str(7):\"one\\0two\\0\"\n"
    "\"MultiHex\"=hex(7):61,00,00,00,62,00,00,00,00,00\n"
    "\"Quad\"=hex(b):01,02,03,04,05,06,07,08\n"
    "\"SzHex\"=hex(1):68,00,69,00,00,00\n";

TEST(HiveParser, ReadsEveryValueFormOfAWineHive) {
    const HiveParseResult result = ParseHive(kWineHive);
    ASSERT_EQ(result.status, HiveParseStatus::Complete) << DescribeHiveError(result.failure);
    EXPECT_EQ(result.malformedLines, 0u);
    const RegistryHive& hive = *result.hive;
    EXPECT_EQ(hive.Format(), HiveFormat::Wine);
    EXPECT_EQ(hive.RelativeTo(), "\\Machine");
    EXPECT_EQ(hive.Arch(), "win64");

    const auto expect = [&](std::string_view path, std::string_view name, uint32_t type,
                            const std::vector<uint8_t>& data) {
        const HiveValue& value = ValueAt(hive, path, name);
        EXPECT_EQ(value.type, type) << name;
        EXPECT_EQ(HexBytes(value.data), HexBytes(data)) << name;
    };
    const std::string kinds = "Software\\Lumidex\\Kinds";
    expect("Software\\Classes\\.asf", "", kRegSz, Text("ASFFile"));
    expect("Software\\Classes\\.asf", "Content Type", kRegSz, Text("video/x-ms-asf"));
    expect(kinds, "Text", kRegSz, Text("plain"));
    expect(kinds, "Number", kRegDword, {0x1a, 0, 0, 0});
    expect(kinds, "Blob", kRegBinary, {0xde, 0xad, 0xbe, 0xef, 0x00});
    expect(kinds, "Empty", kRegBinary, {});
    expect(kinds, "Expand", kRegExpandSz, Text("%SystemRoot%\\system32"));
    expect(kinds, "ExpandHex", kRegExpandSz, Text("%A%"));  // UTF-16 with its own zero
    expect(kinds, "Multi", kRegMultiSz, Bytes(std::string_view("one\0two\0\0", 9)));
    expect(kinds, "MultiHex", kRegMultiSz, Bytes(std::string_view("a\0b\0\0", 5)));
    expect(kinds, "Quad", 11, {1, 2, 3, 4, 5, 6, 7, 8});
    expect(kinds, "SzHex", kRegSz, Text("hi"));

    // File order is kept for enumeration.
    std::vector<std::string> names;
    for (const HiveValue& v : hive.Root().FindPath(kinds)->Values()) {
        names.push_back(v.name);
    }
    EXPECT_EQ(names, (std::vector<std::string>{"Text", "Number", "Blob", "Empty", "Expand",
                                               "ExpandHex", "Multi", "MultiHex", "Quad", "SzHex"}));
}

TEST(HiveParser, DecodesWineEscapesToUtf8) {
    const std::string hive =
        "WINE REGISTRY Version 2\n"
        // Key and value names with non-ASCII text and escaped brackets.
        "[Software\\\\\\x4e2d\\x6587\\\\a\\[b\\]] 1\n"
        "\"\\x540d\"=\"\\x4e2d\\x6587\"\n"
        "\"Quotes\"=\"say \\\"hi\\\" \\\\ done\"\n"
        "\"Controls\"=\"a\\tb\\nc\\rd\\0e\\033f\"\n"
        // Four digits are always taken: \x00e9 followed by a literal 'a'.
        "\"Latin\"=\"caf\\x00e9a \\xe9!\"\n"
        "\"Emoji\"=\"\\xd83d\\xde00\"\n"
        "\"Lone\"=\"x\\xd83dy\\xde00z\"\n"
        "\"NoDigits\"=\"\\xyz\"\n";
    const HiveParseResult result = ParseHive(hive);
    ASSERT_EQ(result.status, HiveParseStatus::Complete);
    EXPECT_EQ(result.malformedLines, 0u);
    const HiveKey* key = result.hive->Root().FindPath("Software\\\xE4\xB8\xAD\xE6\x96\x87\\a[b]");
    ASSERT_NE(key, nullptr);
    EXPECT_EQ(key->Name(), "a[b]");
    const auto text = [&](std::string_view name) {
        const HiveValue* v = key->FindValue(name);
        return v == nullptr ? std::string("<missing>")
                            : std::string(v->data.begin(), v->data.end() - 1);
    };
    EXPECT_EQ(text("\xE5\x90\x8D"), "\xE4\xB8\xAD\xE6\x96\x87");  // 名 = 中文
    EXPECT_EQ(text("Quotes"), "say \"hi\" \\ done");
    EXPECT_EQ(text("Controls"), std::string("a\tb\nc\rd\0e\x1b"
                                            "f",
                                            11));
    EXPECT_EQ(text("Latin"),
              "caf\xC3\xA9"
              "a \xC3\xA9!");
    EXPECT_EQ(text("Emoji"), "\xF0\x9F\x98\x80");
    EXPECT_EQ(text("Lone"), "x\xEF\xBF\xBDy\xEF\xBF\xBDz");
    EXPECT_EQ(text("NoDigits"), "xyz");
}

TEST(HiveParser, ReadsAUtf16ExportWithDeletions) {
    std::string text =
        "Windows Registry Editor Version 5.00\r\n"
        "\r\n"
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor]\r\n"
        "\"Path\"=\"C:\\\\Program Files\\\\Vendor\"\r\n"
        "\"Gone\"=\"soon\"\r\n"
        "\"Expand\"=hex(2):25,00,54,00,45,00,4d,00,50,00,25,00,\\\r\n"
        "  00,00\r\n"
        "\"Gone\"=-\r\n"
        "\r\n"
        "[HKCU\\Software\\Old]\r\n"
        "@=\"x\"\r\n"
        "[HKCU\\Software\\Old\\Child]\r\n"
        "[-HKEY_CURRENT_USER\\Software\\Old]\r\n"
        "\"Ignored\"=\"belongs to a deleted key\"\r\n"
        "[HKEY_CURRENT_USER\\Software\\Kept]\r\n"
        "\"Mixed\"=\"";
    std::string file = "\xFF\xFE" + Utf16Le(text);
    file += "\x2d\x4e\x87\x65";  // 中文 as UTF-16LE
    file += Utf16Le("\"\r\n");
    const HiveParseResult result = ParseHive(file);
    ASSERT_EQ(result.status, HiveParseStatus::Complete) << DescribeHiveError(result.failure);
    EXPECT_EQ(result.malformedLines, 0u);
    const RegistryHive& hive = *result.hive;
    EXPECT_EQ(hive.Format(), HiveFormat::Regedit5);
    EXPECT_EQ(ValueAt(hive, "HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor", "Path").data,
              Text("C:\\Program Files\\Vendor"));
    EXPECT_EQ(ValueAt(hive, "HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor", "Expand").data, Text("%TEMP%"));
    EXPECT_EQ(hive.Root().FindPath("HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor")->FindValue("Gone"),
              nullptr);
    EXPECT_EQ(hive.Root().FindPath("HKEY_CURRENT_USER\\Software\\Old"), nullptr);
    EXPECT_EQ(ValueAt(hive, "HKEY_CURRENT_USER\\Software\\Kept", "Mixed").data,
              Text("\xE4\xB8\xAD\xE6\x96\x87"));
}

TEST(HiveParser, RemovedValuesLeaveTheOthersInOrder) {
    const HiveParseResult result = ParseHive(
        "REGEDIT4\n[HKLM\\K]\n\"a\"=\"1\"\n\"b\"=\"2\"\n\"c\"=\"3\"\n\"b\"=-\n\"A\"=-\n"
        "\"a\"=\"again\"\n\"B\"=\"back\"\n\"missing\"=-\n\"c\"=\"4\"\n");
    ASSERT_EQ(result.status, HiveParseStatus::Complete);
    EXPECT_EQ(result.malformedLines, 0u);
    EXPECT_EQ(DumpHive(*result.hive),
              "[]\n[HKEY_LOCAL_MACHINE]\n[HKEY_LOCAL_MACHINE\\K]\n"
              "HKEY_LOCAL_MACHINE\\K|c|1|3400\n"
              "HKEY_LOCAL_MACHINE\\K|a|1|616761696e00\n"
              "HKEY_LOCAL_MACHINE\\K|B|1|6261636b00\n");
    const HiveKey* key = result.hive->Root().FindPath("HKEY_LOCAL_MACHINE\\K");
    EXPECT_EQ(key->FindValue("b"), &key->Values()[2]);
}

TEST(HiveParser, ReadsAnAnsiExportInCodePage936) {
    // "安装" in GBK as quoted text, as hex(2) bytes, and a line already in UTF-8.
    const std::string file =
        "REGEDIT4\r\n"
        "\r\n"
        "[HKEY_LOCAL_MACHINE\\Software\\Vendor]\r\n"
        "\"Name\"=\"\xB0\xB2\xD7\xB0\"\r\n"
        "\"Expand\"=hex(2):b0,b2,d7,b0,00\r\n"
        "\"Utf8\"=\"\xE5\xAE\x89\xE8\xA3\x85\"\r\n";
    const HiveParseResult result = ParseHive(file);
    ASSERT_EQ(result.status, HiveParseStatus::Complete) << DescribeHiveError(result.failure);
    const std::string anzhuang = "\xE5\xAE\x89\xE8\xA3\x85";
    const std::string key = "HKEY_LOCAL_MACHINE\\Software\\Vendor";
    EXPECT_EQ(ValueAt(*result.hive, key, "Name").data, Text(anzhuang));
    EXPECT_EQ(ValueAt(*result.hive, key, "Expand").data, Text(anzhuang));
    EXPECT_EQ(ValueAt(*result.hive, key, "Expand").type, kRegExpandSz);
    EXPECT_EQ(ValueAt(*result.hive, key, "Utf8").data, Text(anzhuang));
}

TEST(HiveParser, NamesAreCaseInsensitiveAndRepeatsMerge) {
    const std::string file =
        "WINE REGISTRY Version 2\n"
        "[Software\\\\Vendor] 1\n"
        "\"Value\"=\"first\"\n"
        "\"Other\"=\"x\"\n"
        "[SOFTWARE\\\\vendor] 2\n"
        "\"VALUE\"=\"second\"\n";
    const HiveParseResult result = ParseHive(file);
    ASSERT_EQ(result.status, HiveParseStatus::Complete);
    const HiveKey* key = result.hive->Root().FindPath("software\\VENDOR\\");
    ASSERT_NE(key, nullptr);
    EXPECT_EQ(key->Name(), "Vendor");  // the first spelling stays
    ASSERT_EQ(key->Values().size(), 2u);
    EXPECT_EQ(key->Values()[0].data, Text("second"));  // replaced in its first place
    EXPECT_EQ(key->FindValue("vAlUe"), &key->Values()[0]);
    EXPECT_EQ(result.hive->Root().FindPath("Software\\Vendor\\Missing"), nullptr);
}

// The line and error of each skipped line, as the parser reports them.
std::vector<std::pair<std::size_t, HiveError>> IssuesOf(const HiveParseResult& result) {
    std::vector<std::pair<std::size_t, HiveError>> issues;
    for (const HiveIssue& issue : result.issues) {
        issues.emplace_back(issue.line, issue.error);
    }
    return issues;
}

TEST(HiveParser, SkipsMalformedLinesAndKeepsTheRest) {
    const std::string file =
        "WINE REGISTRY Version 2\n"
        "\"Early\"=\"value before any key\"\n"  // 2
        "[Software\\\\Good] 1\n"
        "\"A\"=\"ok\"\n"
        "garbage\n"                       // 5
        "\"Unclosed=\"x\"\n"              // 6: no = after the name
        "\"NoEquals\" \"x\"\n"            // 7
        "\"BadDword\"=dword:123456789\n"  // 8
        "\"BadHex\"=hex:1,zz\n"           // 9
        "\"BadType\"=hex(q):00\n"         // 10
        "\"Trailing\"=\"x\" junk\n"       // 11
        "\"Cut\"=hex:01,\\\n"
        "[Software\\\\Good\\\\Child] 2\n"  // 13: cuts the value off
        "\"B\"=\"ok\"\n"
        "[Software\\\\\\\\Empty] 3\n"  // 15: empty component
        "\"Swallowed\"=\"skipped with its key\"\n"
        "[Software\\\\Open 3\n"         // 17
        "[Software\\\\Good] 4 extra\n"  // 18
        "[Software\\\\Good\\\\Child] 5\n"
        "\"C\"=\"ok\"\n" +
        std::string("\"Nul\"=\"a\0b\"\n", 12);  // 21
    const HiveParseResult result = ParseHive(file);
    ASSERT_EQ(result.status, HiveParseStatus::Complete);
    using E = HiveError;
    EXPECT_EQ(IssuesOf(result), (std::vector<std::pair<std::size_t, HiveError>>{
                                    {2, E::ValueBeforeKey},
                                    {5, E::UnrecognisedLine},
                                    {6, E::ValueWithoutEquals},
                                    {7, E::ValueWithoutEquals},
                                    {8, E::BadDword},
                                    {9, E::BadHexBytes},
                                    {10, E::BadValueType},
                                    {11, E::StringNotClosed},
                                    {13, E::HexValueCutOff},
                                    {15, E::EmptyKeyName},
                                    {17, E::KeyNotClosed},
                                    {18, E::TextAfterKey},
                                    {21, E::NulInLine},
                                }));
    EXPECT_EQ(result.malformedLines, result.issues.size());
    EXPECT_EQ(DumpHive(*result.hive),
              "[]\n[Software]\n[Software\\Good]\nSoftware\\Good|A|1|6f6b00\n"
              "[Software\\Good\\Child]\nSoftware\\Good\\Child|B|1|6f6b00\n"
              "Software\\Good\\Child|C|1|6f6b00\n");

    // The forms only export files have.
    const HiveParseResult export5 = ParseHive(
        "Windows Registry Editor Version 5.00\n"
        "[Software\\NoRoot]\n"  // 2
        "[HKLM\\K]\n"
        "\"Colon\"=hex(2)00\n"    // 4
        "\"Str\"=str:\"x\"\n"     // 5: only Wine's str(N) form exists
        "\"Odd\"=qword:1\n"       // 6
        "\"Open\"=hex:01,\\\n");  // 7: the file ends inside the value
    EXPECT_EQ(IssuesOf(export5), (std::vector<std::pair<std::size_t, HiveError>>{
                                     {2, E::NoRootKey},
                                     {4, E::TypeWithoutColon},
                                     {5, E::UnrecognisedData},
                                     {6, E::UnrecognisedData},
                                     {7, E::HexValueUnfinished},
                                 }));
}

TEST(HiveParser, RejectsFilesThatAreNoHive) {
    const std::pair<std::string_view, HiveError> cases[] = {
        {"", HiveError::EmptyFile},
        {"[Software]\n\"a\"=\"b\"\n", HiveError::NoSignature},
        {"WINE REGISTRY Version 3\n", HiveError::NoSignature},
        {std::string_view("\xFE\xFFW\0", 4), HiveError::Utf16BigEndian},
    };
    for (const auto& [file, error] : cases) {
        const HiveParseResult result = ParseHive(file);
        EXPECT_EQ(result.status, HiveParseStatus::Failed) << file;
        EXPECT_EQ(result.failure, error) << file;
    }

    HiveParser parser;
    parser.Feed("not a hive\n");
    EXPECT_EQ(parser.Status(), HiveParseStatus::Failed);
    parser.Feed("WINE REGISTRY Version 2\n[A] 1\n");  // a failed parser stays failed
    EXPECT_EQ(parser.Finish(), HiveParseStatus::Failed);
    EXPECT_EQ(parser.Failure(), HiveError::NoSignature);

    // Signature alone (with a UTF-8 byte-order mark, no newline) is an empty, valid hive.
    const HiveParseResult bare = ParseHive("\xEF\xBB\xBFREGEDIT4");
    ASSERT_EQ(bare.status, HiveParseStatus::Complete);
    EXPECT_EQ(DumpHive(*bare.hive), "[]\n");
}

// Every way of cutting the input into pieces gives the same tree as reading it whole.
std::string DumpAfterFeeding(std::string_view file, std::size_t pieceSize) {
    HiveParser parser;
    for (std::size_t pos = 0; pos < file.size(); pos += pieceSize) {
        parser.Feed(file.substr(pos, pieceSize));
    }
    if (parser.Finish() != HiveParseStatus::Complete) {
        return "failed: " + std::string(DescribeHiveError(parser.Failure()));
    }
    return DumpHive(*parser.TakeHive()) + "malformed=" + std::to_string(parser.MalformedLines());
}

TEST(HiveParser, GivesTheSameTreeHoweverTheInputIsSplit) {
    std::string crlfNoFinalNewline = kWineHive;
    for (std::size_t pos = 0; (pos = crlfNoFinalNewline.find('\n', pos)) != std::string::npos;
         pos += 2) {
        crlfNoFinalNewline.insert(pos, "\r");
    }
    crlfNoFinalNewline += "\"Last\"=hex:01,\\\r\n  02";
    const std::string utf16 = "\xFF\xFE" +
                              Utf16Le(
                                  "Windows Registry Editor Version 5.00\r\n"
                                  "[HKLM\\A]\r\n\"x\"=hex:01,\\\r\n  02\r\n\"e\"=\"") +
                              std::string("\x3d\xd8\x00\xde", 4) +
                              Utf16Le("\"");  // U+1F600, no final newline

    for (const std::string& file : {kWineHive, crlfNoFinalNewline, utf16}) {
        const std::string whole = DumpAfterFeeding(file, file.size());
        ASSERT_EQ(whole.find("failed"), std::string::npos) << whole;
        for (std::size_t piece = 1; piece <= 9; ++piece) {
            EXPECT_EQ(DumpAfterFeeding(file, piece), whole) << "pieces of " << piece;
        }
        for (std::size_t cut = 1; cut < file.size(); ++cut) {
            HiveParser parser;
            parser.Feed(std::string_view(file).substr(0, cut));
            parser.Feed(std::string_view(file).substr(cut));
            ASSERT_EQ(parser.Finish(), HiveParseStatus::Complete);
            ASSERT_EQ(DumpHive(*parser.TakeHive()) +
                          "malformed=" + std::to_string(parser.MalformedLines()),
                      whole)
                << "cut at " << cut;
        }
    }
    EXPECT_NE(DumpAfterFeeding(crlfNoFinalNewline, 1).find("Last|3|0102"), std::string::npos);
    EXPECT_NE(DumpAfterFeeding(utf16, 1).find("e|1|f09f988000"), std::string::npos);
}

TEST(HiveParser, EnforcesItsLimitsAtTheBoundary) {
    const std::string head = "WINE REGISTRY Version 2\n[K] 1\n";

    // Key depth: the deepest allowed path reads, one more level is skipped.
    std::string deep;
    for (std::size_t i = 0; i < kMaxHiveKeyDepth; ++i) {
        deep += i == 0 ? "k" : "\\\\k";
    }
    auto result = ParseHive(head + "[" + deep + "] 1\n\"v\"=\"deep\"\n[" + deep + "\\\\k] 1\n");
    ASSERT_EQ(result.status, HiveParseStatus::Complete);
    EXPECT_EQ(IssuesOf(result),
              (std::vector<std::pair<std::size_t, HiveError>>{{5, HiveError::KeyTooDeep}}));
    std::string deepPath;
    for (std::size_t i = 0; i < kMaxHiveKeyDepth; ++i) {
        deepPath += "k\\";
    }
    ASSERT_NE(result.hive->Root().FindPath(deepPath), nullptr);

    // Line length: a line at the limit is read, one byte more is skipped, the next line is fine.
    const std::string prefix = "\"v\"=\"";
    const std::string atLimit =
        prefix + std::string(kMaxHiveLineBytes - prefix.size() - 1, 'a') + "\"";
    result = ParseHive(head + atLimit + "\n\"w\"=\"" + std::string(kMaxHiveLineBytes, 'b') +
                       "\"\n\"after\"=dword:1\n");
    ASSERT_EQ(result.status, HiveParseStatus::Complete);
    EXPECT_EQ(IssuesOf(result),
              (std::vector<std::pair<std::size_t, HiveError>>{{4, HiveError::LineTooLong}}));
    const HiveKey* key = result.hive->Root().FindPath("K");
    ASSERT_NE(key->FindValue("v"), nullptr);
    EXPECT_EQ(key->FindValue("v")->data.size(), kMaxHiveLineBytes - prefix.size());
    EXPECT_EQ(key->FindValue("w"), nullptr);
    EXPECT_NE(key->FindValue("after"), nullptr);

    // Value size, over continuation lines: exactly the limit reads, one byte more does not.
    const auto hexValue = [](const std::string& name, std::size_t bytes) {
        std::string text = "\"" + name + "\"=hex:";
        for (std::size_t i = 0; i < bytes; ++i) {
            text += i + 1 == bytes ? "00\n" : (i % 25 == 24 ? "00,\\\n  " : "00,");
        }
        return text;
    };
    result = ParseHive(head + hexValue("max", kMaxHiveValueBytes) +
                       hexValue("over", kMaxHiveValueBytes + 1) + "\"after\"=dword:1\n");
    ASSERT_EQ(result.status, HiveParseStatus::Complete);
    ASSERT_EQ(result.issues.size(), 1u);
    EXPECT_EQ(result.issues[0].error, HiveError::ValueTooLong);
    key = result.hive->Root().FindPath("K");
    ASSERT_NE(key->FindValue("max"), nullptr);
    EXPECT_EQ(key->FindValue("max")->data.size(), kMaxHiveValueBytes);
    EXPECT_EQ(key->FindValue("over"), nullptr);
    EXPECT_NE(key->FindValue("after"), nullptr);

    // File size: the whole read fails one byte past the limit.
    HiveParser parser;
    parser.Feed(head);
    const std::string chunk(1 << 20, ';');
    std::size_t fed = head.size();
    while (fed + chunk.size() <= kMaxHiveFileBytes) {
        parser.Feed(chunk);
        fed += chunk.size();
    }
    parser.Feed(std::string(kMaxHiveFileBytes - fed, ';'));
    EXPECT_EQ(parser.Status(), HiveParseStatus::NeedMore);
    parser.Feed(";");
    EXPECT_EQ(parser.Finish(), HiveParseStatus::Failed);
    EXPECT_EQ(parser.Failure(), HiveError::FileTooLarge);
}

}  // namespace
}  // namespace lumidex::platform
