#include "common/manifest/signed_manifest.h"

#include "common/update_flow/http_time.h"

#include <cstdio>
#include <nlohmann/json.hpp>

#include "common/integrity/expected_archive.h"
#include "common/manifest/json_path.h"
#include "common/manifest/utf8_text.h"

namespace vantorix::manifest {

using update_flow::ParseUtcTime;
using update_flow::UtcTimeText;
namespace {

using nlohmann::json;

// The members published both inside the payload and outside it, in the order they are compared.
struct SharedMember {
    const char* name;
    std::string Manifest::*field;
};
constexpr SharedMember kSharedMembers[] = {
    {"version", &Manifest::version},     {"url", &Manifest::url},
    {"uptext", &Manifest::uptext},       {"new_title", &Manifest::new_title},
    {"force_mod", &Manifest::force_mod}, {"new_skinurl", &Manifest::new_skinurl},
    {"size", &Manifest::size},           {"sha256", &Manifest::sha256},
    {"signature", &Manifest::signature},
};

const char* ProblemName(ManifestProblem problem) {
    switch (problem) {
    case ManifestProblem::Ok: return "ok";
    case ManifestProblem::NotJson: return "not JSON";
    case ManifestProblem::NoVersionDate: return "no Version_date";
    case ManifestProblem::UnreadableValue: return "a member without text";
    case ManifestProblem::ForceModNotNumber: return "force_mod is not a number";
    case ManifestProblem::NulInText: return "a NUL byte in the body";
    case ManifestProblem::BadVersion: return "no version";
    case ManifestProblem::BadUrl: return "not a download address";
    case ManifestProblem::BadIntegrity: return "malformed size, sha256 or signature";
    }
    return "unknown";
}

ManifestVerdict Refuse(Refusal refusal, std::string detail, const Manifest* outer = nullptr,
                       integrity::KeySlot signed_by = integrity::KeySlot::None) {
    ManifestVerdict verdict;
    verdict.refusal = refusal;
    verdict.detail = std::move(detail);
    verdict.signed_by = signed_by;
    if (outer) verdict.announced_version = outer->version;
    return verdict;
}

// The payload's text member, "" when absent; nullopt when present but not a text.
std::optional<std::string> TextMember(const json& payload, const char* name) {
    auto it = payload.find(name);
    if (it == payload.end()) return std::string();
    if (!it->is_string()) return std::nullopt;
    return it->get<std::string>();
}

// The members only the payload carries; nullopt with the reason in `why` when one is missing or malformed.
std::optional<SignedMembers> ReadSignedMembers(const json& payload, std::string& why) {
    SignedMembers members;
    auto serial = payload.find("serial");
    if (serial == payload.end() || !serial->is_number_unsigned()) {
        why = "\"serial\" is not a whole number of 0 or more";
        return std::nullopt;
    }
    members.serial = serial->get<uint64_t>();
    auto expires = payload.find("expires");
    std::optional<int64_t> time;
    if (expires != payload.end() && expires->is_string()) time = ParseUtcTime(expires->get<std::string>());
    if (!time) {
        why = "\"expires\" is not a time like 2027-01-31T00:00:00Z";
        return std::nullopt;
    }
    members.expires = *time;
    // A rollout the launcher cannot read is not guessed at: the manifest is not acted on.
    const auto share = TextMember(payload, "rollout_share"), start = TextMember(payload, "rollout_start"),
               hours = TextMember(payload, "rollout_hours");
    std::optional<update_flow::Rollout> rollout;
    if (share && start && hours) rollout = update_flow::ParseRollout(*share, *start, *hours);
    if (!rollout) {
        why = "\"rollout_share\", \"rollout_start\" or \"rollout_hours\" is malformed";
        return std::nullopt;
    }
    if (!share->empty()) members.rollout = rollout;
    return members;
}

// The "deltas" member of an object: each entry an object of texts with a usable "from", "url", "size" and
// "sha256". A malformed entry is left out rather than refusing the manifest: the full archive at "url"
// is always there to fall back on.
std::vector<DeltaOffer> ReadDeltas(const json& object) {
    std::vector<DeltaOffer> offers;
    auto list = object.find("deltas");
    if (list == object.end() || !list->is_array()) return offers;
    for (const json& entry : *list) {
        if (!entry.is_object()) continue;
        DeltaOffer offer;
        bool texts = true;
        const std::pair<const char*, std::string*> fields[] = {{"from", &offer.from},     {"url", &offer.url},
                                                               {"size", &offer.size},     {"sha256", &offer.sha256},
                                                               {"signature", &offer.signature}};
        for (auto [name, field] : fields) {
            auto value = TextMember(entry, name);
            if (!value) texts = false;
            else *field = std::move(*value);
        }
        if (!texts || offer.from.empty() || !IsDownloadUrl(offer.url) || offer.size.empty() || offer.sha256.empty() ||
            !integrity::ParseExpectedArchive(offer.size, offer.sha256, offer.signature))
            continue;
        offers.push_back(std::move(offer));
    }
    return offers;
}

// The version as the log may show it: at most 40 bytes, valid UTF-8, no control characters.
std::string LoggedVersion(std::string_view version) {
    std::string text = CleanUtf8(version.substr(0, 40));
    for (char& c : text)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
    return text.empty() ? "(none)" : text;
}

}  // namespace

ManifestVerdict VerifyManifest(std::string_view bytes, const integrity::UpdateKeys& keys,
                               const install_state::InstallState& state, int64_t now,
                               const integrity::SignatureCheck& check) {
    const std::string text = CleanUtf8(bytes);
    ManifestReading reading = ReadManifest(text);
    if (!reading.manifest) {
        ManifestVerdict verdict = Refuse(Refusal::Unreadable, std::string("not a manifest, ") + ProblemName(reading.problem));
        verdict.problem = reading.problem;
        return verdict;
    }
    ManifestVerdict verdict;
    if (!keys.Any()) {
        // Built without a key: the manifest is what it says, as it always was.
        verdict.manifest = std::move(reading.manifest);
        if (IsJsonDocument(text)) {
            const json document = json::parse(text);
            auto date = document.find("Version_date");
            if (date != document.end() && date->is_object()) verdict.manifest->deltas = ReadDeltas(*date);
        }
        return verdict;
    }
    const Manifest& outer = *reading.manifest;

    std::string payload_text, signature_text;
    try {
        payload_text = ValueToText(GetJsonValue(kPayloadPath, text));
        signature_text = ValueToText(GetJsonValue(kPayloadSignaturePath, text));
    } catch (const JsonPathError&) {
        return Refuse(Refusal::Unsigned, "payload or payload_signature is not a text", &outer);
    }
    if (payload_text.empty() || signature_text.empty())
        return Refuse(Refusal::Unsigned, payload_text.empty() ? "no payload" : "no payload_signature", &outer);
    constexpr size_t kSignatureBytes = 64;
    const auto signature = integrity::DecodeBase64(signature_text);
    if (!signature || signature->size() != kSignatureBytes)
        return Refuse(Refusal::MalformedSignature, "payload_signature is not base64 of 64 bytes", &outer);
    verdict.signed_by = integrity::SignedBy(keys, payload_text, *signature, check);
    if (verdict.signed_by == integrity::KeySlot::None)
        return Refuse(Refusal::UnknownSigner, "no built-in key verifies the payload", &outer);

    // Signed by the maker from here on: what fails now is a fault of the maker's tools, not an attack.
    json payload;
    if (IsJsonDocument(payload_text)) payload = json::parse(payload_text);
    const integrity::KeySlot by = verdict.signed_by;
    if (!payload.is_object()) return Refuse(Refusal::MalformedPayload, "the payload is not a JSON object", &outer, by);
    Manifest signed_values;
    for (const SharedMember& member : kSharedMembers) {
        auto value = TextMember(payload, member.name);
        if (!value)
            return Refuse(Refusal::MalformedPayload, std::string("\"") + member.name + "\" is not a text", &outer, by);
        signed_values.*member.field = std::move(*value);
    }
    if (signed_values.size.empty() || signed_values.sha256.empty())
        return Refuse(Refusal::MalformedPayload, "\"size\" and \"sha256\" are required", &outer, by);
    std::string why;
    signed_values.signed_members = ReadSignedMembers(payload, why);
    if (!signed_values.signed_members) return Refuse(Refusal::MalformedPayload, why, &outer, by);

    for (const SharedMember& member : kSharedMembers)
        if (outer.*member.field != signed_values.*member.field)
            return Refuse(Refusal::MemberDiffers, std::string("\"") + member.name + "\" differs from the payload's",
                          &outer, by);

    const SignedMembers& members = *signed_values.signed_members;
    if (now >= members.expires)
        return Refuse(Refusal::Expired, "expired at " + UtcTimeText(members.expires) + ", now " + UtcTimeText(now),
                      &outer, by);
    if (members.serial < state.manifest_serial)
        return Refuse(Refusal::LowerSerial,
                      "serial " + std::to_string(members.serial) + " is lower than " +
                          std::to_string(state.manifest_serial) + ", accepted before",
                      &outer, by);
    signed_values.deltas = ReadDeltas(payload);
    verdict.manifest = std::move(signed_values);
    return verdict;
}

std::string DescribeVerdict(const ManifestVerdict& verdict) {
    if (verdict.manifest) {
        std::string line = "accepted " + LoggedVersion(verdict.manifest->version);
        if (const auto& members = verdict.manifest->signed_members)
            line += ", serial " + std::to_string(members->serial) + ", expires " + UtcTimeText(members->expires) +
                    ", " + integrity::KeySlotName(verdict.signed_by);
        else
            line += ", unsigned (no key built in)";
        return line;
    }
    std::string line = "refused";
    if (verdict.refusal != Refusal::Unreadable) line += " " + LoggedVersion(verdict.announced_version);
    return line + ": " + verdict.detail;
}


}  // namespace vantorix::manifest
