#include "service/XmlDocument.h"

#include <gtest/gtest.h>

#include <span>
#include <string>
#include <vector>

#include "service/ServiceLimits.h"

namespace lumidex {
namespace {

// A compact picture of a tree: element name(attr=value,...)/ for self-closing, [children];
// 'text'; <!--comment-->; ?declaration(attr=value).
std::string Describe(const XmlNode& node) {
    auto attributes = [](const XmlAttributes& attrs) {
        std::string out;
        for (const auto& name : attrs.order) {
            out += (out.empty() ? "(" : ",") + name + "=" + attrs.values.at(name);
        }
        return out.empty() ? out : out + ")";
    };
    switch (node.Kind()) {
        case XmlNodeKind::Declaration:
            return "?" + node.value +
                   attributes(static_cast<const XmlDeclaration&>(node).attributes);
        case XmlNodeKind::Text:
            return "'" + node.value + "'";
        case XmlNodeKind::Comment:
            return "<!--" + node.value + "-->";
        case XmlNodeKind::Element:
            break;
    }
    const auto& element = static_cast<const XmlElement&>(node);
    std::string out = element.value + attributes(element.attributes);
    if (element.selfClosing) {
        return out + "/";
    }
    out += "[";
    for (const auto& child : element.children) {
        out += (out.back() == '[' ? "" : " ") + Describe(*child);
    }
    return out + "]";
}

std::string DescribeDocument(const XmlDocument& document) {
    std::string out;
    for (const auto& node : document.TopLevel()) {
        out += (out.empty() ? "" : " ") + Describe(*node);
    }
    return out;
}

// The node parsed last: the last top-level node, and inside it the last child, down.
const XmlNode* LastNode(const XmlDocument& document) {
    if (document.TopLevel().empty()) {
        return nullptr;
    }
    const XmlNode* node = document.TopLevel().back().get();
    while (const XmlElement* element = AsElement(*node)) {
        if (element->children.empty()) {
            break;
        }
        node = element->children.back().get();
    }
    return node;
}

struct Case {
    const char* name;
    std::string text;
    bool severalRoots;
    XmlError error;
    std::string tree;            // for an accepted text
    int lastState = kXmlParsed;  // the parse state of the node parsed last
};

TEST(XmlDocument, AcceptsItsGrammarAndRejectsTheRest) {
    const Case cases[] = {
        {"empty text", "", false, XmlError::None, ""},
        {"comment only", "<!-- c -->", false, XmlError::None, "<!-- c -->"},
        {"white space only", " \r\n\t ", false, XmlError::WhitespaceOnly, ""},
        {"prolog, DOCTYPE with internal subset, comments around the root",
         "<?xml version=\"1.0\" encoding='gb2312' ?>\r\n"
         "<!DOCTYPE Channels [ <!ELEMENT Channels ANY> <!ENTITY e \"x\"> ]>\r\n"
         "<!-- before --><Channels>\r\n</Channels>\r\n<!--after-->\r\n",
         false, XmlError::None,
         "?xml(version=1.0,encoding=gb2312) <!-- before --> Channels[] <!--after-->"},
        {"second root", "<a/><b/>", false, XmlError::SecondRoot, ""},
        {"second root allowed", "<a/> <b></b>", true, XmlError::None, "a/ b[]"},
        {"digit-led name", "<1a/>", false, XmlError::BadName, "", kXmlBadName},
        {"unquoted attribute", "<a x=1/>", false, XmlError::BadAttribute, "", kXmlBadAttribute},
        {"self-closing, single-quoted attribute", "<a x='1'/>", false, XmlError::None, "a(x=1)/"},
        {"repeated attribute keeps its first value", "<a x=\"1\" x='2' y = \"\"/>", false,
         XmlError::None, "a(x=1,x=1,y=)/"},
        {"minus sign trimmed from text", "<b>-12</b>", false, XmlError::None, "b['12']"},
        {"end tag differs in case", "<a></A>", false, XmlError::EndTagMismatch, "", kXmlIncomplete},
        {"end tag longer than the name", "<a></ab>", false, XmlError::EndTagMismatch, "",
         kXmlIncomplete},
        {"white space before >", "<a>x</a \r\n>", false, XmlError::None, "a['x']"},
        {"entity reference kept", "<a>x &amp; y</a>", false, XmlError::None, "a['x &amp; y']"},
        {"comment containing its opener", "<a><!-- x <!-- y --></a>", false, XmlError::BadComment,
         "", kXmlBadComment},
        {"end tag cut before >", "<a></a", false, XmlError::Unclosed, "", kXmlIncomplete},
        {"text ends inside an element", "<a>text", false, XmlError::Unclosed, ""},
        {"unbalanced DOCTYPE", "<!DOCTYPE a [ <!ENTITY x 'y'> <a/>", false,
         XmlError::UnbalancedMarkupDeclaration, ""},
        {"lone <", "<", false, XmlError::NotMarkup, ""},
        {"<! with nothing after it", "<!  ", false, XmlError::UnbalancedMarkupDeclaration, ""},
        {"text after the root", "<a/>x", false, XmlError::NotMarkup, ""},
        {"declaration after the root", "<a/><?xml version='1.0'?>", false,
         XmlError::DeclarationAfterRoot, ""},
        {"DOCTYPE after the root", "<a/><!DOCTYPE a>", false, XmlError::MarkupDeclarationAfterRoot,
         ""},
        {"declaration inside an element", "<a><?pi?></a>", false, XmlError::DeclarationInContent,
         "", kXmlIncomplete},
        {"markup declaration inside an element", "<a><!x></a>", false,
         XmlError::MarkupDeclarationInContent, "", kXmlIncomplete},
        {"empty tag", "<>", false, XmlError::BadTag, "", kXmlBadTag},
        {"blank tag", "< \t>", false, XmlError::BlankTag, "", kXmlBlankTag},
        {"slash-only tag", "</>", false, XmlError::BadName, "", kXmlBadName},
        {"start tag without >", "<a x='1'", false, XmlError::BadTag, "", kXmlBadTag},
        {"> inside a value ends the tag", "<a x='>'/>", false, XmlError::BadAttribute, "",
         kXmlBadAttribute},
        {"empty declaration",
         "<?"
         "?>",
         false, XmlError::BadDeclaration, "", kXmlBadDeclaration},
        {"declaration of white space only", "<? \t?><a/>", false, XmlError::None, "? a/"},
        {"malformed declaration attribute", "<?xml version=1.0?>", false,
         XmlError::BadDeclarationAttribute, "", kXmlBadDeclarationAttribute},
        {"unterminated comment", "<!-- x", false, XmlError::BadComment, "", kXmlBadComment},
        {"mixed content", "<a>\r\n <b>t</b> tail <!--c--><c/></a>", false, XmlError::None,
         "a[b['t'] 'tail' <!--c--> c/]"},
        {"text trimmed to nothing", "<a> - </a>", false, XmlError::None, "a['']"},
        {"name led by blanks", "< a\r\n/>", false, XmlError::None, "a/"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        XmlDocument document;
        const bool accepted = document.Parse(c.text, c.severalRoots);
        EXPECT_EQ(accepted, c.error == XmlError::None);
        EXPECT_EQ(document.Error(), c.error) << XmlErrorText(document.Error());
        if (accepted) {
            EXPECT_EQ(DescribeDocument(document), c.tree);
        }
        if (const XmlNode* last = LastNode(document)) {
            EXPECT_EQ(last->parseState, c.lastState);
        }
    }
}

TEST(XmlDocument, RootIsTheFirstTopLevelElementAndPositionsPointIntoTheText) {
    XmlDocument document;
    ASSERT_TRUE(document.Parse("<!--c--> <r> <i>-5</i> </r> <s/>", true));
    ASSERT_NE(document.Root(), nullptr);
    EXPECT_EQ(document.Root()->value, "r");
    EXPECT_EQ(document.Root()->position, 9);
    const XmlElement& item = *AsElement(*document.Root()->children.at(0));
    EXPECT_EQ(item.position, 13);
    EXPECT_EQ(item.children.at(0)->position, 18);  // a text node records where it ended
    EXPECT_EQ(document.TopLevel().size(), 3u);

    // A new parse starts from nothing.
    EXPECT_FALSE(document.Parse("<x>", false));
    EXPECT_EQ(document.Root()->value, "x");
    document.Clear();
    EXPECT_EQ(document.Root(), nullptr);
    EXPECT_TRUE(document.TopLevel().empty());
}

std::string Nested(std::size_t depth, const std::string& innermost) {
    std::string text;
    for (std::size_t i = 0; i < depth; ++i) {
        text += "<e>";
    }
    text += innermost;
    for (std::size_t i = 0; i < depth; ++i) {
        text += "</e>";
    }
    return text;
}

TEST(XmlDocument, NestingIsBoundedAtTheLimit) {
    XmlDocument document;
    EXPECT_TRUE(document.Parse(Nested(kMaxXmlDepth, "x"), false));
    EXPECT_TRUE(document.Parse(Nested(kMaxXmlDepth - 1, "<e/>"), false));
    EXPECT_FALSE(document.Parse(Nested(kMaxXmlDepth + 1, "x"), false));
    EXPECT_EQ(document.Error(), XmlError::TooDeep);
    EXPECT_FALSE(document.Parse(Nested(kMaxXmlDepth, "<e/>"), false));
    EXPECT_EQ(document.Error(), XmlError::TooDeep);
    // A crafted list far deeper than the limit fails early and cleans up without recursing
    // past the limit.
    EXPECT_FALSE(document.Parse(Nested(200000, ""), false));
    EXPECT_EQ(document.Error(), XmlError::TooDeep);
}

// A reader that takes nodes as they complete: what it drops is gone at once, the root stays, and
// whether the text is accepted does not change.
TEST(XmlDocument, NodesDroppedAsTheyCompleteLeaveTheVerdictAlone) {
    const std::string text = "<!--a--><r><x>1</x><y/><x>2<z/></x></r><!--b-->";
    std::vector<std::string> seen;
    const XmlNodeDone keepX = [&](const XmlNode& node, std::span<const XmlElement* const> open) {
        seen.push_back(std::to_string(open.size()) + Describe(node));
        return node.value == "x" || open.size() > 1;
    };
    XmlDocument document;
    ASSERT_TRUE(document.Parse(text, false, keepX));
    EXPECT_EQ(seen, (std::vector<std::string>{"0<!--a-->", "2'1'", "1x['1']", "1y/", "2'2'", "2z/",
                                              "1x['2' z/]", "0r[x['1'] x['2' z/]]", "0<!--b-->"}));
    ASSERT_EQ(document.TopLevel().size(), 1u);
    EXPECT_EQ(Describe(*document.Root()), "r[x['1'] x['2' z/]]");
    const XmlNodeDone dropAll = [](const XmlNode&, std::span<const XmlElement* const>) {
        return false;
    };
    EXPECT_TRUE(document.Parse(text, false, dropAll));
    EXPECT_EQ(Describe(*document.Root()), "r[]");
    EXPECT_FALSE(document.Parse("<r><x></r>", false, dropAll));
    EXPECT_EQ(document.Error(), XmlError::EndTagMismatch);
}

}  // namespace
}  // namespace lumidex
