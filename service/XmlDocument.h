// A minimal DOM for the channel list: declarations, elements with attributes, text and
// comments, parsed from bytes in memory. No character sets, entity or character references,
// CDATA, namespaces or validation; whatever falls outside the small grammar below fails the
// whole parse.
//
//   document    = *( S | declaration | comment | markupdecl ) [ element ] *( S | comment )
//   declaration = "<?" S* [ name *attribute S* ] "?>"   (not empty; only before the root)
//   markupdecl  = "<!" ... ">" with "<" and ">" balanced (only before the root)
//   comment     = "<!--" content-without-"<!--" "-->"
//   element     = "<" S* name *attribute ["/"] ">" [ *(text | element | comment) "</" name S* ">" ]
//   attribute   = S+ name S* "=" S* ( "'" value "'" | '"' value '"' )
//   name        = bytes up to white space or "/" (or "=" in attributes); no leading digit
// S is CR, LF, TAB or space. Text is trimmed of S and "-" at both ends.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace lumidex {

enum class XmlNodeKind : std::int32_t {
    Declaration = 1,
    Element = 5,
    Text = 6,
    Comment = 7,
};

// The parse state a node keeps: 0 when it was read completely, else the rule that failed last.
enum XmlParseState : std::int32_t {
    kXmlParsed = 0,
    kXmlBadTag = 1,                   // no "<" ... ">" pair, or an empty tag
    kXmlBadName = 2,                  // empty name, or one starting with a digit or "/"
    kXmlBlankTag = 3,                 // the tag holds only white space
    kXmlBadAttribute = 4,             // malformed attribute of an element
    kXmlIncomplete = 5,               // start tag read; content or end tag not complete
    kXmlBadDeclaration = 6,           // no "<?" ... "?>" pair, or an empty declaration
    kXmlBadDeclarationAttribute = 7,  // malformed attribute of a declaration
    kXmlBadComment = 8,               // no closing "-->", or "<!--" inside the comment
};

// Which rule rejected a document, for the tests and the fuzz entry point.
enum class XmlError {
    None,
    WhitespaceOnly,
    NotMarkup,  // a top-level byte other than "<", or "<" as the last byte
    DeclarationAfterRoot,
    MarkupDeclarationAfterRoot,
    UnbalancedMarkupDeclaration,
    SecondRoot,
    BadTag,
    BadName,
    BlankTag,
    BadAttribute,
    Unclosed,  // the text ended inside an element
    EndTagMismatch,
    DeclarationInContent,
    MarkupDeclarationInContent,
    BadDeclaration,
    BadDeclarationAttribute,
    BadComment,
    TooDeep,  // nesting deeper than kMaxXmlDepth
};

std::string_view XmlErrorText(XmlError error);

// Attribute values by name (a repeated name keeps its first value) and the names in document
// order (a repeated name is listed again).
struct XmlAttributes {
    std::map<std::string, std::string> values;
    std::vector<std::string> order;
};

class XmlNode {
public:
    explicit XmlNode(XmlNodeKind kind) : m_kind(kind) {}
    virtual ~XmlNode() = default;
    XmlNode(const XmlNode&) = delete;
    XmlNode& operator=(const XmlNode&) = delete;

    XmlNodeKind Kind() const { return m_kind; }

    // Where parsing of the node started (for a text node: where it ended); -1 before parsing.
    std::ptrdiff_t position = -1;
    std::int32_t parseState = kXmlParsed;
    // Element or declaration: the name. Text: the trimmed text. Comment: its content.
    std::string value;

private:
    XmlNodeKind m_kind;
};

class XmlDeclaration : public XmlNode {
public:
    XmlDeclaration() : XmlNode(XmlNodeKind::Declaration) {}
    XmlAttributes attributes;
};

class XmlElement : public XmlNode {
public:
    XmlElement() : XmlNode(XmlNodeKind::Element) {}

    std::size_t ChildCount() const { return children.size(); }

    bool selfClosing = false;
    XmlAttributes attributes;
    std::vector<std::unique_ptr<XmlNode>> children;
};

// The node as an element, or null when it is another kind.
const XmlElement* AsElement(const XmlNode& node);

// Called as each node is complete (an element at its end tag), with the elements that enclose
// it, outermost first (none for a top-level node). False drops the node from the document at
// once, with everything below it; the root element always stays. A reader that takes what it
// needs as the nodes come keeps the document small however long the text is.
using XmlNodeDone =
    std::function<bool(const XmlNode& node, std::span<const XmlElement* const> enclosing)>;

class XmlDocument {
public:
    XmlDocument() = default;
    XmlDocument(const XmlDocument&) = delete;
    XmlDocument& operator=(const XmlDocument&) = delete;

    // Discards the previous content and parses text. True when the whole text was accepted.
    // On false, the nodes built so far stay until the next Parse or Clear.
    bool Parse(std::string_view text, bool allowSeveralRoots);
    // The same, asking keep about every node as it is complete.
    bool Parse(std::string_view text, bool allowSeveralRoots, const XmlNodeDone& keep);
    void Clear();

    // The first top-level element, or null.
    const XmlElement* Root() const { return m_root; }
    // Declarations, comments and elements found at top level, in document order.
    const std::vector<std::unique_ptr<XmlNode>>& TopLevel() const { return m_topLevel; }

    XmlError Error() const { return m_error; }
    // The offset at which the failing rule was applied.
    std::size_t ErrorOffset() const { return m_errorOffset; }

private:
    friend class XmlParser;

    std::vector<std::unique_ptr<XmlNode>> m_topLevel;
    XmlElement* m_root = nullptr;
    XmlError m_error = XmlError::None;
    std::size_t m_errorOffset = 0;
};

}  // namespace lumidex
