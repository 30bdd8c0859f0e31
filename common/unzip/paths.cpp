#include "common/unzip/paths.h"

#include <array>

namespace vantorix::unzip {
namespace {

char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

bool IsDeviceName(std::string_view part) {
    // The base name before the first dot, without trailing blanks, is what Windows matches.
    std::string base;
    for (char c : part.substr(0, part.find('.'))) base += Upper(c);
    while (!base.empty() && base.back() == ' ') base.pop_back();
    static constexpr std::array<std::string_view, 7> kFixed = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$", "CLOCK$"};
    for (auto device : kFixed)
        if (base == device) return true;
    if (base.size() == 4 && (base.compare(0, 3, "COM") == 0 || base.compare(0, 3, "LPT") == 0) && base[3] >= '0' && base[3] <= '9')
        return true;
    // COM¹ COM² COM³ and LPT¹..³: superscript digits in UTF-8.
    if (base.size() == 5 && (base.compare(0, 3, "COM") == 0 || base.compare(0, 3, "LPT") == 0) && base[3] == '\xC2' &&
        (base[4] == '\xB9' || base[4] == '\xB2' || base[4] == '\xB3'))
        return true;
    return false;
}

}  // namespace

std::string NormaliseFolder(std::string_view path) {
    std::string s(path);
    s += '\\';
    std::string out;
    out.reserve(s.size());
    size_t i = 0;
    if (s.size() > 2 && s[0] == '\\' && s[1] == '\\' && s[2] != '\\') {
        out = "\\\\";
        i = 2;
    }
    for (; i < s.size(); ++i) {
        if (s[i] == '\\' && !out.empty() && out.back() == '\\') continue;
        out += s[i];
    }
    return out;
}

NameProblem CheckEntryName(std::string_view name) {
    auto separator = [](char c) { return c == '/' || c == '\\'; };
    if (name.empty()) return NameProblem::Empty;
    if (separator(name.front())) return NameProblem::Absolute;
    for (char c : name) {
        auto u = static_cast<unsigned char>(c);
        if (c == ':') return NameProblem::DriveOrStream;
        if (u < 0x20 || u == 0x7f || c == '<' || c == '>' || c == '"' || c == '|' || c == '?' || c == '*')
            return NameProblem::BadCharacter;
    }
    // A folder entry ends in one separator; everything before it is checked part by part.
    if (separator(name.back())) name.remove_suffix(1);
    if (name.empty()) return NameProblem::Empty;
    size_t start = 0;
    while (start <= name.size()) {
        size_t end = start;
        while (end < name.size() && !separator(name[end])) ++end;
        std::string_view part = name.substr(start, end - start);
        if (part.empty()) return NameProblem::EmptyPart;
        if (part == "." || part == "..") return NameProblem::ParentOrSelf;
        if (part.back() == '.' || part.back() == ' ') return NameProblem::TrailingDotOrSpace;
        if (IsDeviceName(part)) return NameProblem::Device;
        start = end + 1;
    }
    return NameProblem::None;
}

const char* NameProblemText(NameProblem problem) {
    switch (problem) {
        case NameProblem::None: return "safe";
        case NameProblem::Empty: return "empty name";
        case NameProblem::Absolute: return "absolute path";
        case NameProblem::DriveOrStream: return "drive letter or stream name";
        case NameProblem::ParentOrSelf: return "\".\" or \"..\" part";
        case NameProblem::Device: return "device name";
        case NameProblem::BadCharacter: return "character not allowed in file names";
        case NameProblem::TrailingDotOrSpace: return "part ending in a dot or blank";
        case NameProblem::EmptyPart: return "empty part";
    }
    return "?";
}

}  // namespace vantorix::unzip
