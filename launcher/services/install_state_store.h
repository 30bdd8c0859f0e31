#pragma once
// Where the installation's state lives on this platform, and reading and writing it whole.
//   "<installation>\update\install.state": written by whoever can write the installation (the elevated
//   install step, or the launcher where the installation is its own to write);
//   "%LOCALAPPDATA%\VantorixAssist\<installation id>\install.state": what the user's launcher accepted on
//   its own where it cannot write the installation.
// A reader goes by both (install_state::Combine). The format is common/install_state/install_state.h.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/install_state/install_state.h"

namespace vantorix::services {

inline constexpr wchar_t kInstallStatePath[] = L"\\update\\install.state";

// The first 16 lower-case hexadecimal digits of the SHA-256 of the folder's path upper-cased (UTF-8): the
// name of the installation's per-user folder. The folder is written as the program's folder is (no
// trailing backslash).
std::wstring InstallationId(const std::wstring& folder);

// "%LOCALAPPDATA%\VantorixAssist\<installation id>\install.state"; "" when the system names no such folder.
std::wstring PerUserStatePath(const std::wstring& folder);

struct StoredState {
    install_state::InstallState state;
    std::vector<std::wstring> problems;  // lines or files that could not be read, each with the file's name
    bool unreadable = false;  // a file is there but could not be read: rewriting it would lose what it holds
};

// Both files combined; a missing file counts as empty.
StoredState ReadInstallState(const std::wstring& folder);
// One file as it is ("" path or a missing file: empty).
StoredState ReadStateFile(const std::wstring& path);

// The whole state written to "<path>.new" in the same folder, flushed, then renamed over `path`, so a
// reader sees the old file or the new one and never a part. False when any step fails (nothing replaced).
bool WriteStateFile(const std::wstring& path, const install_state::InstallState& state);

enum class StateWritten { Installation, PerUser, Nowhere };

// Records a manifest serial the launcher accepted, keeping every other key of the file it writes: in the
// installation's state when this process can write it, else (unless installation_only, as for the elevated
// step, which never writes a user's files) in the per-user copy. A file that already holds this serial or a
// higher one is left as it is: what stays is the higher of the two.
StateWritten RecordAcceptedSerial(const std::wstring& folder, uint64_t serial, bool installation_only = false);

enum class DrawPlace {
    Any,           // the launcher: the installation's state when it can write it, else the per-user copy
    Installation,  // the elevated step: the installation's own state, which every user's launcher reads
};

// The installation's rollout draw (0..2^32-1): the one its state keeps (the installation's before the
// per-user copy's; with DrawPlace::Installation only the installation's own counts as kept), else one
// drawn now with the system's generator - the per-user one when there is one - and recorded where `place`
// says. A draw that cannot be recorded still serves this run (and is logged). nullopt only when there is
// none and the system's generator fails.
std::optional<uint32_t> RolloutDraw(const std::wstring& folder, DrawPlace place = DrawPlace::Any);

}  // namespace vantorix::services
