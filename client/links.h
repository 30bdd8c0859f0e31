#pragma once
// Opening the maker's pages and starting the launcher in update mode: shared by the page commands and the
// tray menu.
#include <windows.h>

#include <optional>
#include <string>

namespace vantorix::client {

// Opens a web address with the shell's "open" verb, shown normally. Failures are silent.
void OpenLink(const std::wstring& address);

// The launcher's folder for a client in `app_folder`: the text before the last backslash. Nothing for a
// drive root ("C:\") or a folder text without a backslash.
std::optional<std::wstring> LauncherFolderFor(const std::wstring& app_folder);

// Starts parent folder + "\VantorixAssist.exe" with "-update", minimised, without waiting; when that file is
// missing, asks whether to download it from the home page and opens the home page on Yes.
void StartLauncherForUpdate(const std::wstring& app_folder, HWND owner = nullptr);

inline constexpr const wchar_t* kLauncherFile = L"\\VantorixAssist.exe";
inline constexpr const wchar_t* kLauncherMissingQuestion = L"未找到更新程式，是否从官网重新下载？";

}  // namespace vantorix::client
