// Reads registry hive text (see RegistryHive.h for the formats) into a RegistryHive, from
// pieces of any size, as a small state machine over lines.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/HiveText.h"
#include "platform/RegistryHive.h"

namespace lumidex::platform {

// Why a read failed, or why one line of it was skipped.
enum class HiveError {
    None,
    // The whole read fails:
    EmptyFile,       // not even a first line
    NoSignature,     // the first line names no registry file format
    Utf16BigEndian,  // a UTF-16BE byte-order mark
    FileTooLarge,    // more than kMaxHiveFileBytes
    // One line is skipped (a continued hex value is dropped whole):
    LineTooLong,         // a physical line over kMaxHiveLineBytes
    NulInLine,           // a zero byte in the line
    UnrecognisedLine,    // neither key, value, comment nor blank
    KeyNotClosed,        // "[path" without its ']'
    TextAfterKey,        // "[path] junk"
    KeyTooDeep,          // more than kMaxHiveKeyDepth components
    EmptyKeyName,        // two path separators in a row
    KeyNameTooLong,      // a component over kMaxHiveKeyNameBytes
    NoRootKey,           // an export's path not starting with HKEY_... or its short form
    ValueBeforeKey,      // a value line before the first key
    ValueNameNotClosed,  // "name=... without the closing quote
    ValueNameTooLong,    // a name over kMaxHiveValueNameBytes
    ValueWithoutEquals,  // "name" "data"
    UnrecognisedData,    // data of no known form
    StringNotClosed,     // "text without its quote, or text after it
    BadDword,            // dword: with other than 1 to 8 hex digits
    BadValueType,        // hex(N) or str(N) with N not 1 to 8 hex digits
    TypeWithoutColon,    // hex(2) with no ':' behind
    BadHexBytes,         // hex: data that is not a list of bytes
    HexValueCutOff,      // a continued hex value cut off by a blank line or a key
    HexValueUnfinished,  // the file ends inside a continued hex value
    HexValueTooLong,     // continued hex text over kMaxHiveValueTextBytes
    ValueTooLong,        // value data over kMaxHiveValueBytes
};

std::string_view DescribeHiveError(HiveError error);

struct HiveIssue {
    std::size_t line = 0;  // 1-based physical line
    HiveError error = HiveError::None;
};

enum class HiveParseStatus {
    NeedMore,  // Finish has not been called yet
    Complete,  // the whole file was read; malformed lines were skipped and counted
    Failed,    // not a hive at all, or over a limit that ends the read (see Failure)
};

// Push parser: Feed the file in pieces of any size, then Finish. Malformed lines are skipped
// (counted, the first errors kept); only an unrecognised first line, an unsupported
// encoding or a file over kMaxHiveFileBytes fail the whole read, and a failed parser stays
// failed.
class HiveParser {
public:
    HiveParser();
    ~HiveParser();
    HiveParser(const HiveParser&) = delete;
    HiveParser& operator=(const HiveParser&) = delete;

    void Feed(std::string_view bytes);
    HiveParseStatus Finish();

    HiveParseStatus Status() const { return m_status; }
    HiveError Failure() const { return m_failure; }
    std::size_t MalformedLines() const { return m_malformed; }
    const std::vector<HiveIssue>& Issues() const { return m_issues; }

    // The tree read so far; the parser is spent afterwards.
    std::shared_ptr<RegistryHive> TakeHive();

private:
    enum class State {
        Signature,     // waiting for the first line, which names the format
        Preamble,      // before the first key: comments, Wine's ";; All keys relative to"
        InKey,         // values of the current key
        SkippingKey,   // values of a malformed or deleted key, dropped silently
        HexContinued,  // the next line continues a hex value ending in a backslash
        Done,
        Failed,
    };
    enum class Encoding { Undecided, Utf8, Utf16Le };

    void Decode(std::string_view bytes, bool atEnd);
    void DecodeUtf16(std::string_view bytes);
    void TakeText(std::string_view text);
    void EndLine();
    void HandleLine(std::string_view line);
    bool ContinueHexValue(std::string_view line);
    void HandleComment(std::string_view line);
    void HandleSignature(std::string_view line);
    void HandleKeyLine(std::string_view line);
    void HandleValueLine(std::string_view line);
    void FinishValue(std::string name, std::string_view data);
    void DropPendingValue(HiveError error);
    void Malformed(HiveError error);
    void Fail(HiveError error);

    State m_state = State::Signature;
    HiveParseStatus m_status = HiveParseStatus::NeedMore;
    HiveError m_failure = HiveError::None;
    std::size_t m_malformed = 0;
    std::vector<HiveIssue> m_issues;

    std::size_t m_bytesFed = 0;
    Encoding m_encoding = Encoding::Undecided;
    std::string m_probe;            // first bytes, until the byte-order mark question is settled
    std::string m_oddByte;          // UTF-16: half a code unit carried to the next Feed
    hivetext::Utf8Builder m_utf16;  // UTF-16: decoded text, a high surrogate may wait in it

    std::string m_line;  // the physical line being assembled
    bool m_lineTooLong = false;
    std::size_t m_lineNumber = 0;

    std::shared_ptr<RegistryHive> m_hive;
    HiveKey* m_key = nullptr;   // current key inside m_hive
    std::string m_pendingName;  // HexContinued: the value waiting for more lines
    std::string m_pendingData;
    bool m_pendingTooLong = false;  // its text passed kMaxHiveValueTextBytes; dropped at its end
};

// One-shot helper over a complete buffer.
struct HiveParseResult {
    HiveParseStatus status = HiveParseStatus::Failed;
    HiveError failure = HiveError::None;
    std::size_t malformedLines = 0;
    std::vector<HiveIssue> issues;
    std::shared_ptr<RegistryHive> hive;  // null unless Complete
};
HiveParseResult ParseHive(std::string_view bytes);

}  // namespace lumidex::platform
