// The downloader's run logic against an in-memory folder, a scripted HTTP client and a recording host:
// what lands on disk and which events the host sees, for good and for broken servers.
#include <gtest/gtest.h>

#include <map>
#include <vector>

#include "common/download/resumable_download.h"

using namespace vantorix::download;

namespace {

struct MemoryFiles : FileStore {
    std::map<std::wstring, std::string> files;
    bool failOpen = false, failSettings = false, failRename = false, failWrite = false;

    struct Sink : DataSink {
        MemoryFiles& owner;
        std::wstring path;
        std::size_t pos = 0;
        Sink(MemoryFiles& o, std::wstring p) : owner(o), path(std::move(p)) {}
        std::string& bytes() { return owner.files[path]; }
        bool SeekTo(std::uint64_t offset) override {
            pos = offset;
            if (bytes().size() < pos) bytes().resize(pos);
            return true;
        }
        bool TruncateHere() override { return bytes().resize(pos), true; }
        bool Write(const std::uint8_t* data, std::size_t count) override {
            if (owner.failWrite) return false;
            if (bytes().size() < pos + count) bytes().resize(pos + count);
            bytes().replace(pos, count, reinterpret_cast<const char*>(data), count);
            pos += count;
            return true;
        }
    };

    bool Exists(const std::wstring& p) override { return files.count(p) > 0; }
    std::optional<std::uint64_t> SizeOf(const std::wstring& p) override {
        if (!Exists(p)) return std::nullopt;
        return files[p].size();
    }
    std::optional<std::wstring> ReadText(const std::wstring& p) override {
        if (!Exists(p)) return std::nullopt;
        return std::wstring(files[p].begin(), files[p].end());
    }
    bool WriteText(const std::wstring& p, const std::wstring& text) override {
        if (failSettings) return false;
        files[p] = std::string(text.begin(), text.end());
        return true;
    }
    std::unique_ptr<DataSink> OpenData(const std::wstring& p) override {
        if (failOpen) return nullptr;
        files[p];
        return std::make_unique<Sink>(*this, p);
    }
    bool Remove(const std::wstring& p) override { return files.erase(p) > 0; }
    bool Rename(const std::wstring& from, const std::wstring& to) override {
        if (failRename || !Exists(from) || Exists(to)) return false;
        files[to] = files[from];
        files.erase(from);
        return true;
    }
};

struct ScriptedTransport : Transport {
    std::vector<std::pair<std::wstring, std::uint64_t>> sent;
    std::vector<std::string> ifRange;
    int abandoned = 0;
    bool failSend = false;
    bool Send(const std::wstring& url, std::uint64_t from, const std::string& validator) override {
        if (failSend) return false;
        sent.emplace_back(url, from);
        ifRange.push_back(validator);
        return true;
    }
    void Abandon() override { ++abandoned; }
};

struct Progress {
    std::wstring total, speed, present;
    float percentage;
};

struct RecordingHost : Host {
    std::vector<int> states;
    std::vector<Progress> progress;
    double now = 100;
    std::function<void(int)> onState;
    std::function<void(const Progress&)> onProgress;
    void OnHttpState(const std::wstring& t, float p, const std::wstring& s, const std::wstring& n) override {
        progress.push_back({t, s, n, p});
        now += 1;
        if (onProgress) onProgress(progress.back());
    }
    void OnStateChanged(std::int16_t s) override {
        states.push_back(s);
        if (onState) onState(s);
    }
    void PumpMessages() override {}
    double Seconds() override { return now; }
    std::wstring FormatByteSize(std::int64_t b) override { return std::to_wstring(b); }
};

const std::wstring kTarget = L"C:\\a\\newtemp.zip";
const std::wstring kData = L"C:\\a\\newtemp.zip.dl";
const std::wstring kSettings = L"C:\\a\\newtemp.zip.dl.cfg";
const std::wstring kUrl = L"http://127.0.0.1/newtemp.zip";

std::string Remote(std::size_t size) {
    std::string s(size, '\0');
    for (std::size_t i = 0; i < size; ++i) s[i] = static_cast<char>(i * 131 + i / 7);
    return s;
}

struct Fixture {
    MemoryFiles files;
    ScriptedTransport http;
    RecordingHost host;
    ResumableDownload dl{files, http, host};

    void Body(const std::string& bytes, std::size_t block = 1000) {
        for (std::size_t i = 0; i < bytes.size() && dl.Busy(); i += block) {
            const std::string part = bytes.substr(i, block);
            dl.OnData(reinterpret_cast<const std::uint8_t*>(part.data()), part.size());
        }
    }
    // A 206 answer for everything from `from` on, delivered whole.
    void Serve206(const std::string& remote, std::uint64_t from) {
        dl.OnResponseStart({206, remote.size() - from,
                            "bytes " + std::to_string(from) + "-" + std::to_string(remote.size() - 1) + "/" +
                                std::to_string(remote.size())});
        Body(remote.substr(from));
        dl.OnFinished();
    }
};

}  // namespace

TEST(DownloadRun, FreshDownloadAsksFromZeroAndLeavesOnlyTheTarget) {
    Fixture f;
    const std::string remote = Remote(5000);
    f.dl.Start(kTarget, kUrl);
    ASSERT_EQ(f.http.sent.size(), 1u);
    EXPECT_EQ(f.http.sent[0].second, 0u);
    f.dl.OnResponseStart({200, 5000, std::nullopt});
    EXPECT_TRUE(f.files.Exists(kData));
    EXPECT_EQ(f.files.files[kSettings], std::string(kUrl.begin(), kUrl.end()));
    f.Body(remote);
    f.dl.OnFinished();
    EXPECT_EQ(f.host.states, (std::vector<int>{1, 2, 3, 9}));
    EXPECT_EQ(f.files.files.size(), 1u);
    EXPECT_EQ(f.files.files[kTarget], remote);
    ASSERT_EQ(f.host.progress.size(), 5u);
    EXPECT_EQ(f.host.progress[0].present, L"1000");
    EXPECT_EQ(f.host.progress[0].total, L"5000");
    EXPECT_FLOAT_EQ(f.host.progress[0].percentage, 20.0f);
    EXPECT_FLOAT_EQ(f.host.progress[4].percentage, 100.0f);
    EXPECT_FALSE(f.dl.Busy());
}

TEST(DownloadRun, PauseKeepsSideFilesAndTheNextStartResumesFromTheirLength) {
    Fixture f;
    const std::string remote = Remote(5000);
    f.host.onProgress = [&](const Progress& p) {
        if (p.present == L"2000") f.dl.Pause();
    };
    f.dl.Start(kTarget, kUrl);
    f.dl.OnResponseStart({200, 5000, std::nullopt});
    f.Body(remote);
    EXPECT_EQ(f.host.states.back(), kPaused);
    EXPECT_EQ(f.files.files[kData].size(), 2000u);
    EXPECT_TRUE(f.files.Exists(kSettings));
    f.dl.OnData(reinterpret_cast<const std::uint8_t*>("late"), 4);  // a block of the abandoned request
    EXPECT_EQ(f.files.files[kData].size(), 2000u);

    f.host.onProgress = nullptr;
    f.host.progress.clear();
    f.dl.Start(kTarget, kUrl);
    ASSERT_EQ(f.http.sent.size(), 2u);
    EXPECT_EQ(f.http.sent[1].second, 2000u);
    f.Serve206(remote, 2000);
    EXPECT_EQ(f.host.states.back(), kComplete);
    EXPECT_EQ(f.files.files[kTarget], remote);
    EXPECT_EQ(f.host.progress.front().present, L"3000");
    EXPECT_EQ(f.host.progress.front().total, L"5000");
}

TEST(DownloadRun, ServerThatIgnoresRangeGivesAByteIdenticalFile) {
    Fixture f;
    const std::string remote = Remote(5000);
    f.files.files[kData] = "old bytes that must not stay in front";
    f.files.files[kSettings] = std::string(kUrl.begin(), kUrl.end());
    f.dl.Start(kTarget, kUrl);
    EXPECT_GT(f.http.sent[0].second, 0u);
    f.dl.OnResponseStart({200, 5000, std::nullopt});
    f.Body(remote);
    f.dl.OnFinished();
    EXPECT_EQ(f.host.states.back(), kComplete);
    EXPECT_EQ(f.files.files[kTarget], remote);
}

TEST(DownloadRun, BrokenAnswersNeverEndAsComplete) {
    const std::string remote = Remote(5000);
    const struct {
        const char* what;
        std::function<void(Fixture&)> serve;
        int state;
    } cases[] = {
        {"short body",
         [&](Fixture& f) {
             f.dl.OnResponseStart({206, 3000, "bytes 2000-4999/5000"});
             f.Body(remote.substr(2000, 1000));
             f.dl.OnFinished();
         },
         kAborted},
        {"whole-file answer shorter than announced",
         [&](Fixture& f) {
             f.dl.OnResponseStart({200, 5000, std::nullopt});
             f.Body(remote.substr(0, 3000));
             f.dl.OnFinished();
         },
         kAborted},
        {"connection cut",
         [&](Fixture& f) {
             f.dl.OnResponseStart({206, 3000, "bytes 2000-4999/5000"});
             f.Body(remote.substr(2000, 1500));
             f.dl.OnError(12030);
         },
         kAborted},
        {"404", [&](Fixture& f) { f.dl.OnResponseStart({404, 20, std::nullopt}); }, kRefused},
    };
    for (const auto& c : cases) {
        Fixture f;
        f.files.files[kData] = remote.substr(0, 2000);
        f.files.files[kSettings] = std::string(kUrl.begin(), kUrl.end());
        f.dl.Start(kTarget, kUrl);
        c.serve(f);
        EXPECT_EQ(f.host.states.back(), c.state) << c.what;
        EXPECT_NE(f.host.states.back(), kComplete) << c.what;
        EXPECT_FALSE(f.files.Exists(kTarget)) << c.what;
        EXPECT_TRUE(f.files.Exists(kSettings)) << c.what;
        EXPECT_FALSE(f.dl.Busy()) << c.what;
        // What is kept is a true prefix of the remote file, so the next start resumes correctly.
        const std::string& kept = f.files.files[kData];
        EXPECT_EQ(kept, remote.substr(0, kept.size())) << c.what;

        f.dl.Start(kTarget, kUrl);
        EXPECT_EQ(f.http.sent.back().second, kept.size()) << c.what;
        f.Serve206(remote, kept.size());
        EXPECT_EQ(f.host.states.back(), kComplete) << c.what;
        EXPECT_EQ(f.files.files[kTarget], remote) << c.what;
    }
}

// A resume answered in a way that cannot be joined to the kept bytes is followed by one fresh download
// from 0, not a refusal that every later start repeats.
TEST(DownloadRun, AWronglyAnsweredResumeStartsOnceFromZero) {
    const std::string remote = Remote(5000);
    const struct { const char* what; ResponseHead head; } cases[] = {
        {"206 one byte early", {206, 3001, "bytes 1999-4999/5000"}},
        {"206 whose length disagrees with its range", {206, 10, "bytes 2000-4999/5000"}},
        {"206 without a range", {206, 3000, std::nullopt}},
        {"gzip-encoded answer", {206, 3000, "bytes 2000-4999/5000", std::nullopt, std::nullopt, "gzip"}},
    };
    for (const auto& c : cases) {
        Fixture f;
        f.files.files[kData] = remote.substr(0, 2000);
        f.files.files[kSettings] = std::string(kUrl.begin(), kUrl.end());
        f.dl.Start(kTarget, kUrl);
        f.dl.OnResponseStart(c.head);
        ASSERT_EQ(f.http.sent.size(), 2u) << c.what;
        EXPECT_EQ(f.http.sent[1].second, 0u) << c.what;
        f.dl.OnResponseStart(c.head);  // answered wrongly again: refused, not a loop
        EXPECT_EQ(f.host.states.back(), kRefused) << c.what;
        EXPECT_EQ(f.http.sent.size(), 2u) << c.what;

        f.dl.Start(kTarget, kUrl);  // a later start: the fresh download serves
        f.dl.OnResponseStart(c.head);
        f.dl.OnResponseStart({200, 5000, std::nullopt});
        f.Body(remote);
        f.dl.OnFinished();
        EXPECT_EQ(f.host.states.back(), kComplete) << c.what;
        EXPECT_EQ(f.files.files[kTarget], remote) << c.what;
    }
}

// Content republished at the same URL between a cut and its resume is never joined to the old bytes.
TEST(DownloadRun, AResumeCarriesTheValidatorAndAChangedFileIsFetchedWhole) {
    const std::string first = Remote(5000), second = std::string(5000, 'N');
    Fixture f;
    f.dl.Start(kTarget, kUrl);
    f.dl.OnResponseStart({200, 5000, std::nullopt, "\"v1\"", "Tue, 08 Dec 2026 10:00:00 GMT"});
    f.Body(first.substr(0, 2000));
    f.dl.OnError(12030);  // cut
    EXPECT_EQ(f.files.files[kData].size(), 2000u);
    EXPECT_EQ(f.files.files[kSettings], std::string(kUrl.begin(), kUrl.end()));  // the URL and nothing else
    EXPECT_EQ(f.files.files[kData + L".tag"], "\"v1\"");

    f.dl.Start(kTarget, kUrl);
    ASSERT_EQ(f.http.ifRange.back(), "\"v1\"");
    // A server that ignores If-Range but names the new version: not joined, fetched again from 0.
    f.dl.OnResponseStart({206, 3000, "bytes 2000-4999/5000", "\"v2\""});
    ASSERT_EQ(f.http.sent.back().second, 0u);
    EXPECT_EQ(f.http.ifRange.back(), "");
    // If-Range honoured: the changed file comes whole as 200.
    f.dl.OnResponseStart({200, 5000, std::nullopt, "\"v2\""});
    f.Body(second);
    f.dl.OnFinished();
    EXPECT_EQ(f.host.states.back(), kComplete);
    EXPECT_EQ(f.files.files[kTarget], second);
    EXPECT_EQ(f.files.files.size(), 1u);  // no side file left, the validator included

    // Weak ETags cannot serve If-Range; Last-Modified does.
    EXPECT_EQ(ValidatorOf({200, 1, std::nullopt, "W/\"x\"", "Mon, 07 Dec 2026 10:00:00 GMT"}), "Mon, 07 Dec 2026 10:00:00 GMT");
    EXPECT_EQ(ValidatorOf({200, 1, std::nullopt}), "");
}

TEST(DownloadRun, Answer416FinishesOnlyAWholeDataFile) {
    const std::string remote = Remote(5000);
    {  // complete data file: state 9, no data block
        Fixture f;
        f.files.files[kData] = remote;
        f.files.files[kSettings] = std::string(kUrl.begin(), kUrl.end());
        f.dl.Start(kTarget, kUrl);
        f.dl.OnResponseStart({416, 20, "bytes */5000"});
        EXPECT_EQ(f.host.states, (std::vector<int>{1, 2, 9}));
        EXPECT_TRUE(f.host.progress.empty());
        EXPECT_EQ(f.files.files[kTarget], remote);
        EXPECT_FALSE(f.files.Exists(kSettings));
    }
    {  // data file longer than the remote one: start over from byte 0
        Fixture f;
        f.files.files[kData] = remote + "garbage";
        f.files.files[kSettings] = std::string(kUrl.begin(), kUrl.end());
        f.dl.Start(kTarget, kUrl);
        f.dl.OnResponseStart({416, 20, "bytes */5000"});
        ASSERT_EQ(f.http.sent.size(), 2u);
        EXPECT_EQ(f.http.sent[1].second, 0u);
        f.Serve206(remote, 0);
        EXPECT_EQ(f.host.states.back(), kComplete);
        EXPECT_EQ(f.files.files[kTarget], remote);
    }
    {  // a server that answers 416 to everything: refused after one fresh try, no loop
        Fixture f;
        f.files.files[kData] = remote;
        f.files.files[kSettings] = std::string(kUrl.begin(), kUrl.end());
        f.dl.Start(kTarget, kUrl);
        f.dl.OnResponseStart({416, 20, std::nullopt});
        f.dl.OnResponseStart({416, 20, std::nullopt});
        EXPECT_EQ(f.http.sent.size(), 2u);
        EXPECT_EQ(f.host.states.back(), kRefused);
        EXPECT_FALSE(f.files.Exists(kTarget));
    }
}

TEST(DownloadRun, OtherUrlOrLoneDataFileUsesNumberedSideFiles) {
    const struct {
        const char* what;
        bool settings;
        std::string stored;
    } cases[] = {{"same target, other URL", true, "http://elsewhere/x.zip"}, {"data without settings", false, ""}};
    for (const auto& c : cases) {
        Fixture f;
        f.files.files[kData] = "old";
        if (c.settings) f.files.files[kSettings] = c.stored;
        f.dl.Start(kTarget, kUrl);
        EXPECT_EQ(f.http.sent.at(0).second, 0u) << c.what;
        EXPECT_EQ(f.dl.CurrentSideFiles().data, L"C:\\a\\newtemp(1).zip.dl") << c.what;
        f.dl.OnResponseStart({200, 3, std::nullopt});
        f.Body("new");
        f.dl.OnFinished();
        EXPECT_EQ(f.files.files[kTarget], "new") << c.what;
        EXPECT_EQ(f.files.files[kData], "old") << c.what;
        EXPECT_EQ(f.files.Exists(kSettings), c.settings) << c.what;
    }
}

TEST(DownloadRun, ExistingTargetIsKeptAndTheResultGetsANumber) {
    Fixture f;
    f.files.files[kTarget] = "mine";
    f.files.files[L"C:\\a\\newtemp(1).zip"] = "mine too";
    f.dl.Start(kTarget, kUrl);
    f.dl.OnResponseStart({200, 3, std::nullopt});
    f.Body("new");
    f.dl.OnFinished();
    EXPECT_EQ(f.host.states.back(), kComplete);
    EXPECT_EQ(f.files.files[kTarget], "mine");
    EXPECT_EQ(f.files.files[L"C:\\a\\newtemp(2).zip"], "new");
}

TEST(DownloadRun, FileProblemsEndWithSavePathErrorAndLoseNothing) {
    const struct {
        const char* what;
        std::function<void(MemoryFiles&)> arrange;
        bool dataKept;
    } cases[] = {
        {"data file cannot be opened", [](MemoryFiles& m) { m.failOpen = true; }, false},
        {"settings file cannot be written", [](MemoryFiles& m) { m.failSettings = true; }, false},
        {"disk refuses a block", [](MemoryFiles& m) { m.failWrite = true; }, false},
        {"rename fails", [](MemoryFiles& m) { m.failRename = true; }, true},
    };
    for (const auto& c : cases) {
        Fixture f;
        c.arrange(f.files);
        f.dl.Start(kTarget, kUrl);
        f.dl.OnResponseStart({200, 3, std::nullopt});
        f.Body("new");
        f.dl.OnFinished();
        EXPECT_EQ(f.host.states.back(), kSavePathError) << c.what;
        EXPECT_EQ(std::count(f.host.states.begin(), f.host.states.end(), kComplete), 0) << c.what;
        EXPECT_FALSE(f.dl.Busy()) << c.what;
        if (c.dataKept) {
            EXPECT_EQ(f.files.files[kData], "new") << c.what;
            EXPECT_TRUE(f.files.Exists(kSettings)) << c.what;  // so the next start can finish it
        }
    }
}

TEST(DownloadRun, NamesThatCannotBeNumberedFailClearly) {
    {
        Fixture f;
        f.dl.Start(L"newtemp.zip", kUrl);
        EXPECT_EQ(f.host.states, (std::vector<int>{1, 10}));
        EXPECT_TRUE(f.http.sent.empty());
    }
    {
        Fixture f;
        f.files.files[kData] = "x";
        for (int n = 1; n <= kMaxNumberedName; ++n)
            f.files.files[NumberedName(kTarget, n) + L".dl"] = "x";
        f.dl.Start(kTarget, kUrl);
        EXPECT_EQ(f.host.states, (std::vector<int>{1, 10}));
        EXPECT_FALSE(f.dl.Busy());
    }
}

TEST(DownloadRun, StopDropsTheSettingsFileAndIdleCallsDoNothing) {
    Fixture f;
    f.dl.Pause();
    f.dl.Stop();
    EXPECT_TRUE(f.host.states.empty());
    f.dl.Start(kTarget, kUrl);
    f.dl.OnResponseStart({200, 5000, std::nullopt});
    f.Body(Remote(1000));
    f.dl.Stop();
    EXPECT_EQ(f.host.states.back(), kStopped);
    EXPECT_FALSE(f.files.Exists(kSettings));
    EXPECT_TRUE(f.files.Exists(kData));
    EXPECT_GE(f.http.abandoned, 1);
    f.dl.Start(kTarget, kUrl);  // starts afresh under numbered names
    EXPECT_EQ(f.http.sent.back().second, 0u);
    EXPECT_EQ(f.dl.CurrentSideFiles().settings, L"C:\\a\\newtemp(1).zip.dl.cfg");
}

TEST(DownloadRun, NoContentLengthCountsAsOneByteOrThePublishedSizeAndStillFinishes) {
    struct Case {
        std::optional<std::uint64_t> published;
        const wchar_t* total;
        float first_percentage;  // after the first 1000-byte block
    } cases[] = {{std::nullopt, L"1", 100.0f}, {4000, L"4000", 25.0f}};
    for (const Case& c : cases) {
        Fixture f;
        f.dl.Start(kTarget, kUrl, c.published);
        f.dl.OnResponseStart({200, std::nullopt, std::nullopt});
        f.Body(Remote(4000));
        f.dl.OnFinished();
        EXPECT_EQ(f.host.progress.front().total, c.total);
        EXPECT_FLOAT_EQ(f.host.progress.front().percentage, c.first_percentage);
        EXPECT_EQ(f.host.states.back(), kComplete);
        EXPECT_EQ(f.files.files[kTarget], Remote(4000));
    }
}

TEST(DownloadRun, MoreBytesThanPublishedAreRefusedAndNothingIsKept) {
    // Announced by the server's length or range, or only found while receiving a body without a length;
    // also on a resume, whose kept bytes count.
    struct Case {
        const char* name;
        std::string kept;
        ResponseHead head;
    } cases[] = {{"longer Content-Length", "", {200, 5000, std::nullopt}},
                 {"longer range total", std::string(Remote(5000), 0, 2000), {206, 3000, "bytes 2000-4999/5000"}},
                 {"no length", "", {200, std::nullopt, std::nullopt}}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Fixture f;
        if (!c.kept.empty()) {
            f.files.files[kData] = c.kept;
            f.files.files[kSettings] = std::string(kUrl.begin(), kUrl.end());
        }
        f.dl.Start(kTarget, kUrl, 4000);
        f.dl.OnResponseStart(c.head);
        f.Body(Remote(5000).substr(c.kept.size()));
        f.dl.OnFinished();
        EXPECT_EQ(f.host.states.back(), kRefused);
        EXPECT_TRUE(f.dl.Oversized());
        EXPECT_TRUE(f.files.files.empty()) << f.files.files.size() << " files kept";
    }
    Fixture exact;  // the published size itself is accepted
    exact.dl.Start(kTarget, kUrl, 5000);
    exact.dl.OnResponseStart({200, std::nullopt, std::nullopt});
    exact.Body(Remote(5000));
    exact.dl.OnFinished();
    EXPECT_EQ(exact.host.states.back(), kComplete);
    EXPECT_FALSE(exact.dl.Oversized());
}

TEST(DownloadRun, RequestThatCannotBeMadeReportsSendFailed) {
    Fixture f;
    f.http.failSend = true;
    f.dl.Start(kTarget, kUrl);
    EXPECT_EQ(f.host.states, (std::vector<int>{1, 8}));
    EXPECT_FALSE(f.dl.Busy());
}

TEST(DownloadRun, HandlersMayRestartFromInsideAnEvent) {
    Fixture f;
    bool restarted = false;
    f.host.onState = [&](int s) {
        if (s == kPaused && !restarted) {
            restarted = true;
            f.dl.Start(kTarget, kUrl);  // the host resumes right away from its pause handler
        }
    };
    f.host.onProgress = [&](const Progress& p) {
        if (p.present == L"1000") f.dl.Pause();
    };
    f.dl.Start(kTarget, kUrl);
    f.dl.OnResponseStart({200, 5000, std::nullopt});
    f.Body(Remote(5000));  // blocks after the pause belong to the old request: the fixture stops at !Busy
    EXPECT_TRUE(f.dl.Busy());
    ASSERT_EQ(f.http.sent.size(), 2u);
    EXPECT_EQ(f.http.sent[1].second, 1000u);
    EXPECT_EQ(f.host.states, (std::vector<int>{1, 2, 3, 6, 1}));
}

TEST(DownloadRun, SpeedIsMeasuredOverThisRunOnly) {
    Fixture f;
    f.files.files[kData] = Remote(3000);
    f.files.files[kSettings] = std::string(kUrl.begin(), kUrl.end());
    f.dl.Start(kTarget, kUrl);
    f.host.now = 10;
    f.dl.OnResponseStart({206, 2000, "bytes 3000-4999/5000"});
    f.host.now = 12;
    f.Body(Remote(5000).substr(3000), 1000);
    ASSERT_EQ(f.host.progress.size(), 2u);
    EXPECT_EQ(f.host.progress[0].speed, L"500");   // 1000 bytes in 2 s
    EXPECT_EQ(f.host.progress[0].present, L"4000");
    EXPECT_FLOAT_EQ(f.host.progress[0].percentage, 80.0f);
}

// A server that sends no length and closes early: with the published size the downloader knows the body
// was cut, keeps what arrived and asks for exactly the rest at the next start.
TEST(DownloadRun, ABodyWithoutLengthEndingShortOfThePublishedSizeIsResumedNotCompleted) {
    const std::string remote = Remote(10000);
    Fixture f;
    f.dl.Start(kTarget, kUrl, remote.size());
    f.dl.OnResponseStart({200, std::nullopt, std::nullopt});
    f.Body(remote.substr(0, 5000));
    f.dl.OnFinished();  // the connection closed: the end of a body without length
    EXPECT_EQ(f.host.states.back(), kAborted);
    EXPECT_EQ(std::count(f.host.states.begin(), f.host.states.end(), kComplete), 0);
    EXPECT_FALSE(f.files.Exists(kTarget));
    EXPECT_EQ(f.files.files[kData], remote.substr(0, 5000));
    EXPECT_TRUE(f.files.Exists(kSettings));

    f.dl.Start(kTarget, kUrl, remote.size());
    EXPECT_EQ(f.http.sent.back().second, 5000u);
    f.Serve206(remote, 5000);
    EXPECT_EQ(f.host.states.back(), kComplete);
    EXPECT_EQ(f.files.files[kTarget], remote);
    EXPECT_EQ(f.files.files.size(), 1u);
}

// A captive portal's login page answered with 200, or any answer announcing less than the published file:
// refused before a side file is touched (nothing of it is kept, bytes kept earlier stay for the next
// start), with the reason for the log.
TEST(DownloadRun, AWebPageOrASmallerFileIsNotTheFileAndNothingOfItIsKept) {
    const std::string remote = Remote(5000);
    const std::string page = "<html><head><title>Network login</title></head><body>Sign in to use this network</body></html>";
    const auto answer = [](int status, std::optional<std::uint64_t> length, std::optional<std::string> range,
                           std::optional<std::string> type) {
        ResponseHead head{status, length, std::move(range)};
        head.contentType = std::move(type);
        return head;
    };
    const struct {
        const char* what;
        std::optional<std::uint64_t> published;
        std::size_t kept;
        ResponseHead head;
        const char* reason;
    } cases[] = {
        {"login page", 5000, 0, answer(200, page.size(), std::nullopt, "text/html"), "a web page (text/html)"},
        {"login page with a charset, no length", 5000, 0, answer(200, std::nullopt, std::nullopt, "Text/HTML; charset=UTF-8"),
         "a web page (text/html)"},
        {"login page, nothing published", std::nullopt, 0, answer(200, page.size(), std::nullopt, "text/html"),
         "a web page (text/html)"},
        {"login page answering a resume", 5000, 2000, answer(200, page.size(), std::nullopt, "application/xhtml+xml"),
         "a web page (application/xhtml+xml)"},
        {"smaller file than published", 5000, 0, answer(200, page.size(), std::nullopt, "application/octet-stream"),
         "94 bytes, 5000 published"},
        {"smaller whole in a resumed range", 5000, 2000, answer(206, 1000, "bytes 2000-2999/3000", std::nullopt),
         "3000 bytes, 5000 published"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Fixture f;
        if (c.kept) {
            f.files.files[kData] = remote.substr(0, c.kept);
            f.files.files[kSettings] = std::string(kUrl.begin(), kUrl.end());
        }
        const auto before = f.files.files;
        f.dl.Start(kTarget, kUrl, c.published);
        f.dl.OnResponseStart(c.head);
        f.Body(page);
        f.dl.OnFinished();
        EXPECT_EQ(f.host.states, (std::vector<int>{1, 2, 7}));
        EXPECT_FALSE(f.dl.Busy());
        EXPECT_FALSE(f.dl.Oversized());
        EXPECT_EQ(f.dl.NotTheFile(), c.reason);
        EXPECT_TRUE(f.host.progress.empty());
        EXPECT_EQ(f.files.files, before);  // nothing written, nothing lost

        // The network lets the download through again: a resume of the kept bytes, or a fresh start.
        f.dl.Start(kTarget, kUrl, c.published);
        EXPECT_EQ(f.dl.NotTheFile(), "");
        EXPECT_EQ(f.http.sent.back().second, c.kept);
        f.Serve206(remote, c.kept);
        EXPECT_EQ(f.host.states.back(), kComplete);
        EXPECT_EQ(f.files.files[kTarget], remote);
    }
    // The archive itself, whatever type a server gives it, is not refused.
    Fixture zip;
    zip.dl.Start(kTarget, kUrl, 5000);
    zip.dl.OnResponseStart(answer(200, 5000, std::nullopt, "application/zip"));
    zip.Body(remote);
    zip.dl.OnFinished();
    EXPECT_EQ(zip.host.states.back(), kComplete);
    EXPECT_EQ(zip.dl.NotTheFile(), "");
}
