#pragma once
// The address the main window loads its skin page from: "file:///" + folder + page + a random number in the
// default text form of a single-precision value, so that every start loads the page afresh.
#include <string>

namespace vantorix::window {

// Up to seven significant digits, no trailing zeros, a leading "0" before the point, an exponent written
// "E-05" style for very small values: "0.7055475", "0.5", "0", "1.234E-05".
std::string SingleText(float value);

// folder as the system reports it (backslashes kept) + page (e.g. "\skin\Ui.html?") + SingleText(random).
std::wstring PageAddress(const std::wstring& folder, const std::wstring& page, float random);

}  // namespace vantorix::window
