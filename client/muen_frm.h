#pragma once
// muenFrm: a form that is never shown and only holds the tray menu "菜单" with its five lines.
#include <windows.h>

#include <functional>

#include "win/unique_handle.h"

namespace vantorix::client {

class MuenFrm {
public:
    static constexpr const wchar_t* kWindowClass = L"VantorixMuenFrm";
    static constexpr const wchar_t* kCaption = L"Form1";
    static constexpr const wchar_t* kMenuCaption = L"菜单";
    enum ItemId : UINT { kService = 1, kSetServer, kNum, kUpdateMe, kTheEnd };

    struct Actions {
        std::function<void()> open_home_page;      // "官方网站"
        std::function<void()> open_feedback_page;  // "意见反馈"
        std::function<void()> check_update;        // "检查更新"
        std::function<void()> quit;                // "退出"
    };

    explicit MuenFrm(Actions actions);
    ~MuenFrm();
    MuenFrm(const MuenFrm&) = delete;
    MuenFrm& operator=(const MuenFrm&) = delete;

    // Pops the menu up at a screen point and runs the chosen line before returning. Loads the form first
    // when needed; the form itself stays hidden.
    void PopupAt(POINT screen_point);
    // Runs one line as if it had been chosen.
    void Choose(UINT item);
    void Close();
    // Loads the form and its menu (hidden) when it is not loaded yet.
    void Load();

    bool IsLoaded() const { return window_ != nullptr; }
    HWND window() const { return window_; }
    HMENU menu() const { return menu_.get(); }   // the bar holding "菜单"
    HMENU muens() const { return menu_ ? GetSubMenu(menu_.get(), 0) : nullptr; }

private:
    static LRESULT CALLBACK WindowProc(HWND, UINT, WPARAM, LPARAM);

    Actions actions_;
    HWND window_ = nullptr;
    win::unique_hmenu menu_;
};

}  // namespace vantorix::client
