#include "common/manifest/manifest.h"

#include <cstdlib>

#include "common/manifest/json_path.h"

namespace vantorix::manifest {

ManifestReading ReadManifest(std::string_view json_text) {
    ManifestReading reading;
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
