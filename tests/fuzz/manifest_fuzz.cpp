// The manifest reader over any fetched body: what it accepts it reads the same way through the JSON paths
// and gives back unchanged from a document written anew; what it refuses it names.
#include <nlohmann/json.hpp>

#include "common/integrity/expected_archive.h"
#include "common/manifest/json_path.h"
#include "common/manifest/manifest.h"
#include "common/manifest/utf8_text.h"
#include "fuzz_support.h"

using namespace vantorix::manifest;

namespace {

bool Same(const Manifest& a, const Manifest& b) {
    return a.version == b.version && a.url == b.url && a.uptext == b.uptext && a.new_title == b.new_title &&
           a.force_mod == b.force_mod && a.new_skinurl == b.new_skinurl && a.size == b.size &&
           a.sha256 == b.sha256 && a.signature == b.signature;
}

std::string Written(const Manifest& m) {
    nlohmann::json members = {{"version", m.version},     {"url", m.url},           {"uptext", m.uptext},
                              {"new_title", m.new_title}, {"force_mod", m.force_mod}, {"new_skinurl", m.new_skinurl}};
    if (!m.size.empty()) members["size"] = m.size;
    if (!m.sha256.empty()) members["sha256"] = m.sha256;
    if (!m.signature.empty()) members["signature"] = m.signature;
    // Strict: a value that is not valid UTF-8 throws here, and the reader promised UTF-8.
    return nlohmann::json{{"Version_date", members}}.dump(-1, ' ', false, nlohmann::json::error_handler_t::strict);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text = CleanUtf8(fuzz_support::Text(data, size));
    FUZZ_CHECK(CleanUtf8("." + text) == "." + text);  // valid UTF-8 (the "." keeps a second mark as it is)

    const ManifestReading reading = ReadManifest(text);
    FUZZ_CHECK(reading.manifest.has_value() == (reading.problem == ManifestProblem::Ok));
    if (reading.problem == ManifestProblem::NotJson) FUZZ_CHECK(!IsJsonDocument(text));
    if (reading.problem == ManifestProblem::NoVersionDate) FUZZ_CHECK(IsJsonDocument(text));
    if (!reading.manifest) return 0;

    const Manifest& m = *reading.manifest;
    FUZZ_CHECK(!m.version.empty());
    FUZZ_CHECK(IsDownloadUrl(m.url));
    FUZZ_CHECK(TextAsNumber(m.force_mod).has_value());
    FUZZ_CHECK(IsMandatory(m) == (*TextAsNumber(m.force_mod) > 0));
    FUZZ_CHECK(vantorix::integrity::ParseExpectedArchive(m.size, m.sha256, m.signature).has_value());
    const std::string Manifest::*fields[] = {&Manifest::version,   &Manifest::url,       &Manifest::uptext,
                                             &Manifest::new_title, &Manifest::force_mod, &Manifest::new_skinurl};
    for (std::size_t i = 0; i < std::size(fields); ++i)
        FUZZ_CHECK(ValueToText(GetJsonValue(kManifestPaths[i], text)) == m.*fields[i]);

    const ManifestReading again = ReadManifest(Written(m));
    FUZZ_CHECK(again.manifest && Same(*again.manifest, m));
    return 0;
}
