#include "launcher/app/manifest_source.h"

#include <windows.h>

#include "common/manifest/address_override.h"
#include "common/update_flow/rollout.h"
#include "launcher/app/update_key.h"
#include "launcher/services/install_state_store.h"
#include "launcher/services/manifest_verification.h"
#include "launcher/services/process_cost.h"
#include "launcher/services/services.h"
#include "launcher/services/wide_text.h"
#include "win/diagnostic_log.h"

namespace vantorix::launcher {

namespace {
constexpr wchar_t kLogPlace[] = L"manifest";

// Whether the release is offered to this installation at this moment; the log says how it was decided.
bool Offered(const std::wstring& installation_folder, const update_flow::Rollout& rollout) {
    const int64_t now = services::UnixTimeNow();
    const uint32_t open = update_flow::OpenShare(rollout, now);
    const auto draw = services::RolloutDraw(installation_folder);
    // Without a draw the installation cannot know its place: it waits for the whole share, as the last.
    const bool offered = draw ? update_flow::IsOffered(rollout, *draw, now) : open >= 1000000;
    win::diag::Record(kLogPlace, std::wstring(offered ? L"rollout: offered" : L"rollout: held back") + L", draw " +
                                     (draw ? std::to_wstring(*draw) : L"(none)") + L", open share " +
                                     std::to_wstring(open / 10000) + L"." + std::to_wstring(open / 1000 % 10) + L" % of " +
                                     std::to_wstring(rollout.share_percent) + L" %");
    return offered;
}

}  // namespace

std::wstring ManifestUrl() {
    wchar_t buffer[2048];
    DWORD n = GetEnvironmentVariableW(kManifestUrlVariable, buffer, ARRAYSIZE(buffer));
    // Only an address on this machine replaces the maker's; any other is ignored.
    if (n > 0 && n < ARRAYSIZE(buffer) && manifest::IsLoopbackAddress(std::wstring(buffer, n)))
        return std::wstring(buffer, n);
    return kManifestUrl;
}

std::optional<update_flow::ManifestView> FetchManifestView(const std::wstring& installation_folder, std::string* fetched) {
    const auto body = services::GetUrlBytes(ManifestUrl());
    if (!body) {
        win::diag::Record(kLogPlace, L"no manifest: it could not be fetched");
        return std::nullopt;
    }
    win::diag::Record(kLogPlace, L"fetched, " + services::ProcessCostText());
    const services::StoredState stored = services::ReadInstallState(installation_folder);
    for (const std::wstring& problem : stored.problems) win::diag::Record(kLogPlace, L"installation state: " + problem);
    const std::string_view bytes(reinterpret_cast<const char*>(body->data()), body->size());
    if (fetched) fetched->assign(bytes);
    const auto verdict = services::VerifyManifest(bytes, BuiltInUpdateKeys(), stored.state, services::UnixTimeNow());
    win::diag::Record(kLogPlace, services::Wide(manifest::DescribeVerdict(verdict)));
    win::diag::Record(kLogPlace, L"checked, " + services::ProcessCostText());
    if (!verdict.manifest) return std::nullopt;  // refused: as if there were no manifest, the client starts
    const manifest::Manifest& m = *verdict.manifest;
    if (m.signed_members && m.signed_members->serial > stored.state.manifest_serial &&
        services::RecordAcceptedSerial(installation_folder, m.signed_members->serial) == services::StateWritten::Nowhere)
        win::diag::RecordLastError(kLogPlace, L"the accepted serial could not be recorded");

    update_flow::ManifestView view;
    view.version = services::Wide(m.version);
    view.url = services::Wide(m.url);
    view.uptext = services::Wide(m.uptext);
    view.new_title = services::Wide(m.new_title);
    view.mandatory_shown = services::Wide(manifest::MandatoryShownText(m));
    view.mandatory = manifest::IsMandatory(m);
    // Already checked by the manifest reader: a malformed value made it no manifest.
    view.archive = integrity::ParseExpectedArchive(m.size, m.sha256, m.signature).value_or(integrity::ExpectedArchive{});
    for (const manifest::DeltaOffer& offer : m.deltas)
        if (auto package = integrity::ParseExpectedArchive(offer.size, offer.sha256, offer.signature))
            view.deltas.push_back({services::Wide(offer.from), services::Wide(offer.url), *package});
    if (!m.deltas.empty()) win::diag::Record(kLogPlace, L"deltas offered: " + std::to_wstring(view.deltas.size()));
    if (m.signed_members && m.signed_members->rollout) view.held_back = !Offered(installation_folder, *m.signed_members->rollout);
    return view;
}

}  // namespace vantorix::launcher
