#include "common/download/side_files.h"

namespace vantorix::download {

std::wstring TrimSpaces(const std::wstring& text) {
    const auto first = text.find_first_not_of(L' ');
    if (first == std::wstring::npos) return {};
    const auto last = text.find_last_not_of(L' ');
    return text.substr(first, last - first + 1);
}

bool HasFolder(const std::wstring& path) {
    return !TrimSpaces(path).empty() && path.find(L'\\') != std::wstring::npos;
}

std::wstring NumberedName(const std::wstring& path, int n) {
    if (!HasFolder(path)) return {};
    const auto slash = path.rfind(L'\\');
    const std::wstring folder = path.substr(0, slash + 1);
    const std::wstring name = path.substr(slash + 1);
    const auto dot = name.rfind(L'.');
    const std::wstring stem = dot == std::wstring::npos ? name : name.substr(0, dot);
    const std::wstring extension = dot == std::wstring::npos ? std::wstring() : name.substr(dot);
    return folder + stem + L"(" + std::to_wstring(n) + L")" + extension;
}

static bool StartsWithNoCase(const std::wstring& text, const wchar_t* prefix) {
    std::size_t i = 0;
    for (; prefix[i]; ++i) {
        if (i >= text.size()) return false;
        wchar_t c = text[i];
        if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
        if (c != prefix[i]) return false;
    }
    return true;
}

std::wstring NormalizeUrl(const std::wstring& url) {
    const std::wstring trimmed = TrimSpaces(url);
    if (StartsWithNoCase(trimmed, L"http://") || StartsWithNoCase(trimmed, L"https://")) return url;
    return L"http://" + url;
}

SideFiles DefaultSideFiles(const std::wstring& fileName) { return {fileName + L".dl", fileName + L".dl.cfg"}; }

std::optional<SideFiles> PickSideFiles(const std::wstring& fileName, const ExistsFn& exists) {
    for (int n = 1; n <= kMaxNumberedName; ++n) {
        const std::wstring name = NumberedName(fileName, n);
        if (name.empty()) return std::nullopt;
        SideFiles files = DefaultSideFiles(name);
        if (!exists(files.settings) && !exists(files.data)) return files;
    }
    return std::nullopt;
}

std::optional<std::wstring> ChooseTarget(const std::wstring& fileName, const ExistsFn& exists) {
    if (!exists(fileName)) return fileName;
    for (int n = 1; n <= kMaxNumberedName; ++n) {
        std::wstring name = NumberedName(fileName, n);
        if (name.empty()) return std::nullopt;
        if (!exists(name)) return name;
    }
    return std::nullopt;
}

ResumeDecision DecideResume(bool dataExists, bool settingsExists, const std::optional<std::wstring>& settingsText,
                            const std::wstring& url) {
    if (!dataExists && !settingsExists) return {};
    if (dataExists && settingsExists && settingsText && TrimSpaces(*settingsText) == TrimSpaces(url))
        return {true, false};
    return {false, true};
}

}  // namespace vantorix::download
