// The page's cursor names and the resize each one starts.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "common/window/hit_test.h"

using namespace vantorix::window;

TEST(WindowHitTest, EveryCursorNameStartsItsOwnEdge) {
    struct Case { const char* name; int code; } cases[] = {
        {"w-resize", 10}, {"e-resize", 11}, {"n-resize", 12}, {"nw-resize", 13},
        {"ne-resize", 14}, {"s-resize", 15}, {"sw-resize", 16}, {"se-resize", 17},
    };
    for (const auto& c : cases) {
        auto code = ResizeZoneCode(c.name);
        ASSERT_TRUE(code.has_value()) << c.name;
        EXPECT_EQ(*code, c.code) << c.name;
    }
}

TEST(WindowHitTest, OtherNamesStartNoResize) {
    for (const char* name : {"NW-RESIZE", "Nw-resize", "btn", "", " nw-resize", "nw-resize ", "move", "nw"})
        EXPECT_FALSE(ResizeZoneCode(name).has_value()) << '"' << name << '"';
}

TEST(WindowHitTest, TableHasTheMoveZoneAndNineDistinctCodes) {
    std::set<int> codes;
    std::set<std::string> names;
    for (auto* z = HitTestZonesBegin(); z != HitTestZonesEnd(); ++z) {
        codes.insert(z->code);
        names.insert(std::string(z->name));
    }
    EXPECT_EQ(codes.size(), 9u);
    EXPECT_EQ(names.size(), 9u);
    EXPECT_EQ(HitTestZonesBegin()->code, kMoveZoneCode);
    EXPECT_EQ(kMoveZoneCode, 2);
}
