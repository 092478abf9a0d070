#include "service/XmlDocument.h"

#include <utility>

#include "platform/AsciiChar.h"
#include "service/ServiceLimits.h"

namespace lumidex {
namespace {

constexpr std::string_view kSpace = "\r\n\t ";
// Text nodes lose a leading minus sign too: the channel list never needs one.
constexpr std::string_view kTextTrim = "\r\n\t -";

using platform::IsDigit;
using platform::IsSpace;

std::size_t SkipSpace(std::string_view text, std::size_t pos) {
    while (pos < text.size() && IsSpace(text[pos])) {
        ++pos;
    }
    return pos;
}

std::string_view Trim(std::string_view text, std::string_view set) {
    const auto first = text.find_first_not_of(set);
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(set) - first + 1);
}

// attribute = name S* "=" S* quote value quote, repeated; an element's tag may also hold "/"
// between them (the self-closing mark). False when one is malformed.
bool ParseAttributes(std::string_view tag, std::size_t pos, bool slashes, XmlAttributes& out) {
    while (true) {
        while (pos < tag.size() && (IsSpace(tag[pos]) || (slashes && tag[pos] == '/'))) {
            ++pos;
        }
        if (pos == tag.size()) {
            return true;
        }
        const auto nameEnd = tag.find_first_of("\r\n\t =", pos);
        if (nameEnd == std::string_view::npos) {
            return false;
        }
        const std::string_view name = tag.substr(pos, nameEnd - pos);
        pos = SkipSpace(tag, nameEnd);
        if (pos == tag.size() || tag[pos] != '=') {
            return false;
        }
        pos = SkipSpace(tag, pos + 1);
        if (pos == tag.size() || (tag[pos] != '"' && tag[pos] != '\'')) {
            return false;
        }
        const auto close = tag.find(tag[pos], pos + 1);
        if (close == std::string_view::npos) {
            return false;
        }
        out.order.emplace_back(name);
        out.values.emplace(std::string(name), std::string(tag.substr(pos + 1, close - pos - 1)));
        pos = close + 1;
    }
}

}  // namespace

std::string_view XmlErrorText(XmlError error) {
    switch (error) {
        case XmlError::None:
            return "accepted";
        case XmlError::WhitespaceOnly:
            return "nothing but white space";
        case XmlError::NotMarkup:
            return "text outside the root element";
        case XmlError::DeclarationAfterRoot:
            return "declaration after the root element";
        case XmlError::MarkupDeclarationAfterRoot:
            return "markup declaration after the root element";
        case XmlError::UnbalancedMarkupDeclaration:
            return "markup declaration whose < and > do not balance";
        case XmlError::SecondRoot:
            return "second root element";
        case XmlError::BadTag:
            return "tag without > or empty";
        case XmlError::BadName:
            return "element name empty or starting with a digit";
        case XmlError::BlankTag:
            return "tag of white space only";
        case XmlError::BadAttribute:
            return "malformed attribute";
        case XmlError::Unclosed:
            return "text ends inside an element";
        case XmlError::EndTagMismatch:
            return "end tag does not match the start tag";
        case XmlError::DeclarationInContent:
            return "declaration inside an element";
        case XmlError::MarkupDeclarationInContent:
            return "markup declaration inside an element";
        case XmlError::BadDeclaration:
            return "declaration without ?> or empty";
        case XmlError::BadDeclarationAttribute:
            return "malformed declaration attribute";
        case XmlError::BadComment:
            return "comment without --> or containing <!--";
        case XmlError::TooDeep:
            return "elements nested too deeply";
    }
    return "unknown";
}

const XmlElement* AsElement(const XmlNode& node) {
    return node.Kind() == XmlNodeKind::Element ? static_cast<const XmlElement*>(&node) : nullptr;
}

// One pass over the text without recursion: the open elements form an explicit stack, so the
// nesting limit, not the thread's stack, decides how deep a document may go.
class XmlParser {
public:
    XmlParser(XmlDocument& document, std::string_view text, bool severalRoots,
              const XmlNodeDone* keep)
        : m_doc(document), m_text(text), m_severalRoots(severalRoots), m_keep(keep) {}

    bool Run() {
        while (m_state == State::TopLevel || m_state == State::Content) {
            if (m_state == State::TopLevel) {
                TopLevelStep();
            } else {
                ContentStep();
            }
        }
        return m_state == State::Done;
    }

private:
    enum class State {
        TopLevel,  // between top-level nodes: a declaration, comment, markup declaration, root
        Content,   // inside the innermost open element: text, child, comment or its end tag
        Done,
        Failed,
    };

    void Fail(XmlError error, std::size_t at) {
        m_state = State::Failed;
        m_doc.m_error = error;
        m_doc.m_errorOffset = at;
    }

    char At(std::size_t pos) const { return pos < m_text.size() ? m_text[pos] : '\0'; }

    // The node just completed is the last one of its container (the innermost open element's
    // children, or the top level); the caller's keep may drop it there.
    void Completed() {
        if (m_keep == nullptr || m_state == State::Failed) {
            return;
        }
        auto& nodes = m_open.empty() ? m_doc.m_topLevel : m_open.back()->children;
        const XmlNode& node = *nodes.back();
        if (!(*m_keep)(node, std::span<const XmlElement* const>(m_open.data(), m_open.size())) &&
            &node != m_doc.m_root) {
            nodes.pop_back();
        }
    }

    void TopLevelStep() {
        if (m_pos >= m_text.size()) {
            m_state = State::Done;
            return;
        }
        m_pos = SkipSpace(m_text, m_pos);
        if (m_pos == m_text.size()) {
            if (m_doc.m_root != nullptr) {
                m_state = State::Done;
            } else {
                Fail(XmlError::WhitespaceOnly, m_pos);
            }
            return;
        }
        if (m_text[m_pos] != '<' || m_pos + 1 == m_text.size()) {
            Fail(XmlError::NotMarkup, m_pos);
            return;
        }
        const char next = m_text[m_pos + 1];
        if (next == '?') {
            auto declaration = std::make_unique<XmlDeclaration>();
            XmlDeclaration& node = *declaration;
            m_doc.m_topLevel.push_back(std::move(declaration));
            if (!ParseDeclaration(node)) {
                return;
            }
            if (m_doc.m_root != nullptr) {
                Fail(XmlError::DeclarationAfterRoot, static_cast<std::size_t>(node.position));
            }
            Completed();
            return;
        }
        if (next == '!' && At(m_pos + 2) == '-') {
            auto comment = std::make_unique<XmlNode>(XmlNodeKind::Comment);
            XmlNode& node = *comment;
            m_doc.m_topLevel.push_back(std::move(comment));
            ParseComment(node);
            Completed();
            return;
        }
        if (next == '!') {
            if (m_doc.m_root != nullptr) {
                Fail(XmlError::MarkupDeclarationAfterRoot, m_pos);
                return;
            }
            SkipMarkupDeclaration();
            return;
        }
        if (m_doc.m_root != nullptr && !m_severalRoots) {
            Fail(XmlError::SecondRoot, m_pos);
            return;
        }
        auto element = std::make_unique<XmlElement>();
        XmlElement* node = element.get();
        m_doc.m_topLevel.push_back(std::move(element));
        if (m_doc.m_root == nullptr) {
            m_doc.m_root = node;
        }
        OpenElement(*node);
    }

    void ContentStep() {
        XmlElement& open = *m_open.back();
        m_pos = SkipSpace(m_text, m_pos);
        if (m_pos == m_text.size()) {
            Fail(XmlError::Unclosed, m_pos);
            return;
        }
        if (m_text[m_pos] != '<') {
            ReadText(open);
            return;
        }
        const char next = At(m_pos + 1);
        if (next == '?') {
            Fail(XmlError::DeclarationInContent, m_pos);
            return;
        }
        if (next == '!') {
            if (At(m_pos + 2) != '-') {
                Fail(XmlError::MarkupDeclarationInContent, m_pos);
                return;
            }
            open.children.push_back(std::make_unique<XmlNode>(XmlNodeKind::Comment));
            ParseComment(*open.children.back());
            Completed();
            return;
        }
        if (next == '/') {
            CloseElement(open);
            return;
        }
        if (m_open.size() >= kMaxXmlDepth) {
            Fail(XmlError::TooDeep, m_pos);
            return;
        }
        auto child = std::make_unique<XmlElement>();
        XmlElement* node = child.get();
        open.children.push_back(std::move(child));
        OpenElement(*node);
    }

    // Reads the start tag at m_pos; an element that is not self-closing becomes the innermost
    // open one.
    void OpenElement(XmlElement& element) {
        element.position = static_cast<std::ptrdiff_t>(m_pos);
        element.parseState = kXmlBadTag;
        // The tag ends at the first ">", even one inside an attribute value.
        const auto close = m_text.find('>', m_pos + 1);
        if (close == std::string_view::npos || close == m_pos + 1) {
            Fail(XmlError::BadTag, m_pos);
            return;
        }
        const std::string_view tag = m_text.substr(m_pos + 1, close - m_pos - 1);
        element.selfClosing = tag.back() == '/';
        const std::size_t nameStart = SkipSpace(tag, 0);
        if (nameStart == tag.size()) {
            element.parseState = kXmlBlankTag;
            Fail(XmlError::BlankTag, m_pos);
            return;
        }
        std::size_t nameEnd = tag.find_first_of("\r\n\t /", nameStart);
        if (nameEnd == std::string_view::npos) {
            nameEnd = tag.size();
        }
        if (nameEnd == nameStart || IsDigit(tag[nameStart])) {
            element.parseState = kXmlBadName;
            Fail(XmlError::BadName, m_pos);
            return;
        }
        element.value.assign(tag.substr(nameStart, nameEnd - nameStart));
        if (!ParseAttributes(tag, nameEnd, true, element.attributes)) {
            element.parseState = kXmlBadAttribute;
            Fail(XmlError::BadAttribute, m_pos);
            return;
        }
        m_pos = close + 1;
        if (element.selfClosing) {
            element.parseState = kXmlParsed;
            AfterElement();
            Completed();
            return;
        }
        element.parseState = kXmlIncomplete;
        m_open.push_back(&element);
        m_state = State::Content;
    }

    // end tag = "</" name S* ">", the name byte for byte as in the start tag.
    void CloseElement(XmlElement& open) {
        const std::string_view name = open.value;
        std::size_t pos = m_pos + 2;
        if (m_text.substr(pos, name.size()) != name) {
            Fail(XmlError::EndTagMismatch, m_pos);
            return;
        }
        pos = SkipSpace(m_text, pos + name.size());
        if (pos == m_text.size()) {
            Fail(XmlError::Unclosed, m_pos);
            return;
        }
        if (m_text[pos] != '>') {
            Fail(XmlError::EndTagMismatch, m_pos);
            return;
        }
        open.parseState = kXmlParsed;
        m_open.pop_back();
        m_pos = pos + 1;
        AfterElement();
        Completed();
    }

    void AfterElement() { m_state = m_open.empty() ? State::TopLevel : State::Content; }

    void ReadText(XmlElement& open) {
        auto end = m_text.find('<', m_pos);
        if (end == std::string_view::npos) {
            end = m_text.size();
        }
        auto text = std::make_unique<XmlNode>(XmlNodeKind::Text);
        text->position = static_cast<std::ptrdiff_t>(end);
        text->value.assign(Trim(m_text.substr(m_pos, end - m_pos), kTextTrim));
        open.children.push_back(std::move(text));
        m_pos = end;
        Completed();
    }

    bool ParseDeclaration(XmlDeclaration& node) {
        node.position = static_cast<std::ptrdiff_t>(m_pos);
        node.parseState = kXmlBadDeclaration;
        const auto close = m_text.find("?>", m_pos + 2);
        if (close == std::string_view::npos || close == m_pos + 2) {
            Fail(XmlError::BadDeclaration, m_pos);
            return false;
        }
        // Content of white space only is a declaration without a name, not an error.
        const std::string_view content = m_text.substr(m_pos + 2, close - m_pos - 2);
        const std::size_t nameStart = SkipSpace(content, 0);
        std::size_t nameEnd = content.find_first_of(kSpace, nameStart);
        if (nameEnd == std::string_view::npos) {
            nameEnd = content.size();
        }
        node.value.assign(content.substr(nameStart, nameEnd - nameStart));
        if (!ParseAttributes(content, nameEnd, false, node.attributes)) {
            node.parseState = kXmlBadDeclarationAttribute;
            Fail(XmlError::BadDeclarationAttribute, m_pos);
            return false;
        }
        node.parseState = kXmlParsed;
        m_pos = close + 2;
        return true;
    }

    void ParseComment(XmlNode& node) {
        node.position = static_cast<std::ptrdiff_t>(m_pos);
        node.parseState = kXmlBadComment;
        if (m_text.substr(m_pos, 4) != "<!--") {
            Fail(XmlError::BadComment, m_pos);
            return;
        }
        const auto close = m_text.find("-->", m_pos + 4);
        if (close == std::string_view::npos) {
            Fail(XmlError::BadComment, m_pos);
            return;
        }
        const std::string_view content = m_text.substr(m_pos + 4, close - m_pos - 4);
        if (content.find("<!--") != std::string_view::npos) {
            Fail(XmlError::BadComment, m_pos);
            return;
        }
        node.value.assign(content);
        node.parseState = kXmlParsed;
        m_pos = close + 3;
    }

    // A document type declaration and the like: skipped by counting "<" up and ">" down from
    // its "<" until the count returns to 0. Quotes are not looked at.
    void SkipMarkupDeclaration() {
        std::size_t depth = 0;
        for (std::size_t pos = m_pos; pos < m_text.size(); ++pos) {
            pos = m_text.find_first_of("<>", pos);
            if (pos == std::string_view::npos) {
                break;
            }
            if (m_text[pos] == '<') {
                ++depth;
                continue;
            }
            if (--depth == 0) {
                m_pos = pos + 1;
                return;
            }
        }
        Fail(XmlError::UnbalancedMarkupDeclaration, m_pos);
    }

    XmlDocument& m_doc;
    std::string_view m_text;
    bool m_severalRoots;
    const XmlNodeDone* m_keep;
    State m_state = State::TopLevel;
    std::size_t m_pos = 0;
    std::vector<XmlElement*> m_open;  // innermost last; never deeper than kMaxXmlDepth
};

bool XmlDocument::Parse(std::string_view text, bool allowSeveralRoots) {
    Clear();
    XmlParser parser(*this, text, allowSeveralRoots, nullptr);
    return parser.Run();
}

bool XmlDocument::Parse(std::string_view text, bool allowSeveralRoots, const XmlNodeDone& keep) {
    Clear();
    XmlParser parser(*this, text, allowSeveralRoots, &keep);
    return parser.Run();
}

void XmlDocument::Clear() {
    m_root = nullptr;
    m_topLevel.clear();
    m_error = XmlError::None;
    m_errorOffset = 0;
}

}  // namespace lumidex
