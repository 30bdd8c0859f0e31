#include "client/ui_font.h"

#include <map>

#include "common/window/dpi.h"
#include "win/unique_handle.h"

namespace vantorix::client {
namespace {

int CALLBACK FoundFace(const LOGFONTW*, const TEXTMETRICW*, DWORD, LPARAM found) {
    *reinterpret_cast<bool*>(found) = true;
    return 0;
}

bool Installed(HDC dc, const wchar_t* face) {
    LOGFONTW wanted{};
    wanted.lfCharSet = DEFAULT_CHARSET;
    lstrcpynW(wanted.lfFaceName, face, LF_FACESIZE);
    bool found = false;
    EnumFontFamiliesExW(dc, &wanted, FoundFace, reinterpret_cast<LPARAM>(&found), 0);
    return found;
}

}  // namespace

HFONT UiFont(int dpi) {
    static std::map<int, HFONT> fonts;  // one per scale met
    auto found = fonts.find(dpi);
    if (found != fonts.end()) return found->second;
    const wchar_t* faces[] = {L"Microsoft YaHei", L"SimSun", L"WenQuanYi Micro Hei", L"Noto Sans CJK SC"};
    const auto screen = win::unique_window_dc::ClientOf(nullptr);
    HFONT chosen = nullptr;
    for (const wchar_t* face : faces) {
        if (!Installed(screen.get(), face)) continue;
        chosen = CreateFontW(-window::ScaleToDpi(12, dpi), 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, 0, 0,
                             DEFAULT_QUALITY, 0, face);
        break;
    }
    if (!chosen) chosen = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
    fonts[dpi] = chosen;
    return chosen;
}

}  // namespace vantorix::client
