// Installs an update archive over a folder with the launcher's real extractor and Win32 file system, and
// ends its own process abruptly (TerminateProcess) after a given number of file-system changes, as a
// user's kill or a power cut would end the launcher part-way through an install.
//   install_kill_tool FOLDER ARCHIVE KILL_AFTER     KILL_AFTER -1: no kill; prints the number of changes
//   install_kill_tool FOLDER ARCHIVE mN             ends itself before the (N+1)-th file move of the commit
//   install_kill_tool FOLDER ARCHIVE pN             pauses there instead, holding the install lock: it sets
//                                                   the event "Local\vx-install-paused-<its pid>" and goes
//                                                   on once "Local\vx-install-go-<its pid>" is set
//   install_kill_tool FOLDER ARCHIVE committed      ends itself right after the commit is marked done,
//                                                   before it settles: the journal, the mark and the
//                                                   rollback copies stay, the tree is new
//   ... launcher                                    a fourth argument: FOLDER\VantorixAssist.exe counts as
//                                                   the running program, as for the launcher itself
// An ARCHIVE whose name ends in ".delta.zip" is a delta package, applied with the launcher's delta applier.
// Exit code 0 when the install ran to its end, 3 when the process was ended.
#include <windows.h>

#include <cstdio>
#include <string>

#include "common/delta/apply_delta.h"
#include "common/unzip/extract.h"
#include "common/unzip/paths.h"
#include "launcher/services/bcrypt_sha256.h"
#include "launcher/services/wide_text.h"
#include "launcher/services/win32_file_system.h"

namespace {

using vantorix::services::Win32FileSystem;

class KilledAfter : public Win32FileSystem {
public:
    KilledAfter(long budget, bool moves_only, bool pause) : budget_(budget), moves_only_(moves_only), pause_(pause) {}
    long changes = 0;
    std::string running;  // the file taken for the running program's, "" for this tool's own

    bool CreateFolder(const std::string& p) override { return Step(), Win32FileSystem::CreateFolder(p); }
    std::unique_ptr<vantorix::unzip::OutputFile> CreateOutput(const std::string& p) override {
        return Step(), Win32FileSystem::CreateOutput(p);
    }
    bool MoveOver(const std::string& a, const std::string& b) override {
        if (moves_only_ && moves_++ == budget_) pause_ ? Pause() : (void)TerminateProcess(GetCurrentProcess(), 3);
        return Step(), Win32FileSystem::MoveOver(a, b);
    }
    bool IsRunningProgram(const std::string& p) override {
        return running.empty() ? Win32FileSystem::IsRunningProgram(p) : FoldCase(p) == FoldCase(running);
    }
    void RemoveFile(const std::string& p) override { Step(), Win32FileSystem::RemoveFile(p); }
    bool RemoveFolder(const std::string& p) override { return Step(), Win32FileSystem::RemoveFolder(p); }
    bool RemoveTree(const std::string& p) override { return Step(), Win32FileSystem::RemoveTree(p); }
    bool WriteDurably(const std::string& p, std::string_view d) override {
        Step();
        const bool written = Win32FileSystem::WriteDurably(p, d);
        constexpr std::string_view kDone = "install.done";
        if (after_done && p.size() >= kDone.size() && p.compare(p.size() - kDone.size(), kDone.size(), kDone) == 0)
            TerminateProcess(GetCurrentProcess(), 3);
        return written;
    }
    bool after_done = false;  // "committed": ended once the commit is marked done

private:
    static void Pause() {
        const std::wstring id = std::to_wstring(GetCurrentProcessId());
        HANDLE paused = CreateEventW(nullptr, TRUE, FALSE, (L"Local\\vx-install-paused-" + id).c_str());
        HANDLE go = CreateEventW(nullptr, TRUE, FALSE, (L"Local\\vx-install-go-" + id).c_str());
        SetEvent(paused);
        if (WaitForSingleObject(go, 120000) != WAIT_OBJECT_0) TerminateProcess(GetCurrentProcess(), 4);
        CloseHandle(paused);
        CloseHandle(go);
    }
    void Step() {
        if (!moves_only_ && budget_ >= 0 && changes >= budget_) TerminateProcess(GetCurrentProcess(), 3);
        ++changes;
    }
    long budget_;
    bool moves_only_, pause_;
    long moves_ = 0;
};

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 4 && !(argc == 5 && std::wstring(argv[4]) == L"launcher")) return 2;
    const bool after_done = std::wstring(argv[3]) == L"committed";
    const bool pause = argv[3][0] == L'p', moves_only = pause || argv[3][0] == L'm';
    KilledAfter files(after_done ? -1 : _wtol(argv[3] + (moves_only ? 1 : 0)), moves_only, pause);
    files.after_done = after_done;
    if (argc == 5) files.running = vantorix::unzip::NormaliseFolder(vantorix::services::Utf8(argv[1])) + "VantorixAssist.exe";
    const std::string folder = vantorix::services::Utf8(argv[1]), archive = vantorix::services::Utf8(argv[2]);
    constexpr std::string_view kDeltaSuffix = ".delta.zip";
    bool ok = false;
    if (archive.size() > kDeltaSuffix.size() && archive.compare(archive.size() - kDeltaSuffix.size(), kDeltaSuffix.size(), kDeltaSuffix) == 0) {
        vantorix::services::BcryptSha256Provider sha256;
        ok = vantorix::delta::ApplyDelta(files, sha256, folder, archive).status == vantorix::delta::Status::Ok;
    } else {
        ok = vantorix::unzip::UnzipToFolder(files, folder, archive).status == vantorix::unzip::Status::Ok;
    }
    std::printf("%ld\n", files.changes);
    return ok ? 0 : 1;
}
