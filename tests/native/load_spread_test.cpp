// Load that stays flat: retry waits spread by each installation's draw, a server's Retry-After honoured
// within bounds, and a rollout that offers a release to a growing, stable share of installations.
#include <gtest/gtest.h>

#include "common/update_flow/download_retry.h"
#include "common/update_flow/http_time.h"
#include "common/update_flow/rollout.h"

namespace uf = vantorix::update_flow;

namespace {

TEST(RetryWait, LaunchersThatFailedTogetherComeBackAtDifferentTimesAroundTheGrowingDelay) {
    for (int attempt = 1; attempt <= 3; ++attempt) {
        const double base = uf::RetryDelayMs(attempt);
        const unsigned low = uf::RetryWaitMs(attempt, 0.0), mid = uf::RetryWaitMs(attempt, 0.5), high = uf::RetryWaitMs(attempt, 0.999);
        EXPECT_EQ(low, base / 2) << attempt;
        EXPECT_EQ(mid, base) << attempt;
        EXPECT_GT(high, 1.49 * base) << attempt;
        EXPECT_LT(high, 1.5 * base) << attempt;
        EXPECT_NE(uf::RetryWaitMs(attempt, 0.31), uf::RetryWaitMs(attempt, 0.32)) << attempt;
    }
    // The same draw waits longer with every attempt.
    EXPECT_LT(uf::RetryWaitMs(1, 0.7), uf::RetryWaitMs(2, 0.7));
    EXPECT_LT(uf::RetryWaitMs(2, 0.7), uf::RetryWaitMs(3, 0.7));
}

TEST(RetryWait, RetryAfterOnA429Or503IsWaitedAtLeastAndAtMostTheBound) {
    struct Case { int status; uint64_t after_s; double draw; unsigned at_least, at_most; } cases[] = {
        {503, 3, 0.0, 3000, 3000},                       // more than the 1 s the spread alone would wait
        {503, 3, 0.999, 3000, 3750},                     // spread over up to a quarter more
        {429, 20, 0.5, 20000, 22500},
        {503, 0, 0.5, 2000, 2000},                       // "now": the growing delay still holds
        {503, 3600, 0.5, uf::kMaxRetryAfterMs, uf::kMaxRetryAfterMs},  // bounded
        {500, 60, 0.5, 2000, 2000},                      // only 429 and 503 carry a meaningful Retry-After
    };
    for (const auto& c : cases) {
        const unsigned wait = uf::RetryWaitMs(1, c.draw, c.status, c.after_s);
        EXPECT_GE(wait, c.at_least) << c.status << " " << c.after_s;
        EXPECT_LE(wait, c.at_most) << c.status << " " << c.after_s;
    }
    EXPECT_TRUE(uf::IsTransientDownloadFailure(7, 429));
    EXPECT_TRUE(uf::IsTransientDownloadFailure(7, 503));
    EXPECT_FALSE(uf::IsTransientDownloadFailure(7, 404));
}

TEST(RetryAfter, SecondsOrAnHttpDateAgainstTheServersOwnClock) {
    const char* date = "Sun, 06 Nov 1994 08:49:37 GMT";
    const int64_t server_now = *uf::ParseHttpDate(date);
    struct Case { const char* value; const char* date_header; int64_t now; std::optional<uint64_t> seconds; } cases[] = {
        {"3", "", 0, 3},
        {" 120 ", "", 0, 120},
        {"0", "", 0, 0},
        {"99999999999999", "", 0, UINT32_MAX},
        {"Sun, 06 Nov 1994 08:50:07 GMT", date, 0, 30},                 // the local clock is far off: the server's counts
        {"Sun, 06 Nov 1994 08:50:07 GMT", "", server_now + 10, 20},     // no Date header: the local clock
        {"Sunday, 06-Nov-94 08:49:47 GMT", date, 0, 10},
        {"Sun Nov  6 08:49:57 1994", date, 0, 20},
        {"Sun, 06 Nov 1994 08:40:00 GMT", date, 0, 0},                  // already past
        {"", "", 0, std::nullopt},
        {"3s", "", 0, std::nullopt},
        {"-1", "", 0, std::nullopt},
        {"Sun, 31 Nov 1994 08:49:37 GMT", date, 0, std::nullopt},       // no such day
        {"Sun, 06 Nov 1994 08:49:37 UTC", date, 0, std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(uf::RetryAfterSeconds(c.value, c.date_header, c.now), c.seconds) << c.value;
}

TEST(HttpTime, DatesAreReadAsTheSecondsSince1970TheyName) {
    EXPECT_EQ(uf::ParseHttpDate("Thu, 01 Jan 1970 00:00:00 GMT"), 0);
    EXPECT_EQ(uf::ParseHttpDate("Sun, 06 Nov 1994 08:49:37 GMT"), 784111777);
    EXPECT_EQ(uf::ParseHttpDate("Sunday, 06-Nov-94 08:49:37 GMT"), 784111777);
    EXPECT_EQ(uf::ParseHttpDate("Sun Nov  6 08:49:37 1994"), 784111777);
    EXPECT_EQ(uf::ParseUtcTime("2000-03-01T00:00:00Z"), uf::ParseUtcTime("2000-02-29T00:00:00Z").value() + 86400);
    EXPECT_FALSE(uf::ParseUtcTime("2100-02-29T00:00:00Z"));  // not a leap year
    EXPECT_FALSE(uf::ParseUtcTime("2026-05-01 08:00:00"));
    EXPECT_FALSE(uf::ParseUtcTime("2026-05-01T24:00:00Z"));
}

TEST(Rollout, ASharedReleaseReachesItsShareOfDrawsAndGrowsFromItsStart) {
    // Draws at the middles of a thousand even steps: the share offered is the share published.
    auto offered = [](const uf::Rollout& r, int64_t now) {
        int n = 0;
        for (uint64_t i = 0; i < 1000; ++i) n += uf::IsOffered(r, static_cast<uint32_t>(((2 * i + 1) << 32) / 2000), now);
        return n;
    };
    const int64_t start = *uf::ParseUtcTime("2026-05-01T08:00:00Z");
    struct Case { const char* share; const char* start; const char* hours; int64_t now; int of_1000; } cases[] = {
        {"0", "", "", start, 0},
        {"100", "", "", start, 1000},
        {"20", "", "", start, 200},
        {"20", "2026-05-01T08:00:00Z", "", start - 1, 0},          // not started yet
        {"20", "2026-05-01T08:00:00Z", "", start, 200},
        {"50", "2026-05-01T08:00:00Z", "10", start + 5 * 3600, 250},  // half-way through its growth
        {"50", "2026-05-01T08:00:00Z", "10", start + 30 * 3600, 500},
        {"", "", "", start, 1000},                                  // no rollout: everybody
    };
    for (const auto& c : cases) {
        auto r = uf::ParseRollout(c.share, c.start, c.hours);
        ASSERT_TRUE(r) << c.share;
        EXPECT_EQ(offered(*r, c.now), c.of_1000) << c.share << " " << c.hours << " at " << c.now - start;
    }
    // The extremes of the draw: nobody at 0 %, everybody at 100 %.
    EXPECT_FALSE(uf::IsOffered(*uf::ParseRollout("0", "", ""), 0, start));
    EXPECT_TRUE(uf::IsOffered(*uf::ParseRollout("100", "", ""), UINT32_MAX, start));
    // A growing share keeps everybody it had.
    const uf::Rollout growing = *uf::ParseRollout("100", "2026-05-01T08:00:00Z", "24");
    for (uint32_t d : {0u, 12345678u, 0x80000000u, 0xF0000000u})
        for (int64_t h = 0; h < 24; ++h)
            EXPECT_LE(uf::IsOffered(growing, d, start + h * 3600), uf::IsOffered(growing, d, start + (h + 1) * 3600));
}

TEST(Rollout, MalformedMembersAreRefused) {
    const char* bad[][3] = {{"101", "", ""}, {"-1", "", ""}, {"20%", "", ""}, {"", "2026-05-01T08:00:00Z", ""},
                            {"20", "2026-13-01T08:00:00Z", ""}, {"20", "", "x"}, {"20", "", "9000"}, {"", "", "5"}};
    for (const auto& b : bad) EXPECT_FALSE(uf::ParseRollout(b[0], b[1], b[2])) << b[0] << "|" << b[1] << "|" << b[2];
}

}  // namespace
