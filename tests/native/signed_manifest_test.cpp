// The judgement of a signed manifest: which signer, which members, which serial and which time make it
// count, and what the log says. The platform's ECDSA check is replaced by a keyed stand-in here (its real
// form is tested under Wine and end to end); the decisions around it are the same code.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <nlohmann/json.hpp>

#include "common/manifest/signed_manifest.h"
#include "common/update_flow/http_time.h"

namespace vantorix::manifest {
namespace {

using integrity::KeySlot;
using integrity::PublicKey;
using nlohmann::json;
using update_flow::ParseUtcTime;
using update_flow::UtcTimeText;

PublicKey KeyOf(uint8_t seed) {
    PublicKey key{};
    for (size_t i = 0; i < key.size(); ++i) key[i] = static_cast<uint8_t>(seed + i);
    return key;
}
const PublicKey kCurrent = KeyOf(1), kNext = KeyOf(90), kOther = KeyOf(200);

// Stands in for ECDSA: 64 bytes that depend on every byte of the message and of the key.
std::string FakeSign(std::string_view message, const PublicKey& key) {
    const size_t h = std::hash<std::string_view>{}(message);
    std::string signature(64, '\0');
    for (size_t i = 0; i < 64; ++i) signature[i] = static_cast<char>(key[i] ^ (h >> (8 * (i % sizeof h))));
    return signature;
}
bool FakeCheck(std::string_view message, std::string_view signature, const PublicKey& key) {
    return signature == FakeSign(message, key);
}

std::string Base64(std::string_view bytes) {
    static const char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string text;
    for (size_t i = 0; i < bytes.size(); i += 3) {
        const size_t n = std::min<size_t>(3, bytes.size() - i);
        uint32_t group = 0;
        for (size_t k = 0; k < 3; ++k) group = group << 8 | (k < n ? static_cast<uint8_t>(bytes[i + k]) : 0);
        for (size_t k = 0; k < 4; ++k) text += k <= n ? kDigits[group >> (18 - 6 * k) & 63] : '=';
    }
    return text;
}

constexpr int64_t kExpires = 1800000000;  // 2027-01-15T08:00:00Z
constexpr int64_t kNow = kExpires - 3600;

const json kMembers = {{"version", "1.0.0.2"}, {"url", "https://example.test/newtemp.zip"},
                       {"uptext", "修复\r\n改进"}, {"new_title", "春季版"}, {"force_mod", "1"},
                       {"new_skinurl", ""}, {"size", "1234"},
                       {"sha256", std::string(64, 'a')}, {"signature", Base64(std::string(64, 's'))}};

// A manifest as the maker's tool writes it: the members outside, the payload (members + serial + expires)
// as text, its signature by `key`. `edit` changes the payload before it is signed, `after` the manifest's
// "Version_date" after signing.
std::string Signed(const PublicKey* key, uint64_t serial = 7, const std::function<void(json&)>& edit = {},
                   const std::function<void(json&)>& after = {}) {
    json payload = kMembers;
    payload["serial"] = serial;
    payload["expires"] = "2027-01-15T08:00:00Z";
    if (edit) edit(payload);
    json date = kMembers;
    date["payload"] = payload.dump();
    if (key) date["payload_signature"] = Base64(FakeSign(payload.dump(), *key));
    if (after) after(date);
    return json{{"Version_date", date}}.dump();
}

ManifestVerdict Verify(const std::string& text, uint64_t accepted_serial = 0, int64_t now = kNow,
                       integrity::UpdateKeys keys = {kCurrent, kNext}) {
    install_state::InstallState state;
    state.manifest_serial = accepted_serial;
    return VerifyManifest(text, keys, state, now, &FakeCheck);
}

TEST(SignedManifest, OnlyWhatTheBuiltInKeysSignedCounts) {
    const std::string current = Signed(&kCurrent), next = Signed(&kNext);
    struct Case {
        const char* what;
        std::string text;
        Refusal refusal;
        KeySlot signer;
    } cases[] = {
        {"signed by the current key", current, Refusal::None, KeySlot::Current},
        {"signed by the next key", next, Refusal::None, KeySlot::Next},
        {"signed by another key", Signed(&kOther), Refusal::UnknownSigner, KeySlot::None},
        {"unsigned (no payload)", json{{"Version_date", kMembers}}.dump(), Refusal::Unsigned, KeySlot::None},
        {"a payload without its signature", Signed(nullptr), Refusal::Unsigned, KeySlot::None},
        {"a signature that is not 64 bytes", Signed(&kCurrent, 7, {}, [](json& d) { d["payload_signature"] = Base64("short"); }),
         Refusal::MalformedSignature, KeySlot::None},
        {"a payload changed after signing",
         Signed(&kCurrent, 7, {}, [](json& d) {
             std::string p = d["payload"];
             p.replace(p.find("1.0.0.2"), 7, "1.0.0.9");
             d["payload"] = p;
         }),
         Refusal::UnknownSigner, KeySlot::None},
        {"a payload that is not an object", Signed(&kCurrent, 7, [](json& p) { p = json::array({p}); }),
         Refusal::MalformedPayload, KeySlot::Current},
        {"no serial", Signed(&kCurrent, 7, [](json& p) { p.erase("serial"); }), Refusal::MalformedPayload, KeySlot::Current},
        {"a negative serial", Signed(&kCurrent, 7, [](json& p) { p["serial"] = -1; }), Refusal::MalformedPayload, KeySlot::Current},
        {"a serial as text", Signed(&kCurrent, 7, [](json& p) { p["serial"] = "7"; }), Refusal::MalformedPayload, KeySlot::Current},
        {"a fractional serial", Signed(&kCurrent, 7, [](json& p) { p["serial"] = 7.5; }), Refusal::MalformedPayload, KeySlot::Current},
        {"no expiry", Signed(&kCurrent, 7, [](json& p) { p.erase("expires"); }), Refusal::MalformedPayload, KeySlot::Current},
        {"an expiry without its zone", Signed(&kCurrent, 7, [](json& p) { p["expires"] = "2027-01-15T08:00:00"; }),
         Refusal::MalformedPayload, KeySlot::Current},
        {"no size in the payload (nor outside)",
         Signed(&kCurrent, 7, [](json& p) { p.erase("size"); }, [](json& d) { d.erase("size"); }),
         Refusal::MalformedPayload, KeySlot::Current},
        {"a member that is not a text", Signed(&kCurrent, 7, [](json& p) { p["force_mod"] = 1; }),
         Refusal::MalformedPayload, KeySlot::Current},
        {"an outer member the payload lacks", Signed(&kCurrent, 7, [](json& p) { p.erase("new_title"); }),
         Refusal::MemberDiffers, KeySlot::Current},
        {"a rollout share above 100 %", Signed(&kCurrent, 7, [](json& p) { p["rollout_share"] = "101"; }),
         Refusal::MalformedPayload, KeySlot::Current},
        {"a rollout share as a number", Signed(&kCurrent, 7, [](json& p) { p["rollout_share"] = 50; }),
         Refusal::MalformedPayload, KeySlot::Current},
        {"a rollout start without a share", Signed(&kCurrent, 7, [](json& p) { p["rollout_start"] = "2026-05-01T08:00:00Z"; }),
         Refusal::MalformedPayload, KeySlot::Current},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const ManifestVerdict verdict = Verify(c.text);
        EXPECT_EQ(verdict.refusal, c.refusal) << verdict.detail;
        EXPECT_EQ(verdict.signed_by, c.signer);
        EXPECT_EQ(verdict.manifest.has_value(), c.refusal == Refusal::None);
    }
    const ManifestVerdict accepted = Verify(current);
    ASSERT_TRUE(accepted.manifest && accepted.manifest->signed_members);
    EXPECT_EQ(accepted.manifest->uptext, "修复\r\n改进");
    EXPECT_EQ(accepted.manifest->signed_members->serial, 7u);
    EXPECT_EQ(accepted.manifest->signed_members->expires, kExpires);
    EXPECT_FALSE(accepted.manifest->signed_members->rollout);  // none published: everybody at once
    const ManifestVerdict phased = Verify(Signed(&kCurrent, 7, [](json& p) {
        p["rollout_share"] = "25";
        p["rollout_start"] = "2026-05-01T08:00:00Z";
        p["rollout_hours"] = "48";
    }));
    ASSERT_TRUE(phased.manifest && phased.manifest->signed_members && phased.manifest->signed_members->rollout);
    EXPECT_EQ(phased.manifest->signed_members->rollout->share_percent, 25u);
    EXPECT_EQ(phased.manifest->signed_members->rollout->ramp_hours, 48u);
    // After a release that drops the old key, the old key's manifests no longer count.
    EXPECT_EQ(Verify(current, 0, kNow, {kNext, std::nullopt}).refusal, Refusal::UnknownSigner);
    EXPECT_EQ(Verify(next, 0, kNow, {kNext, std::nullopt}).signed_by, KeySlot::Current);
}

TEST(SignedManifest, AnyMemberChangedOutsideThePayloadIsRefused) {
    for (const auto& [name, value] : kMembers.items()) {
        SCOPED_TRACE(name);
        const std::string changed = Signed(&kCurrent, 7, {}, [&](json& d) {
            d[name] = name == "url" ? "https://other.test/u.zip" : name == "size" ? "99" : name == "force_mod" ? "0"
                      : name == "sha256" ? std::string(64, 'b') : name == "signature" ? Base64(std::string(64, 't'))
                                                                                       : "changed";
        });
        const ManifestVerdict verdict = Verify(changed);
        EXPECT_EQ(verdict.refusal, Refusal::MemberDiffers);
        EXPECT_NE(verdict.detail.find("\"" + name + "\""), std::string::npos) << verdict.detail;
    }
}

TEST(SignedManifest, SerialAndExpiryDecideAgainstTheInstallationsStateAndTheClock) {
    struct Case {
        const char* what;
        uint64_t serial, accepted;
        int64_t now;
        Refusal refusal;
    } cases[] = {
        {"a first manifest", 7, 0, kNow, Refusal::None},
        {"the same manifest served again", 7, 7, kNow, Refusal::None},
        {"a higher serial (also an older version republished)", 8, 7, kNow, Refusal::None},
        {"a lower serial than one accepted", 6, 7, kNow, Refusal::LowerSerial},
        {"a second before it expires", 7, 0, kExpires - 1, Refusal::None},
        {"at its expiry", 7, 0, kExpires, Refusal::Expired},
        {"long after it", 7, 0, kExpires + 86400 * 365, Refusal::Expired},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(Verify(Signed(&kCurrent, c.serial), c.accepted, c.now).refusal, c.refusal);
    }
    EXPECT_EQ(DescribeVerdict(Verify(Signed(&kCurrent, 3), 5)), "refused 1.0.0.2: serial 3 is lower than 5, accepted before");
    EXPECT_EQ(DescribeVerdict(Verify(Signed(&kCurrent), 0, kExpires)),
              "refused 1.0.0.2: expired at 2027-01-15T08:00:00Z, now 2027-01-15T08:00:00Z");
    EXPECT_EQ(DescribeVerdict(Verify(Signed(&kNext, 8), 7)), "accepted 1.0.0.2, serial 8, expires 2027-01-15T08:00:00Z, next key");
}

TEST(SignedManifest, WithoutABuiltInKeyTheManifestIsReadAsBefore) {
    // Signature, serial and expiry are not looked at: an expired, lower-serial, unsigned manifest counts.
    const std::string unsigned_text = json{{"Version_date", kMembers}}.dump();
    for (const std::string& text : {unsigned_text, Signed(&kOther, 1)}) {
        const ManifestVerdict verdict = Verify(text, 9, kExpires + 1, {});
        ASSERT_TRUE(verdict.manifest);
        EXPECT_EQ(verdict.manifest->version, "1.0.0.2");
        EXPECT_FALSE(verdict.manifest->signed_members);
    }
    // What was never a manifest stays none, with its reason, with or without a key.
    for (const integrity::UpdateKeys& keys : {integrity::UpdateKeys{}, integrity::UpdateKeys{kCurrent, std::nullopt}}) {
        const ManifestVerdict verdict = Verify("<html>503</html>", 0, kNow, keys);
        EXPECT_EQ(verdict.refusal, Refusal::Unreadable);
        EXPECT_EQ(verdict.problem, ManifestProblem::NotJson);
        EXPECT_EQ(DescribeVerdict(verdict), "refused: not a manifest, not JSON");
    }
    // The log gets the announced version only, cut and without control characters.
    const std::string noisy = Signed(&kOther, 7, {}, [](json& d) { d["version"] = "1.0\r\nforged line" + std::string(80, 'x'); });
    EXPECT_EQ(DescribeVerdict(Verify(noisy)), "refused 1.0??forged line" + std::string(24, 'x') +
                                                  ": no built-in key verifies the payload");
}

TEST(SignedManifest, UtcTimesAreReadExactlyAndWrittenBack) {
    struct Case { const char* text; int64_t seconds; } good[] = {
        {"1970-01-01T00:00:00Z", 0}, {"2000-02-29T23:59:59Z", 951868799}, {"2027-01-15T08:00:00Z", kExpires},
        {"9999-12-31T23:59:59Z", 253402300799},
    };
    for (const auto& c : good) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(ParseUtcTime(c.text), c.seconds);
        EXPECT_EQ(UtcTimeText(c.seconds), c.text);
    }
    for (const char* bad : {"1969-12-31T23:59:59Z", "2027-02-29T00:00:00Z", "2100-02-29T00:00:00Z", "2027-13-01T00:00:00Z",
                            "2027-01-00T00:00:00Z", "2027-01-15T24:00:00Z", "2027-01-15T08:60:00Z", "2027-01-15t08:00:00Z",
                            "2027-01-15T08:00:00", "2027-01-15T08:00:00+00:00", "2027-1-15T08:00:00Z", " 2027-01-15T08:00:00Z",
                            "2027-01-15T08:00:0xZ", ""}) {
        SCOPED_TRACE(bad);
        EXPECT_FALSE(ParseUtcTime(bad));
    }
}

TEST(SignedManifest, DeltasCountOnlyFromWhatWasSignedAndMalformedOnesAreLeftOut) {
    const json good = {{"from", "1.0.0.1"}, {"url", "https://example.test/1.0.0.1-1.0.0.2.delta.zip"}, {"size", "99"},
                       {"sha256", std::string(64, 'c')}, {"signature", Base64(std::string(64, 'd'))}};
    auto with = [&](json entry) { json e = good; e.merge_patch(entry); return e; };
    const json listed = json::array({good, with({{"from", ""}}), with({{"url", "file:///c:/x"}}), with({{"size", "x"}}),
                                     with({{"sha256", nullptr}}), with({{"size", 99}}), "not an object",
                                     with({{"from", "1.0.0.0"}, {"signature", ""}})});
    const auto verdict = Verify(Signed(&kCurrent, 7, [&](json& p) { p["deltas"] = listed; }));
    ASSERT_TRUE(verdict.manifest);
    ASSERT_EQ(verdict.manifest->deltas.size(), 2u);
    EXPECT_EQ(verdict.manifest->deltas[0].from, "1.0.0.1");
    EXPECT_EQ(verdict.manifest->deltas[0].size, "99");
    EXPECT_EQ(verdict.manifest->deltas[1].from, "1.0.0.0");
    // Deltas outside the payload are not what the maker signed: a launcher with a key ignores them.
    const auto outside = Verify(Signed(&kCurrent, 7, {}, [&](json& d) { d["deltas"] = listed; }));
    ASSERT_TRUE(outside.manifest);
    EXPECT_TRUE(outside.manifest->deltas.empty());
    // Without a key the manifest's own member is read.
    json unsigned_date = kMembers;
    unsigned_date["deltas"] = listed;
    const auto without_key = Verify(json{{"Version_date", unsigned_date}}.dump(), 0, kNow, {});
    ASSERT_TRUE(without_key.manifest);
    EXPECT_EQ(without_key.manifest->deltas.size(), 2u);
}

}  // namespace
}  // namespace vantorix::manifest
