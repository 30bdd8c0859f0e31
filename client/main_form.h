#pragma once
// MainForm: the borderless main window. It holds the tray icon, checks the launch token and the skin file
// at load, sets the engine's web window up at its first activation, keeps that window sized to itself,
// answers the engine's notifications and carries out the page's commands.
#include <windows.h>

#include <functional>
#include <memory>
#include <string>

#include "client/engine.h"
#include "client/page_commands.h"
#include "win/instance_claim.h"
#include "client/tray_control.h"
#include "common/window/monitor_fit.h"
#include "common/window/twips.h"
#include "win/unique_handle.h"
#include "win/window_class.h"

namespace vantorix::client {

using win::InstanceClaim;

class MuenFrm;
class Windowdc;

class MainForm : public PageCommandTarget, public EngineEvents {
public:
    static constexpr const wchar_t* kWindowClass = L"VantorixMainForm";
    static constexpr const wchar_t* kLaunchToken = L"-2018.06.21";
    static constexpr const wchar_t* kCannotStart = L"无法启动应用程序";
    static constexpr const wchar_t* kIntegrityMissing = L"程序完整性缺失，请检查程序完整性！";
    static constexpr const wchar_t* kSkinFile = L"\\Skin\\UI.html";
    static constexpr const wchar_t* kSkinPage = L"\\skin\\Ui.html?";
    static constexpr int kDesignWidth = 1000, kDesignHeight = 611;
    static constexpr int kWebWindowExtraWidth = 13;  // the web window's rightmost 13 pixels lie outside
    static constexpr int kWebWindowType = 2;         // a child control window
    static constexpr int kProgramIconId = 1;

    struct Parts {
        std::function<std::unique_ptr<EngineApi>()> make_engine;
        std::function<std::unique_ptr<CallbackReceiver>()> make_receiver;
        MuenFrm* menu = nullptr;
        Windowdc* picker = nullptr;
        std::wstring app_folder;
        bool one_instance = false;  // a second start from the same installation hands over and ends
    };

    explicit MainForm(Parts parts);
    ~MainForm() override;
    MainForm(const MainForm&) = delete;
    MainForm& operator=(const MainForm&) = delete;

    // Creates the (hidden) window. False when it could not be made.
    bool Create();
    // The load step; a failed check shows its message and runs the shutdown routine (does not return).
    void Load(const std::wstring& argument_text);
    void Show(int show_command);
    void Destroy();
    // Brings the window back from the tray or the taskbar: shown, restored when minimised, in front.
    void BringBack();

    HWND window() const { return window_; }
    void set_picker(Windowdc* picker) { parts_.picker = picker; }
    Tray& tray() { return *tray_; }
    WebView web_view() const { return web_view_; }

    // PageCommandTarget
    void Maximize() override;
    void Minimize() override;
    void MouseDown(const std::wstring& zone) override;
    void Move() override;
    void Close() override;
    void OpenServiceChat() override;
    void ShowColourPicker() override;
    void UpdateMe() override;
    void OpenUserGroup() override;
    void HideToTray() override;

    // EngineEvents
    void OnJsNativeFunction(JsExecState es, std::int32_t param) override;
    void OnCreateView(WebView view, std::int32_t param, std::int32_t navigation_type, const std::wstring& url) override;
    void OnDownload(WebView view, std::int32_t param, const std::wstring& url) override;
    void OnLoadUrlBegin(WebView view, std::int32_t param, const std::wstring& url, std::int32_t job) override;

private:
    // The window class's handler (win/window_class.h).
    static LRESULT Dispatch(MainForm& self, HWND window, UINT message, WPARAM wparam, LPARAM lparam);
    using FormClass = win::WindowClass<MainForm, &MainForm::Dispatch>;
    LRESULT Handle(UINT message, WPARAM wparam, LPARAM lparam);
    void SetupWebView();
    void ResizeWebView();
    // The size limits on the monitor the window is on now, and their update after a move or a display change.
    window::SizeLimits MonitorLimits() const;
    void FollowMonitor();
    // Gives the keyboard focus to the engine's window; false while there is none.
    bool FocusPage();
    // The inner size the window has when it is not minimised (a minimised window's own is next to nothing).
    SIZE RestoredInnerSize() const;
    EngineApi& engine();
    [[noreturn]] void Fail(const wchar_t* message);
    // One tick of claiming the front after BringBack.
    void ClaimFront();

    static constexpr UINT_PTR kFrontClaimTimer = 0x5646;
    static constexpr UINT kFrontClaimIntervalMs = 50;
    static constexpr int kFrontClaims = 100;  // five seconds
    int front_claims_left_ = 0;

    Parts parts_;
    HWND window_ = nullptr;
    win::unique_hicon icon_big_, icon_small_;
    std::unique_ptr<Tray> tray_;
    std::unique_ptr<EngineApi> engine_;            // created on first use, kept for the process
    std::unique_ptr<CallbackReceiver> mb_callback_;
    std::unique_ptr<InstanceClaim> instance_;      // claimed once the launch token is checked
    WebView web_view_ = 0;
    bool web_view_set_up_ = false;
    SIZE web_view_size_{};  // the engine window's size as last set
    window::RestoreBounds restore_bounds_;
};

}  // namespace vantorix::client
