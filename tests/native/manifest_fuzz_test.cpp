// A bounded, seeded run of mutated manifests and paths through the JSON reader: no crash, and every
// outcome is either a manifest or a named problem.
#include <gtest/gtest.h>

#include <random>

#include "common/manifest/json_path.h"
#include "common/manifest/manifest.h"
#include "common/manifest/utf8_text.h"

namespace vantorix::manifest {
namespace {

TEST(ManifestFuzz, MutatedManifestsAreReadOrRefusedWithoutCrashing) {
    const std::string seed =
        R"({"Version_date":{"version":"1.0.0.1","url":"https://h/u.zip","uptext":"a\r\nb\u4e2d","new_title":"t",)"
        R"("force_mod":"1","new_skinurl":"s","list":[1,2.5e3,true,null,{"k":[[]]}]}})";
    const char alphabet[] = "{}[]\":,.\\ 0123456789eE+-truefalsnul\x80\xff\xe4\xb8";
    std::mt19937 rng(8);
    auto pick = [&](size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(rng); };
    int accepted = 0, refused = 0;
    for (int i = 0; i < 2000; ++i) {
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

}  // namespace
}  // namespace vantorix::manifest
