#pragma once
// Folder and entry-name text rules of the extractor. Paths use "\" as the separator on every platform;
// the file-system layer maps them to the host's form.
#include <string>
#include <string_view>

namespace vantorix::unzip {

// Text after the last "\" (all of it when there is none).
template <class Str>
Str FileNamePart(const Str& path) {
    auto pos = path.find_last_of(static_cast<typename Str::value_type>('\\'));
    return pos == Str::npos ? path : path.substr(pos + 1);
}

// Text up to and including the last "\" ("" when there is none).
template <class Str>
Str FolderPart(const Str& path) {
    auto pos = path.find_last_of(static_cast<typename Str::value_type>('\\'));
    return pos == Str::npos ? Str() : path.substr(0, pos + 1);
}

// path + "\" with every run of "\" reduced to one, except the two that open a network path (\\server\share).
std::string NormaliseFolder(std::string_view path);

// Why an entry name may not be written.
enum class NameProblem {
    None,
    Empty,               // "" or only separators
    Absolute,            // starts with "\" or "/" (root-relative or a network path)
    DriveOrStream,       // holds ":" (C:..., file:stream)
    ParentOrSelf,        // a "." or ".." part
    Device,              // a part named CON, NUL, COM1, LPT1, ... (any extension, any case)
    BadCharacter,        // control characters or < > " | ? *
    TrailingDotOrSpace,  // a part ending in "." or " ", which Windows would silently strip
    EmptyPart,           // "a//b": two separators in a row
};

// Checks a decoded entry name (UTF-8; "/" and "\" both count as separators). A trailing separator marks
// a folder entry and is allowed.
NameProblem CheckEntryName(std::string_view name);

const char* NameProblemText(NameProblem problem);

}  // namespace vantorix::unzip
