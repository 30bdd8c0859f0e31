#include "common/update_flow/install_step.h"

#include "common/update_flow/texts.h"

namespace vantorix::update_flow {

UnpackResult OutcomeOfInstallStep(unsigned long exit_code) {
    switch (static_cast<StepExit>(exit_code)) {
    case StepExit::Done:
    case StepExit::ComponentsFailed:  // the files are in place; the system folder keeps the engine in use
        return {UnpackOutcome::Done, L""};
    case StepExit::ManifestRefused: return {UnpackOutcome::ArchiveRejected, text::kStepManifestRefused};
    case StepExit::ArchiveUnreadable: return {UnpackOutcome::ArchiveRejected, text::kArchiveUnreadable};
    case StepExit::WrongSize: return {UnpackOutcome::ArchiveRejected, text::kArchiveWrongSize};
    case StepExit::WrongHash: return {UnpackOutcome::ArchiveRejected, text::kArchiveWrongHash};
    case StepExit::MissingSignature: return {UnpackOutcome::ArchiveRejected, text::kArchiveNotSigned};
    case StepExit::BadSignature: return {UnpackOutcome::ArchiveRejected, text::kArchiveBadSignature};
    case StepExit::ArchiveRejected: return {UnpackOutcome::ArchiveRejected, text::kStepArchiveRejected};
    case StepExit::NotSignedByPublisher: return {UnpackOutcome::ArchiveRejected, text::kStepNotSignedByPublisher};
    case StepExit::NoRoom: return {UnpackOutcome::NoRoom, L""};
    case StepExit::DeltaRefused: return {UnpackOutcome::DeltaRefused, L"the delta does not apply (step exit 14)"};
    case StepExit::InstallationRefused: return {UnpackOutcome::InstallationRefused, L""};
    case StepExit::BadCommandLine:
    case StepExit::WriteFailed:
    case StepExit::InstallBusy:
    case StepExit::Failed:
    case StepExit::ServiceRefused:
        break;
    }
    return {UnpackOutcome::WriteFailed, text::kStepFailedCode + std::to_wstring(exit_code)};
}

}  // namespace vantorix::update_flow
