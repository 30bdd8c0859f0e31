// UTF-8 reading and writing as the control library uses them for engine text, and the percent encoding
// of the engine's debug settings.
#include <gtest/gtest.h>

#include <string>

#include "common/text/utf8.h"

using vantorix::text::DecodeUtf8;
using vantorix::text::EncodeUtf8;
using vantorix::text::PercentEncodeUtf8;

namespace {

struct DecodeCase {
    const char* what;
    std::string bytes;
    std::u16string text;
};

const DecodeCase kDecodeCases[] = {
    {"plain ASCII stays as it is", "abc", u"abc"},
    {"nothing gives nothing", "", u""},
    {"a two-byte sequence is one character", "\xC3\xA9", u"\u00E9"},
    {"a three-byte sequence is one character", "\xE4\xB8\xAD\xE6\x96\x87", u"\u4E2D\u6587"},
    {"a four-byte sequence becomes a surrogate pair", "\xF0\x9F\x98\x80", u"\U0001F600"},
    {"the smallest three-byte value", "\xE0\xA0\x80", u"\u0800"},
    {"the largest code point", "\xF4\x8F\xBF\xBF", u"\U0010FFFF"},
    {"a stray continuation byte is replaced", "a\x80z", u"a\uFFFDz"},
    {"a truncated sequence at the end is replaced", "ab\xE4\xB8", u"ab\uFFFD"},
    {"a truncated sequence before ASCII keeps the ASCII", "\xE4\xB8z", u"\uFFFDz"},
    {"an overlong slash is not a slash", "\xC0\xAF", u"\uFFFD\uFFFD"},
    {"an overlong three-byte form is replaced", "\xE0\x80\xAF", u"\uFFFD\uFFFD\uFFFD"},
    {"an encoded surrogate is replaced", "\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},
    {"a value above U+10FFFF is replaced", "\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},
    {"bytes that never occur are replaced one by one", "\xFE\xFF", u"\uFFFD\uFFFD"},
    {"an embedded zero byte is a character", std::string("a\0b", 3), std::u16string(u"a\0b", 3)},
};

TEST(Utf8Reader, DecodesValidTextAndReplacesEachMalformedPart) {
    for (const DecodeCase& c : kDecodeCases) EXPECT_EQ(DecodeUtf8(c.bytes), c.text) << c.what;
}

TEST(Utf8Writer, RoundTripsThroughTheReader) {
    const std::u16string samples[] = {u"", u"abc", u"\u00E9t\u00E9", u"\u4E2D\u6587", u"x\U0001F600y",
                                      u"\u0800\u07FF\u007F\uFFFF"};
    for (const std::u16string& s : samples) EXPECT_EQ(DecodeUtf8(EncodeUtf8(s)), s);
}

TEST(Utf8Writer, LoneSurrogatesBecomeTheReplacementCharacter) {
    EXPECT_EQ(EncodeUtf8(u"a\xD800z"), "a\xEF\xBF\xBDz");
    EXPECT_EQ(EncodeUtf8(u"\xDC00"), "\xEF\xBF\xBD");
    EXPECT_EQ(EncodeUtf8(u"\U0001F600"), "\xF0\x9F\x98\x80");
}

struct PercentCase {
    const char* what;
    std::u16string text;
    std::u16string encoded;
};

const PercentCase kPercentCases[] = {
    {"empty stays empty", u"", u""},
    {"spaces and ASCII pass unchanged", u"a b", u"a b"},
    {"a percent sign is not encoded", u"100%", u"100%"},
    {"U+007F is the last unchanged character", u"\u007F", u"\u007F"},
    {"U+0080 is the first two-byte character", u"\u0080", u"%C2%80"},
    {"e acute is two groups", u"\u00E9", u"%C3%A9"},
    {"U+07FF is the last two-byte character", u"\u07FF", u"%DF%BF"},
    {"U+0800 is the first three-byte character", u"\u0800", u"%E0%A0%80"},
    {"a CJK character is three groups", u"\u4E2D", u"%E4%B8%AD"},
    {"mixed text keeps its ASCII", u"--lang=\u4E2D\u6587 x", u"--lang=%E4%B8%AD%E6%96%87 x"},
    {"U+FFFF is three groups", u"\uFFFF", u"%EF%BF%BF"},
    {"a surrogate pair is one four-byte character", u"\U0001F600", u"%F0%9F%98%80"},
    {"a lone surrogate is the replacement character", u"\xD83D!", u"%EF%BF%BD!"},
};

TEST(PercentEncoding, EncodesCharactersAbove127AsUpperCaseUtf8Groups) {
    for (const PercentCase& c : kPercentCases) EXPECT_EQ(PercentEncodeUtf8(c.text), c.encoded) << c.what;
}

}  // namespace
