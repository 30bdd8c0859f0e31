#include "common/install_state/install_state.h"

namespace vantorix::install_state {
namespace {

std::optional<uint64_t> Decimal(std::string_view text) {
    if (text.empty() || text.size() > 20) return std::nullopt;
    uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        const uint64_t digit = static_cast<uint64_t>(c - '0');
        if (value > (UINT64_MAX - digit) / 10) return std::nullopt;
        value = value * 10 + digit;
    }
    return value;
}

}  // namespace

ParsedState ParseInstallState(std::string_view text) {
    ParsedState parsed;
    size_t number = 0;
    while (!text.empty()) {
        const size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        ++number;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.empty()) continue;
        const size_t equals = line.find('=');
        const std::string_view key = line.substr(0, equals);
        const std::string_view value = equals == std::string_view::npos ? std::string_view() : line.substr(equals + 1);
        if (equals == std::string_view::npos || key.empty()) {
            parsed.problems.push_back("line " + std::to_string(number) + " is not key=value");
            continue;
        }
        if (key == kManifestSerialKey || key == kRolloutDrawKey) {
            const auto decimal = Decimal(value);
            if (!decimal) {
                parsed.problems.push_back("line " + std::to_string(number) + ": " + std::string(key) +
                                          " is not a decimal number");
                continue;
            }
            if (key == kManifestSerialKey) parsed.state.manifest_serial = *decimal;
            else parsed.state.rollout_draw = *decimal;
            continue;
        }
        parsed.state.other.emplace_back(std::string(key), std::string(value));
    }
    return parsed;
}

std::string FormatInstallState(const InstallState& state) {
    std::string text;
    auto line = [&](std::string_view key, std::string_view value) {
        text.append(key).append("=").append(value).append("\n");
    };
    if (state.manifest_serial) line(kManifestSerialKey, std::to_string(state.manifest_serial));
    if (state.rollout_draw) line(kRolloutDrawKey, std::to_string(*state.rollout_draw));
    for (const auto& [key, value] : state.other) line(key, value);
    return text;
}

InstallState Combine(const InstallState& installation, const InstallState& per_user) {
    InstallState combined = installation;
    if (per_user.manifest_serial > combined.manifest_serial) combined.manifest_serial = per_user.manifest_serial;
    if (!combined.rollout_draw) combined.rollout_draw = per_user.rollout_draw;
    return combined;
}

}  // namespace vantorix::install_state
