#include "common/delta/delta_index.h"

#include "common/number/decimal.h"

namespace vantorix::delta {
namespace {

constexpr std::string_view kHeader = "vantorix-delta 1";
constexpr std::string_view kEnd = "end";
// Sizes the 32-bit launcher can hold in memory at all; a larger file is not ours to patch.
constexpr uint64_t kMaxFileSize = 0x7FFFFFFFull;

std::vector<std::string_view> Fields(std::string_view line) {
    std::vector<std::string_view> fields;
    for (size_t start = 0;;) {
        size_t tab = line.find('\t', start);
        fields.push_back(line.substr(start, tab == std::string_view::npos ? std::string_view::npos : tab - start));
        if (tab == std::string_view::npos) return fields;
        start = tab + 1;
    }
}

std::optional<FileState> State(std::string_view size_text, std::string_view digest_text) {
    auto size = number::ParseDecimal(size_text, kMaxFileSize);
    // Lower case only: one spelling per digest keeps the index comparable byte for byte.
    for (char c : digest_text)
        if (c >= 'A' && c <= 'F') return std::nullopt;
    auto digest = integrity::ParseExpectedArchive("", digest_text);
    if (!size || digest_text.empty() || !digest || !digest->sha256) return std::nullopt;
    return FileState{*size, *digest->sha256};
}

const char* ActionName(Action action) {
    switch (action) {
        case Action::Keep: return "keep";
        case Action::Whole: return "whole";
        case Action::Patch: return "patch";
    }
    return "?";
}

std::optional<DeltaIndex> Fail(std::string* problem, std::string text) {
    if (problem) *problem = std::move(text);
    return std::nullopt;
}

}  // namespace

std::optional<DeltaIndex> ParseIndex(std::string_view text, std::string* problem) {
    if (text.size() > kMaxIndexBytes) return Fail(problem, "index too large");
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        size_t end = text.find('\n');
        if (end == std::string_view::npos) return Fail(problem, "last line without its line break");
        lines.push_back(text.substr(0, end));
        text.remove_prefix(end + 1);
    }
    if (lines.empty() || lines.front() != kHeader) return Fail(problem, "not a delta index of this version");
    if (lines.size() < 4 || lines.back() != kEnd) return Fail(problem, "index cut short");
    DeltaIndex index;
    for (size_t i = 1; i + 1 < lines.size(); ++i) {
        const std::vector<std::string_view> f = Fields(lines[i]);
        const std::string where = "line " + std::to_string(i + 1);
        if (i == 1 || i == 2) {
            if (f.size() != 2 || f[0] != (i == 1 ? "from" : "to") || f[1].empty()) return Fail(problem, where + ": versions expected");
            (i == 1 ? index.from_version : index.to_version) = std::string(f[1]);
            continue;
        }
        DeltaFile file;
        if (f[0] == "keep" || f[0] == "whole") {
            if (f.size() != 4) return Fail(problem, where + ": wrong number of fields");
            file.action = f[0] == "keep" ? Action::Keep : Action::Whole;
        } else if (f[0] == "patch") {
            if (f.size() != 6) return Fail(problem, where + ": wrong number of fields");
            file.action = Action::Patch;
            auto source = State(f[4], f[5]);
            if (!source) return Fail(problem, where + ": malformed source size or digest");
            file.source = *source;
        } else {
            return Fail(problem, where + ": unknown record");
        }
        auto result = State(f[1], f[2]);
        if (!result) return Fail(problem, where + ": malformed size or digest");
        if (f[3].empty()) return Fail(problem, where + ": empty path");
        file.result = *result;
        file.path = std::string(f[3]);
        index.files.push_back(std::move(file));
    }
    return index;
}

std::string IndexText(const DeltaIndex& index) {
    auto state = [](const FileState& s) { return std::to_string(s.size) + "\t" + integrity::HexText(s.sha256); };
    std::string text = std::string(kHeader) + "\nfrom\t" + index.from_version + "\nto\t" + index.to_version + "\n";
    for (const DeltaFile& file : index.files) {
        text += std::string(ActionName(file.action)) + "\t" + state(file.result) + "\t" + file.path;
        if (file.action == Action::Patch) text += "\t" + state(file.source);
        text += "\n";
    }
    return text + std::string(kEnd) + "\n";
}

}  // namespace vantorix::delta
