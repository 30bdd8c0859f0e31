// The main window on the monitor it is on: opening place, size limits and maximised geometry, on a
// primary monitor, a second one left of it, small and scaled work areas.
#include <gtest/gtest.h>

#include "common/window/monitor_fit.h"

using namespace vantorix::window;

TEST(MonitorFit, OpensAtTheDesignSizeAtScaleCentredAndNeverLargerThanTheWorkArea) {
    struct Case { int dpi; Edges work; PixelRect expected; const char* what; } cases[] = {
        {96, {0, 0, 1920, 1040}, {460, 214, 1000, 611}, "full HD with a bottom taskbar"},
        {144, {0, 0, 1920, 1040}, {210, 61, 1500, 917}, "the same at 150 %"},
        {144, {0, 0, 1280, 800}, {0, 0, 1280, 800}, "1500 x 917 does not fit: the work area"},
        {96, {0, 0, 1024, 600}, {12, 0, 1000, 600}, "a netbook's 600 rows"},
        {96, {-1600, 0, 0, 900}, {-1300, 144, 1000, 611}, "a monitor left of the primary one"},
    };
    for (const auto& c : cases) EXPECT_EQ(OpeningPlace(1000, 611, c.dpi, c.work), c.expected) << c.what;
}

TEST(MonitorFit, LimitsFollowTheMonitorAndAMinimumLargerThanTheWorkAreaIsClamped) {
    struct Case { int dpi; Edges monitor, work; SizeLimits expected; const char* what; } cases[] = {
        {96, {0, 0, 1920, 1080}, {0, 0, 1920, 1040}, {1000, 611, 1920, 1080}, "primary"},
        {96, {1920, 0, 3200, 1024}, {1920, 0, 3200, 984}, {1000, 611, 1280, 1024}, "second monitor: its own size"},
        {96, {0, 0, 1024, 600}, {0, 0, 1024, 560}, {1000, 560, 1024, 600}, "1024 x 600: the minimum clamped"},
        {192, {0, 0, 2560, 1440}, {0, 0, 2560, 1400}, {2000, 1222, 2560, 1440}, "200 %"},
        {144, {0, 0, 1280, 800}, {0, 0, 1280, 800}, {1280, 800, 1280, 800}, "150 % on a small screen"},
    };
    for (const auto& c : cases) EXPECT_EQ(LimitsOnMonitor(1000, 611, c.dpi, c.monitor, c.work), c.expected) << c.what;
}

TEST(MonitorFit, MaximisedFillsTheWorkAreaOfTheWindowsMonitorWhereverTheTaskbarIs) {
    struct Case { Edges monitor, work; PixelRect expected; const char* what; } cases[] = {
        {{0, 0, 1920, 1080}, {0, 0, 1920, 1040}, {0, 0, 1920, 1040}, "primary, bottom taskbar"},
        {{0, 0, 1920, 1080}, {0, 40, 1920, 1080}, {0, 40, 1920, 1040}, "primary, top taskbar"},
        {{0, 0, 1920, 1080}, {60, 0, 1920, 1080}, {60, 0, 1860, 1080}, "primary, left taskbar"},
        {{0, 0, 1920, 1080}, {0, 0, 1860, 1080}, {0, 0, 1860, 1080}, "primary, right taskbar"},
        {{1920, -200, 3200, 824}, {1920, -200, 3200, 784}, {1920, -200, 1280, 984}, "second monitor, higher up"},
        {{-1280, 0, 0, 1024}, {-1280, 40, 0, 1024}, {-1280, 40, 1280, 984}, "left of the primary, top taskbar"},
        {{0, 0, 1920, 1080}, {-10, 0, 1930, 1080}, {0, 0, 1920, 1080}, "a work area past the monitor is cut to it"},
    };
    for (const auto& c : cases) EXPECT_EQ(MaximisedOnMonitor(c.monitor, c.work), c.expected) << c.what;
}
