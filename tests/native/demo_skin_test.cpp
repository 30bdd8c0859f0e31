// The demo skin against the window it is shown in: the web window is 13 pixels wider than the main
// window's inner area, so the page's rightmost 13 pixels are never seen. Every part a user must reach
// (the resize zones, the bar's buttons, the tools) keeps clear of that strip.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <sstream>
#include <string>

namespace {

constexpr int kHiddenRightStrip = 13;

std::string SkinStyle() {
    std::ifstream in(VANTORIX_SKIN_FILE, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    const std::string page = text.str();
    const auto begin = page.find("<style>"), end = page.find("</style>");
    if (begin == std::string::npos || end == std::string::npos) return {};
    return page.substr(begin, end - begin);
}

}  // namespace

TEST(DemoSkin, NothingIsAnchoredInsideTheHiddenRightStrip) {
    const std::string style = SkinStyle();
    ASSERT_FALSE(style.empty()) << VANTORIX_SKIN_FILE;
    // Each rule: selector { declarations }.
    const std::regex rule(R"(([^{}]+)\{([^}]*)\})");
    const std::regex right_offset(R"((^|[;\s])right:\s*(-?\d+)(px)?\s*(;|$))");
    const std::regex body_margin(R"(margin-right:\s*(\d+)px)");
    int anchored = 0;
    bool body_clear = false;
    for (std::sregex_iterator r(style.begin(), style.end(), rule), end; r != end; ++r) {
        const std::string selector = (*r)[1], declarations = (*r)[2];
        std::smatch m;
        if (std::regex_search(declarations, m, right_offset)) {
            ++anchored;
            EXPECT_GE(std::stoi(m[2]), kHiddenRightStrip) << selector;
        }
        if (std::regex_search(selector, std::regex(R"((^|\s|,)body\s*$)")) &&
            std::regex_search(declarations, m, body_margin))
            body_clear = std::stoi(m[1]) >= kHiddenRightStrip;
    }
    EXPECT_EQ(anchored, 5) << "the right-hand resize zones: n, s, e, ne, se";
    EXPECT_TRUE(body_clear) << "the page's flow (the bar with its close button, the tools) ends before the strip";
}
