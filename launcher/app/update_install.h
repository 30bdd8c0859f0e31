#pragma once
// The one place that installs a downloaded update archive over an installation, for the launcher that may
// write its installation and for the elevated step alike: the archive is copied into the installation's
// "\update\" when it lies elsewhere (readable by administrators only), and that copy is installed by
// services::InstallArchive: held refusing writers from its check (size, SHA-256, signature) to the end of
// its unpacking, committed under the journal. What it returns tells which files came, so the
// caller can put a new engine or control library where they are used.
#include <functional>
#include <string>
#include <vector>

#include "common/integrity/expected_archive.h"
#include "common/integrity/update_keys.h"
#include "common/unzip/extract.h"
#include "common/update_flow/install_step.h"

namespace vantorix::launcher {

struct InstallOutcome {
    update_flow::StepExit exit = update_flow::StepExit::Failed;  // Done, or why not (the step's own table)
    std::wstring reason;                  // the extractor's or the copy's words, with the entry concerned
    std::vector<std::wstring> committed;  // installation-relative names of the installed files ("bin\node.dll")
};

// between_blocks runs after every block copied or hashed, progress after every block unpacked: the
// caller's window may answer meanwhile. check (the elevated step's publisher check) judges the staged
// files before the commit.
InstallOutcome InstallDownloadedArchive(const std::wstring& folder, const std::wstring& archive,
                                        const integrity::ExpectedArchive& expected, const integrity::UpdateKeys& keys,
                                        const std::function<void()>& between_blocks, const unzip::UnpackProgress& progress,
                                        const unzip::StagedCheck& check = {});

// The user's file as `work_copy` in the installation's work folder: when it lies elsewhere, copied into a
// new file only SYSTEM and the administrators may open, refusing anything but one plain file (no link, no
// device, no second name of another file), at most the published size + 1 bytes. False, with
// outcome.exit and outcome.reason, when it cannot be.
bool TakeIntoWorkFolder(const std::wstring& folder, const std::wstring& source, const std::wstring& work_copy,
                        const integrity::ExpectedArchive& expected, const std::function<void()>& between_blocks,
                        InstallOutcome& outcome);

// The step's exit code for an archive check's verdict (Done when it matches).
update_flow::StepExit StepExitOf(integrity::ArchiveVerdict verdict);
// The same path, compared as the file system does (case-insensitive).
bool SamePath(const std::wstring& a, const std::wstring& b);

// The installed files hold the engine or the control library, which are used from the system folder.
bool CarriesEngineOrControlLibrary(const std::vector<std::wstring>& committed);

}  // namespace vantorix::launcher
