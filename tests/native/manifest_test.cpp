// The update manifest: reading values by path, the launcher's decisions, and broken manifests.
#include <gtest/gtest.h>

#include "common/manifest/json_path.h"
#include "common/manifest/manifest.h"
#include "common/manifest/utf8_text.h"

namespace vantorix::manifest {
namespace {

const char kManifest[] = R"({"Version_date":{
  "version":"1.0.0.1","url":"https://example.test/u.zip","uptext":"修复\r\n改进",
  "new_title":"Vantorix 新版","force_mod":"1","new_skinurl":"https://example.test/skin.zip"}})";

const char kDocument[] = R"({"a":{"s":"text","n":42,"f":1.5,"big":1e21,"t":true,"no":false,"z":null,
  "arr":[{"x":"first"},7,[1,2]],"obj":{"k":1},"中文":"值","Case":"upper","case":"lower"}})";

std::string TextAt(std::string_view path, std::string_view doc = kDocument) {
    return ValueToText(GetJsonValue(path, doc));
}

TEST(JsonPath, ReadsValuesTheWayTheFormStoresThem) {
    struct Case { const char* path; const char* text; } cases[] = {
        {"a.s", "text"},          {"a.n", "42"},          {"a.f", "1.5"},
        {"a.big", "1E+21"},       {"a.t", "True"},        {"a.no", "False"},
        {"a.missing", ""},        {"a.arr[0].x", "first"}, {"a.arr[1]", "7"},
        {"a.arr[2][1]", "2"},     {"a.arr[9]", ""},       {"a.arr.length", "3"},
        {"a.arr.0.x", "first"},   {"a[\"s\"]", "text"},   {"a.中文", "值"},
        {"a.Case", "upper"},      {"a.case", "lower"},    {"a.s.deeper", ""},
        {"a.obj[\"k\"]", "1"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(TextAt(c.path), c.text);
    }
}

TEST(JsonPath, FailsOnMissingIntermediatesBrokenDocumentsAndBadPaths) {
    struct Case { const char* path; const char* doc; } cases[] = {
        {"a.missing.x", kDocument},   // missing intermediate member
        {"a.z.x", kDocument},         // member of null
        {"A.s", kDocument},           // names are case-sensitive
        {"a.arr[9].x", kDocument},
        {"a.s", ""},                  // empty text
        {"a.s", "<html>404</html>"},  // an error page
        {"a.s", R"({"a":{"s":"x"})"}, // truncated
        {"a.s", R"({"a":{"s":"x"}} trailing)"},
        {"", kDocument},              // bad paths
        {"a.", kDocument},
        {"a..s", kDocument},
        {"a[", kDocument},
        {"a[x]", kDocument},
        {"[0]", kDocument},
        {"a.s;alert(1)", kDocument},  // script text in the path is a bad path, never run
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.path) + " in " + c.doc);
        EXPECT_THROW(GetJsonValue(c.path, c.doc), JsonPathError);
    }
}

TEST(JsonPath, NullAndCompositeValuesHaveNoText) {
    EXPECT_EQ(GetJsonValue("a.z", kDocument).kind, JsonValue::Kind::Null);
    EXPECT_THROW(TextAt("a.z"), JsonPathError);
    EXPECT_EQ(GetJsonValue("a.obj", kDocument).kind, JsonValue::Kind::Composite);
    EXPECT_THROW(TextAt("a.obj"), JsonPathError);
}

TEST(JsonPath, EscapedLineBreaksAndNonAsciiComeBackAsText) {
    EXPECT_EQ(TextAt("Version_date.uptext", kManifest), "修复\r\n改进");
    EXPECT_EQ(TextAt("x", R"({"x":"\u4e2d\u6587 \ud83d\ude00"})"), "中文 😀");
}

TEST(JsonPath, DeeplyNestedOrHugeDocumentsAreRefusedNotCrashed) {
    std::string deep(100000, '[');
    EXPECT_THROW(GetJsonValue("a", deep), JsonPathError);
    std::string nested = std::string(kMaxJsonDepth + 10, '[') + std::string(kMaxJsonDepth + 10, ']');
    EXPECT_THROW(GetJsonValue("a", "{\"a\":" + nested + "}"), JsonPathError);
    std::string huge = "{\"a\":\"" + std::string(kMaxJsonBytes, 'x') + "\"}";
    EXPECT_THROW(GetJsonValue("a", huge), JsonPathError);
}

TEST(Manifest, ReadsTheSixValues) {
    auto reading = ReadManifest(kManifest);
    ASSERT_TRUE(reading.manifest) << static_cast<int>(reading.problem);
    const Manifest& m = *reading.manifest;
    EXPECT_EQ(m.version, "1.0.0.1");
    EXPECT_EQ(m.url, "https://example.test/u.zip");
    EXPECT_EQ(m.uptext, "修复\r\n改进");
    EXPECT_EQ(m.new_title, "Vantorix 新版");
    EXPECT_EQ(m.force_mod, "1");
    EXPECT_EQ(m.new_skinurl, "https://example.test/skin.zip");
}

TEST(Manifest, MissingSkinUrlReadsEmptyAndLeavesTheOthers) {
    auto reading = ReadManifest(R"({"Version_date":{"version":"2","url":"u","uptext":"t","new_title":"n","force_mod":"0"}})");
    ASSERT_TRUE(reading.manifest);
    EXPECT_EQ(reading.manifest->new_skinurl, "");
    EXPECT_EQ(reading.manifest->version, "2");
    EXPECT_EQ(reading.manifest->url, "u");
    EXPECT_EQ(reading.manifest->uptext, "t");
    EXPECT_EQ(reading.manifest->new_title, "n");
    EXPECT_EQ(reading.manifest->force_mod, "0");
}

TEST(Manifest, NumericValuesBecomeTheirDecimalText) {
    auto reading = ReadManifest(R"({"Version_date":{"version":3,"url":"http://h/u.zip","force_mod":1}})");
    ASSERT_TRUE(reading.manifest);
    EXPECT_EQ(reading.manifest->version, "3");
    EXPECT_EQ(reading.manifest->force_mod, "1");
    EXPECT_EQ(MandatoryShownText(*reading.manifest), "是");
}

TEST(Manifest, UnusableManifestsAreAbsentWithTheirReason) {
    struct Case { const char* text; ManifestProblem problem; } cases[] = {
        {"", ManifestProblem::NotJson},
        {"<html><body>500 Internal Server Error</body></html>", ManifestProblem::NotJson},
        {R"({"Version_date":{"version":"1")", ManifestProblem::NotJson},
        {R"({"version":"1.0.0.1","force_mod":"1"})", ManifestProblem::NoVersionDate},
        {R"({"Version_date":null})", ManifestProblem::NoVersionDate},
        {R"([1,2,3])", ManifestProblem::NoVersionDate},
        {R"({"Version_date":{"version":"1","force_mod":null}})", ManifestProblem::UnreadableValue},
        {R"({"Version_date":{"version":null,"force_mod":"1"}})", ManifestProblem::UnreadableValue},
        {R"({"Version_date":{"version":{"a":1},"force_mod":"1"}})", ManifestProblem::UnreadableValue},
        {R"({"Version_date":{"version":"1","force_mod":"yes"}})", ManifestProblem::ForceModNotNumber},
        {R"({"Version_date":{"version":"1"}})", ManifestProblem::ForceModNotNumber},
        {R"({"Version_date":{"version":"1","force_mod":""}})", ManifestProblem::ForceModNotNumber},
        {R"({"Version_date":{"version":"1","force_mod":true}})", ManifestProblem::ForceModNotNumber},
        {R"({"Version_date":"1.0"})", ManifestProblem::ForceModNotNumber},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        auto reading = ReadManifest(c.text);
        EXPECT_FALSE(reading.manifest);
        EXPECT_EQ(reading.problem, c.problem);
    }
}

// Manifests the launcher could never act on: offering them would fail or repeat the same download for
// ever, so they count as no manifest at all.
TEST(Manifest, UnactionableValuesMakeNoManifest) {
    auto with = [](std::string version, std::string url) {
        return R"({"Version_date":{"version":")" + version + R"(","url":")" + url + R"(","force_mod":"1"}})";
    };
    struct Case { std::string text; ManifestProblem problem; } cases[] = {
        {with("", "http://h/u.zip"), ManifestProblem::BadVersion},
        {R"({"Version_date":{"url":"http://h/u.zip","force_mod":"1"}})", ManifestProblem::BadVersion},
        // any other version text is a version, offered when it differs from the installed client's
        {with("abc", "http://h/u.zip"), ManifestProblem::Ok},
        {with("-1.0.0.0", "http://h/u.zip"), ManifestProblem::Ok},
        {with("1.0.0.2", ""), ManifestProblem::BadUrl},
        {R"({"Version_date":{"version":"1.0.0.2","force_mod":"1"}})", ManifestProblem::BadUrl},
        {with("1.0.0.2", "javascript:alert(1)"), ManifestProblem::BadUrl},
        {with("1.0.0.2", "file:///C:/u.zip"), ManifestProblem::BadUrl},
        {with("1.0.0.2", "\\\\\\\\server\\\\share\\\\u.zip"), ManifestProblem::BadUrl},  // \\server\share
        {with("1.0.0.2", "http://h/u.zip") + std::string("\0", 1) + "trailing", ManifestProblem::NulInText},
        {R"({"Version_date":{"version":"1.0.0.2","url":"http://h/u.zip","force_mod":"1","uptext":"a\u0000b"}})",
         ManifestProblem::Ok},  // an escaped NUL inside a string is text, not a NUL byte in the body
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text.substr(0, 120));
        auto reading = ReadManifest(c.text);
        EXPECT_EQ(reading.problem, c.problem);
        EXPECT_EQ(reading.manifest.has_value(), c.problem == ManifestProblem::Ok);
    }
}

TEST(Manifest, PublishedSizeAndSha256AreReadAndMustBeWellFormed) {
    const std::string hash(64, 'a');
    auto with = [](std::string members) {
        return R"({"Version_date":{"version":"1.0.0.2","url":"http://h/u.zip","force_mod":"1")" + members + "}}";
    };
    auto plain = ReadManifest(with(""));
    ASSERT_TRUE(plain.manifest);
    EXPECT_EQ(plain.manifest->size, "");
    EXPECT_EQ(plain.manifest->sha256, "");
    auto both = ReadManifest(with(R"(,"size":"1234","sha256":")" + hash + "\""));
    ASSERT_TRUE(both.manifest);
    EXPECT_EQ(both.manifest->size, "1234");
    EXPECT_EQ(both.manifest->sha256, hash);
    EXPECT_EQ(ReadManifest(with(R"(,"size":1234)")).manifest->size, "1234");  // a JSON number serves too
    for (std::string bad : std::vector<std::string>{R"(,"size":"-1")", R"(,"size":"12 kB")", R"(,"size":"99999999999")", R"(,"size":null)",
                            R"(,"sha256":"abc")", R"(,"signature":"AAAA")", R"(,"sha256":")" + std::string(63, 'a') + "g\"", R"(,"sha256":{})"}) {
        SCOPED_TRACE(bad);
        EXPECT_EQ(ReadManifest(with(bad)).problem, ManifestProblem::BadIntegrity);
    }
}

TEST(Manifest, DownloadUrls) {
    for (const char* good : {"http://h/u.zip", "HTTPS://h:8443/u.zip?x=1", "127.0.0.1/u.zip", "localhost:8080/u.zip",
                             "http://[::1]:80/u.zip"}) {
        EXPECT_TRUE(IsDownloadUrl(good)) << good;
    }
    for (const char* bad : {"", "http://", "https:///u.zip", "ftp://h/u.zip", "javascript:alert(1)", "file:///c:/x",
                            "mailto:a@b", "//h/u.zip", "\\\\h\\s\\u.zip", "http://h/a b.zip", "http://h/\tx",
                            "http://user@evil/u.zip"}) {
        EXPECT_FALSE(IsDownloadUrl(bad)) << bad;
    }
    EXPECT_FALSE(IsDownloadUrl("http://h/" + std::string(3000, 'a')));
}

TEST(Manifest, HostileManifestIsDataNotScript) {
    // Text that a script evaluator would run is just an unreadable document to the parser.
    const char* hostile[] = {
        R"({"Version_date":{"version":"1","force_mod":"1"}};new ActiveXObject("WScript.Shell").Run("calc"))",
        R"(eval("1"))",
        R"({"Version_date":{"version":(function(){return "1"})(),"force_mod":"1"}})",
    };
    for (const char* text : hostile) {
        SCOPED_TRACE(text);
        EXPECT_FALSE(ReadManifest(text).manifest);
    }
}

TEST(UpdateDecision, NewVersionIsAnyDifferenceInTheText) {
    struct Case { const char* manifest; const char* local; bool is_new; } cases[] = {
        {"1.0.0.0", "1.0.0.0", false}, {"1.0.0.1", "1.0.0.0", true}, {"0.9.0.0", "1.0.0.0", true},
        {"1.0.0", "1.0.0.0", true},    {"1.0.0.0", "", true},        {"1.0.0.0", "0", true},
        {"V1", "v1", true},            {"1.0.0.0 ", "1.0.0.0", true}, {"", "", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.manifest) + " vs " + c.local);
        Manifest m;
        m.version = c.manifest;
        EXPECT_EQ(IsNewVersion(m, c.local), c.is_new);
    }
}

TEST(UpdateDecision, MandatoryShownAndTaken) {
    struct Case { const char* force_mod; const char* shown; bool mandatory; } cases[] = {
        {"1", "是", true},  {"0", "否", false}, {"2", "否", true},  {"-1", "否", false},
        {" 1 ", "否", true}, {"1.0", "否", true}, {"0.5", "否", true}, {"1e2", "否", true},
        {"0e5", "否", false}, {"abc", "否", false}, {"", "否", false}, {"1x", "否", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.force_mod);
        Manifest m;
        m.force_mod = c.force_mod;
        EXPECT_EQ(MandatoryShownText(m), c.shown);
        EXPECT_EQ(IsMandatory(m), c.mandatory);
    }
}

TEST(UpdateDecision, TextAsNumberAcceptsOnlyNumbers) {
    struct Case { const char* text; bool ok; double value; } cases[] = {
        {"0", true, 0}, {"12", true, 12}, {"-3", true, -3}, {"+4", true, 4}, {".5", true, 0.5}, {"5.", true, 5},
        {"1E3", true, 1000}, {"2d1", true, 20}, {"\t7 ", true, 7},
        {"", false, 0}, {" ", false, 0}, {".", false, 0}, {"1e", false, 0}, {"nan", false, 0},
        {"inf", false, 0}, {"0x10", false, 0}, {"1 2", false, 0}, {"--1", false, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        auto n = TextAsNumber(c.text);
        ASSERT_EQ(n.has_value(), c.ok);
        if (c.ok) {
            EXPECT_DOUBLE_EQ(*n, c.value);
        }
    }
}

TEST(Utf8Text, MalformedBytesBecomeReplacementCharacters) {
    struct Case { std::string in, out; } cases[] = {
        {"plain", "plain"},
        {"\xEF\xBB\xBF" "bom", "bom"},
        {"中文", "中文"},
        {"a\xFF" "b", "a\xEF\xBF\xBD" "b"},
        {"\xC0\xAF", "\xEF\xBF\xBD\xEF\xBF\xBD"},          // overlong "/"
        {"\xED\xA0\x80", "\xEF\xBF\xBD"},                 // surrogate
        {"\xE4\xB8", "\xEF\xBF\xBD"},                     // truncated at the end
        {"\xF4\x90\x80\x80", "\xEF\xBF\xBD"},             // above U+10FFFF
        {"\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.in);
        EXPECT_EQ(CleanUtf8(c.in), c.out);
    }
}

}  // namespace
}  // namespace vantorix::manifest
