// The index a page's jsCall hands the host: the leading number of its first argument, rounded.
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>

#include "common/number/leading_number.h"

using vantorix::number::LeadingNumber;
using vantorix::number::RoundHalfEvenToInt32;

namespace {

struct Case {
    const char16_t* text;
    double value;
    std::optional<std::int32_t> index;
};

TEST(LeadingNumber, ReadsTheNumberATextBeginsWith) {
    const Case cases[] = {
        {u"5", 5, 5},
        {u"7.5", 7.5, 8},
        {u"2.5", 2.5, 2},
        {u"-2.5", -2.5, -2},
        {u"3.5", 3.5, 4},
        {u"0.49", 0.49, 0},
        {u" 1 2", 12, 12},
        {u"\t4\n2 x", 42, 42},
        {u"-3e2", -300, -300},
        {u"1.5E+1abc", 15, 15},
        {u"2d3", 2000, 2000},
        {u"5e", 5, 5},
        {u"+.5", 0.5, 0},
        {u"&H1F", 31, 31},
        {u"&h1fz", 31, 31},
        {u"&O17", 15, 15},
        {u"&o178", 15, 15},
        {u"&HFFFFFFFF", -1, -1},
        {u"&H", 0, 0},
        {u"&X1", 0, 0},
        {u"abc", 0, 0},
        {u"", 0, 0},
        {u"-", 0, 0},
        {u".", 0, 0},
        {u"12abc", 12, 12},
        {u"1.2.3", 1.2, 1},
    };
    for (const Case& c : cases) {
        double v = LeadingNumber(c.text);
        EXPECT_DOUBLE_EQ(v, c.value) << "text #" << (&c - cases);
        EXPECT_EQ(RoundHalfEvenToInt32(v), c.index) << "text #" << (&c - cases);
    }
}

TEST(LeadingNumber, NumbersOutsideThe32BitRangeGiveNoIndex) {
    const char16_t* texts[] = {u"2147483648", u"-2147483649", u"1e999", u"&H100000000", u"&H1000000000000000000"};
    for (const char16_t* text : texts)
        EXPECT_EQ(RoundHalfEvenToInt32(LeadingNumber(text)), std::nullopt) << "text #" << (&text - texts);
    EXPECT_EQ(RoundHalfEvenToInt32(LeadingNumber(u"2147483647")), 2147483647);
    EXPECT_EQ(RoundHalfEvenToInt32(LeadingNumber(u"-2147483648")), -2147483647 - 1);
    EXPECT_EQ(RoundHalfEvenToInt32(2147483647.4), 2147483647);
}

}  // namespace
