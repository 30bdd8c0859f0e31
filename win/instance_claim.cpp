#include "win/instance_claim.h"

#include <aclapi.h>
#include <sddl.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "win/diagnostic_log.h"
#include "win/module_path.h"

namespace vantorix::win {
namespace {

constexpr DWORD kSectionSize = sizeof(std::uint32_t);  // the main window handle (32-bit program)
constexpr DWORD kPollMs = 50;
constexpr wchar_t kWhere[] = L"InstanceClaim";

// What this process runs as: the user's SID and the integrity level's (empty when the token says nothing).
struct Identity {
    std::vector<BYTE> user, level;
    PSID user_sid() { return user.empty() ? nullptr : reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid; }
    PSID level_sid() { return level.empty() ? nullptr : reinterpret_cast<TOKEN_MANDATORY_LABEL*>(level.data())->Label.Sid; }
};

std::vector<BYTE> TokenPart(HANDLE token, TOKEN_INFORMATION_CLASS part) {
    DWORD size = 0;
    GetTokenInformation(token, part, nullptr, 0, &size);
    std::vector<BYTE> buffer(size);
    if (size == 0 || !GetTokenInformation(token, part, buffer.data(), size, &size)) buffer.clear();
    return buffer;
}

Identity OwnIdentity() {
    Identity identity;
    unique_kernel_handle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put())) return identity;
    identity.user = TokenPart(token.get(), TokenUser);
    identity.level = TokenPart(token.get(), TokenIntegrityLevel);
    return identity;
}

std::wstring SidText(PSID sid) {
    unique_hlocal<wchar_t> text;
    if (!sid || !ConvertSidToStringSidW(sid, text.put())) return {};
    return text.get();
}

DWORD LevelOf(PSID level_sid) {
    const UCHAR count = *GetSidSubAuthorityCount(level_sid);
    return count ? *GetSidSubAuthority(level_sid, count - 1) : 0;
}

// The section's security: owned by the user, open to the user alone, labelled at the program's level
// (no writes or reads from below).
std::wstring SectionSecurity(Identity& identity) {
    const std::wstring user = SidText(identity.user_sid());
    std::wstring sddl = L"O:" + user + L"D:P(A;;GA;;;" + user + L")";
    if (PSID level = identity.level_sid()) sddl += L"S:(ML;;NWNR;;;" + SidText(level) + L")";
    return sddl;
}

// The section was made by this user at no lower integrity level than the lesser of the program's and
// medium (an object without a label is at medium).
bool IsUsersOwn(HANDLE section, Identity& identity) {
    PSID owner = nullptr;
    PACL label_acl = nullptr;
    unique_hlocal<> descriptor;  // owner and label point into it
    if (GetSecurityInfo(section, SE_KERNEL_OBJECT, OWNER_SECURITY_INFORMATION | LABEL_SECURITY_INFORMATION, &owner,
                        nullptr, nullptr, &label_acl, descriptor.put()) != ERROR_SUCCESS)
        return false;
    bool own = owner && identity.user_sid() && EqualSid(owner, identity.user_sid());
    if (own && label_acl && identity.level_sid()) {
        const DWORD wanted = std::min<DWORD>(LevelOf(identity.level_sid()), SECURITY_MANDATORY_MEDIUM_RID);
        for (WORD i = 0; i < label_acl->AceCount; ++i) {
            ACE_HEADER* ace = nullptr;
            if (!GetAce(label_acl, i, reinterpret_cast<void**>(&ace)) || ace->AceType != SYSTEM_MANDATORY_LABEL_ACE_TYPE)
                continue;
            auto* label = reinterpret_cast<SYSTEM_MANDATORY_LABEL_ACE*>(ace);
            if (LevelOf(reinterpret_cast<PSID>(&label->SidStart)) < wanted) own = false;
        }
    }
    return own;
}

std::wstring LongPath(const std::wstring& path) {
    wchar_t buffer[MAX_PATH * 2];
    const DWORD n = GetLongPathNameW(path.c_str(), buffer, MAX_PATH * 2);
    return n > 0 && n < MAX_PATH * 2 ? std::wstring(buffer, n) : path;
}

std::wstring OwnImage() { return LongPath(ModulePath()); }

std::wstring ImageOf(DWORD pid) {
    unique_kernel_handle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
    if (!process) return {};
    wchar_t path[MAX_PATH * 2];
    DWORD n = MAX_PATH * 2;
    if (!QueryFullProcessImageNameW(process.get(), 0, path, &n)) return {};
    return LongPath(std::wstring(path, n));
}

bool SamePath(const std::wstring& a, const std::wstring& b) {
    return !a.empty() && CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                                              static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

}  // namespace

std::wstring InstanceClaim::ObjectName(const wchar_t* kind, const std::wstring& app_folder) {
    Identity identity = OwnIdentity();
    const std::wstring user = SidText(identity.user_sid());
    if (user.empty()) return {};
    DWORD session = 0;
    ProcessIdToSessionId(GetCurrentProcessId(), &session);
    std::wstring folded = app_folder;
    if (!folded.empty()) CharUpperBuffW(folded.data(), static_cast<DWORD>(folded.size()));
    // Object names cannot hold the folder itself (a backslash separates namespaces): FNV-1a of it.
    std::uint64_t hash = 0xcbf29ce484222325ull;
    for (wchar_t c : folded) hash = (hash ^ static_cast<std::uint16_t>(c)) * 0x100000001b3ull;
    wchar_t tail[48];
    std::swprintf(tail, 48, L".%lu.%016llx", static_cast<unsigned long>(session), static_cast<unsigned long long>(hash));
    return L"Local\\" + std::wstring(kind) + L"." + user + tail;
}

InstanceClaim::InstanceClaim(const wchar_t* kind, const std::wstring& app_folder, const wchar_t* window_class)
    : window_class_(window_class) {
    const std::wstring name = ObjectName(kind, app_folder);
    Identity identity = OwnIdentity();
    unique_hlocal<> descriptor;
    if (name.empty() || !ConvertStringSecurityDescriptorToSecurityDescriptorW(SectionSecurity(identity).c_str(),
                                                                              SDDL_REVISION_1, descriptor.put(), nullptr)) {
        // Without the user's identity there is no name that is the user's alone.
        diag::RecordLastError(kWhere, L"the user's identity cannot be read: running programs are found by their window");
        by_window_ = true;
        return;
    }
    SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor.get(), FALSE};
    section_.reset(CreateFileMappingW(INVALID_HANDLE_VALUE, &attributes, PAGE_READWRITE, 0, kSectionSize, name.c_str()));
    const DWORD error = GetLastError();
    if (!section_) {
        // Held by another account and closed to this user, or the name is another kind of object (a mutex).
        diag::Record(kWhere, L"the instance object cannot be opened: running programs are found by their window", error);
        by_window_ = true;
        return;
    }
    if (error == ERROR_ALREADY_EXISTS && !IsUsersOwn(section_.get(), identity)) {
        diag::Record(kWhere, L"the instance object is another account's or lower level's: running programs are found by their window");
        section_.reset();
        by_window_ = true;
        return;
    }
    view_.reset(MapViewOfFile(section_.get(), FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, kSectionSize));
    if (!view_) {
        diag::RecordLastError(kWhere, L"the instance object cannot be mapped: running programs are found by their window");
        section_.reset();
        by_window_ = true;
        return;
    }
    claimed_ = error != ERROR_ALREADY_EXISTS;
    contested_ = !claimed_;
}

HWND InstanceClaim::PublishedWindow() const {
    const LONG value = InterlockedCompareExchange(static_cast<LONG volatile*>(view_.get()), 0, 0);
    return reinterpret_cast<HWND>(static_cast<UINT_PTR>(static_cast<std::uint32_t>(value)));
}

bool InstanceClaim::IsRunningClient(HWND window) const {
    wchar_t name[64] = {};
    if (!IsWindow(window) || !GetClassNameW(window, name, 64) || window_class_ != name) return false;
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    return pid != GetCurrentProcessId() && SamePath(ImageOf(pid), OwnImage());
}

bool InstanceClaim::BringBack(HWND running, WPARAM request) const {
    DWORD pid = 0;
    GetWindowThreadProcessId(running, &pid);
    AllowSetForegroundWindow(pid);  // this start came from the user: the running program may take the front
    return PostMessageW(running, kBringBackMessage, request, 0) != FALSE;
}

bool InstanceClaim::HandOverByWindow(WPARAM request) {
    // Every main window of this installation's program in this session (the desktop's top-level windows);
    // the one that answers as the running program gets the request.
    for (HWND window = FindWindowExW(nullptr, nullptr, window_class_.c_str(), nullptr); window;
         window = FindWindowExW(nullptr, window, window_class_.c_str(), nullptr)) {
        DWORD_PTR answer = 0;
        if (IsRunningClient(window) &&
            SendMessageTimeoutW(window, kClaimQuery, 0, 0, SMTO_BLOCK | SMTO_ABORTIFHUNG, kHandOverWaitMs, &answer) &&
            static_cast<LRESULT>(answer) == kClaimAnswer && BringBack(window, request))
            return true;
    }
    // None runs: this start is the running program from now on, and answers the next start's question.
    claimed_ = true;
    return false;
}

bool InstanceClaim::HandOver(WPARAM request) {
    if (by_window_) return HandOverByWindow(request);
    if (!contested_) return false;
    contested_ = false;
    // The running program publishes its window once its checks are done and answers once its messages
    // run; a start that came in between waits for it.
    const DWORD start = GetTickCount();
    for (;;) {
        const DWORD waited = GetTickCount() - start;
        if (waited >= kHandOverWaitMs) break;
        const HWND running = PublishedWindow();
        if (running && !IsRunningClient(running)) {
            diag::Record(kWhere, L"the instance object names a window that is not this program's: taken over");
            break;
        }
        DWORD_PTR answer = 0;
        if (running && SendMessageTimeoutW(running, kClaimQuery, 0, 0, SMTO_BLOCK | SMTO_ABORTIFHUNG,
                                           kHandOverWaitMs - waited, &answer) &&
            static_cast<LRESULT>(answer) == kClaimAnswer) {
            BringBack(running, request);
            return true;
        }
        Sleep(kPollMs);
    }
    if (GetTickCount() - start >= kHandOverWaitMs)
        diag::Record(kWhere, L"no program answers for the instance object: taken over");
    claimed_ = true;
    return false;
}

void InstanceClaim::Publish(HWND main_window) {
    if (!claimed_ || !view_) return;
    const auto value = static_cast<std::uint32_t>(reinterpret_cast<UINT_PTR>(main_window));
    InterlockedExchange(static_cast<LONG volatile*>(view_.get()), static_cast<LONG>(value));
}

}  // namespace vantorix::win
