// What the stand-in engine draws of a page: title and one button per literal onJsCall/jsCall call.
#include "common/pagemarkup/page_markup.h"

#include <gtest/gtest.h>

using vantorix::pagemarkup::ButtonAt;
using vantorix::pagemarkup::ButtonBox;
using vantorix::pagemarkup::DecodeEntities;
using vantorix::pagemarkup::ParsePage;

namespace {

struct ButtonCase {
    const char* what;
    std::u16string html;
    std::u16string label;
    std::string function;
    std::vector<std::u16string> args;
};

}  // namespace

TEST(PageMarkup, EachLiteralCallBecomesAButtonLabelledByItsElement) {
    const ButtonCase cases[] = {
        {"plain anchor", u"<a onclick=\"onJsCall('btn','maximize')\">Maximise</a>", u"Maximise", "onJsCall",
         {u"btn", u"maximize"}},
        {"double quotes inside single", u"<div onclick='onJsCall(\"btn\", \"close\")'>Close</div>", u"Close",
         "onJsCall", {u"btn", u"close"}},
        {"nested markup and blanks", u"<button onclick=\"onJsCall('btn','min')\">\n  <b>Mini</b>  mise </button>",
         u"Mini mise", "onJsCall", {u"btn", u"min"}},
        {"non-ASCII label and argument", u"<span onclick=\"onJsCall('btn','\u5173\u95ed')\">\u5173\u95ed\u7a97\u53e3</span>",
         u"\u5173\u95ed\u7a97\u53e3", "onJsCall", {u"btn", u"\u5173\u95ed"}},
        {"entities in the label", u"<a onclick=\"onJsCall('a','b')\">Tom &amp; Jerry &#x4E2D;</a>",
         u"Tom & Jerry \u4E2D", "onJsCall", {u"a", u"b"}},
        {"jsCall with a number", u"<a onclick=\"jsCall(5, 'abc')\">Five</a>", u"Five", "jsCall", {u"5", u"abc"}},
        {"escapes in a literal", u"<a onclick=\"onJsCall('it\\'s','\\u0041')\">Esc</a>", u"Esc", "onJsCall",
         {u"it's", u"A"}},
        {"empty element takes its title", u"<i title=\"Drag\" onmousedown=\"onJsCall('btn','move')\"></i>", u"Drag",
         "onJsCall", {u"btn", u"move"}},
        {"input takes its value", u"<input type=button value=\"Go\" onclick=\"onJsCall('go')\">", u"Go", "onJsCall",
         {u"go"}},
        {"nested same element", u"<div onclick=\"onJsCall('x')\">A<div>B</div>C</div>", u"A B C", "onJsCall", {u"x"}},
        {"call in script text is labelled by itself", u"<script>onJsCall('btn','hide');</script>",
         u"onJsCall('btn','hide')", "onJsCall", {u"btn", u"hide"}},
    };
    for (const auto& c : cases) {
        auto page = ParsePage(c.html);
        ASSERT_EQ(page.calls.size(), 1u) << c.what;
        EXPECT_EQ(page.calls[0].label, c.label) << c.what;
        EXPECT_EQ(page.calls[0].function, c.function) << c.what;
        ASSERT_EQ(page.calls[0].args.size(), c.args.size()) << c.what;
        for (std::size_t i = 0; i < c.args.size(); ++i) EXPECT_EQ(page.calls[0].args[i].text, c.args[i]) << c.what;
    }
}

TEST(PageMarkup, CallsThatAreNotLiteralOrNotCallsMakeNoButton) {
    const std::u16string cases[] = {
        u"<a onclick=\"onJsCall('btn', cmd)\">Var</a>",          // a variable argument
        u"<a onclick=\"myonJsCall('btn')\">Other</a>",           // another function's name
        u"<a onclick=\"onJsCall\">No parens</a>",                // not a call
        u"<!-- <a onclick=\"onJsCall('x')\">Old</a> -->",        // commented out
        u"<a onclick=\"onJsCall('unterminated)\">Broken</a>",  // an unterminated literal
        u"",
    };
    for (const auto& html : cases) EXPECT_TRUE(ParsePage(html).calls.empty()) << std::string(html.begin(), html.end());
}

TEST(PageMarkup, NumberArgumentsAreMarkedAsNumbers) {
    auto page = ParsePage(u"<a onclick=\"jsCall(-2.5, 'x')\">N</a>");
    ASSERT_EQ(page.calls.size(), 1u);
    EXPECT_TRUE(page.calls[0].args[0].is_number);
    EXPECT_EQ(page.calls[0].args[0].text, u"-2.5");
    EXPECT_FALSE(page.calls[0].args[1].is_number);
}

TEST(PageMarkup, TitleIsReadWithEntitiesAndBlanksTidied) {
    EXPECT_EQ(ParsePage(u"<html><head><TITLE>\n TAVI &amp; \u52a9\u624b </TITLE></head></html>").title,
              u"TAVI & \u52a9\u624b");
    EXPECT_EQ(ParsePage(u"<html><body>no title</body></html>").title, u"");
    EXPECT_EQ(ParsePage(u"<title>never closed").title, u"");
}

TEST(PageMarkup, ButtonsKeepDocumentOrder) {
    auto page = ParsePage(
        u"<a onclick=\"onJsCall('btn','min')\">Min</a><a onclick=\"onJsCall('btn','max')\">Max</a>"
        u"<a onclick=\"jsCall(1,'x')\">One</a>");
    ASSERT_EQ(page.calls.size(), 3u);
    EXPECT_EQ(page.calls[0].label, u"Min");
    EXPECT_EQ(page.calls[1].label, u"Max");
    EXPECT_EQ(page.calls[2].label, u"One");
}

TEST(PageMarkup, UnknownOrMalformedReferencesStayAsWritten) {
    EXPECT_EQ(DecodeEntities(u"a &bogus; b & c &#xZZ; &#65;"), u"a &bogus; b & c &#xZZ; A");
    EXPECT_EQ(DecodeEntities(u"&#x1F600;"), u"\U0001F600");
}

TEST(PageMarkup, ButtonHitTestMatchesTheDrawnBoxes) {
    for (int width : {200, 640, 1013}) {
        for (int i = 0; i < 7; ++i) {
            auto b = ButtonBox(i, width);
            EXPECT_EQ(ButtonAt((b.left + b.right) / 2, (b.top + b.bottom) / 2, 7, width), i) << width;
            EXPECT_EQ(ButtonAt(b.left - 1, b.top - 1, 7, width) == i, false) << width;
        }
        EXPECT_EQ(ButtonAt(1, 1, 7, width), -1);
    }
}

TEST(PageMarkup, ScriptExpressionsOfOneCallOrOneLiteralAreRecognised) {
    std::string function;
    std::vector<vantorix::pagemarkup::CallArgument> args;
    EXPECT_TRUE(vantorix::pagemarkup::ParseCallExpression(u" alert('0') ", function, args));
    EXPECT_EQ(function, "alert");
    ASSERT_EQ(args.size(), 1u);
    EXPECT_EQ(args[0].text, u"0");
    EXPECT_TRUE(vantorix::pagemarkup::ParseCallExpression(u"window.onJsCall(\"btn\", 3)", function, args));
    EXPECT_EQ(function, "window.onJsCall");
    EXPECT_EQ(args.size(), 2u);
    for (const char16_t* bad : {u"alert(x)", u"alert('a') + 1", u"(1)", u"1alert()", u""})
        EXPECT_FALSE(vantorix::pagemarkup::ParseCallExpression(bad, function, args));
    vantorix::pagemarkup::CallArgument literal;
    EXPECT_TRUE(vantorix::pagemarkup::ParseLiteral(u" 'ab' ", literal));
    EXPECT_EQ(literal.text, u"ab");
    EXPECT_TRUE(vantorix::pagemarkup::ParseLiteral(u"42", literal));
    EXPECT_TRUE(literal.is_number);
    EXPECT_FALSE(vantorix::pagemarkup::ParseLiteral(u"'a' 'b'", literal));
    EXPECT_FALSE(vantorix::pagemarkup::ParseLiteral(u"document.title", literal));
}

TEST(PageMarkup, EachButtonKnowsTheAttributeThatHoldsItsCall) {
    auto page = ParsePage(
        u"<div title=\"x=y\" onmousedown=\"onJsCall('btn','move')\">Drag</div>"
        u"<a ONCLICK = 'onJsCall(\"btn\",\"close\")'>Close</a>"
        u"<script>onJsCall('btn','hide');</script>");
    ASSERT_EQ(page.calls.size(), 3u);
    EXPECT_EQ(page.calls[0].trigger, "onmousedown");
    EXPECT_EQ(page.calls[1].trigger, "onclick");
    EXPECT_EQ(page.calls[2].trigger, "");
}
