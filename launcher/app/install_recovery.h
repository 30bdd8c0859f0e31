#pragma once
// Settling what an earlier install left, before anything reads the installation: the launcher runs it at
// every start, the elevated steps before anything else. One outcome, one line in the log that is open
// (launcher.log for the user's launcher, the installation's install.log for a step); every rollback and
// every discarded journal is logged with the file that decided it.
#include <string>
#include <vector>

#include "launcher/app/installation.h"
#include "launcher/services/services.h"

namespace vantorix::launcher {

// Settles the installation's cut or committed install (services::RecoverInterruptedInstall) and logs the
// outcome; then removes from each of `update_folders` a delta package ("newtemp.delta.zip", with its
// side files) that makes the client version installed now: one left by a run that ended between its
// install and its clean-up.
services::InstallRecovery SettleEarlierInstall(const std::wstring& folder, const std::vector<std::wstring>& update_folders);

// The user's launcher at its start: SettleEarlierInstall over the installation's and the user's update
// folders. A cut install this user may not settle (the installation is the administrators') is not
// left to start as a mixed tree: the user is told once (update_flow::text::kRecoverNeedsAdmin) and the
// elevated "-recover" step is asked for once; its outcome, or the refusal, is logged and the start goes on.
void SettleAtStart(const Installation& installation);

}  // namespace vantorix::launcher
