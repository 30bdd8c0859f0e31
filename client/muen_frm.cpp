#include "client/muen_frm.h"

namespace vantorix::client {
namespace {

struct MenuLine {
    MuenFrm::ItemId id;
    const wchar_t* caption;  // "-" is the separator line
    std::function<void()> MuenFrm::Actions::*action;
};

const MenuLine kLines[] = {
    {MuenFrm::kService, L"官方网站", &MuenFrm::Actions::open_home_page},
    {MuenFrm::kSetServer, L"意见反馈", &MuenFrm::Actions::open_feedback_page},
    {MuenFrm::kNum, L"-", nullptr},
    {MuenFrm::kUpdateMe, L"检查更新", &MuenFrm::Actions::check_update},
    {MuenFrm::kTheEnd, L"退出", &MuenFrm::Actions::quit},
};

}  // namespace

MuenFrm::MuenFrm(Actions actions) : actions_(std::move(actions)) {}

MuenFrm::~MuenFrm() { Close(); }

void MuenFrm::Load() {
    if (window_) return;
    static ATOM atom = [] {
        WNDCLASSEXW wc{};
        wc.cbSize = sizeof wc;
        wc.lpfnWndProc = &MuenFrm::WindowProc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = kWindowClass;
        return RegisterClassExW(&wc);
    }();
    (void)atom;
    window_ = CreateWindowExW(WS_EX_TOOLWINDOW, kWindowClass, kCaption, WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                              GetModuleHandleW(nullptr), nullptr);
    menu_.reset(CreateMenu());
    HMENU muens = CreatePopupMenu();
    for (const auto& line : kLines) {
        if (line.action == nullptr)
            AppendMenuW(muens, MF_SEPARATOR, line.id, nullptr);
        else
            AppendMenuW(muens, MF_STRING, line.id, line.caption);
    }
    AppendMenuW(menu_.get(), MF_POPUP | MF_STRING, reinterpret_cast<UINT_PTR>(muens), kMenuCaption);
}

void MuenFrm::PopupAt(POINT p) {
    Load();
    if (!window_) return;
    // A tray menu closes on a click elsewhere only when its owner is the foreground window, and the null
    // message afterwards lets the next click on the icon open it at once.
    SetForegroundWindow(window_);
    const UINT chosen = static_cast<UINT>(
        TrackPopupMenu(muens(), TPM_RETURNCMD | TPM_NONOTIFY, p.x, p.y, 0, window_, nullptr));
    PostMessageW(window_, WM_NULL, 0, 0);
    if (chosen != 0) Choose(chosen);
}

void MuenFrm::Choose(UINT item) {
    for (const auto& line : kLines)
        if (line.id == item && line.action && actions_.*line.action) (actions_.*line.action)();
}

void MuenFrm::Close() {
    if (window_) {
        DestroyWindow(window_);
        window_ = nullptr;
    }
    menu_.reset();
}

LRESULT CALLBACK MuenFrm::WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    // Never shown: a close request is the main window's to answer.
    if (message == WM_CLOSE) return 0;
    return DefWindowProcW(window, message, wparam, lparam);
}

}  // namespace vantorix::client
