// The launcher's flow driven through a recording host: what the user sees and what gets started, for
// each way a start, a manifest check, a download and a close can go.
#include "common/update_flow/update_flow.h"
#include "common/update_flow/install_step.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <tuple>
#include <vector>

namespace uf = vantorix::update_flow;
using uf::Control;

namespace {

const std::wstring kAskRegister =
    L"程序首次启动需要注册DLL控件，部分杀软可能会报毒，请点击仍要运行即或添加信任即可！是否继续？";
const std::wstring kAskClientMissing = L"程序重要文件缺失，是否立即打开官网重新下载？";
const std::wstring kAskForceClose =
    L"您当前正在更新程序，无法退出。您可在更新完毕之后退出或者强制结束！是否强制结束？";

uf::ManifestView Release(const std::wstring& version, bool mandatory) {
    return {version, L"http://127.0.0.1/newtemp.zip", L"修复问题\r\n更快", L"春季版", mandatory ? L"是" : L"否",
            mandatory};
}

// Records every effect as one line and answers questions from a script.
class RecordingHost : public uf::FlowHost {
public:
    uf::UpdateFlow flow{*this};
    std::set<std::wstring> files{uf::kMarkerPath, uf::kClientPath};
    bool control_file = true;
    bool marker_writable = true;
    int registration_ticks = 0;  // ticks the registration script keeps running after its start
    bool registration_makes_control = true;
    uf::RegistrationStart registration_start = uf::RegistrationStart::Started;
    std::wstring local_version = L"1.0.0.1";
    std::wstring version_after_unpack;
    std::optional<uf::ManifestView> manifest = Release(L"1.0.0.1", false);
    uf::UnpackResult unpack{uf::UnpackOutcome::Done, L""};
    uf::UnpackResult delta{uf::UnpackOutcome::Done, L""};
    std::wstring archive_mismatch;  // why the check in UnpackArchive refuses the archive ("" it does not)
    std::deque<bool> answers;  // Yes/No answers, in order
    std::function<void()> during_message;  // runs while a message box is open (nested message loop)
    std::vector<std::wstring> log;
    std::map<Control, std::wstring> texts;
    bool button_enabled = true, visible = false, timer = false, closed = false;
    std::function<void()> during_unpack;  // runs inside UnpackArchive, as the form's pumped messages do
    std::vector<unsigned> retry_delays;
    std::deque<double> jitters;  // the random numbers of the retry waits, in order; 0.5 (no spread) after them
    int status_repaints = 0;     // texts set on the status line
    std::vector<std::wstring> transitions;  // the flow's record of its transitions, in order

    bool ClientExists() override { return files.count(uf::kClientPath) > 0; }
    bool MarkerExists() override { return files.count(uf::kMarkerPath) > 0; }
    bool DownloadedPackageExists(uf::Package package) override {
        return files.count(package == uf::Package::Delta ? uf::kDeltaPath : uf::kArchivePath) > 0;
    }
    bool ControlFileExists() override { return control_file; }
    bool CreateMarker() override {
        log.push_back(L"create-marker");
        if (marker_writable) files.insert(uf::kMarkerPath);
        return marker_writable;
    }
    void EnsureUpdateFolder() override { log.push_back(L"ensure-update-folder"); }
    std::wstring LocalVersion() override { return local_version; }
    std::optional<uf::ManifestView> FetchManifest() override {
        log.push_back(L"fetch-manifest");
        return manifest;
    }
    uf::RegistrationStart StartRegistration() override {
        log.push_back(L"start-registration");
        if (registration_start != uf::RegistrationStart::Started) return registration_start;
        running_ = registration_ticks;
        if (registration_ticks == 0 && registration_makes_control) control_file = true;
        return registration_start;
    }
    bool RegistrationRunning() override {
        if (running_ > 0 && --running_ == 0 && registration_makes_control) control_file = true;
        return running_ > 0;
    }
    void StartClient() override { log.push_back(L"start-client " + local_version); }
    void EndRunningClients() override { log.push_back(L"taskkill client.exe"); }
    void OpenHomePage() override { log.push_back(L"open-home-page"); }
    void ClearStaleArchive(const std::wstring& url, uf::Package) override { log.push_back(L"clear-stale " + url); }
    void StartDownload(const std::wstring& url, std::optional<std::uint64_t> size, uf::Package) override {
        log.push_back(L"download " + url + (size ? L" size=" + std::to_wstring(*size) : L""));
    }
    uf::UnpackResult ApplyDelta(const vantorix::integrity::ExpectedArchive&) override {
        log.push_back(L"apply-delta");
        if (delta.outcome == uf::UnpackOutcome::Done && !version_after_unpack.empty()) local_version = version_after_unpack;
        return delta;
    }
    void AbandonDelta(const std::wstring& reason) override {
        log.push_back(L"abandon-delta " + reason);
        files.erase(uf::kDeltaPath);
    }
    std::wstring ArchiveMismatch(const vantorix::integrity::ExpectedArchive& expected) override {
        log.push_back(L"check-archive" + std::wstring(expected.size ? L" size" : L""));
        return archive_mismatch;
    }
    uf::UnpackResult UnpackArchive(const vantorix::integrity::ExpectedArchive&) override {
        log.push_back(L"unpack");
        if (during_unpack) during_unpack();
        if (unpack.outcome == uf::UnpackOutcome::Done && !version_after_unpack.empty())
            local_version = version_after_unpack;
        return unpack;
    }
    void DeleteArchive() override {
        log.push_back(L"delete-archive");
        files.erase(uf::kArchivePath);
    }
    bool AskYesNo(const std::wstring& text) override {
        bool yes = !answers.empty() && answers.front();
        if (!answers.empty()) answers.pop_front();
        log.push_back((yes ? L"ask(yes) " : L"ask(no) ") + text);
        return yes;
    }
    void ShowMessage(const std::wstring& text) override {
        log.push_back(L"message " + text);
        if (during_message) std::exchange(during_message, nullptr)();
    }
    void SetText(Control control, const std::wstring& text) override {
        texts[control] = text;
        status_repaints += control == Control::lblMsg;
    }
    void EnableButton(bool enabled) override { button_enabled = enabled; }
    void ShowForm(bool v) override { visible = v; }
    void SetTimer(bool enabled) override { timer = enabled; }
    void ScheduleRetry(unsigned delay_ms) override { retry_delays.push_back(delay_ms); }
    double RetryJitter() override {
        if (jitters.empty()) return 0.5;
        const double r = jitters.front();
        jitters.pop_front();
        return r;
    }
    void RecordTransition(const std::wstring& line) override { transitions.push_back(line); }
    void CloseForm() override {
        if (flow.QueryClose()) {
            closed = true;
            log.push_back(L"closed");
        }
    }

    // Ticks until the flow ends or stops its timer, at most n times.
    void TickUntilSettled(int n = 10) {
        for (int i = 0; i < n && timer && !closed; ++i) flow.Tick();
    }
    bool Logged(const std::wstring& line) const { return std::find(log.begin(), log.end(), line) != log.end(); }
    size_t Count(const std::wstring& prefix) const {
        size_t n = 0;
        for (auto& l : log) n += l.rfind(prefix, 0) == 0;
        return n;
    }

private:
    int running_ = 0;
};

// The archive was refused for reason: deleted, never unpacked, one message naming the reason, and the
// current client started as the launcher closed.
void ExpectArchiveRefused(const RecordingHost& h, const std::wstring& reason) {
    EXPECT_FALSE(h.Logged(L"unpack"));
    EXPECT_TRUE(h.Logged(L"delete-archive"));
    EXPECT_EQ(h.Count(L"message 下载的更新文件不完整或已损坏"), 1u);
    EXPECT_TRUE(std::any_of(h.log.begin(), h.log.end(),
                            [&](const std::wstring& l) { return l.find(L"(" + reason + L")") != std::wstring::npos; }));
    EXPECT_TRUE(h.Logged(L"start-client 1.0.0.1"));
    EXPECT_TRUE(h.closed);
}

}  // namespace

TEST(LauncherStart, SameVersionStartsTheClientWithoutShowingTheForm) {
    RecordingHost h;
    h.flow.Load(false);
    EXPECT_TRUE(h.timer);
    h.TickUntilSettled();
    EXPECT_TRUE(h.closed);
    EXPECT_FALSE(h.visible);
    EXPECT_EQ(h.log, (std::vector<std::wstring>{L"ensure-update-folder", L"fetch-manifest", L"start-client 1.0.0.1",
                                                 L"closed"}));
    EXPECT_EQ(h.texts[Control::Command1], L"您已是最新版本");
    EXPECT_FALSE(h.button_enabled);
}

TEST(LauncherStart, FirstStartCreatesTheMarkerOnOneTickAndChecksTheManifestOnTheNext) {
    RecordingHost h;
    h.files.erase(uf::kMarkerPath);
    h.flow.Load(false);
    h.flow.Tick();
    EXPECT_TRUE(h.Logged(L"create-marker"));
    EXPECT_FALSE(h.Logged(L"fetch-manifest"));
    h.flow.Tick();
    EXPECT_TRUE(h.Logged(L"fetch-manifest"));
    EXPECT_TRUE(h.closed);
}

TEST(LauncherStart, AMarkerThatCannotBeWrittenDoesNotHoldTheStart) {
    RecordingHost h;
    h.files.erase(uf::kMarkerPath);
    h.marker_writable = false;
    h.flow.Load(false);
    h.TickUntilSettled();
    EXPECT_EQ(h.Count(L"create-marker"), 1u);
    EXPECT_TRUE(h.Logged(L"start-client 1.0.0.1"));
}

struct RegistrationCase {
    const char* name;
    bool control_at_load;
    std::deque<bool> answers;
    int script_ticks;
    std::vector<std::wstring> expected;
};

TEST(LauncherStart, RegistrationQuestionFollowsTheAnswers) {
    const std::wstring ask_yes = L"ask(yes) " + kAskRegister, ask_no = L"ask(no) " + kAskRegister;
    const std::vector<RegistrationCase> cases = {
        {"no at load ends at once", false, {false}, 0, {L"ensure-update-folder", ask_no, L"closed"}},
        {"yes at load registers and goes on", false, {true}, 0,
         {L"ensure-update-folder", ask_yes, L"start-registration", L"create-marker", L"fetch-manifest",
          L"start-client 1.0.0.1", L"closed"}},
        {"a slow script is waited for, not asked about again", false, {true}, 3,
         {L"ensure-update-folder", ask_yes, L"start-registration", L"create-marker", L"fetch-manifest",
          L"start-client 1.0.0.1", L"closed"}},
        {"control present: no question", true, {}, 0,
         {L"ensure-update-folder", L"create-marker", L"fetch-manifest", L"start-client 1.0.0.1", L"closed"}},
    };
    for (const auto& c : cases) {
        RecordingHost h;
        h.files.erase(uf::kMarkerPath);
        h.control_file = c.control_at_load;
        h.answers = c.answers;
        h.registration_ticks = c.script_ticks;
        h.flow.Load(false);
        h.TickUntilSettled();
        EXPECT_EQ(h.log, c.expected) << c.name;
        EXPECT_TRUE(h.closed) << c.name;
    }
}

TEST(LauncherStart, AScriptThatLeavesNoControlAsksAgainAndNoEnds) {
    RecordingHost h;
    h.files.erase(uf::kMarkerPath);
    h.control_file = false;
    h.registration_makes_control = false;
    h.answers = {true, false};
    h.flow.Load(false);
    h.TickUntilSettled();
    EXPECT_EQ(h.Count(L"ask("), 2u);
    EXPECT_TRUE(h.closed);
    EXPECT_FALSE(h.Logged(L"start-client 1.0.0.1"));
}

TEST(LauncherStart, ADeclinedElevationIsToldOnceAndEndsTheStart) {
    for (bool at_load : {true, false}) {  // asked at load, or at a first start's tick
        RecordingHost h;
        h.files.erase(uf::kMarkerPath);
        h.control_file = !at_load;
        h.registration_start = uf::RegistrationStart::Declined;
        h.answers = {true, true, true};
        h.flow.Load(false);
        h.control_file = false;
        h.TickUntilSettled();
        EXPECT_EQ(h.Count(L"ask("), 1u);
        EXPECT_EQ(h.Count(L"message "), 1u);
        EXPECT_TRUE(h.Logged(L"message 注册DLL控件需要管理员权限，您已拒绝授权，程序无法继续运行。请重新启动程序并在系统询问时点击“是”。"));
        EXPECT_TRUE(h.closed);
        EXPECT_FALSE(h.Logged(L"start-client 1.0.0.1"));
    }
}

TEST(LauncherStart, MissingClientOffersTheHomePageAndEndsEitherWay) {
    for (bool yes : {true, false}) {
        RecordingHost h;
        h.files.erase(uf::kClientPath);
        h.answers = {yes};
        h.flow.Load(false);
        h.TickUntilSettled();
        EXPECT_EQ(h.Logged(L"open-home-page"), yes);
        EXPECT_TRUE(h.Logged((yes ? L"ask(yes) " : L"ask(no) ") + kAskClientMissing));
        EXPECT_TRUE(h.closed);
    }
}

TEST(LauncherStart, NoUsableManifestStartsTheClientAsIfNoUpdateExisted) {
    RecordingHost h;
    h.manifest.reset();
    h.flow.Load(false);
    h.TickUntilSettled();
    EXPECT_TRUE(h.Logged(L"start-client 1.0.0.1"));
    EXPECT_FALSE(h.Logged(L"download http://127.0.0.1/newtemp.zip"));
    EXPECT_FALSE(h.visible);
}

TEST(LauncherStart, OptionalReleaseStartsTheClientAtOnce) {
    RecordingHost h;
    h.manifest = Release(L"1.0.0.2", false);
    h.flow.Load(false);
    h.TickUntilSettled();
    EXPECT_TRUE(h.Logged(L"start-client 1.0.0.1"));
    EXPECT_EQ(h.Count(L"download"), 0u);
}

TEST(LauncherStart, MandatoryReleaseAnnouncesItselfAndDownloadsWithTheFormShown) {
    RecordingHost h;
    h.manifest = Release(L"1.0.0.2", true);
    h.flow.Load(false);
    h.TickUntilSettled();
    EXPECT_FALSE(h.closed);
    EXPECT_TRUE(h.visible);
    EXPECT_FALSE(h.timer);
    EXPECT_EQ(h.log, (std::vector<std::wstring>{L"ensure-update-folder", L"fetch-manifest",
                                                 L"message 发现新版本！1.0.0.2\r\n修复问题\r\n更快",
                                                 L"taskkill client.exe", L"clear-stale http://127.0.0.1/newtemp.zip",
                                                 L"download http://127.0.0.1/newtemp.zip"}));
    EXPECT_EQ(h.texts[Control::Command1], L"升级中");
    EXPECT_FALSE(h.button_enabled);
    EXPECT_EQ(h.texts[Control::lblMsg], L"正在获取新版连接地址。。");
    EXPECT_EQ(h.texts[Control::Label1], L"当前程序版本：1.0.0.1");
    EXPECT_EQ(h.texts[Control::Label2], L"最新程序版本：1.0.0.2");
    EXPECT_EQ(h.texts[Control::Label3], L"是否重要升级：是");
    EXPECT_EQ(h.texts[Control::Label4], L"版本介绍：\r\n修复问题\r\n更快");
    EXPECT_EQ(h.texts[Control::Label7], L"最新版本名：春季版");
}

TEST(LauncherStart, ATickDoesNotStartAgainWhileTheLastOneWaitsInAMessageBox) {
    RecordingHost h;
    h.manifest = Release(L"1.0.0.2", true);
    h.flow.Load(false);
    h.during_message = [&] {
        h.flow.Tick();
        h.flow.Tick();
    };
    h.flow.Tick();
    EXPECT_EQ(h.Count(L"fetch-manifest"), 1u);
    EXPECT_EQ(h.Count(L"download"), 1u);
}

TEST(UpdateMode, ShowsTheFormAtOnceAndNeverTicks) {
    struct Case {
        std::optional<uf::ManifestView> manifest;
        std::wstring button;
        bool enabled;
    };
    const std::vector<Case> cases = {
        {Release(L"1.0.0.1", false), L"您已是最新版本", false},
        {Release(L"1.0.0.2", false), L"立即升级", true},
        {Release(L"0.9.0.0", false), L"立即升级", true},  // any difference is new, lower ones too
        // Without a manifest the form knows nothing about updates: it does not claim the newest version.
        {std::nullopt, L"无法检查更新", false},
    };
    for (const auto& c : cases) {
        RecordingHost h;
        h.manifest = c.manifest;
        h.flow.Load(true);
        EXPECT_TRUE(h.visible);
        EXPECT_FALSE(h.timer);
        EXPECT_EQ(h.texts[Control::Command1], c.button);
        EXPECT_EQ(h.button_enabled, c.enabled);
        EXPECT_FALSE(h.Logged(L"ensure-update-folder"));
        EXPECT_FALSE(h.Logged(L"start-client 1.0.0.1"));
        h.CloseForm();
        EXPECT_TRUE(h.closed);  // no download running: closes without asking
        EXPECT_EQ(h.Count(L"ask("), 0u);
    }
}

// A download from "立即升级" through to "立即启动" and the new client's start.
TEST(UpdateMode, AFullUpdateEndsWithTheNewClientStartedAndTheArchiveDeleted) {
    RecordingHost h;
    h.manifest = Release(L"1.0.0.2", false);
    h.version_after_unpack = L"1.0.0.2";
    h.flow.Load(true);
    h.flow.ButtonClicked();
    EXPECT_EQ(h.texts[Control::Command1], L"升级中");
    h.flow.DownloadStateChanged(1);
    EXPECT_EQ(h.texts[Control::lblMsg], L"发送请求...");
    h.flow.DownloadProgress(L"12.3 MB", 45.67f, 1000);
    EXPECT_EQ(h.texts[Control::lblMsg], L"文件大小：12.3 MB45.67%");
    h.flow.DownloadProgress(L"12.3 MB", 100.0f, 1001);
    EXPECT_FALSE(h.Logged(L"unpack"));  // a 100 % figure alone unpacks nothing
    h.files.insert(uf::kArchivePath);
    h.flow.DownloadStateChanged(9);
    EXPECT_TRUE(h.Logged(L"message Vantorix已经成功下载了当前最新的：1.0.0.2版本，点确定后程序自动更新文件"));
    EXPECT_TRUE(h.Logged(L"unpack"));
    EXPECT_EQ(h.texts[Control::Command1], L"立即启动");
    EXPECT_TRUE(h.button_enabled);
    EXPECT_EQ(h.texts[Control::lblMsg], L"更新完成！");
    h.flow.ButtonClicked();
    EXPECT_TRUE(h.Logged(L"start-client 1.0.0.2"));
    EXPECT_TRUE(h.Logged(L"delete-archive"));
    EXPECT_TRUE(h.closed);
}

TEST(UpdateMode, ClosingWhileTheArchiveIsInstalledIsRefusedAndAllowedAfterwards) {
    RecordingHost h;
    h.manifest = Release(L"1.0.0.2", false);
    h.flow.Load(true);
    h.flow.ButtonClicked();
    h.files.insert(uf::kArchivePath);
    std::optional<bool> closable;
    h.during_unpack = [&] { closable = h.flow.QueryClose(); };
    h.flow.DownloadStateChanged(9);
    EXPECT_EQ(closable, false);
    EXPECT_EQ(h.texts[Control::Command1], L"立即启动");  // the install ran to its end
    EXPECT_TRUE(h.flow.QueryClose());
}

TEST(UpdateMode, ACompletedDownloadWithoutAnyProgressStillUnpacks) {
    // A resumed archive that was already complete finishes with state 9 and no data block.
    RecordingHost h;
    h.manifest = Release(L"1.0.0.2", false);
    h.flow.Load(true);
    h.flow.ButtonClicked();
    h.files.insert(uf::kArchivePath);
    h.flow.DownloadStateChanged(9);
    EXPECT_TRUE(h.Logged(L"unpack"));
}

TEST(UpdateMode, ARejectedArchiveLeavesTheInstallationAndStartsTheOldClient) {
    RecordingHost h;
    h.manifest = Release(L"1.0.0.2", false);
    h.unpack = {uf::UnpackOutcome::ArchiveRejected, L"damaged entry: bin/client.exe"};
    h.flow.Load(true);
    h.flow.ButtonClicked();
    h.files.insert(uf::kArchivePath);
    h.flow.DownloadStateChanged(9);
    EXPECT_TRUE(h.Logged(L"delete-archive"));
    EXPECT_EQ(h.Count(L"message 下载的更新文件不完整或已损坏"), 1u);
    EXPECT_EQ(h.log.back(), L"closed");
    EXPECT_TRUE(std::any_of(h.log.begin(), h.log.end(), [](const std::wstring& l) {
        return l.find(L"(damaged entry: bin/client.exe)") != std::wstring::npos;
    }));
    EXPECT_TRUE(h.Logged(L"start-client 1.0.0.1"));
    EXPECT_TRUE(h.closed);
}

TEST(UpdateMode, AnArchiveThatIsNotThePublishedOneIsDeletedUnopenedAndTheOldClientStarts) {
    RecordingHost h;
    h.manifest = Release(L"1.0.0.2", true);
    h.manifest->archive.size = 1234;
    h.archive_mismatch = L"SHA-256 校验值与更新信息不符";
    h.flow.Load(false);
    h.TickUntilSettled();
    ASSERT_EQ(h.texts[Control::Command1], L"升级中");
    h.files.insert(uf::kArchivePath);
    h.flow.DownloadStateChanged(9);
    EXPECT_TRUE(h.Logged(L"check-archive size"));
    ExpectArchiveRefused(h, L"SHA-256 校验值与更新信息不符");
}

TEST(UpdateMode, AnArchiveLargerThanPublishedIsRefusedWhileDownloadingAndTheOldClientStarts) {
    RecordingHost h;
    h.manifest = Release(L"1.0.0.2", true);
    h.manifest->archive.size = 1234;
    h.flow.Load(false);
    h.TickUntilSettled();
    ASSERT_EQ(h.texts[Control::Command1], L"升级中");
    EXPECT_EQ(h.Count(L"download " + h.manifest->url + L" size=1234"), 1u);  // the cap reaches the downloader
    h.flow.DownloadOversized();
    ExpectArchiveRefused(h, L"文件大小与更新信息不符");
}

TEST(UpdateMode, AFileThatCannotBeWrittenOffersTheUpdateAgainInsteadOfStartingAMixedInstallation) {
    RecordingHost h;
    h.manifest = Release(L"1.0.0.2", false);
    h.unpack = {uf::UnpackOutcome::WriteFailed, L"cannot write file: bin/client.exe"};
    h.flow.Load(true);
    h.flow.ButtonClicked();
    h.files.insert(uf::kArchivePath);
    h.flow.DownloadStateChanged(9);
    EXPECT_EQ(h.texts[Control::Command1], L"立即升级");
    EXPECT_TRUE(h.button_enabled);
    EXPECT_FALSE(h.Logged(L"start-client 1.0.0.1"));
    EXPECT_FALSE(h.closed);
    h.flow.ButtonClicked();  // the user tries again
    EXPECT_EQ(h.Count(L"download"), 2u);
}

TEST(UpdateMode, AMissingArchiveAtCompletionOffersTheHomePage) {
    for (bool yes : {true, false}) {
        RecordingHost h;
        h.manifest = Release(L"1.0.0.2", false);
        h.answers = {yes};
        h.flow.Load(true);
        h.flow.ButtonClicked();
        h.flow.DownloadStateChanged(9);
        EXPECT_FALSE(h.Logged(L"unpack"));
        EXPECT_EQ(h.Logged(L"open-home-page"), yes);
        EXPECT_EQ(h.closed, yes);
    }
}

TEST(UpdateMode, DownloadStatesShowTheirStatusAndKeepTheGuard) {
    const std::vector<std::pair<int, std::wstring>> states = {
        {1, L"发送请求..."}, {2, L"获取远程文件信息..."}, {3, L"开始接收数据..."},
        {5, L"停止下载"},   {6, L"暂停下载"},           {0, L""},                {11, L""},
    };
    for (const auto& [state, text] : states) {
        RecordingHost h;
        h.manifest = Release(L"1.0.0.2", false);
        h.flow.Load(true);
        h.flow.ButtonClicked();
        h.flow.DownloadStateChanged(state);
        EXPECT_EQ(h.texts[Control::lblMsg], text) << state;
        EXPECT_EQ(h.texts[Control::Command1], L"升级中") << state;
    }
}

// Failures that are not worth an automatic attempt hand the update back at once: the button offers it
// again, closing no longer asks, and a user who closes gets the current client.
TEST(DownloadFailure, AFailureThatWillNotPassOffersTheUpdateAgainAndClosingStartsTheClient) {
    const std::vector<std::pair<int, int>> failures = {{7, 404}, {7, 0}, {8, 0}, {10, 200}};
    for (const auto& [state, status] : failures) {
        RecordingHost h;
        h.manifest = Release(L"1.0.0.2", true);
        h.flow.Load(false);
        h.TickUntilSettled();
        h.flow.DownloadStateChanged(state, status);
        EXPECT_TRUE(h.retry_delays.empty()) << state;
        EXPECT_EQ(h.texts[Control::Command1], L"立即升级") << state;
        EXPECT_TRUE(h.button_enabled) << state;
        EXPECT_EQ(h.texts[Control::lblMsg].rfind(uf::StateText(state), 0), 0u) << state;
        h.CloseForm();
        EXPECT_TRUE(h.closed) << state;
        EXPECT_EQ(h.Count(L"ask("), 0u) << state;
        EXPECT_EQ(h.Count(L"start-client 1.0.0.1"), 1u) << state;
    }
}

TEST(DownloadFailure, DropsAndServerErrorsAreRetriedWithGrowingDelaysThenHandedToTheUser) {
    RecordingHost h;
    h.manifest = Release(L"1.0.0.2", true);
    h.flow.Load(false);
    h.TickUntilSettled();
    ASSERT_EQ(h.Count(L"download"), 1u);
    const std::pair<int, int> failures[] = {{7, 503}, {4, 0}, {7, 500}};
    std::wstring waiting;
    for (const auto& [state, status] : failures) {
        h.flow.DownloadStateChanged(state, status);
        EXPECT_EQ(h.texts[Control::Command1], L"升级中");
        waiting = h.texts[Control::lblMsg];
        h.flow.RetryDue();
    }
    EXPECT_EQ(h.retry_delays, (std::vector<unsigned>{2000, 4000, 8000}));
    EXPECT_EQ(h.Count(L"download"), 4u);
    EXPECT_EQ(h.Count(L"clear-stale"), 1u);  // attempts resume from the side files
    EXPECT_EQ(waiting, L"连接服务器失败，8 秒后自动重试（第 3/3 次）");
    h.flow.DownloadStateChanged(4);
    EXPECT_EQ(h.retry_delays.size(), 3u);
    EXPECT_EQ(h.texts[Control::Command1], L"立即升级");
    // The user's own attempt gets the automatic ones again.
    h.flow.ButtonClicked();
    h.flow.DownloadStateChanged(4);
    EXPECT_EQ(h.retry_delays.size(), 4u);
}

TEST(DownloadFailure, ARetryThatSucceedsEndsAsAnyUpdateWithoutAnExtraClient) {
    RecordingHost h;
    h.manifest = Release(L"1.0.0.2", false);
    h.version_after_unpack = L"1.0.0.2";
    h.flow.Load(true);
    h.flow.ButtonClicked();
    h.flow.DownloadStateChanged(4);
    h.flow.RetryDue();
    h.files.insert(uf::kArchivePath);
    h.flow.DownloadStateChanged(9);
    ASSERT_EQ(h.texts[Control::Command1], L"立即启动");
    h.flow.ButtonClicked();
    EXPECT_TRUE(h.closed);
    EXPECT_EQ(h.Count(L"start-client"), 1u);
}

TEST(DownloadFailure, GivingUpDuringTheWaitAsksThenStartsTheCurrentClient) {
    RecordingHost h;
    h.manifest = Release(L"1.0.0.2", true);
    h.flow.Load(false);
    h.TickUntilSettled();
    h.flow.DownloadStateChanged(7, 502);
    h.answers = {true};
    h.CloseForm();
    EXPECT_TRUE(h.Logged(L"ask(yes) " + kAskForceClose));
    EXPECT_TRUE(h.Logged(L"start-client 1.0.0.1"));
    h.flow.RetryDue();  // a timer that fires after the end starts nothing
    EXPECT_EQ(h.Count(L"download"), 1u);
}

TEST(UpdateMode, ClosingDuringADownloadAsksAndNoKeepsTheFormOpen) {
    RecordingHost h;
    h.manifest = Release(L"1.0.0.2", false);
    h.flow.Load(true);
    h.flow.ButtonClicked();
    h.answers = {false, true};
    h.CloseForm();
    EXPECT_FALSE(h.closed);
    EXPECT_TRUE(h.Logged(L"ask(no) " + kAskForceClose));
    h.flow.DownloadProgress(L"1.00 KB", 50.0f, 1000);  // the download goes on
    EXPECT_EQ(h.texts[Control::lblMsg], L"文件大小：1.00 KB50.00%");
    h.CloseForm();
    EXPECT_TRUE(h.closed);
    h.flow.DownloadStateChanged(9);  // events after the end change nothing
    EXPECT_FALSE(h.Logged(L"unpack"));
}

TEST(UpdateMode, StartNowAfterAnInstallStartsTheClientEvenWhenItsVersionDiffersFromTheManifest) {
    // The release's client carries another version than the manifest announces: comparing again would
    // download the same archive for ever. The form shows the version now installed instead.
    RecordingHost h;
    h.manifest = Release(L"1.0.0.9", false);
    h.version_after_unpack = L"1.0.0.2";
    h.flow.Load(true);
    h.flow.ButtonClicked();
    h.files.insert(uf::kArchivePath);
    h.flow.DownloadStateChanged(9);
    ASSERT_EQ(h.texts[Control::Command1], L"立即启动");
    EXPECT_EQ(h.texts[Control::Label1], L"当前程序版本：1.0.0.2");
    h.flow.ButtonClicked();
    EXPECT_EQ(h.Count(L"download"), 1u);
    EXPECT_TRUE(h.Logged(L"start-client 1.0.0.2"));
    EXPECT_TRUE(h.Logged(L"delete-archive"));
    EXPECT_TRUE(h.closed);
}

TEST(UpdateMode, ADeclinedElevationIsToldOnceStartsTheCurrentClientAndOffersTheUpdateAtTheNextStart) {
    // Also with a mandatory release: each start asks once, and never loops within a start.
    for (int start = 0; start < 2; ++start) {
        RecordingHost h;
        h.manifest = Release(L"1.0.0.2", true);
        h.unpack = {uf::UnpackOutcome::ElevationDeclined, L""};
        h.flow.Load(false);
        h.TickUntilSettled();
        h.files.insert(uf::kArchivePath);
        h.flow.DownloadStateChanged(9);
        EXPECT_EQ(h.Count(L"download "), 1u);
        EXPECT_EQ(h.Count(L"unpack"), 1u);
        EXPECT_EQ(h.Count(L"message 安装更新需要管理员权限，您已拒绝授权"), 1u);
        EXPECT_TRUE(h.Logged(L"delete-archive"));
        EXPECT_TRUE(h.Logged(L"start-client 1.0.0.1"));
        EXPECT_TRUE(h.closed);
    }
}

TEST(LauncherStart, ALaterStartsRequestForTheFormShowsItInsteadOfStartingTheClientAndClosingStartsIt) {
    RecordingHost h;
    h.manifest = Release(L"1.0.0.2", false);
    h.flow.Load(false);
    h.flow.UpdateRequested();
    h.TickUntilSettled();
    EXPECT_TRUE(h.visible);
    EXPECT_FALSE(h.timer);
    EXPECT_FALSE(h.Logged(L"start-client 1.0.0.1"));
    EXPECT_EQ(h.texts[Control::Command1], L"立即升级");
    h.CloseForm();
    EXPECT_TRUE(h.closed);
    EXPECT_EQ(h.Count(L"start-client"), 1u);
}

TEST(InstallStep, EveryExitCodeMapsToTheOutcomeTheFormShows) {
    using uf::StepExit;
    using uf::UnpackOutcome;
    const std::vector<std::tuple<unsigned long, UnpackOutcome, std::wstring>> cases = {
        {0, UnpackOutcome::Done, L""},
        {static_cast<unsigned long>(StepExit::ComponentsFailed), UnpackOutcome::Done, L""},
        {static_cast<unsigned long>(StepExit::ManifestRefused), UnpackOutcome::ArchiveRejected, L"安装步骤未能确认更新信息"},
        {static_cast<unsigned long>(StepExit::ArchiveUnreadable), UnpackOutcome::ArchiveRejected, L"无法读取下载的文件"},
        {static_cast<unsigned long>(StepExit::WrongSize), UnpackOutcome::ArchiveRejected, L"文件大小与更新信息不符"},
        {static_cast<unsigned long>(StepExit::WrongHash), UnpackOutcome::ArchiveRejected, L"SHA-256 校验值与更新信息不符"},
        {static_cast<unsigned long>(StepExit::MissingSignature), UnpackOutcome::ArchiveRejected, L"更新信息缺少发布者签名"},
        {static_cast<unsigned long>(StepExit::BadSignature), UnpackOutcome::ArchiveRejected, L"发布者签名无效"},
        {static_cast<unsigned long>(StepExit::ArchiveRejected), UnpackOutcome::ArchiveRejected, L"更新文件已损坏或无法使用"},
        {static_cast<unsigned long>(StepExit::NoRoom), UnpackOutcome::NoRoom, L""},
        {static_cast<unsigned long>(StepExit::DeltaRefused), UnpackOutcome::DeltaRefused, L"the delta does not apply (step exit 14)"},
        {static_cast<unsigned long>(StepExit::InstallationRefused), UnpackOutcome::InstallationRefused, L""},
        {static_cast<unsigned long>(StepExit::NotSignedByPublisher), UnpackOutcome::ArchiveRejected,
         L"更新中的程序文件缺少发布者的数字签名"},
        {static_cast<unsigned long>(StepExit::WriteFailed), UnpackOutcome::WriteFailed, L"安装步骤失败，代码 9"},
        {static_cast<unsigned long>(StepExit::InstallBusy), UnpackOutcome::WriteFailed, L"安装步骤失败，代码 11"},
        {static_cast<unsigned long>(StepExit::BadCommandLine), UnpackOutcome::WriteFailed, L"安装步骤失败，代码 1"},
        {0xC0000005ul, UnpackOutcome::WriteFailed, L"安装步骤失败，代码 3221225477"},  // a crash
    };
    for (const auto& [code, outcome, reason] : cases) {
        const uf::UnpackResult result = uf::OutcomeOfInstallStep(code);
        EXPECT_EQ(result.outcome, outcome) << code;
        EXPECT_EQ(result.reason, reason) << code;
    }
}

TEST(FlowTexts, FoldersAndLinesAreBuiltAsTheFormShowsThem) {
    EXPECT_EQ(uf::UpdateFolderOf(L"C:\\App"), L"C:\\App\\update");
    EXPECT_EQ(uf::UpdateFolderOf(L"C:\\"), L"C:\\update");
    EXPECT_EQ(uf::ProgressText(L"12.3 MB", 45.67f), L"文件大小：12.3 MB45.67%");
    EXPECT_EQ(uf::ProgressText(L"532 bytes", 100.0f), L"文件大小：532 bytes100.00%");
    EXPECT_EQ(uf::ProgressText(L"1.45 KB", 0.0f), L"文件大小：1.45 KB0.00%");
    EXPECT_EQ(uf::StateText(9), L"下载完毕");
    EXPECT_EQ(uf::StateText(-1), L"");
}

// A release with a delta for the installed 1.0.0.1 (and one for another version, never taken).
uf::ManifestView ReleaseWithDeltas() {
    uf::ManifestView m = Release(L"1.0.0.2", false);
    m.archive.size = 5000;
    vantorix::integrity::ExpectedArchive delta;
    delta.size = 300;
    m.deltas = {{L"1.0.0.0", L"http://127.0.0.1/old.delta.zip", delta}, {L"1.0.0.1", L"http://127.0.0.1/d.delta.zip", delta}};
    return m;
}

TEST(Delta, TheDeltaForTheInstalledVersionIsTakenAndAnyFailureFallsBackToTheFullArchiveOnce) {
    const std::wstring delta = L"download http://127.0.0.1/d.delta.zip size=300",
                       full = L"download http://127.0.0.1/newtemp.zip size=5000";
    struct Case {
        const char* what;
        int delta_state;        // how the delta's download ends (9: complete)
        bool oversized;         // the downloader cut the delta off for its size
        uf::UnpackOutcome applied;  // what applying it gives
        std::vector<std::wstring> downloads;
        const wchar_t* fell_back;   // the reason given, "" when the delta did it
    } cases[] = {
        {"applied", 9, false, uf::UnpackOutcome::Done, {delta}, L""},
        {"installed file differs", 9, false, uf::UnpackOutcome::DeltaRefused, {delta, full}, L"differs"},
        {"delta's own hash wrong", 9, false, uf::UnpackOutcome::ArchiveRejected, {delta, full}, L"differs"},
        {"commit failed, restored", 9, false, uf::UnpackOutcome::WriteFailed, {delta, full}, L"differs"},
        {"server refused the delta", 7, false, uf::UnpackOutcome::Done, {delta, full}, L"delta download failed in state 7, HTTP 404"},
        {"delta larger than published", 7, true, uf::UnpackOutcome::Done, {delta, full}, L"the delta is larger than published"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        RecordingHost h;
        h.manifest = ReleaseWithDeltas();
        h.version_after_unpack = L"1.0.0.2";
        h.delta = {c.applied, L"differs"};
        h.flow.Load(true);
        h.flow.ButtonClicked();
        h.files.insert(uf::kDeltaPath);
        if (c.oversized) h.flow.DownloadOversized();
        else h.flow.DownloadStateChanged(c.delta_state, c.delta_state == 9 ? 200 : 404);
        if (h.Count(L"download ") == 2) {
            EXPECT_EQ(h.texts[Control::Command1], L"升级中");  // the close guard still asks
            h.files.insert(uf::kArchivePath);
            h.flow.DownloadStateChanged(9);
        }
        std::vector<std::wstring> downloads;
        for (const auto& line : h.log)
            if (line.rfind(L"download ", 0) == 0) downloads.push_back(line);
        EXPECT_EQ(downloads, c.downloads);
        EXPECT_EQ(h.Logged(L"abandon-delta " + std::wstring(c.fell_back)), *c.fell_back != 0);
        EXPECT_EQ(h.Count(L"unpack"), *c.fell_back ? 1u : 0u);
        // The user is told once that the update arrived, whichever package brought it, and asked nothing.
        EXPECT_EQ(h.Count(L"message Vantorix已经成功下载了"), 1u);
        EXPECT_EQ(h.Count(L"ask("), 0u);
        EXPECT_EQ(h.texts[Control::Command1], L"立即启动");
    }
}

TEST(Delta, WithoutADeltaForTheInstalledVersionTheFullArchiveComesAndAFailedFullOneIsNotRetriedAsADelta) {
    RecordingHost h;
    h.manifest = ReleaseWithDeltas();
    h.manifest->deltas.pop_back();  // only the one for 1.0.0.0
    h.flow.Load(true);
    h.flow.ButtonClicked();
    EXPECT_EQ(h.Count(L"download http://127.0.0.1/newtemp.zip"), 1u);
    EXPECT_EQ(h.Count(L"download http://127.0.0.1/old.delta.zip"), 0u);

    RecordingHost g;
    g.manifest = ReleaseWithDeltas();
    g.delta = {uf::UnpackOutcome::DeltaRefused, L"differs"};
    g.unpack = {uf::UnpackOutcome::WriteFailed, L"in use"};
    g.flow.Load(true);
    g.flow.ButtonClicked();
    g.files.insert(uf::kDeltaPath);
    g.flow.DownloadStateChanged(9);
    g.files.insert(uf::kArchivePath);
    g.flow.DownloadStateChanged(9);
    EXPECT_EQ(g.texts[Control::Command1], L"立即升级");  // offered again
    g.flow.ButtonClicked();  // the user tries again: the full archive, not the delta that failed
    EXPECT_EQ(g.Count(L"download http://127.0.0.1/d.delta.zip"), 1u);
    EXPECT_EQ(g.Count(L"download http://127.0.0.1/newtemp.zip"), 2u);
}

TEST(Delta, AnInstallationTheStepRefusesIsToldOnceAndStartsTheCurrentClientWithoutAnotherPackage) {
    // Step exit 15: not the protected installation the setup registered. The full archive after a delta would
    // meet the same refusal (and a second prompt): one message, the current client, the end.
    for (const bool delta : {false, true}) {
        SCOPED_TRACE(delta ? "delta" : "full archive");
        RecordingHost h;
        h.manifest = delta ? ReleaseWithDeltas() : Release(L"1.0.0.2", false);
        h.unpack = h.delta = {uf::UnpackOutcome::InstallationRefused, L""};
        h.flow.Load(true);
        h.flow.ButtonClicked();
        h.files.insert(delta ? uf::kDeltaPath : uf::kArchivePath);
        h.flow.DownloadStateChanged(9);
        EXPECT_EQ(h.Count(L"download "), 1u);
        EXPECT_FALSE(h.Logged(L"abandon-delta"));
        EXPECT_EQ(h.Count(L"message 安装步骤只更新由安装程序登记、且仅管理员可以修改的安装目录"), 1u);
        EXPECT_TRUE(h.Logged(L"delete-archive"));
        EXPECT_TRUE(h.Logged(L"start-client 1.0.0.1"));
        EXPECT_TRUE(h.closed);
    }
}

// A release whose rollout has not reached this installation yet is no update for it, a mandatory one
// included: the hidden start goes on to the client, the form offers nothing.
TEST(Rollout, AReleaseHeldBackBehavesAsNoUpdate) {
    for (const bool update_mode : {false, true}) {
        for (const bool mandatory : {false, true}) {
            RecordingHost h;
            h.manifest = Release(L"1.0.0.2", mandatory);
            h.manifest->held_back = true;
            h.flow.Load(update_mode);
            h.TickUntilSettled();
            const std::string which = std::string(update_mode ? "-update" : "start") + (mandatory ? " mandatory" : "");
            EXPECT_EQ(h.Count(L"download"), 0u) << which;
            EXPECT_EQ(h.Count(L"message"), 0u) << which;
            EXPECT_EQ(h.texts[Control::Command1], L"您已是最新版本") << which;
            EXPECT_FALSE(h.button_enabled) << which;
            EXPECT_EQ(h.texts[Control::Label2], L"最新程序版本：1.0.0.1") << which;
            EXPECT_EQ(h.texts[Control::Label3], L"是否重要升级：否") << which;
            EXPECT_EQ(h.Count(L"start-client 1.0.0.1"), update_mode ? 0u : 1u) << which;
            EXPECT_EQ(h.closed, !update_mode) << which;
            h.flow.ButtonClicked();
            EXPECT_EQ(h.Count(L"download"), 0u) << which;
        }
    }
}

// The wait before each automatic attempt comes from the host's random number and the server's Retry-After.
TEST(DownloadFailure, RetryWaitsSpreadByChanceAndHonourRetryAfter) {
    struct Case {
        int state, status;
        std::optional<uint64_t> after_s;
        double jitter;
        unsigned low, high;  // the wait, in ms
    } cases[] = {
        {4, 0, {}, 0.0, 1000, 1000},          // half the growing delay at the low end of the spread
        {4, 0, {}, 0.999, 2990, 3000},        // one and a half times at the high end
        {7, 503, 3, 0.0, 3000, 3000},         // at least what the server asked
        {7, 429, 10, 0.5, 11250, 11250},      // and up to a quarter more
        {7, 500, 30, 0.5, 2000, 2000},        // Retry-After counts only with 429 and 503
        {7, 503, 86400, 0.5, 300000, 300000}, // bounded
    };
    for (const Case& c : cases) {
        RecordingHost h;
        h.manifest = Release(L"1.0.0.2", true);
        h.jitters = {c.jitter};
        h.flow.Load(false);
        h.TickUntilSettled();
        h.flow.DownloadStateChanged(c.state, c.status, c.after_s);
        ASSERT_EQ(h.retry_delays.size(), 1u) << c.status;
        EXPECT_GE(h.retry_delays[0], c.low) << c.status << " " << c.jitter;
        EXPECT_LE(h.retry_delays[0], c.high) << c.status << " " << c.jitter;
    }
}

// The status line follows the whole percentage, not every block: a slow download of 10,001 blocks (a
// second apart) repaints it 101 times; any other text in between makes the next figure show again, even
// within the pace's interval.
TEST(DownloadProgressText, RepaintsOnlyWhenTheWholePercentageChanges) {
    RecordingHost h;
    h.manifest = Release(L"1.0.0.2", false);
    h.flow.Load(true);
    h.flow.ButtonClicked();
    h.status_repaints = 0;
    for (int block = 0; block <= 10000; ++block) h.flow.DownloadProgress(L"1.00 MB", block / 100.0f, block * 1000ull);
    EXPECT_EQ(h.status_repaints, 101);
    EXPECT_EQ(h.texts[Control::lblMsg], L"文件大小：1.00 MB100.00%");
    h.flow.DownloadStateChanged(4);
    h.flow.RetryDue();
    h.flow.DownloadProgress(L"1.00 MB", 100.0f, 10000001);
    EXPECT_EQ(h.texts[Control::lblMsg], L"文件大小：1.00 MB100.00%");
    h.flow.DownloadStateChanged(3);
    h.flow.DownloadProgress(L"1.00 MB", 57.5f, 10000002);
    EXPECT_EQ(h.texts[Control::lblMsg], L"文件大小：1.00 MB57.50%");
}

// A fast download (all of it within one second, a block a millisecond) repaints the status line a few
// times a second, not at every percentage; its first figure and its end show.
TEST(DownloadProgressText, AFastDownloadRepaintsAFewTimesASecond) {
    RecordingHost h;
    h.manifest = Release(L"1.0.0.2", false);
    h.flow.Load(true);
    h.flow.ButtonClicked();
    h.flow.DownloadStateChanged(3);
    h.status_repaints = 0;
    std::vector<std::wstring> shown;
    std::wstring last = h.texts[Control::lblMsg];
    for (int block = 1; block <= 1000; ++block) {
        h.flow.DownloadProgress(L"1.00 MB", block / 10.0f, 5000 + block);
        if (h.texts[Control::lblMsg] != last) shown.push_back(last = h.texts[Control::lblMsg]);
    }
    // At 0.1 %, then 250 ms later and every 250 ms after (25 %, 50 %, 75 %), and 100 %.
    EXPECT_EQ(h.status_repaints, 5);
    ASSERT_EQ(shown.size(), 5u);
    EXPECT_EQ(shown.front(), L"文件大小：1.00 MB0.10%");
    EXPECT_EQ(shown[1], L"文件大小：1.00 MB25.10%");
    EXPECT_EQ(shown.back(), L"文件大小：1.00 MB100.00%");
}

// The pace as a table: which whole percentages, at which times, reach the screen.
TEST(ProgressPace, ShowsStartsEndsAndChangesAtMostOncePerInterval) {
    struct Step {
        int whole;
        std::uint64_t now_ms;
        bool shown;
    };
    const Step steps[] = {
        {3, 1000, true},    // the first figure
        {3, 2000, false},   // unchanged
        {4, 1100, false},   // changed within the interval
        {5, 1250, true},    // changed, the interval passed
        {6, 1300, false},
        {100, 1301, true},  // the end always shows
        {0, 1302, true},    // a start always shows
        {1, 1303, false},
        {0, 1304, false},   // already on screen
        {2, 1600, true},
        {1, 1601, true},    // went back: a new run
    };
    uf::ProgressPace pace;
    for (const Step& step : steps) EXPECT_EQ(pace.Due(step.whole, step.now_ms), step.shown) << step.whole << " at " << step.now_ms;
    pace.Reset();
    EXPECT_TRUE(pace.Due(1, 1602));  // something else was shown meanwhile
}

// The flow records each transition as one line, in the order the form went through them, and the button
// always shows the caption of the state it entered.
TEST(FlowRecord, EveryTransitionIsOneLineInOrderAndTheButtonFollowsTheState) {
    using T = std::vector<std::wstring>;
    {  // a failed download waits, is tried again, a close during it is refused, the update installs
        RecordingHost h;
        h.manifest = Release(L"1.0.0.2", false);
        h.flow.Load(true);
        h.flow.ButtonClicked();
        h.flow.DownloadStateChanged(4);  // a dropped connection: tried again after a wait
        EXPECT_EQ(h.flow.State(), uf::FlowState::RetryWait);
        EXPECT_EQ(h.texts[Control::Command1], L"升级中");
        h.flow.RetryDue();
        h.answers = {false};
        h.CloseForm();
        h.files.insert(uf::kArchivePath);
        h.flow.DownloadStateChanged(9);
        EXPECT_EQ(h.texts[Control::Command1], L"立即启动");
        h.flow.ButtonClicked();
        EXPECT_EQ(h.transitions, (T{L"starting -> offered (manifest-newer)", L"offered -> downloading (update-started)",
                                    L"downloading -> retry-wait (download-failed)", L"retry-wait -> downloading (retry-due)",
                                    L"downloading -> downloading (close-refused)",
                                    L"downloading -> downloaded (download-complete)",
                                    L"downloaded -> installing (install-started)", L"installing -> installed (install-done)",
                                    L"installed -> ended (closed)"}));
    }
    {  // no usable manifest: a state of its own, the status says why, closing ends without a client
        RecordingHost h;
        h.manifest.reset();
        h.flow.Load(true);
        EXPECT_EQ(h.texts[Control::Command1], L"无法检查更新");
        EXPECT_FALSE(h.button_enabled);
        EXPECT_EQ(h.texts[Control::lblMsg], L"无法获取更新信息，请稍后再试");
        h.flow.ButtonClicked();
        h.CloseForm();
        EXPECT_EQ(h.transitions, (T{L"starting -> no-manifest (manifest-missing)", L"no-manifest -> ended (closed)"}));
        EXPECT_EQ(h.Count(L"start-client"), 0u);
    }
    {  // a refused archive at a mandatory start, and the delta that falls back to the full archive
        RecordingHost h;
        h.manifest = Release(L"1.0.0.2", true);
        h.manifest->deltas = {{L"1.0.0.1", L"http://127.0.0.1/d.zip", {}}};
        h.delta = {uf::UnpackOutcome::DeltaRefused, L"no fit"};
        h.unpack = {uf::UnpackOutcome::ArchiveRejected, L"bad"};
        h.flow.Load(false);
        h.TickUntilSettled();
        h.files.insert(uf::kDeltaPath);
        h.flow.DownloadStateChanged(9);
        h.files.insert(uf::kArchivePath);
        h.flow.DownloadStateChanged(9);
        EXPECT_EQ(h.transitions, (T{L"starting -> offered (manifest-newer)", L"offered -> downloading (update-started)",
                                    L"downloading -> downloaded (download-complete)",
                                    L"downloaded -> installing (install-started)",
                                    L"installing -> downloading (delta-fallback)",
                                    L"downloading -> downloaded (download-complete)",
                                    L"downloaded -> installing (install-started)",
                                    L"installing -> rejected (archive-rejected)", L"rejected -> ended (closed)"}));
        EXPECT_EQ(h.texts[Control::Command1], L"升级完毕");
    }
}
