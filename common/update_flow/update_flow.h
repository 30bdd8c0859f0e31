#pragma once
// The launcher's start-up and update flow as a state machine over a host interface: form load, the
// 500 ms ticks, the manifest check (update_common), the one button, the downloader's events and the close
// guard. The host does the real work (files, processes, message boxes, the form's controls); the flow
// decides what happens next. No windows.h here, so the whole decision table runs in native tests.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/integrity/expected_archive.h"
#include "common/update_flow/progress_pace.h"

namespace vantorix::update_flow {

// Installation-relative paths (joined to the launcher's folder by the host).
inline constexpr wchar_t kClientPath[] = L"\\bin\\client.exe";
inline constexpr wchar_t kArchivePath[] = L"\\update\\newtemp.zip";
// A delta package is downloaded beside the archive under its own name (same side files: ".dl", ".dl.cfg",
// ".dl.tag"), so a fall-back to the full archive never meets the delta's bytes.
inline constexpr wchar_t kDeltaPath[] = L"\\update\\newtemp.delta.zip";
inline constexpr wchar_t kMarkerPath[] = L"\\Build\\installock.txt";
inline constexpr wchar_t kClientToken[] = L"-2018.06.21";
inline constexpr wchar_t kUpdateArgument[] = L"-update";
inline constexpr wchar_t kControlFileName[] = L"Velview_G_201.ocx";
inline constexpr wchar_t kMarkerText[] = L"创建文件\r\n";

// The form's visible controls, top to bottom.
enum class Control { Label1, Label7, Label2, Label3, Label4, lblMsg, Command1 };

// A delta package the manifest offers for one installed client version.
struct DeltaView {
    std::wstring from;  // the client version text it applies to
    std::wstring url;
    integrity::ExpectedArchive package;  // its published size, SHA-256 and signature
};

// What an update downloads: the delta for the installed version, or the full archive at "url".
enum class Package { Full, Delta };

// What the form shows as the manifest check's outcome. The host reads the manifest and takes the
// decisions of the manifest module; nullopt means "no usable manifest".
struct ManifestView {
    std::wstring version, url, uptext, new_title;
    std::wstring mandatory_shown;  // "是" or "否"
    bool mandatory = false;        // force_mod read as a number is above 0
    integrity::ExpectedArchive archive{};  // the published size and SHA-256, when there are any
    std::vector<DeltaView> deltas{};     // signed delta packages, each for one installed version
    // The release is not offered to this installation yet (its draw lies outside the rollout share opened
    // so far): the launcher behaves as when the installed version is the newest, a mandatory one included.
    bool held_back = false;
};

enum class UnpackOutcome {
    Done,             // every file of the archive is in place
    ArchiveRejected,  // the archive was refused before any file was touched: the installation is as it was
    WriteFailed,      // a file or folder could not be written part-way: some files are new, some old
    NoRoom,           // the unpacked files would not fit in the free disk space: nothing was written
    ElevationDeclined,  // the user refused the elevation the install needs: nothing was written
    DeltaRefused,     // the delta does not fit the installation or is damaged: nothing was written, the full
                      // archive follows
    InstallationRefused,  // the elevated step acts only on the protected installation the setup registered and
                          // refused this one: nothing was written, and no other package would fare better
};

struct UnpackResult {
    UnpackOutcome outcome = UnpackOutcome::ArchiveRejected;
    std::wstring reason;  // what the extractor says, with the entry concerned
};

// The flow's one state. The button's caption, and whether it can be pressed, follow from it (CaptionOf);
// the flow never reads the caption back.
enum class FlowState {
    Starting,     // form load and the hidden start's ticks, before the manifest is checked
    UpToDate,     // the installed version is the newest (or the newest is not offered here yet)
    NoManifest,   // no usable manifest: nothing is known about updates
    Offered,      // a newer version can be downloaded with the button
    Withdrawn,    // the offer stands but cannot be taken in this run (a refusal is being told, then the end)
    Downloading,  // a download runs
    RetryWait,    // a failed download waits for its next automatic attempt
    Downloaded,   // the download completed; the archive is announced and looked for
    Installing,   // the archive is verified and installed: the form may not close
    Rejected,     // the downloaded archive was refused before a file was touched (being told, then the end)
    Installed,    // the update is in place; the button starts the client
    Ended,        // the form closed
};

// What moved the flow from one state to another.
enum class FlowEvent {
    ManifestCurrent, ManifestMissing, ManifestNewer, UpdateStarted, DownloadFailed, RetryDue, DownloadGivenUp,
    DownloadComplete, Oversized, InstallStarted, InstallDone, WriteFailed, NoRoom, ElevationDeclined,
    InstallationRefused, ArchiveRejected, DeltaFallBack, CloseRefused, Closed,
};

struct Caption {
    const wchar_t* text;
    bool enabled;
};
// The button of a state. Starting has the form's initial button; Ended keeps whatever the button showed last
// (nullptr text).
Caption CaptionOf(FlowState state);
// Stable names for the log: "downloading", "retry-wait", "update-started", "close-refused", ...
const wchar_t* NameOf(FlowState state);
const wchar_t* NameOf(FlowEvent event);
// One line of the launcher's log per transition: "offered -> downloading (update-started)".
std::wstring TransitionText(FlowState from, FlowState to, FlowEvent event);

// How the start of the registration script went.
enum class RegistrationStart {
    Started,   // running (elevated where the system asks for it)
    Declined,  // the user refused the elevation the script needs
    Failed,    // it could not be started
};

class FlowHost {
public:
    virtual ~FlowHost() = default;
    // What is in place: the client (kClientPath), the first-start marker (kMarkerPath, in the installation or
    // the user's folder), the downloaded package of that kind (the archive or the delta, where the host
    // downloads), the control library (in place, its classes pointing at it).
    virtual bool ClientExists() = 0;
    virtual bool MarkerExists() = 0;
    virtual bool DownloadedPackageExists(Package package) = 0;
    virtual bool ControlFileExists() = 0;
    virtual bool CreateMarker() = 0;  // the marker file, creating its folder when missing
    virtual void EnsureUpdateFolder() = 0;
    virtual std::wstring LocalVersion() = 0;  // file version of the client, "" when it is missing
    virtual std::optional<ManifestView> FetchManifest() = 0;
    // Processes.
    virtual RegistrationStart StartRegistration() = 0;
    virtual bool RegistrationRunning() = 0;
    virtual void StartClient() = 0;
    virtual void EndRunningClients() = 0;
    virtual void OpenHomePage() = 0;
    // The update archive.
    // package: which file of the update folder (kArchivePath or kDeltaPath) the download goes to.
    virtual void ClearStaleArchive(const std::wstring& url, Package package) = 0;
    // published_size: the manifest's "size", when it has one; the downloader accepts no more bytes.
    virtual void StartDownload(const std::wstring& url, std::optional<std::uint64_t> published_size,
                               Package package) = 0;
    // Why the downloaded archive is not the one the manifest describes; "" when it is (or nothing is
    // published, or the install checks it itself): a refusal before anything else is tried.
    virtual std::wstring ArchiveMismatch(const integrity::ExpectedArchive& expected) = 0;
    // Checks the archive against `expected` once more where it is installed from, and installs it.
    virtual UnpackResult UnpackArchive(const integrity::ExpectedArchive& expected) = 0;
    virtual void DeleteArchive() = 0;
    // Checks the downloaded delta against `expected`, checks it against the installed files and applies it
    // (Done), or tells why not; DeltaRefused and ArchiveRejected leave the installation as it was.
    virtual UnpackResult ApplyDelta(const integrity::ExpectedArchive& expected) = 0;
    // The delta is given up for the full archive: logs the reason and removes the delta and its side files.
    virtual void AbandonDelta(const std::wstring& reason) = 0;
    // User interface.
    virtual bool AskYesNo(const std::wstring& text) = 0;
    virtual void ShowMessage(const std::wstring& text) = 0;
    virtual void SetText(Control control, const std::wstring& text) = 0;
    virtual void EnableButton(bool enabled) = 0;
    virtual void ShowForm(bool visible) = 0;
    virtual void SetTimer(bool enabled) = 0;
    // Asks the form to close; the form calls UpdateFlow::QueryClose, which may refuse.
    virtual void CloseForm() = 0;
    // Calls UpdateFlow::RetryDue once, after the delay; a later call replaces an earlier one.
    virtual void ScheduleRetry(unsigned delay_ms) = 0;
    // A fresh random number, 0 <= r < 1, for each retry wait: launchers that failed together spread out.
    virtual double RetryJitter() = 0;
    // Keeps one transition of the flow (TransitionText) where support and the tests read it.
    virtual void RecordTransition(const std::wstring& line) = 0;
};

class UpdateFlow {
public:
    explicit UpdateFlow(FlowHost& host) : host_(host) {}

    void Load(bool update_mode);
    void Tick();
    void ButtonClicked();
    // `http_status` is the status of the last answer the downloader received (0 when none);
    // `retry_after_seconds` what that answer's Retry-After asked for, when it carried a readable one.
    void DownloadStateChanged(int state, int http_status = 0, std::optional<uint64_t> retry_after_seconds = {});
    // The wait before an automatic download attempt is over.
    void RetryDue();
    // A block arrived: the status line shows the size and the percentage, paced (progress_pace.h) by now_ms,
    // a steady clock in milliseconds.
    void DownloadProgress(const std::wstring& size_text, float percent, std::uint64_t now_ms);
    // The downloader refused the archive for being larger than the manifest's "size" (nothing was kept).
    void DownloadOversized();
    // Another start of this installation's launcher asked this one to come forward (with "-update": the
    // user wants the form). A hidden launcher still in its ticks then shows the form after its manifest
    // check instead of starting the client and ending.
    void UpdateRequested();
    // The form is about to close: true lets it close (and ends the flow), false keeps it open. While the
    // archive is verified and installed the form stays: that runs to its end.
    bool QueryClose();

    FlowState State() const { return state_; }

private:
    bool UpdateCommon();
    // Moves to `to`, records the transition and shows the button of the new state.
    void Enter(FlowState to, FlowEvent event);
    bool DownloadRuns() const { return state_ == FlowState::Downloading || state_ == FlowState::RetryWait; }
    void ShowStatus(const std::wstring& text);  // the status line, with any text but a progress figure
    void Complete();
    UnpackResult VerifiedUnpack();
    UnpackResult InstallDownloaded();
    const DeltaView* DeltaForInstalledVersion() const;
    void StartPackage(Package package);
    void FallBackToFullArchive(const std::wstring& reason);
    void RejectArchive(const std::wstring& reason);
    void InstallCommitted();
    void End();
    void DownloadFailed(int state, int http_status, std::optional<uint64_t> retry_after_seconds);
    void StartClientAfterFailure();
    void StartClient();
    bool StartRegistration();

    FlowHost& host_;
    std::wstring local_version_;
    std::optional<ManifestView> manifest_;
    FlowState state_ = FlowState::Starting;
    bool ticking_ = false;       // a tick waits in a message box or on the manifest
    bool marker_failed_ = false; // the marker could not be written: do not hold the start for it
    int retries_ = 0;               // automatic attempts made for the current download
    ProgressPace status_pace_;      // the figure on the status line; reset when it shows something else
    bool download_failed_ = false;  // a download failed since the last completed one: closing starts the client
    bool update_requested_ = false; // a second start asked for the form while this one was hidden
    bool client_owed_ = false;      // the form was shown instead of starting the client
    Package package_ = Package::Full;  // what the running (or last) download fetches
    bool delta_given_up_ = false;   // the delta failed once in this run: the full archive, and only it, follows
    bool download_announced_ = false;  // the "downloaded" message was shown: a fall-back does not ask again
};

// The update folder of a launcher folder ("C:\App" -> "C:\App\update", a drive root "C:\" -> "C:\update").
std::wstring UpdateFolderOf(const std::wstring& launcher_folder);
// The status line text of a downloader state code; "" outside 1..10.
std::wstring StateText(int state);
// "文件大小：" + size + percentage with two decimals + "%", no spaces ("文件大小：12.3 MB45.67%").
std::wstring ProgressText(const std::wstring& size_text, float percent);

}  // namespace vantorix::update_flow
