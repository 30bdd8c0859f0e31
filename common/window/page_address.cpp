#include "common/window/page_address.h"

#include <cstdio>

namespace vantorix::window {

std::string SingleText(float value) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.7G", static_cast<double>(value));
    return buffer;
}

std::wstring PageAddress(const std::wstring& folder, const std::wstring& page, float random) {
    const std::string number = SingleText(random);
    return L"file:///" + folder + page + std::wstring(number.begin(), number.end());
}

}  // namespace vantorix::window
