// The skin page address: folder kept as the system reports it, then the page and a single-precision number.
#include <gtest/gtest.h>

#include "common/window/page_address.h"

using namespace vantorix::window;

TEST(WindowPageAddress, RandomNumberIsWrittenAsASingle) {
    struct Case { float value; const char* text; } cases[] = {
        {0.7055475f, "0.7055475"}, {0.5f, "0.5"}, {0.0f, "0"}, {0.1f, "0.1"}, {0.99999994f, "0.9999999"},
        {1.234e-5f, "1.234E-05"}, {0.0533424f, "0.0533424"},
    };
    for (const auto& c : cases) EXPECT_EQ(SingleText(c.value), c.text) << c.value;
}

TEST(WindowPageAddress, AddressKeepsTheFolderAndAppendsTheQuery) {
    EXPECT_EQ(PageAddress(L"C:\\Program Files (x86)\\Vantorix\\bin", L"\\skin\\Ui.html?", 0.5f),
              L"file:///C:\\Program Files (x86)\\Vantorix\\bin\\skin\\Ui.html?0.5");
    EXPECT_EQ(PageAddress(L"Z:\\tmp\\i", L"\\skin\\Ui.html?", 0.7055475f), L"file:///Z:\\tmp\\i\\skin\\Ui.html?0.7055475");
}
