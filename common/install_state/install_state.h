#pragma once
// The installation's persistent state, "<installation>\update\install.state": UTF-8 lines "key=value".
// Whoever can write the installation writes it (the elevated install step, or the launcher where the
// installation is its own to write); where the user's launcher cannot, a per-user copy holds what it
// accepted on its own. Reading and writing the files is the platform's; this is the text and the rule that
// combines the two.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vantorix::install_state {

inline constexpr std::string_view kManifestSerialKey = "manifest_serial";
inline constexpr std::string_view kRolloutDrawKey = "rollout_draw";

struct InstallState {
    uint64_t manifest_serial = 0;          // the highest manifest serial accepted; 0: none yet
    std::optional<uint64_t> rollout_draw;  // the installation's stable random number, once drawn
    // Lines of keys this version does not know, kept in their order so a rewrite loses none of them.
    std::vector<std::pair<std::string, std::string>> other;

    bool operator==(const InstallState& o) const {
        return manifest_serial == o.manifest_serial && rollout_draw == o.rollout_draw && other == o.other;
    }
};

struct ParsedState {
    InstallState state;
    // One entry per line that could not be read ("line 3: manifest_serial is not a decimal number"), without
    // the line's value; such a line counts as absent, and the next rewrite writes the known keys afresh.
    std::vector<std::string> problems;
};

// Lines end with LF or CR LF; blank lines are skipped. Known keys take decimal digits (no sign, no blanks,
// at most 2^64 - 1); a key given twice keeps its last value.
ParsedState ParseInstallState(std::string_view text);

// Known keys first (those with a value), then the others; LF line ends.
std::string FormatInstallState(const InstallState& state);

// What a reader of both files goes by: the higher serial, and the installation's draw when it has one,
// else the per-user one. Unknown keys come from the installation's file.
InstallState Combine(const InstallState& installation, const InstallState& per_user);

}  // namespace vantorix::install_state
