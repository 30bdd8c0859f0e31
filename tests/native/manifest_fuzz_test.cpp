// A bounded, seeded run of mutated manifests and paths through the JSON reader: no crash, and every
// outcome is either a manifest or a named problem.
#include <gtest/gtest.h>

#include <random>

#include "common/manifest/json_path.h"
#include "common/manifest/manifest.h"
#include "common/manifest/signed_manifest.h"
#include "common/manifest/utf8_text.h"

namespace vantorix::manifest {
namespace {

// A few random edits of the seed: characters of JSON's alphabet and broken UTF-8 replaced, inserted,
// deleted, or pieces of the text copied elsewhere.
std::string Mutated(const std::string& seed, std::mt19937& rng) {
    const char alphabet[] = "{}[]\":,.\\ 0123456789eE+-truefalsnul\x80\xff\xe4\xb8";
    auto pick = [&](size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(rng); };
    std::string text = seed;
    int edits = 1 + static_cast<int>(pick(6));
    for (int e = 0; e < edits && !text.empty(); ++e) {
        size_t at = pick(text.size());
        switch (pick(4)) {
            case 0: text[at] = alphabet[pick(sizeof alphabet - 1)]; break;
            case 1: text.insert(at, 1, alphabet[pick(sizeof alphabet - 1)]); break;
            case 2: text.erase(at, 1 + pick(5)); break;
            default: text.insert(at, text.substr(pick(text.size()), pick(20))); break;
        }
    }
    return text;
}

TEST(ManifestFuzz, MutatedManifestsAreReadOrRefusedWithoutCrashing) {
    const std::string seed =
        R"({"Version_date":{"version":"1.0.0.1","url":"https://h/u.zip","uptext":"a\r\nb\u4e2d","new_title":"t",)"
        R"("force_mod":"1","new_skinurl":"s","list":[1,2.5e3,true,null,{"k":[[]]}]}})";
    std::mt19937 rng(8);
    auto pick = [&](size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(rng); };
    int accepted = 0, refused = 0;
    for (int i = 0; i < 2000; ++i) {
        const std::string text = Mutated(seed, rng);
        auto reading = ReadManifest(CleanUtf8(text));
        if (reading.manifest) {
            ++accepted;
            EXPECT_EQ(reading.problem, ManifestProblem::Ok);
            EXPECT_TRUE(TextAsNumber(reading.manifest->force_mod));
        } else {
            ++refused;
            EXPECT_NE(reading.problem, ManifestProblem::Ok);
        }
        // Random paths over the same text: a value or a JsonPathError, nothing else.
        std::string path = "Version_date";
        const char* steps[] = {".version", ".list", "[0]", "[4]", ".k", "[\"url\"]", ".", "[", "]", "[99999999999999999999]"};
        for (int s = 0; s < 3; ++s) path += steps[pick(std::size(steps))];
        try {
            (void)GetJsonValue(path, text);
        } catch (const JsonPathError&) {
        }
    }
    EXPECT_GT(accepted, 100);
    EXPECT_GT(refused, 100);
}

// The signed payload's reader behind a signature check that accepts everything: whatever a mutated
// payload holds, it is a manifest or a refusal with its reason, never a crash.
TEST(ManifestFuzz, MutatedSignedPayloadsAreReadOrRefusedWithoutCrashing) {
    const std::string members = R"("version":"1.0.0.2","url":"https://h/u.zip","uptext":"a","new_title":"t",)"
                                R"("force_mod":"1","new_skinurl":"","size":"12","sha256":")" + std::string(64, 'a') + "\"";
    const std::string payload = "{" + members + R"(,"serial":7,"expires":"2030-01-01T00:00:00Z"})";
    std::string escaped;
    for (char c : payload) escaped += c == '"' ? std::string("\\\"") : std::string(1, c);
    const std::string seed = R"({"Version_date":{)" + members + R"(,"payload":")" + escaped +
                             R"(","payload_signature":")" + std::string(86, 'A') + "==\"}}";
    const integrity::UpdateKeys keys{integrity::PublicKey{}, std::nullopt};
    const auto accept_all = [](std::string_view, std::string_view, const integrity::PublicKey&) { return true; };
    std::mt19937 rng(26);
    int accepted = 0, refused = 0;
    ASSERT_TRUE(VerifyManifest(seed, keys, {}, 0, accept_all).manifest);
    for (int i = 0; i < 2000; ++i) {
        const ManifestVerdict verdict = VerifyManifest(Mutated(seed, rng), keys, {}, 0, accept_all);
        EXPECT_EQ(verdict.manifest.has_value(), verdict.refusal == Refusal::None);
        EXPECT_FALSE(verdict.refusal != Refusal::None && verdict.detail.empty());
        ++(verdict.manifest ? accepted : refused);
    }
    EXPECT_GT(accepted, 10);  // most edits make a member differ, or break the JSON
    EXPECT_GT(refused, 500);
}

}  // namespace
}  // namespace vantorix::manifest
