#pragma once
// Installing a downloaded update archive over an installation: the one path the in-process update and
// the elevated step share. The archive is held open, refusing writers, renamers and deleters, from its
// check to the end of its unpacking, so what was checked is what is installed.
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "common/integrity/expected_archive.h"
#include "launcher/services/archive_check.h"
#include "launcher/services/services.h"

namespace vantorix::services {

struct InstallProgress {
    std::function<void()> between_blocks;  // after every block hashed (and copied)
    std::function<void()> checked;         // the archive passed its check; the unpacking begins
    unzip::UnpackProgress unpacked;        // after every block staged
};

struct InstallResult {
    // The check refused the archive: why (nothing was written, the archive is as it was).
    std::optional<integrity::ArchiveVerdict> refused;
    // Otherwise how the unpacking and the commit went; Ok: installed.
    UnzipResult unpacked;
    // The files committed, relative to the installation ("bin\\node.dll", "Build\\Velview_G_201.ocx").
    std::vector<std::wstring> files;
    explicit operator bool() const { return !refused && unpacked.status == UnzipStatus::Ok; }
};

// Installs the archive over the installation folder under the install lock. An archive that lies outside
// the installation's work folder ("update\\") is copied first into a fresh file there ("newtemp.zip",
// never through a link) and that copy is checked and unpacked. The size, SHA-256 and, with a key, the
// signature are checked against expected; check, when given, judges the staged files before the commit.
// After a commit the archive is removed, and when the archive brought a new launcher while this one runs,
// its staged copy is started to take its place.
InstallResult InstallArchive(const std::wstring& installation, const std::wstring& archive,
                             const integrity::ExpectedArchive& expected, const integrity::UpdateKeys& keys,
                             const InstallProgress& progress = {}, const unzip::StagedCheck& check = {});

// The archive's file name in the work folder.
inline constexpr char kInstalledArchiveName[] = "newtemp.zip";

}  // namespace vantorix::services
