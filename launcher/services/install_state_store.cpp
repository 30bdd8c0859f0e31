#include "launcher/services/install_state_store.h"

#include <windows.h>

#include "common/integrity/expected_archive.h"
#include <functional>

#include "launcher/services/archive_check.h"
#include "launcher/services/system_random.h"
#include "launcher/services/wide_text.h"
#include "win/code_page.h"
#include "win/diagnostic_log.h"
#include "win/per_user_folder.h"
#include "win/unique_handle.h"

namespace vantorix::services {
namespace {

// A state file is a few short lines; anything larger is not one.
constexpr DWORD kMaxStateBytes = 64 * 1024;

}  // namespace

std::wstring InstallationId(const std::wstring& folder) {
    const auto digest = Sha256OfBytes(Utf8(win::UpperInvariant(folder)));
    return digest ? Wide(integrity::HexText(*digest).substr(0, 16)) : L"";
}

std::wstring PerUserStatePath(const std::wstring& folder) {
    const std::wstring product = win::PerUserProductFolder(), id = InstallationId(folder);
    return product.empty() || id.empty() ? L"" : product + L"\\" + id + L"\\install.state";
}

StoredState ReadStateFile(const std::wstring& path) {
    StoredState stored;
    if (path.empty()) return stored;
    win::unique_hfile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        const DWORD error = GetLastError();
        if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) {
            stored.problems.push_back(path + L": cannot be read (error " + std::to_wstring(error) + L")");
            stored.unreadable = true;
        }
        return stored;
    }
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file.get(), &size) || size.QuadPart > kMaxStateBytes) {
        stored.problems.push_back(path + L": not a state file (too large)");
        stored.unreadable = true;
        return stored;
    }
    std::string text(static_cast<size_t>(size.QuadPart), '\0');
    DWORD got = 0;
    if (!text.empty() && (!ReadFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &got, nullptr) ||
                          got != text.size())) {
        stored.problems.push_back(path + L": cannot be read");
        stored.unreadable = true;
        return stored;
    }
    auto parsed = install_state::ParseInstallState(text);
    stored.state = std::move(parsed.state);
    for (const std::string& problem : parsed.problems) stored.problems.push_back(path + L": " + Wide(problem));
    return stored;
}

StoredState ReadInstallState(const std::wstring& folder) {
    StoredState installation = ReadStateFile(folder + kInstallStatePath);
    StoredState per_user = ReadStateFile(PerUserStatePath(folder));
    installation.state = install_state::Combine(installation.state, per_user.state);
    installation.problems.insert(installation.problems.end(), per_user.problems.begin(), per_user.problems.end());
    installation.unreadable = installation.unreadable || per_user.unreadable;
    return installation;
}

bool WriteStateFile(const std::wstring& path, const install_state::InstallState& state) {
    const std::string text = install_state::FormatInstallState(state);
    const std::wstring temporary = path + L".new";
    {
        // No sharing while it is written, and a link put in its place is replaced, never followed.
        win::unique_hfile file(CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        if (!file) return false;
        DWORD written = 0;
        const bool whole = WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
                           written == text.size() && FlushFileBuffers(file.get());
        if (!whole) {
            file.reset();
            DeleteFileW(temporary.c_str());
            return false;
        }
    }
    if (MoveFileExW(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return true;
    DeleteFileW(temporary.c_str());
    return false;
}

namespace {

// Reads the state file at `path`, lets `change` alter it (false: it already says what it should) and
// writes it back whole, keeping every other key. False when it cannot be read whole or written.
bool ChangeStateFile(const std::wstring& path, const std::function<bool(install_state::InstallState&)>& change) {
    if (path.empty()) return false;
    StoredState stored = ReadStateFile(path);
    if (stored.unreadable) return false;
    return !change(stored.state) || WriteStateFile(path, stored.state);
}

// Tried by writing, not by asking for rights: whoever can write the installation keeps its state there.
StateWritten ChangeState(const std::wstring& folder, const std::function<bool(install_state::InstallState&)>& change,
                         bool per_user_too = true) {
    if (ChangeStateFile(folder + kInstallStatePath, change)) return StateWritten::Installation;
    if (!per_user_too) return StateWritten::Nowhere;
    const std::wstring per_user = PerUserStatePath(folder);
    if (!per_user.empty() && win::MakeFoldersAbove(per_user) && ChangeStateFile(per_user, change))
        return StateWritten::PerUser;
    return StateWritten::Nowhere;
}

std::optional<uint32_t> ValidDraw(const std::optional<uint64_t>& kept) {
    if (!kept || *kept > UINT32_MAX) return std::nullopt;
    return static_cast<uint32_t>(*kept);
}

}  // namespace

StateWritten RecordAcceptedSerial(const std::wstring& folder, uint64_t serial, bool installation_only) {
    return ChangeState(
        folder,
        [serial](install_state::InstallState& state) {
            if (state.manifest_serial >= serial) return false;
            state.manifest_serial = serial;
            return true;
        },
        !installation_only);
}

std::optional<uint32_t> RolloutDraw(const std::wstring& folder, DrawPlace place) {
    const std::optional<uint32_t> installation_draw = ValidDraw(ReadStateFile(folder + kInstallStatePath).state.rollout_draw);
    if (installation_draw) return installation_draw;
    std::optional<uint32_t> draw = ValidDraw(ReadStateFile(PerUserStatePath(folder)).state.rollout_draw);
    if (draw && place == DrawPlace::Any) return draw;
    // The elevated step makes the user's draw the installation's, so the installation keeps its place in
    // the rollout whoever installs.
    if (!draw) draw = SystemRandom32();
    if (!draw) {
        win::diag::Record(L"rollout", L"no random number for the installation's draw");
        return std::nullopt;
    }
    const uint32_t value = *draw;
    const StateWritten written = ChangeState(
        folder,
        [value](install_state::InstallState& state) {
            if (ValidDraw(state.rollout_draw)) return false;  // a draw kept there meanwhile stays
            state.rollout_draw = value;
            return true;
        },
        place == DrawPlace::Any);
    if (written == StateWritten::Nowhere) win::diag::RecordLastError(L"rollout", L"the installation's draw could not be recorded");
    return draw;
}

}  // namespace vantorix::services
