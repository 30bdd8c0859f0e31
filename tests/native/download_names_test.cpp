// Side-file names, target choice, the resume rule, URL normalising, range parsing and the numbers shown
// per block: the downloader's pure pieces.
#include <gtest/gtest.h>

#include <cmath>
#include <set>

#include "common/download/progress.h"
#include "common/download/response_plan.h"
#include "common/download/side_files.h"
#include "common/download/validator.h"

using namespace vantorix::download;

TEST(DownloadNames, NumberedNameInsertsTheNumberBeforeTheExtension) {
    const struct {
        std::wstring path;
        int n;
        std::wstring expected;
    } cases[] = {
        {L"C:\\a\\newtemp.zip", 1, L"C:\\a\\newtemp(1).zip"},
        {L"C:\\a\\newtemp.zip", 32767, L"C:\\a\\newtemp(32767).zip"},
        {L"C:\\my.dir\\file", 1, L"C:\\my.dir\\file(1)"},
        {L"C:\\a\\archive.tar.gz", 2, L"C:\\a\\archive.tar(2).gz"},
        {L"C:\\a\\.hidden", 3, L"C:\\a\\(3).hidden"},
        {L"C:\\a\\", 1, L"C:\\a\\(1)"},
        {L"file.zip", 1, L""},
        {L"", 1, L""},
        {L"   ", 1, L""},
    };
    for (const auto& c : cases) EXPECT_EQ(NumberedName(c.path, c.n), c.expected) << c.n;
}

TEST(DownloadNames, SideFilesSkipNumbersWhereEitherFileExists) {
    std::set<std::wstring> present = {L"C:\\a\\newtemp(1).zip.dl", L"C:\\a\\newtemp(2).zip.dl.cfg"};
    auto exists = [&](const std::wstring& p) { return present.count(p) > 0; };
    auto picked = PickSideFiles(L"C:\\a\\newtemp.zip", exists);
    ASSERT_TRUE(picked);
    EXPECT_EQ(picked->data, L"C:\\a\\newtemp(3).zip.dl");
    EXPECT_EQ(picked->settings, L"C:\\a\\newtemp(3).zip.dl.cfg");
    EXPECT_EQ(DefaultSideFiles(L"C:\\a\\newtemp.zip").settings, L"C:\\a\\newtemp.zip.dl.cfg");
}

TEST(DownloadNames, NoFreeSideFileNameIsAnAnswerNotALoop) {
    int asked = 0;
    auto everything = [&](const std::wstring&) { return ++asked, true; };
    EXPECT_FALSE(PickSideFiles(L"C:\\a\\newtemp.zip", everything));
    EXPECT_LE(asked, 2 * kMaxNumberedName);
    EXPECT_FALSE(PickSideFiles(L"newtemp.zip", [](const std::wstring&) { return false; }));
    EXPECT_FALSE(ChooseTarget(L"C:\\a\\newtemp.zip", [](const std::wstring&) { return true; }));
    EXPECT_FALSE(ChooseTarget(L"newtemp.zip", [](const std::wstring&) { return true; }));
}

TEST(DownloadNames, FinishedFileTakesTheFirstFreeName) {
    std::set<std::wstring> present = {L"C:\\a\\newtemp.zip", L"C:\\a\\newtemp(1).zip"};
    auto exists = [&](const std::wstring& p) { return present.count(p) > 0; };
    EXPECT_EQ(ChooseTarget(L"C:\\a\\free.zip", exists).value(), L"C:\\a\\free.zip");
    EXPECT_EQ(ChooseTarget(L"C:\\a\\newtemp.zip", exists).value(), L"C:\\a\\newtemp(2).zip");
}

TEST(DownloadNames, ResumesOnlyWithBothSideFilesAndTheSameUrl) {
    const std::wstring url = L"http://h/x.zip";
    const struct {
        bool data, settings;
        std::optional<std::wstring> text;
        bool resume, pick;
    } cases[] = {
        {false, false, std::nullopt, false, false},
        {true, true, url, true, false},
        {true, true, L"  http://h/x.zip  ", true, false},
        {true, true, L"http://h/other.zip", false, true},
        {true, true, L"HTTP://h/x.zip", false, true},
        {true, true, std::nullopt, false, true},  // unreadable settings file
        {true, false, std::nullopt, false, true},  // data without settings (after a stop)
        {false, true, url, false, true},
    };
    for (const auto& c : cases) {
        const ResumeDecision d = DecideResume(c.data, c.settings, c.text, url);
        EXPECT_EQ(d.resume, c.resume) << c.data << c.settings;
        EXPECT_EQ(d.pickNewNames, c.pick) << c.data << c.settings;
    }
}

TEST(DownloadNames, NormalizeUrlKeepsHttpAndHttpsAndPrefixesBareHosts) {
    const struct {
        std::wstring in, out;
    } cases[] = {
        {L"http://h/a", L"http://h/a"},
        {L"HTTP://h/a", L"HTTP://h/a"},
        {L"https://h/a", L"https://h/a"},
        {L"HttpS://h/a", L"HttpS://h/a"},
        {L"  https://h/a", L"  https://h/a"},
        {L"h/a", L"http://h/a"},
        {L"ftp://h/a", L"http://ftp://h/a"},
        {L"", L"http://"},
    };
    for (const auto& c : cases) EXPECT_EQ(NormalizeUrl(c.in), c.out);
}

TEST(DownloadNumbers, PercentageIsCappedAndSafe) {
    EXPECT_FLOAT_EQ(Percentage(500, 1000), 50.0f);
    EXPECT_FLOAT_EQ(Percentage(1000, 1000), 100.0f);
    EXPECT_FLOAT_EQ(Percentage(4096, 1), 100.0f);  // no Content-Length: total counts as 1
    EXPECT_FLOAT_EQ(Percentage(0, 1000), 0.0f);
    EXPECT_FLOAT_EQ(Percentage(10, 0), 0.0f);
    EXPECT_FLOAT_EQ(Percentage(3.0 * (1ull << 31), 4.0 * (1ull << 31)), 75.0f);
}

TEST(DownloadNumbers, SpeedIsBytesOfThisRunPerSecond) {
    EXPECT_DOUBLE_EQ(AverageSpeed(1000, 2), 500);
    EXPECT_DOUBLE_EQ(AverageSpeed(1000, 0), 0);
    EXPECT_DOUBLE_EQ(AverageSpeed(1000, -5), 0);  // a clock that went backwards
}

TEST(DownloadNumbers, ByteCountsStayExactBeyondTwoGigabytes) {
    const struct {
        double in;
        std::int64_t out;
    } cases[] = {
        {0, 0}, {-3, 0}, {0.4, 0}, {0.5, 1}, {1536.6, 1537},
        {2147483647.0, 2147483647LL}, {2147483648.0, 2147483648LL}, {5368709120.0, 5368709120LL},
        {1e30, INT64_MAX},
    };
    for (const auto& c : cases) EXPECT_EQ(ByteCountForText(c.in), c.out) << c.in;
    EXPECT_EQ(ByteCountForText(std::nan("")), 0);
}

TEST(DownloadRanges, ContentRangeIsParsedStrictly) {
    auto r = ParseContentRange("bytes 1000-1999/5000");
    ASSERT_TRUE(r);
    EXPECT_FALSE(r->unsatisfied);
    EXPECT_EQ(r->first, 1000u);
    EXPECT_EQ(r->last, 1999u);
    EXPECT_EQ(r->total.value(), 5000u);
    auto u = ParseContentRange("Bytes */5000");
    ASSERT_TRUE(u);
    EXPECT_TRUE(u->unsatisfied);
    EXPECT_EQ(u->total.value(), 5000u);
    auto open = ParseContentRange("bytes 0-9/*");
    ASSERT_TRUE(open);
    EXPECT_FALSE(open->total);
    auto big = ParseContentRange("bytes 3000000000-5999999999/6000000000");
    ASSERT_TRUE(big);
    EXPECT_EQ(big->first, 3000000000ull);
    for (const char* bad : {"", "bytes", "bytes 5-4/10", "bytes 0-10/10", "bytes */*", "items 0-1/2",
                            "bytes 0-1/2 junk", "bytes -1/2", "bytes 99999999999999999999-1/2"})
        EXPECT_FALSE(ParseContentRange(bad)) << bad;
}

TEST(DownloadRanges, ResponsesAreJudgedAgainstTheResumeOffset) {
    using K = ResponsePlan::Kind;
    const struct {
        const char* what;
        int status;
        std::optional<std::uint64_t> length;
        std::optional<std::string> range;
        std::uint64_t offset;
        K kind;
        std::uint64_t writeFrom;
        double total;
    } cases[] = {
        {"fresh 200", 200, 5000, std::nullopt, 0, K::Accept, 0, 5000},
        {"200 to a resume starts over", 200, 5000, std::nullopt, 1000, K::Accept, 0, 5000},
        {"200 without length", 200, std::nullopt, std::nullopt, 0, K::Accept, 0, 1},
        {"206 at the offset", 206, 4000, "bytes 1000-4999/5000", 1000, K::Accept, 1000, 5000},
        {"206 without length", 206, std::nullopt, "bytes 1000-4999/5000", 1000, K::Accept, 1000, 1001},
        {"206 one byte early", 206, 4001, "bytes 999-4999/5000", 1000, K::StartOver, 0, 1},
        {"206 from zero", 206, 5000, "bytes 0-4999/5000", 1000, K::StartOver, 0, 1},
        {"206 length disagrees", 206, 10, "bytes 1000-4999/5000", 1000, K::StartOver, 0, 1},
        {"206 without range", 206, 4000, std::nullopt, 1000, K::StartOver, 0, 1},
        {"206 without range to a fresh request", 206, 4000, std::nullopt, 0, K::Refuse, 0, 1},
        {"416 complete", 416, 20, "bytes */5000", 5000, K::Complete, 0, 1},
        {"416 partial", 416, 20, "bytes */6000", 5000, K::StartOver, 0, 1},
        {"416 bare", 416, 20, std::nullopt, 5000, K::StartOver, 0, 1},
        {"404", 404, 20, std::nullopt, 0, K::Refuse, 0, 1},
        {"500", 500, 20, std::nullopt, 0, K::Refuse, 0, 1},
        {"unfollowed redirect", 302, 20, std::nullopt, 0, K::Refuse, 0, 1},
    };
    for (const auto& c : cases) {
        const ResponsePlan plan = PlanResponse({c.status, c.length, c.range}, c.offset);
        EXPECT_EQ(plan.kind, c.kind) << c.what;
        if (c.kind == K::Accept) {
            EXPECT_EQ(plan.writeFrom, c.writeFrom) << c.what;
            EXPECT_DOUBLE_EQ(plan.totalSize, c.total) << c.what;
        }
    }
}

TEST(DownloadNames, OnlyAStrongEntityTagOrAnHttpDateServesAsIfRange) {
    const struct { std::string text; bool valid; } cases[] = {
        {"\"gen-400000\"", true},
        {"\"\"", true},
        {"Sun, 06 Nov 1994 08:49:37 GMT", true},
        {"Sunday, 06-Nov-94 08:49:37 GMT", true},
        {"Sun Nov  6 08:49:37 1994", true},
        {"Sun Nov 16 08:49:37 1994", true},
        {"W/\"gen\"", false},
        {"\"a\"\r\nX-Injected: yes", false},
        {"\"a b\"", false},
        {" \"a\"", false},
        {"\"" + std::string(255, 'a') + "\"", false},
        {"\"" + std::string(254, 'a') + "\"", true},
        {"Sun, 06 Nov 1994 24:49:37 GMT", false},
        {"Sun, 32 Nov 1994 08:49:37 GMT", false},
        {"sun, 06 Nov 1994 08:49:37 GMT", false},
        {"Sun, 06 Nov 1994 08:49:37 GMT\r\n", false},
        {"Sun Nov 6 08:49:37 1994", false},
        {"yesterday", false},
        {"", false},
    };
    for (const auto& c : cases) EXPECT_EQ(IsIfRangeValidator(c.text), c.valid) << c.text;
    EXPECT_EQ(RangeRequestHeaders(0, "\"v\""), "");
    EXPECT_EQ(RangeRequestHeaders(1000, ""), "Range: bytes=1000-");
    EXPECT_EQ(RangeRequestHeaders(1000, "\"v\""), "Range: bytes=1000-\r\nIf-Range: \"v\"");
    EXPECT_EQ(RangeRequestHeaders(1000, "\"v\"\r\nX: y"), "Range: bytes=1000-");
    EXPECT_EQ(ParseValidatorTag(L"\"v\u00e9\""), std::nullopt);
}
