#pragma once
// Names of the downloader's files: the side files next to the target (".dl" holds the bytes received so
// far, ".dl.cfg" the URL they came from), their numbered variants, the final target name, and the rule
// that decides whether a start resumes.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace vantorix::download {

// Highest number tried for a numbered name (a 16-bit counter).
constexpr int kMaxNumberedName = 32767;

// "C:\a\newtemp.zip", 1 -> "C:\a\newtemp(1).zip"; "C:\my.dir\file", 2 -> "C:\my.dir\file(2)".
// The path is split at its last "\" and the file name at its last "."; a blank path or one without "\"
// gives "".
std::wstring NumberedName(const std::wstring& path, int n);

// True when the path names a file inside a folder (has a "\" and is not blank).
bool HasFolder(const std::wstring& path);

// The text without leading and trailing spaces.
std::wstring TrimSpaces(const std::wstring& text);

// "http://" in front unless the address (spaces ignored) already starts with "http://" or "https://",
// compared without regard to case.
std::wstring NormalizeUrl(const std::wstring& url);

struct SideFiles {
    std::wstring data;      // target + ".dl"
    std::wstring settings;  // target + ".dl.cfg"
    // Beside them, the validator (ETag or Last-Modified) of the version the data came from, so a resume
    // asks "If-Range" and is never joined to another version: data + ".tag".
    std::wstring Validator() const { return data + L".tag"; }
};

using ExistsFn = std::function<bool(const std::wstring& path)>;

SideFiles DefaultSideFiles(const std::wstring& fileName);

// The first numbered pair (n = 1, 2, ...) of which neither file exists; nothing when the name cannot be
// numbered or every number up to kMaxNumberedName is taken.
std::optional<SideFiles> PickSideFiles(const std::wstring& fileName, const ExistsFn& exists);

// Where the finished file goes: fileName when free, else the first free numbered name; nothing when
// none is free.
std::optional<std::wstring> ChooseTarget(const std::wstring& fileName, const ExistsFn& exists);

// What a start does with side files it finds.
struct ResumeDecision {
    bool resume = false;         // continue the data side file at its current length
    bool pickNewNames = false;   // leave the side files found alone and use numbered ones
};

// dataExists/settingsExists: the default side files; settingsText: the settings file's text when it
// could be read. Resumes only when both exist and the stored URL equals url (spaces around ignored).
ResumeDecision DecideResume(bool dataExists, bool settingsExists, const std::optional<std::wstring>& settingsText,
                            const std::wstring& url);

}  // namespace vantorix::download
