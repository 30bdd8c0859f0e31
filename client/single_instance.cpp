#include "client/single_instance.h"

#include <cstdint>
#include <cstdio>

namespace vantorix::client {
namespace {
constexpr DWORD kSectionSize = sizeof(std::uint32_t);  // the main window handle (32-bit program)
constexpr DWORD kPublishWaitMs = 3000;
}  // namespace

std::wstring InstanceClaim::ObjectName(const std::wstring& app_folder) {
    std::wstring folded = app_folder;
    if (!folded.empty()) CharUpperBuffW(folded.data(), static_cast<DWORD>(folded.size()));
    // Object names cannot hold the folder itself (a backslash separates namespaces): FNV-1a of it.
    std::uint64_t hash = 0xcbf29ce484222325ull;
    for (wchar_t c : folded) {
        hash = (hash ^ static_cast<std::uint16_t>(c)) * 0x100000001b3ull;
    }
    wchar_t name[64];
    std::swprintf(name, 64, L"Local\\VantorixClient.%016llx", static_cast<unsigned long long>(hash));
    return name;
}

InstanceClaim::InstanceClaim(const std::wstring& app_folder) {
    section_.reset(CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, kSectionSize,
                                      ObjectName(app_folder).c_str()));
    // A section that cannot be made at all must not keep the user from the program: run as the first.
    if (!section_) return;
    first_ = GetLastError() != ERROR_ALREADY_EXISTS;
    view_.reset(MapViewOfFile(section_.get(), FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, kSectionSize));
}

void InstanceClaim::Publish(HWND main_window) {
    if (!first_ || !view_) return;
    const auto value = static_cast<std::uint32_t>(reinterpret_cast<UINT_PTR>(main_window));
    InterlockedExchange(static_cast<LONG volatile*>(view_.get()), static_cast<LONG>(value));
}

void InstanceClaim::HandOver() const {
    if (first_ || !view_) return;
    // The running client publishes its window right after its claim; a start that came in between waits.
    const DWORD start = GetTickCount();
    HWND running = nullptr;
    for (;;) {
        const LONG value = InterlockedCompareExchange(static_cast<LONG volatile*>(view_.get()), 0, 0);
        running = reinterpret_cast<HWND>(static_cast<UINT_PTR>(static_cast<std::uint32_t>(value)));
        if (running && IsWindow(running)) break;
        if (GetTickCount() - start >= kPublishWaitMs) return;
        Sleep(50);
    }
    DWORD pid = 0;
    GetWindowThreadProcessId(running, &pid);
    AllowSetForegroundWindow(pid);  // this start came from the user: the running client may take the front
    PostMessageW(running, kBringBackMessage, 0, 0);
}

}  // namespace vantorix::client
