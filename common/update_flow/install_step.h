#pragma once
// The elevated steps of the launcher: its own program started with the shell's "runas" verb when the user
// cannot write where the step writes. Each acts only on the installation the setup registered, and only
// while nobody but the system and the administrators can change it (launcher/app/protected_installation.h);
// none ever starts a program. Each is its own entry point with a narrow input:
//
//   VantorixAssist.exe -install-update "<archive>" "<manifest>"
//       <archive>: the downloaded update archive; <manifest>: a file holding the exact bytes of the
//       manifest the user's launcher fetched. Both are the user's files and are trusted in nothing: the
//       step judges the manifest itself, copies the archive into the installation's "\update\" (which only
//       administrators may write) and checks size, SHA-256 and signature of that copy before it installs
//       it under the journal. The installation is always the step's own folder, never an argument.
//   VantorixAssist.exe -install-update "<delta>" "<manifest>" -delta
//       the same for a delta package: the step picks from the manifest it accepted the delta listed for the
//       client version installed in its own folder, copies the package into "\update\newtemp.delta.zip",
//       checks its size, SHA-256 and signature and applies it (delta::ApplyDelta). A delta that does not
//       fit the installation ends with DeltaRefused, nothing written: the user's launcher then downloads
//       the full archive and asks for this step once more with it.
//   VantorixAssist.exe -register
//       puts the installation's control library and engine into the system folder and registers the
//       library there.
//   VantorixAssist.exe -recover
//       settles an install of its own installation that was cut short (rolled back, or found whole and its
//       work files removed, or its journal discarded when a later setup repair stands) and nothing else:
//       the user's launcher asks for it once when it finds such an install and may not settle it itself.
//
// None shows a window; each ends with one of the exit codes below, and the user's launcher maps it to
// what its form shows. The table is part of the interface (README, "The elevated steps").
#include <string>

#include "common/update_flow/update_flow.h"

namespace vantorix::update_flow {

inline constexpr wchar_t kInstallUpdateArgument[] = L"-install-update";
inline constexpr wchar_t kRegisterArgument[] = L"-register";
inline constexpr wchar_t kRecoverArgument[] = L"-recover";
inline constexpr wchar_t kDeltaFlag[] = L"-delta";

enum class StepExit : int {
    Done = 0,                // installed (or registered; -recover: nothing is left to settle)
    BadCommandLine = 1,      // not exactly the arguments above, or a path that is not a local file path
    ManifestRefused = 2,     // the manifest file is unreadable, too large, or refused by the manifest check
    ArchiveUnreadable = 3,   // the archive cannot be read, is no plain file, or cannot be copied in
    WrongSize = 4,           // the copy is not the published size
    WrongHash = 5,           // the copy does not have the published SHA-256
    MissingSignature = 6,    // a key is built in and the manifest publishes no archive signature
    BadSignature = 7,        // the archive signature is not the maker's
    ArchiveRejected = 8,     // not a usable archive (damaged, encrypted, unsafe names, empty): nothing written
    WriteFailed = 9,         // a file could not be written (in use): the installation was restored
                             // (-recover: the cut install could not be settled yet, it stays for later)
    NoRoom = 10,             // the unpacked files would not fit on the volume: nothing written
    InstallBusy = 11,        // another install of this installation is under way: nothing written
    ComponentsFailed = 12,   // the files are installed, but the engine or the control library could not be
                             // put into the system folder or registered there (for -register: not registered)
    Failed = 13,             // anything else (an unexpected failure of the step itself)
    DeltaRefused = 14,       // -delta: no delta for the installed version, or it does not apply to the installed
                             // files or is damaged: nothing written, the full archive is the way on
    InstallationRefused = 15,  // the step's own folder is not an installation the setup registered, or it or a
                               // folder above it lets others than SYSTEM, the administrators and TrustedInstaller
                               // change it (launcher/app/protected_installation.h): nothing done, nothing started
    NotSignedByPublisher = 16,  // an executable the archive or delta brings (VantorixAssist.exe, bin\client.exe,
                                // Build\Velview_G_201.ocx) has no valid Authenticode signature by the signer
                                // of the running launcher (or the launcher itself has none): nothing written
    ServiceRefused = 17,     // the maintenance service refused the request itself (its policy disables it, it
                             // runs from a folder that is not the one it serves, no nonce): nothing written
};

// What the user's launcher makes of a step's exit code: the outcome its flow knows, with a reason for the
// message. An exit code outside the table (a crash, a kill) counts as WriteFailed: the journal settles the
// installation at the next install or start.
UnpackResult OutcomeOfInstallStep(unsigned long exit_code);
// The same for an install in the user's own process: no exit code crosses a process boundary there.
inline UnpackResult OutcomeOfInstallStep(StepExit exit) { return OutcomeOfInstallStep(static_cast<unsigned long>(exit)); }

}  // namespace vantorix::update_flow
