#include "launcher/app/publisher_check.h"

#include <windows.h>

#include "common/integrity/publisher_signature.h"
#include "common/unzip/install_commit.h"
#include "launcher/services/authenticode.h"
#include "launcher/services/wide_text.h"
#include "win/diagnostic_log.h"

namespace vantorix::launcher {

namespace {
constexpr wchar_t kLogPlace[] = L"install step";
}

unzip::StagedCheck PublisherSignatureCheck() {
#ifdef VANTORIX_UNSIGNED_BUILD
    win::diag::Record(kLogPlace, L"an unsigned build: the signatures of the installed programs are not checked");
    return {};
#else
    return [](const std::string& stage_folder, const std::vector<unzip::CommitFile>& staged)
               -> std::optional<unzip::StagedRefusal> {
        std::optional<integrity::SignatureFacts> launcher;
        for (const unzip::CommitFile& file : staged) {
            if (!integrity::MustCarryPublisherSignature(file.name)) continue;
            if (!launcher) launcher = services::ReadOwnAuthenticode();
            const integrity::SignatureFacts facts = services::ReadAuthenticode(services::Wide(stage_folder + file.name));
            if (auto why = integrity::PublisherSignatureRefusal(facts, *launcher)) {
                win::diag::Record(kLogPlace, L"refused " + services::Wide(file.name) + L": " + services::Wide(*why),
                                  facts.code);
                return unzip::StagedRefusal{file.name, *why};
            }
            win::diag::Record(kLogPlace, L"signed by the launcher's signer: " + services::Wide(file.name));
        }
        return std::nullopt;
    };
#endif
}

}  // namespace vantorix::launcher
