#include "platform/HiveParser.h"

#include <algorithm>
#include <array>
#include <optional>
#include <utility>

#include "platform/AsciiChar.h"
#include "platform/TextCodec.h"

namespace lumidex::platform {

using namespace hivetext;

namespace {

constexpr std::string_view kWineSignature = "WINE REGISTRY Version 2";
constexpr std::string_view kRegedit4Signature = "REGEDIT4";
constexpr std::string_view kRegedit5Signature = "Windows Registry Editor Version 5.00";
constexpr std::string_view kWineRelativeTo = ";; All keys relative to ";
constexpr std::string_view kWineArch = "#arch=";
constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
constexpr std::string_view kUtf16LeBom = "\xFF\xFE";
constexpr std::string_view kUtf16BeBom = "\xFE\xFF";

// Root names an export file may start a key path with, and the long form kept in the tree.
constexpr std::array<std::pair<std::string_view, std::string_view>, 10> kRootNames = {{
    {"HKEY_LOCAL_MACHINE", "HKEY_LOCAL_MACHINE"},
    {"HKLM", "HKEY_LOCAL_MACHINE"},
    {"HKEY_CURRENT_USER", "HKEY_CURRENT_USER"},
    {"HKCU", "HKEY_CURRENT_USER"},
    {"HKEY_CLASSES_ROOT", "HKEY_CLASSES_ROOT"},
    {"HKCR", "HKEY_CLASSES_ROOT"},
    {"HKEY_USERS", "HKEY_USERS"},
    {"HKU", "HKEY_USERS"},
    {"HKEY_CURRENT_CONFIG", "HKEY_CURRENT_CONFIG"},
    {"HKCC", "HKEY_CURRENT_CONFIG"},
}};

bool StartsWithFolded(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && NamesEqual(text.substr(0, prefix.size()), prefix);
}

bool IsTextType(uint32_t type) {
    return type == kRegSz || type == kRegExpandSz || type == kRegMultiSz;
}

std::vector<uint8_t> TextData(std::string_view text) {
    std::vector<uint8_t> data(text.begin(), text.end());
    data.push_back(0);
    return data;
}

// Why a key path cannot name a key, or None when it can.
HiveError KeyPathProblem(const std::vector<std::string_view>& parts) {
    if (parts.size() > kMaxHiveKeyDepth) {
        return HiveError::KeyTooDeep;
    }
    for (std::string_view part : parts) {
        if (part.empty()) {
            return HiveError::EmptyKeyName;
        }
        if (part.size() > kMaxHiveKeyNameBytes) {
            return HiveError::KeyNameTooLong;
        }
    }
    return HiveError::None;
}

// "text", closed by its quote with nothing but blanks behind: the text with its terminating
// zero.
HiveError ReadQuotedText(std::string_view quoted, HiveFormat format, std::vector<uint8_t>& data) {
    if (quoted.empty() || quoted.front() != '"') {
        return HiveError::StringNotClosed;
    }
    std::size_t pos = 1;
    std::string text;
    if (!Unescape(quoted, pos, '"', format, text) || !Trim(quoted.substr(pos)).empty()) {
        return HiveError::StringNotClosed;
    }
    data = TextData(text);
    return HiveError::None;
}

HiveError ReadDword(std::string_view digits, HiveValue& value) {
    const auto number = ParseHex32(digits);
    if (!number) {
        return HiveError::BadDword;
    }
    value.type = kRegDword;
    for (int shift = 0; shift < 32; shift += 8) {
        value.data.push_back(static_cast<uint8_t>(*number >> shift));
    }
    return HiveError::None;
}

// The bytes of hex:/hex(N):; text types become UTF-8 text.
HiveError ReadHexData(std::string_view list, HiveFormat format, HiveValue& value) {
    auto bytes = ParseHexBytes(list);
    if (!bytes) {
        return HiveError::BadHexBytes;
    }
    value.data = std::move(*bytes);
    if (IsTextType(value.type)) {
        const std::string text =
            format == HiveFormat::Regedit4
                ? GbkToUtf8(std::string_view(reinterpret_cast<const char*>(value.data.data()),
                                             value.data.size()))
                : Utf16LeToUtf8(value.data);
        value.data.assign(text.begin(), text.end());
    }
    return HiveError::None;
}

// str(N):"text", hex:list or hex(N):list.
HiveError ReadTypedData(std::string_view data, HiveFormat format, HiveValue& value) {
    const bool isText = StartsWithFolded(data, "str(");
    std::string_view rest = data.substr(3);
    value.type = kRegBinary;
    if (!rest.empty() && rest.front() == '(') {
        const std::size_t close = rest.find(')');
        const auto type =
            close == std::string_view::npos ? std::nullopt : ParseHex32(rest.substr(1, close - 1));
        if (!type) {
            return HiveError::BadValueType;
        }
        value.type = *type;
        rest.remove_prefix(close + 1);
    } else if (isText) {
        return HiveError::UnrecognisedData;
    }
    if (rest.empty() || rest.front() != ':') {
        return HiveError::TypeWithoutColon;
    }
    rest.remove_prefix(1);
    if (isText) {
        return ReadQuotedText(Trim(rest), format, value.data);
    }
    return ReadHexData(rest, format, value);
}

// The type and data of a value, from any form but the deletion.
HiveError ReadValueData(std::string_view data, HiveFormat format, HiveValue& value) {
    if (!data.empty() && data.front() == '"') {
        value.type = kRegSz;
        return ReadQuotedText(data, format, value.data);
    }
    if (StartsWithFolded(data, "dword:")) {
        return ReadDword(Trim(data.substr(6)), value);
    }
    if (StartsWithFolded(data, "str(") || StartsWithFolded(data, "hex")) {
        return ReadTypedData(data, format, value);
    }
    return HiveError::UnrecognisedData;
}

std::optional<std::string_view> LongRootName(std::string_view name) {
    for (const auto& [alias, longName] : kRootNames) {
        if (NamesEqual(alias, name)) {
            return longName;
        }
    }
    return std::nullopt;
}

}  // namespace

std::string_view DescribeHiveError(HiveError error) {
    switch (error) {
        case HiveError::None:
            return "no error";
        case HiveError::EmptyFile:
            return "empty file";
        case HiveError::NoSignature:
            return "first line names no registry file format";
        case HiveError::Utf16BigEndian:
            return "UTF-16 big-endian files are not supported";
        case HiveError::FileTooLarge:
            return "file larger than the limit";
        case HiveError::LineTooLong:
            return "line longer than the limit";
        case HiveError::NulInLine:
            return "NUL byte in line";
        case HiveError::UnrecognisedLine:
            return "unrecognised line";
        case HiveError::KeyNotClosed:
            return "key line without closing bracket";
        case HiveError::TextAfterKey:
            return "unexpected text after key";
        case HiveError::KeyTooDeep:
            return "key path deeper than the limit";
        case HiveError::EmptyKeyName:
            return "empty key name in path";
        case HiveError::KeyNameTooLong:
            return "key name longer than the limit";
        case HiveError::NoRootKey:
            return "key path starts with no root key name";
        case HiveError::ValueBeforeKey:
            return "value before the first key";
        case HiveError::ValueNameNotClosed:
            return "value name without closing quote";
        case HiveError::ValueNameTooLong:
            return "value name longer than the limit";
        case HiveError::ValueWithoutEquals:
            return "value without '='";
        case HiveError::UnrecognisedData:
            return "unrecognised value data";
        case HiveError::StringNotClosed:
            return "string value not closed by its quote";
        case HiveError::BadDword:
            return "dword value is not 1 to 8 hex digits";
        case HiveError::BadValueType:
            return "value type is not 1 to 8 hex digits";
        case HiveError::TypeWithoutColon:
            return "value type without ':'";
        case HiveError::BadHexBytes:
            return "hex value is not a list of bytes";
        case HiveError::HexValueCutOff:
            return "continued hex value cut off by a blank line or a key";
        case HiveError::HexValueUnfinished:
            return "file ends inside a continued hex value";
        case HiveError::HexValueTooLong:
            return "hex value longer than the limit";
        case HiveError::ValueTooLong:
            return "value data longer than the limit";
    }
    return "unknown error";
}

// ---- HiveParser: bytes to lines ------------------------------------------------------------

HiveParser::HiveParser() : m_hive(std::make_shared<RegistryHive>()) {}
HiveParser::~HiveParser() = default;

void HiveParser::Feed(std::string_view bytes) {
    if (m_status != HiveParseStatus::NeedMore || bytes.empty()) {
        return;
    }
    m_bytesFed += bytes.size();
    if (m_bytesFed > kMaxHiveFileBytes) {
        Fail(HiveError::FileTooLarge);
        return;
    }
    Decode(bytes, false);
}

// The first bytes choose the encoding: a UTF-16LE or UTF-8 byte-order mark, else UTF-8 (which
// covers ANSI files as well; their lines are converted later). atEnd: no more bytes will come,
// so a short file that merely looks like the start of a mark is decided now.
void HiveParser::Decode(std::string_view bytes, bool atEnd) {
    if (m_encoding == Encoding::Undecided) {
        m_probe.append(bytes);
        const auto couldStart = [&](std::string_view bom) {
            return m_probe.size() < bom.size() && bom.substr(0, m_probe.size()) == m_probe;
        };
        if (!atEnd &&
            (couldStart(kUtf8Bom) || couldStart(kUtf16LeBom) || couldStart(kUtf16BeBom))) {
            return;
        }
        const std::string probe = std::exchange(m_probe, {});
        std::string_view rest = probe;
        if (rest.substr(0, kUtf16BeBom.size()) == kUtf16BeBom) {
            Fail(HiveError::Utf16BigEndian);
            return;
        }
        if (rest.substr(0, kUtf16LeBom.size()) == kUtf16LeBom) {
            m_encoding = Encoding::Utf16Le;
            rest.remove_prefix(kUtf16LeBom.size());
        } else {
            m_encoding = Encoding::Utf8;
            if (rest.substr(0, kUtf8Bom.size()) == kUtf8Bom) {
                rest.remove_prefix(kUtf8Bom.size());
            }
        }
        Decode(rest, atEnd);
        return;
    }
    if (m_encoding == Encoding::Utf16Le) {
        DecodeUtf16(bytes);
        return;
    }
    TakeText(bytes);
}

void HiveParser::DecodeUtf16(std::string_view bytes) {
    std::size_t i = 0;
    const auto unitAt = [&](uint8_t low, std::size_t highAt) {
        return low | (static_cast<uint32_t>(static_cast<uint8_t>(bytes[highAt])) << 8);
    };
    if (!m_oddByte.empty() && !bytes.empty()) {
        m_utf16.Unit(unitAt(static_cast<uint8_t>(m_oddByte[0]), 0));
        m_oddByte.clear();
        i = 1;
    }
    for (; i + 1 < bytes.size(); i += 2) {
        m_utf16.Unit(unitAt(static_cast<uint8_t>(bytes[i]), i + 1));
    }
    if (i < bytes.size()) {
        m_oddByte.assign(1, bytes[i]);
    }
    TakeText(m_utf16.TakeReady());
}

void HiveParser::TakeText(std::string_view text) {
    while (!text.empty() && m_status == HiveParseStatus::NeedMore) {
        const std::size_t newline = text.find('\n');
        const std::string_view piece = text.substr(0, newline);
        if (m_line.size() + piece.size() > kMaxHiveLineBytes) {
            m_lineTooLong = true;
            m_line.clear();
        } else if (!m_lineTooLong) {
            m_line.append(piece);
        }
        if (newline == std::string_view::npos) {
            return;
        }
        EndLine();
        text.remove_prefix(newline + 1);
    }
}

void HiveParser::EndLine() {
    ++m_lineNumber;
    std::string line = std::move(m_line);
    m_line.clear();
    if (std::exchange(m_lineTooLong, false)) {
        if (m_state == State::HexContinued) {
            DropPendingValue(HiveError::LineTooLong);
            return;
        }
        Malformed(HiveError::LineTooLong);
        return;
    }
    std::string_view view = line;
    if (!view.empty() && view.back() == '\r') {
        view.remove_suffix(1);
    }
    HandleLine(view);
}

HiveParseStatus HiveParser::Finish() {
    if (m_status != HiveParseStatus::NeedMore) {
        return m_status;
    }
    if (m_encoding == Encoding::Undecided) {
        Decode({}, true);
    }
    TakeText(m_utf16.Take());  // a high surrogate left waiting becomes U+FFFD
    if (m_status == HiveParseStatus::Failed) {
        return m_status;
    }
    if (!m_line.empty() || m_lineTooLong) {
        EndLine();  // the last line had no line break
    }
    if (m_status == HiveParseStatus::Failed) {
        return m_status;
    }
    if (m_state == State::HexContinued) {
        DropPendingValue(HiveError::HexValueUnfinished);
    }
    if (m_state == State::Signature) {
        Fail(HiveError::EmptyFile);
        return m_status;
    }
    m_state = State::Done;
    m_status = HiveParseStatus::Complete;
    return m_status;
}

std::shared_ptr<RegistryHive> HiveParser::TakeHive() {
    m_key = nullptr;
    if (m_hive) {
        m_hive->m_root.Compact();
    }
    return std::move(m_hive);
}

void HiveParser::Malformed(HiveError error) {
    ++m_malformed;
    if (m_issues.size() < kMaxHiveIssuesKept) {
        m_issues.push_back({m_lineNumber, error});
    }
}

void HiveParser::Fail(HiveError error) {
    m_state = State::Failed;
    m_status = HiveParseStatus::Failed;
    m_failure = error;
    m_line.clear();
    m_key = nullptr;
}

// ---- HiveParser: lines ---------------------------------------------------------------------

void HiveParser::HandleLine(std::string_view line) {
    if (line.find('\0') != std::string_view::npos) {
        if (m_state == State::HexContinued) {
            DropPendingValue(HiveError::NulInLine);
            return;
        }
        Malformed(HiveError::NulInLine);
        return;
    }
    if (m_state == State::Signature) {
        HandleSignature(line);
        return;
    }
    // An export in the old format is ANSI text; a hand-made one may well be UTF-8 already.
    std::string converted;
    if (m_hive->m_format == HiveFormat::Regedit4 && !IsValidUtf8(line)) {
        converted = GbkToUtf8(line);
        line = converted;
    }
    line = TrimLeft(line);
    if (m_state == State::HexContinued && ContinueHexValue(line)) {
        return;
    }
    if (line.empty()) {
        return;
    }
    switch (line.front()) {
        case ';':
        case '#':
            HandleComment(line);
            return;
        case '[':
            HandleKeyLine(line);
            return;
        case '@':
        case '"':
            if (m_state == State::Preamble) {
                Malformed(HiveError::ValueBeforeKey);
                return;
            }
            if (m_state == State::SkippingKey) {
                return;
            }
            HandleValueLine(line);
            return;
        default:
            Malformed(HiveError::UnrecognisedLine);
    }
}

// The next line of a hex value ending in a backslash. False when the line is none (a blank
// line or a key): the value is dropped and the line read as any other.
bool HiveParser::ContinueHexValue(std::string_view line) {
    if (line.empty() || line.front() == '[') {
        DropPendingValue(HiveError::HexValueCutOff);
        return false;
    }
    std::string_view text = TrimRight(line);
    const bool more = !text.empty() && text.back() == '\\';
    if (more) {
        text.remove_suffix(1);
    }
    if (m_pendingData.size() + text.size() > kMaxHiveValueTextBytes) {
        // Keep swallowing the continuation lines, then report the value once.
        m_pendingTooLong = true;
        m_pendingData.clear();
    } else if (!m_pendingTooLong) {
        m_pendingData.append(text);
    }
    if (more) {
        return true;
    }
    m_state = State::InKey;
    std::string data = std::exchange(m_pendingData, {});
    if (std::exchange(m_pendingTooLong, false)) {
        Malformed(HiveError::HexValueTooLong);
        return true;
    }
    FinishValue(std::exchange(m_pendingName, {}), data);
    return true;
}

// Comment lines. Two in a Wine hive's preamble carry settings: ";; All keys relative to" and
// the option "#arch=" (Wine's other options are #time=, #class=, #link; exports use '#'
// rarely, and only for comments).
void HiveParser::HandleComment(std::string_view line) {
    if (m_hive->m_format != HiveFormat::Wine || m_state != State::Preamble) {
        return;
    }
    if (line.substr(0, kWineRelativeTo.size()) == kWineRelativeTo) {
        std::size_t pos = kWineRelativeTo.size();
        Unescape(line, pos, '\0', HiveFormat::Wine, m_hive->m_relativeTo);
        return;
    }
    if (line.substr(0, kWineArch.size()) == kWineArch) {
        m_hive->m_arch = std::string(Trim(line.substr(kWineArch.size())));
    }
}

void HiveParser::HandleSignature(std::string_view line) {
    const std::string_view signature = Trim(line);
    if (signature == kWineSignature) {
        m_hive->m_format = HiveFormat::Wine;
    } else if (signature == kRegedit4Signature) {
        m_hive->m_format = HiveFormat::Regedit4;
    } else if (signature == kRegedit5Signature) {
        m_hive->m_format = HiveFormat::Regedit5;
    } else {
        Fail(HiveError::NoSignature);
        return;
    }
    m_state = State::Preamble;
}

// Wine:    [escaped\\path] timestamp      (timestamp: optional decimal digits)
// Exports: [ROOT\path] or [-ROOT\path]    (no escapes; the last ']' closes)
void HiveParser::HandleKeyLine(std::string_view line) {
    m_key = nullptr;
    m_state = State::SkippingKey;
    std::string path;
    bool remove = false;
    if (m_hive->m_format == HiveFormat::Wine) {
        std::size_t pos = 1;
        if (!Unescape(line, pos, ']', HiveFormat::Wine, path)) {
            Malformed(HiveError::KeyNotClosed);
            return;
        }
        const std::string_view rest = Trim(line.substr(pos));
        if (!std::all_of(rest.begin(), rest.end(), IsDigit)) {
            Malformed(HiveError::TextAfterKey);
            return;
        }
    } else {
        const std::size_t close = line.rfind(']');
        if (close == std::string_view::npos) {
            Malformed(HiveError::KeyNotClosed);
            return;
        }
        const std::string_view rest = Trim(line.substr(close + 1));
        if (!rest.empty() && rest.front() != ';') {
            Malformed(HiveError::TextAfterKey);
            return;
        }
        std::string_view inner = line.substr(1, close - 1);
        if (!inner.empty() && inner.front() == '-') {
            remove = true;
            inner.remove_prefix(1);
        }
        path = std::string(inner);
    }

    std::vector<std::string_view> parts = SplitPath(path);
    if (const HiveError problem = KeyPathProblem(parts); problem != HiveError::None) {
        Malformed(problem);
        return;
    }
    std::string rootName;
    if (m_hive->m_format != HiveFormat::Wine) {
        const auto longName = LongRootName(parts.front());
        if (!longName) {
            Malformed(HiveError::NoRootKey);
            return;
        }
        rootName = std::string(*longName);
        parts.front() = rootName;
    }

    HiveKey* key = &m_hive->m_root;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        if (remove && i + 1 == parts.size()) {
            key->RemoveChild(parts[i]);
            return;  // values after a deletion belong to nothing
        }
        if (remove && key->FindChild(parts[i]) == nullptr) {
            return;
        }
        key = &key->AddChild(parts[i]);
    }
    m_key = key;
    m_state = State::InKey;
}

// "name"=<data> or @=<data>, blanks allowed around '='.
void HiveParser::HandleValueLine(std::string_view line) {
    std::string name;
    std::size_t pos = 1;
    if (line.front() == '"' && !Unescape(line, pos, '"', m_hive->m_format, name)) {
        Malformed(HiveError::ValueNameNotClosed);
        return;
    }
    if (name.size() > kMaxHiveValueNameBytes) {
        Malformed(HiveError::ValueNameTooLong);
        return;
    }
    std::string_view rest = TrimLeft(line.substr(pos));
    if (rest.empty() || rest.front() != '=') {
        Malformed(HiveError::ValueWithoutEquals);
        return;
    }
    const std::string_view data = TrimRight(TrimLeft(rest.substr(1)));
    if (StartsWithFolded(data, "hex") && !data.empty() && data.back() == '\\') {
        m_pendingName = std::move(name);
        m_pendingData = std::string(data.substr(0, data.size() - 1));
        m_pendingTooLong = false;
        m_state = State::HexContinued;
        return;
    }
    FinishValue(std::move(name), data);
}

void HiveParser::DropPendingValue(HiveError error) {
    m_pendingName.clear();
    m_pendingData.clear();
    m_pendingTooLong = false;
    m_state = State::InKey;
    Malformed(error);
}

// Value data grammar:
//   "text"                  REG_SZ
//   str(N):"text"           type N, text (Wine's form for expandable and multi strings)
//   dword:XXXXXXXX          REG_DWORD, 1-8 hex digits
//   hex:hh,hh,...           REG_BINARY
//   hex(N):hh,hh,...        type N (hex); text types hold UTF-16LE, or ANSI in REGEDIT4
//   -                       (exports only) delete the value
void HiveParser::FinishValue(std::string name, std::string_view data) {
    if (m_key == nullptr) {
        return;
    }
    const HiveFormat format = m_hive->m_format;
    if (data == "-" && format != HiveFormat::Wine) {
        m_key->RemoveValue(name);
        return;
    }
    HiveValue value;
    value.name = std::move(name);
    if (const HiveError error = ReadValueData(data, format, value); error != HiveError::None) {
        Malformed(error);
        return;
    }
    if (value.data.size() > kMaxHiveValueBytes) {
        Malformed(HiveError::ValueTooLong);
        return;
    }
    m_key->SetValue(std::move(value));
}

HiveParseResult ParseHive(std::string_view bytes) {
    HiveParser parser;
    parser.Feed(bytes);
    HiveParseResult result;
    result.status = parser.Finish();
    result.failure = parser.Failure();
    result.malformedLines = parser.MalformedLines();
    result.issues = parser.Issues();
    if (result.status == HiveParseStatus::Complete) {
        result.hive = parser.TakeHive();
    }
    return result;
}

}  // namespace lumidex::platform
