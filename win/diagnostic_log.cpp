#include "win/diagnostic_log.h"

#include <windows.h>
#include <knownfolders.h>
#include <shlobj.h>

#include <cstdio>
#include <exception>

#include "common/text/utf8.h"
#include "win/per_user_folder.h"
#include "win/unique_handle.h"

namespace vantorix::win::diag {

namespace {

// Records may come from any thread of a host that loaded the library.
SRWLOCK g_lock = SRWLOCK_INIT;
std::wstring g_path;
unsigned long g_limit = kDefaultLimitBytes;

// The user's profile folder stands in the text as "%USERPROFILE%": the folder carries the account name.
std::wstring WithoutProfile(std::wstring text) {
    static const std::wstring profile = KnownFolderPath(FOLDERID_Profile);
    if (profile.size() < 3) return text;
    for (size_t at = 0; at + profile.size() <= text.size();) {
        if (CompareStringOrdinal(text.c_str() + at, static_cast<int>(profile.size()), profile.c_str(),
                                 static_cast<int>(profile.size()), TRUE) == CSTR_EQUAL) {
            text.replace(at, profile.size(), L"%USERPROFILE%");
            at += 13;
        } else {
            ++at;
        }
    }
    return text;
}

std::string Utf8(const std::wstring& text) {
    return text::EncodeUtf8(std::u16string_view(reinterpret_cast<const char16_t*>(text.data()), text.size()));
}

// Opens the log for appending without following a link put in its place; an invalid handle otherwise.
unique_hfile OpenForAppend(const std::wstring& path) {
    unique_hfile file(CreateFileW(path.c_str(), FILE_APPEND_DATA | FILE_READ_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    BY_HANDLE_FILE_INFORMATION info{};
    if (file && (!GetFileInformationByHandle(file.get(), &info) ||
                 (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY))))
        file.reset();
    return file;
}

void Append(const std::wstring& path, unsigned long limit, const std::string& line) {
    unique_hfile file = OpenForAppend(path);
    LARGE_INTEGER size{};
    if (file && GetFileSizeEx(file.get(), &size) && size.QuadPart > 0 &&
        size.QuadPart + static_cast<LONGLONG>(line.size()) > static_cast<LONGLONG>(limit)) {
        file.reset();
        MoveFileExW(path.c_str(), (path + L".1").c_str(), MOVEFILE_REPLACE_EXISTING);
        file = OpenForAppend(path);
    }
    DWORD written = 0;
    if (file) WriteFile(file.get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

}  // namespace

bool OpenLog(const std::wstring& path, unsigned long limit_bytes) {
    const bool usable = !path.empty() && MakeFoldersAbove(path) && OpenForAppend(path);
    AcquireSRWLockExclusive(&g_lock);
    g_path = usable ? path : std::wstring();
    g_limit = limit_bytes;
    ReleaseSRWLockExclusive(&g_lock);
    return usable;
}

std::wstring PerUserLogPath(const std::wstring& file_name) {
    const std::wstring product = PerUserProductFolder();
    return product.empty() ? L"" : product + L"\\logs\\" + file_name;
}

std::wstring LogPath() {
    AcquireSRWLockShared(&g_lock);
    std::wstring path = g_path;
    ReleaseSRWLockShared(&g_lock);
    return path;
}

void Record(const wchar_t* where, const std::wstring& what, unsigned long code) {
    SYSTEMTIME now{};
    GetSystemTime(&now);
    wchar_t head[96];
    std::swprintf(head, 96, L"%04u-%02u-%02uT%02u:%02u:%02uZ %lu ", now.wYear, now.wMonth, now.wDay, now.wHour,
                  now.wMinute, now.wSecond, GetCurrentProcessId());
    std::wstring text = std::wstring(where ? where : L"?") + L": " + what;
    if (code != 0) {
        wchar_t number[32];
        std::swprintf(number, 32, L" (code 0x%08lX)", code);
        text += number;
    }
    text = WithoutProfile(std::move(text));
    OutputDebugStringW((L"Vantorix " + text + L"\n").c_str());
    AcquireSRWLockExclusive(&g_lock);
    if (!g_path.empty()) Append(g_path, g_limit, Utf8(head + text + L"\r\n"));
    ReleaseSRWLockExclusive(&g_lock);
}

const char* CurrentExceptionMessage() noexcept {
    try {
        throw;
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
        return nullptr;
    }
}

void RecordCurrentException(const wchar_t* where, const wchar_t* what) noexcept {
    try {
        std::wstring text = what;
        if (const char* message = CurrentExceptionMessage()) {
            text += L": ";
            for (const char* c = message; *c; ++c) text += static_cast<wchar_t>(static_cast<unsigned char>(*c));
        }
        Record(where, text);
    } catch (...) {
        // The record itself failed (no memory): the boundary still answers in its own form.
    }
}

void RecordLastError(const wchar_t* where, const std::wstring& what) {
    const DWORD code = GetLastError();
    Record(where, what, code);
    SetLastError(code);
}

}  // namespace vantorix::win::diag
