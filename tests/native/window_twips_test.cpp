// Twip geometry of the borderless main window: rounding, the maximise toggle and the taskbar height.
#include <gtest/gtest.h>

#include "common/window/monitor_fit.h"
#include "common/window/twips.h"

using namespace vantorix::window;

TEST(WindowTwips, ScreenFactorFollowsTheDotsPerInch) {
    struct Case { int dpi; double factor; } cases[] = {{96, 15.0}, {120, 12.0}, {144, 10.0}, {192, 7.5}, {0, 15.0}};
    for (const auto& c : cases) EXPECT_DOUBLE_EQ(TwipsPerPixel(c.dpi), c.factor) << c.dpi;
}

TEST(WindowTwips, RoundingGoesToNearestAndHalfWayToEven) {
    struct Case { double in; std::int32_t out; } cases[] = {
        {0.4, 0}, {0.5, 0}, {0.6, 1}, {1.5, 2}, {2.5, 2}, {-0.5, 0}, {-1.5, -2}, {-2.6, -3},
        {66.6667, 67}, {1e12, 2147483647}, {-1e12, -2147483647 - 1},
    };
    for (const auto& c : cases) EXPECT_EQ(RoundToNearest(c.in), c.out) << c.in;
}

TEST(WindowTwips, PixelsAndTwipsConvertBothWays) {
    struct Case { std::int32_t px; double f; std::int32_t twips; } cases[] = {
        {1000, 15.0, 15000}, {611, 15.0, 9165}, {-8, 15.0, -120}, {1000, 12.0, 12000}, {3, 7.5, 22},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(PixelsToTwips(c.px, c.f), c.twips) << c.px << " at " << c.f;
        EXPECT_EQ(TwipsToPixels(c.twips, c.f), c.px) << c.twips << " at " << c.f;
    }
    EXPECT_EQ(TwipsToPixels(9166, 15.0), 611);  // 611.07 pixels
    EXPECT_EQ(TwipsToPixels(9173, 15.0), 612);  // 611.53 pixels
}

TEST(WindowTwips, TaskbarHeightIsTheStripBelowTheWorkArea) {
    struct Case { std::int32_t screen, bottom; double f; std::int16_t twips; const char* what; } cases[] = {
        {800, 760, 15.0, 600, "40-pixel taskbar at the bottom"},
        {800, 800, 15.0, 0, "taskbar at the top or a side"},
        {1080, 1050, 12.0, 360, "30 pixels at 120 dpi"},
        {900, 868, 7.5, 240, "32 pixels at 192 dpi"},
        {5000, 0, 15.0, 32767, "a strip too tall for 16 bits saturates"},
    };
    for (const auto& c : cases) EXPECT_EQ(TaskbarHeightTwips(c.screen, c.bottom, c.f), c.twips) << c.what;
}

TEST(WindowTwips, MaximiseTwiceRestoresTheEarlierGeometryExactly) {
    RestoreBounds bounds;
    const PixelRect before{140, 94, 1000, 611};
    const TwipRect max = ToTwips(MaximisedOnMonitor({0, 0, 1280, 800}, {0, 0, 1280, 760}), 15.0);
    TwipRect applied = ToggleMaximise(bounds, ToTwips(before, 15.0), max);
    EXPECT_TRUE(bounds.maximised);
    EXPECT_EQ(applied, max);
    // The user moves the maximised window about; the next toggle still goes back to the saved geometry.
    applied = ToggleMaximise(bounds, ToTwips(PixelRect{5, 5, 1100, 700}, 15.0), max);
    EXPECT_FALSE(bounds.maximised);
    EXPECT_EQ(ToPixels(applied, 15.0), before);
    // A third toggle maximises again and saves the geometry of that moment.
    applied = ToggleMaximise(bounds, ToTwips(before, 15.0), max);
    EXPECT_TRUE(bounds.maximised);
    EXPECT_EQ(bounds.saved, ToTwips(before, 15.0));
}

TEST(WindowTwips, RestoredGeometrySurvivesEveryCommonScreenFactor) {
    for (int dpi : {96, 120, 144, 168, 192}) {
        const double f = TwipsPerPixel(dpi);
        for (std::int32_t px : {-1, 0, 1, 7, 611, 1000, 1279}) EXPECT_EQ(TwipsToPixels(PixelsToTwips(px, f), f), px)
            << px << " px at " << dpi << " dpi";
    }
}
