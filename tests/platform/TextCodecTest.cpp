#include "platform/TextCodec.h"

#include <gtest/gtest.h>
#include <iconv.h>

#include <string>
#include <vector>

namespace lumidex::platform {
namespace {

// "本地IP: 连接" in both encodings.
const std::string kUtf8Sample = "\xE6\x9C\xAC\xE5\x9C\xB0IP: \xE8\xBF\x9E\xE6\x8E\xA5";
const std::string kGbkSample = "\xB1\xBE\xB5\xD8IP: \xC1\xAC\xBD\xD3";

TEST(TextCodec, ConvertsChineseBothWays) {
    EXPECT_EQ(Utf8ToGbk(kUtf8Sample), kGbkSample);
    EXPECT_EQ(GbkToUtf8(kGbkSample), kUtf8Sample);
    EXPECT_EQ(Utf8ToGbk(""), "");
    EXPECT_EQ(GbkToUtf8(""), "");
    const std::string ascii = "plain\r\n\tASCII\x01 ~";
    EXPECT_EQ(Utf8ToGbk(ascii), ascii);
    EXPECT_EQ(GbkToUtf8(ascii), ascii);
}

TEST(TextCodec, UsesTheWindowsCodePage) {
    // The euro sign and full-width punctuation only some GBK tables agree on.
    EXPECT_EQ(Utf8ToGbk("\xE2\x82\xAC"), "\x80");
    EXPECT_EQ(GbkToUtf8("\x80"), "\xE2\x82\xAC");
    EXPECT_EQ(Utf8ToGbk("\xEF\xBC\x9A"), "\xA3\xBA");  // full-width colon
}

TEST(TextCodec, RoundTripsLongTextsAcrossBufferBoundaries) {
    // Long enough to need several output chunks, with two-, three- and four-byte output
    // boundaries at different offsets.
    std::string utf8;
    for (int i = 0; i < 3000; ++i) {
        utf8 += kUtf8Sample;
        utf8 += std::to_string(i);
    }
    const std::string gbk = Utf8ToGbk(utf8);
    EXPECT_EQ(GbkToUtf8(gbk), utf8);
    EXPECT_LT(gbk.size(), utf8.size());
}

TEST(TextCodec, CharactersWithoutGbkCodeBecomeOneQuestionMarkEach) {
    // U+1F600 (four bytes), U+0E01 Thai (three bytes), U+0100 (two bytes), between Chinese.
    const std::string utf8 = "\xE6\x9C\xAC\xF0\x9F\x98\x80\xE0\xB8\x81\xC4\x80\xE5\x9C\xB0!";
    EXPECT_EQ(Utf8ToGbk(utf8), "\xB1\xBE???\xB5\xD8!");
}

TEST(TextCodec, MalformedUtf8BytesPassThroughUnchanged) {
    // GBK already, a stray continuation byte, a truncated sequence at the end, an overlong
    // slash, an encoded surrogate and a code point above U+10FFFF.
    EXPECT_EQ(Utf8ToGbk(kGbkSample), kGbkSample);
    EXPECT_EQ(Utf8ToGbk("a\x80z"), "a\x80z");
    EXPECT_EQ(Utf8ToGbk("\xE6\x9C\xAC\xE6\x9C"), "\xB1\xBE\xE6\x9C");
    EXPECT_EQ(Utf8ToGbk("\xC0\xAF"), "\xC0\xAF");
    EXPECT_EQ(Utf8ToGbk("\xED\xA0\x80"), "\xED\xA0\x80");
    EXPECT_EQ(Utf8ToGbk("\xF4\x90\x80\x80"), "\xF4\x90\x80\x80");
    // A malformed byte between two well-formed characters does not disturb either.
    EXPECT_EQ(Utf8ToGbk("\xE6\x9C\xAC\xFF\xE5\x9C\xB0"), "\xB1\xBE\xFF\xB5\xD8");
}

TEST(TextCodec, MalformedGbkBecomesReplacementAndKeepsFollowingAscii) {
    const std::string replacement = "\xEF\xBF\xBD";
    EXPECT_EQ(GbkToUtf8("a\xFFz"), "a" + replacement + "z");
    // A lead byte at the end, and a lead byte before a quote: the quote survives.
    EXPECT_EQ(GbkToUtf8("\xB1\xBE\xB1"), "\xE6\x9C\xAC" + replacement);
    EXPECT_EQ(GbkToUtf8("\xB1\"x\""), replacement + "\"x\"");
    // A well-formed but unassigned pair is one replacement, not two.
    const std::string unassigned = GbkToUtf8("\xA2\xA0z");
    EXPECT_EQ(unassigned, replacement + "z");
}

// Checked with glibc's own decoder rather than with the codec's grammar.
bool IsWellFormedUtf8(const std::string& text) {
    const iconv_t cd = ::iconv_open("UTF-16LE", "UTF-8");
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        ADD_FAILURE() << "no UTF-8 decoder";
        return false;
    }
    char* in = const_cast<char*>(text.data());
    std::size_t inLeft = text.size();
    std::vector<char> out(text.size() * 2 + 2);
    char* outPtr = out.data();
    std::size_t outLeft = out.size();
    const bool ok = ::iconv(cd, &in, &inLeft, &outPtr, &outLeft) != static_cast<std::size_t>(-1);
    ::iconv_close(cd);
    return ok && inLeft == 0;
}

TEST(TextCodec, GbkToUtf8AlwaysGivesWellFormedUtf8) {
    std::string all;
    for (int lead = 0x80; lead <= 0xFF; ++lead) {
        for (int trail = 0; trail <= 0xFF; ++trail) {
            all += static_cast<char>(lead);
            all += static_cast<char>(trail);
        }
    }
    all += "\xB1";  // and a lead byte cut off at the end
    EXPECT_TRUE(IsWellFormedUtf8(GbkToUtf8(all)));
    EXPECT_TRUE(IsWellFormedUtf8(ValidUtf8(all)));
    EXPECT_TRUE(IsWellFormedUtf8(Utf8OrGbkToUtf8(all)));
    EXPECT_TRUE(IsWellFormedUtf8(Utf8WithGbkToUtf8(all)));
}

TEST(TextCodec, OutsideTextsKeepUtf8AndDecodeOrReplaceTheRest) {
    const std::string replacement = "\xEF\xBF\xBD";
    EXPECT_EQ(ValidUtf8(kUtf8Sample), kUtf8Sample);
    EXPECT_EQ(ValidUtf8("a\xB1\xBEz\xFF"), "a" + replacement + replacement + "z" + replacement);
    EXPECT_EQ(Utf8OrGbkToUtf8(kUtf8Sample), kUtf8Sample);
    EXPECT_EQ(Utf8OrGbkToUtf8(kGbkSample), kUtf8Sample);
    EXPECT_EQ(Utf8OrGbkToUtf8("\xFF"), replacement);
    // UTF-8 with GBK inside: each read as itself, a GBK pair whose trail is ASCII included.
    EXPECT_EQ(Utf8WithGbkToUtf8(kUtf8Sample + "<->\xB5\xC7.x\xB1@\xFF"),
              kUtf8Sample + "<->\xE7\x99\xBB.x" + GbkToUtf8("\xB1@") + replacement);
    EXPECT_EQ(Utf8WithGbkToUtf8("\xB5" + kUtf8Sample), replacement + kUtf8Sample);
    EXPECT_EQ(Utf8WithGbkToUtf8(kUtf8Sample), kUtf8Sample);
}

}  // namespace
}  // namespace lumidex::platform
