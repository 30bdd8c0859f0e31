// Design sizes at a monitor's scale: the main window's 1000 x 611 and the picker's 497 x 185 at the
// common scales of 100 %, 125 %, 150 % and 200 %.
#include <gtest/gtest.h>

#include "common/window/dpi.h"

using vantorix::window::ScaleToDpi;

TEST(WindowDpi, DesignSizesScaleWithTheMonitorsDotsPerInch) {
    struct Case { int dpi; int width, height, picker_width, picker_height; } cases[] = {
        {96, 1000, 611, 497, 185},
        {120, 1250, 764, 621, 231},   // 763.75 and 621.25, 231.25 to the nearest pixel
        {144, 1500, 917, 746, 278},   // 916.5 and 745.5, 277.5: halves go up
        {192, 2000, 1222, 994, 370},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ScaleToDpi(1000, c.dpi), c.width) << c.dpi;
        EXPECT_EQ(ScaleToDpi(611, c.dpi), c.height) << c.dpi;
        EXPECT_EQ(ScaleToDpi(497, c.dpi), c.picker_width) << c.dpi;
        EXPECT_EQ(ScaleToDpi(185, c.dpi), c.picker_height) << c.dpi;
    }
    EXPECT_EQ(ScaleToDpi(-3, 144), -5) << "halves away from zero on both sides";
    EXPECT_EQ(ScaleToDpi(1000, 0), 1000) << "an unknown scale is the design scale";
}
