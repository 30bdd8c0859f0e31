#include "common/manifest/manifest.h"

#include <cstdlib>

#include "common/integrity/expected_archive.h"
#include "common/manifest/json_path.h"
#include "common/text/ascii.h"

namespace vantorix::manifest {

bool IsDownloadUrl(std::string_view url) {
    constexpr size_t kMaxUrl = 2048;
    if (url.empty() || url.size() > kMaxUrl) return false;
    for (unsigned char c : url)
        if (c <= ' ' || c == 0x7F || c == '\\') return false;
    auto starts = [&](std::string_view prefix) {
        if (url.size() < prefix.size()) return false;
        for (size_t i = 0; i < prefix.size(); ++i)
            if (AsciiLowerChar(url[i]) != prefix[i]) return false;
        return true;
    };
    std::string_view rest;
    if (starts("http://")) rest = url.substr(7);
    else if (starts("https://")) rest = url.substr(8);
    else {
        // No scheme: the downloader puts "http://" in front. A "name:" that is not "host:port" is a
        // scheme of its own.
        rest = url;
        const size_t colon = rest.find(':'), slash = rest.find('/');
        if (colon != std::string_view::npos && (slash == std::string_view::npos || colon < slash)) {
            const bool port = colon + 1 < rest.size() && rest[colon + 1] >= '0' && rest[colon + 1] <= '9';
            if (!port) return false;
        }
    }
    const size_t host_end = rest.find_first_of("/?#");
    const std::string_view host = rest.substr(0, host_end);
    return !host.empty() && host.front() != ':' && host.find('@') == std::string_view::npos;
}

namespace {

// "size", "sha256" and "signature": absent reads as "", anything present must be well formed.
bool ReadArchiveMembers(std::string_view json_text, Manifest& m) {
    try {
        m.size = ValueToText(GetJsonValue(kSizePath, json_text));
        m.sha256 = ValueToText(GetJsonValue(kSha256Path, json_text));
        m.signature = ValueToText(GetJsonValue(kSignaturePath, json_text));
    } catch (const JsonPathError&) {
        return false;
    }
    return integrity::ParseExpectedArchive(m.size, m.sha256, m.signature).has_value();
}

}  // namespace

ManifestReading ReadManifest(std::string_view json_text) {
    ManifestReading reading;
    // A body cut short at a NUL by a reader would be a different document; such a body is no manifest.
    if (json_text.find('\0') != std::string_view::npos) {
        reading.problem = ManifestProblem::NulInText;
        return reading;
    }
    std::string Manifest::*const fields[] = {&Manifest::version,   &Manifest::url,       &Manifest::uptext,
                                             &Manifest::new_title, &Manifest::force_mod, &Manifest::new_skinurl};
    static_assert(std::size(fields) == std::size(kManifestPaths));
    Manifest m;
    for (size_t i = 0; i < std::size(fields); ++i) {
        JsonValue value;
        try {
            value = GetJsonValue(kManifestPaths[i], json_text);
        } catch (const JsonPathError&) {
            // The first lookup tells a broken document from one without "Version_date".
            reading.problem = IsJsonDocument(json_text) ? ManifestProblem::NoVersionDate : ManifestProblem::NotJson;
            return reading;
        }
        try {
            m.*fields[i] = ValueToText(value);
        } catch (const JsonPathError&) {
            reading.problem = ManifestProblem::UnreadableValue;
            return reading;
        }
    }
    if (!TextAsNumber(m.force_mod)) {
        reading.problem = ManifestProblem::ForceModNotNumber;
        return reading;
    }
    if (m.version.empty()) {
        reading.problem = ManifestProblem::BadVersion;
        return reading;
    }
    if (!IsDownloadUrl(m.url)) {
        reading.problem = ManifestProblem::BadUrl;
        return reading;
    }
    if (!ReadArchiveMembers(json_text, m)) {
        reading.problem = ManifestProblem::BadIntegrity;
        return reading;
    }
    reading.manifest = std::move(m);
    return reading;
}

std::optional<double> TextAsNumber(std::string_view text) {
    auto blank = [](char c) { return c == ' ' || c == '\t'; };
    while (!text.empty() && blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && blank(text.back())) text.remove_suffix(1);
    std::string plain;
    size_t i = 0;
    auto digits = [&] {
        size_t start = i;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9') plain += text[i++];
        return i - start;
    };
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) plain += text[i++];
    size_t count = digits();
    if (i < text.size() && text[i] == '.') {
        plain += text[i++];
        count += digits();
    }
    if (count == 0) return std::nullopt;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E' || text[i] == 'd' || text[i] == 'D')) {
        plain += 'e';
        ++i;
        if (i < text.size() && (text[i] == '+' || text[i] == '-')) plain += text[i++];
        if (digits() == 0) return std::nullopt;
    }
    if (i != text.size()) return std::nullopt;
    return std::strtod(plain.c_str(), nullptr);
}

bool IsNewVersion(const Manifest& m, std::string_view local_version) { return m.version != local_version; }

std::string MandatoryShownText(const Manifest& m) { return m.force_mod == "1" ? "是" : "否"; }

bool IsMandatory(const Manifest& m) {
    auto number = TextAsNumber(m.force_mod);
    return number && *number > 0;
}

}  // namespace vantorix::manifest
