#pragma once
// What the launcher's update flow asks of the machine and of the network: the update manifest, the
// client's version, the system folder of the control library, and unpacking an update archive.
// All texts are UTF-16. Nothing here shows a message; every failure comes back as a value.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/unzip/extract.h"
#include "common/unzip/install_commit.h"
#include "win/code_page.h"

namespace vantorix::services {

// ---- DecodeJSon: fetching a URL and reading the update manifest -------------------------------------

// Bounds on one fetch, so a stalled or endless server cannot hold the launcher for ever.
struct FetchLimits {
    uint32_t resolve_timeout_ms = 10000;
    uint32_t connect_timeout_ms = 10000;
    uint32_t send_timeout_ms = 10000;
    uint32_t receive_timeout_ms = 15000;  // per read: a server that goes silent this long ends the fetch
    uint32_t total_timeout_ms = 30000;    // the whole fetch, however slowly the bytes trickle in
    size_t max_body_bytes = 1 << 20;      // a larger body is not a manifest
};

// GET with "If-Modified-Since: 0"; only a 2xx answer counts. nullopt when anything fails.
std::optional<std::vector<uint8_t>> GetUrlBytes(const std::wstring& url, const FetchLimits& limits = {});

// The body decoded in the given character set; "" when anything fails (error pages included).
std::wstring GetUrlText(const std::wstring& url, const std::wstring& charset, const FetchLimits& limits = {});

// Decodes bytes in a named character set (win/code_page.h).
using win::BytesToText;

// ---- Sysing, Getfileversion ---------------------------------------------------------------------------

// True for a 32-bit process on 64-bit Windows; false otherwise, also when the question fails.
bool IsWow64();

// "" when no file exists at the path, "0" for a file without version information, else "a.b.c.d".
std::wstring GetFileVersionText(const std::wstring& path);

// ---- Unzip ------------------------------------------------------------------------------------------

// The extractor's own outcome (common/unzip/extract.h), carried as it is.
using UnzipStatus = unzip::Status;

struct UnzipResult {
    UnzipStatus status = UnzipStatus::NotAnArchive;
    std::wstring entry;         // the entry or path the failure is about ("" when none); NoRoom: the bytes
                                // needed and free
    size_t files_written = 0;
    explicit operator bool() const { return status == UnzipStatus::Ok; }
};

// Unpacks every entry of the archive into the folder, all or nothing: the directory is checked, every
// entry staged once below the folder's "update\" with its CRC checked, and the commit runs under a
// journal there; any failure leaves the folder as it was (see common/unzip/install_commit.h).
// progress: after every unpacked block (bytes so far, unpacked total).
UnzipResult UnzipToFolder(const std::wstring& folder, const std::wstring& archive,
                          const unzip::UnpackProgress& progress = {});

// The install's folders for an installation folder (its work folder "update\").
unzip::InstallPaths InstallPathsOf(const std::wstring& folder);
// The extractor's result in the services' form.
UnzipResult ToUnzipResult(const unzip::Result& result);

enum class InstallRecovery {
    Nothing,
    RolledBack,
    Finished,
    Failed,        // the journal stays for the next start (a file in use)
    Busy,          // another live process commits or recovers the installation: nothing was touched
    Pending,       // committed; the launcher's staged copy was started to put itself in place
    Discarded,     // a file is neither release (a later setup repair or upgrade): it stands, the journal went
    NotPermitted,  // work files wait, and this process may not write the installation: nothing was touched
};
// Settles what an earlier run left (rolls an interrupted install back, or checks a committed one and
// removes its work files); the launcher and its elevated steps run it before anything else. file, when
// given, receives the installation-relative file that decided a Discarded or RolledBack outcome.
InstallRecovery RecoverInterruptedInstall(const std::wstring& folder, std::wstring* file = nullptr);

// The running launcher's own file is never replaced while it runs: an install that brings a new one
// leaves it in "update\stage\" and starts it there; that copy waits until the old program has ended,
// moves itself over it in one step and ends. These are its pieces.
//   StartDeferredProgram: starts the staged copy of this program for the installation (false: none).
//   InstallationOfStagedCopy: the installation folder when this program runs from its staging folder.
//   FinishDeferredInstall: the staged copy's work, retried every kDeferredRetryMs for up to wait_ms;
//   its exit code (0 done or nothing to do, 1 gave up: the next start of the program starts it again).
//
// An elevated step (BecomeElevatedStep, called first by its entry) starts no program: StartDeferredProgram
// refuses there, and its commits never defer (Win32FileSystem::DefersRunningProgram): an update that brings
// a new VantorixAssist.exe moves the running one aside into "update\rollback\" (a running image can be
// renamed, not replaced) and the new one into its place, under the journal like every other file.
void BecomeElevatedStep();
bool IsElevatedStep();
// Takes note of the file this program runs from (Win32FileSystem::IsRunningProgram knows it by its identity,
// so it stays the running one when an update moves it aside); called first thing at start.
void RememberRunningProgram();
inline constexpr unsigned long kDeferredRetryMs = 250;
inline constexpr unsigned long kDeferredWaitMs = 10 * 60 * 1000;
bool StartDeferredProgram(const std::wstring& folder);
std::optional<std::wstring> InstallationOfStagedCopy();
int FinishDeferredInstall(const std::wstring& folder, unsigned long wait_ms = kDeferredWaitMs);

// Creates every missing level of the folder path; returns it normalised with one trailing "\", or
// nullopt when a level cannot be created.
std::optional<std::wstring> MakePath(const std::wstring& path);
// Text after the last "\" (all of it when there is none).
std::wstring FileNamePart(const std::wstring& path);
// Text up to and including the last "\" ("" when there is none).
std::wstring FolderPart(const std::wstring& path);

// Human-readable name of a status, for status lines and test output.
const wchar_t* UnzipStatusText(UnzipStatus status);

}  // namespace vantorix::services
