#pragma once
// The elevated install step's check of what an update puts in place: after the archive or delta is
// staged and before anything is committed, every executable we build that it brings
// (integrity::MustCarryPublisherSignature) must carry a valid Authenticode signature by the signer of the
// running launcher. A refusal names the file and why; the step then ends with
// StepExit::NotSignedByPublisher and nothing is written. A build made explicitly unsigned
// (VANTORIX_CODESIGN_CERT=none) has no signer to compare with and checks nothing, which it logs.
#include "common/unzip/extract.h"

namespace vantorix::launcher {

unzip::StagedCheck PublisherSignatureCheck();

}  // namespace vantorix::launcher
