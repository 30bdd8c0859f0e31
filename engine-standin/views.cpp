// Views: web windows are real windows (type 2 a child of the given parent, type 0 and 1 top-level popups)
// that draw the loaded page's title and address and hold one push button per page call; window-less views
// keep the same state without a window. A click on a button calls the bound function as the page would.
#include "engine-standin/views.h"

#include <windows.h>

#include "engine-standin/call_log.h"
#include "engine-standin/callbacks.h"
#include "engine-standin/exports.h"
#include "engine-standin/script_eval.h"
#include "engine-standin/text_codec.h"
#include "win/unique_handle.h"

namespace standin {
namespace {

namespace pm = vantorix::pagemarkup;

constexpr wchar_t kViewClass[] = L"VantorixStandinWebView";
constexpr int kFirstButtonId = 1000;
constexpr int kHeaderHeight = 96;

Engine& E() { return Engine::Get(); }
std::uint64_t Pointer(const void* p) { return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(p)); }
std::wstring W(const std::u16string& u) { return std::wstring(u.begin(), u.end()); }

int CALLBACK FoundFont(const LOGFONTW*, const TEXTMETRICW*, DWORD, LPARAM found) {
    *reinterpret_cast<bool*>(found) = true;
    return 0;
}

// A face that has Chinese glyphs, so that the skin's labels are legible: the first installed one of a
// short list (Windows' own, then those Linux machines running Wine commonly have).
const wchar_t* FontFace() {
    static const wchar_t* face = [] {
        const wchar_t* candidates[] = {L"Microsoft YaHei", L"SimSun", L"WenQuanYi Micro Hei", L"Noto Sans CJK SC",
                                       L"Droid Sans Fallback"};
        vantorix::win::unique_window_dc screen = vantorix::win::unique_window_dc::ClientOf(nullptr);
        for (const wchar_t* candidate : candidates) {
            LOGFONTW wanted{};
            wanted.lfCharSet = DEFAULT_CHARSET;
            lstrcpynW(wanted.lfFaceName, candidate, LF_FACESIZE);
            bool found = false;
            EnumFontFamiliesExW(screen.get(), &wanted, FoundFont, reinterpret_cast<LPARAM>(&found), 0);
            if (found) return candidate;
        }
        return L"Tahoma";
    }();
    return face;
}

// Fonts live as long as the process (the view windows use them until the end).
HFONT TitleFont() {
    static HFONT font = CreateFontW(-26, 0, 0, 0, FW_BOLD, 0, 0, 0, DEFAULT_CHARSET, 0, 0, CLEARTYPE_QUALITY, 0, FontFace());
    return font;
}
HFONT TextFont() {
    static HFONT font = CreateFontW(-14, 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, 0, 0, CLEARTYPE_QUALITY, 0, FontFace());
    return font;
}

void Paint(View& view, HDC dc, const RECT& client) {
    vantorix::win::unique_gdi_object header(CreateSolidBrush(RGB(0x1F, 0x4E, 0x79)));
    vantorix::win::unique_gdi_object body(CreateSolidBrush(RGB(0xF4, 0xF6, 0xF9)));
    RECT top = client;
    top.bottom = kHeaderHeight;
    FillRect(dc, &top, static_cast<HBRUSH>(header.get()));
    RECT rest = client;
    rest.top = kHeaderHeight;
    FillRect(dc, &rest, static_cast<HBRUSH>(body.get()));
    SetBkMode(dc, TRANSPARENT);

    HGDIOBJ old = SelectObject(dc, TitleFont());
    SetTextColor(dc, RGB(255, 255, 255));
    RECT title = {16, 12, client.right - 16, 52};
    std::wstring caption = view.title.empty() ? (view.url.empty() ? L"(no page)" : view.url) : view.title;
    DrawTextW(dc, caption.c_str(), static_cast<int>(caption.size()), &title, DT_SINGLELINE | DT_END_ELLIPSIS | DT_NOPREFIX);
    SelectObject(dc, TextFont());
    SetTextColor(dc, RGB(0xC8, 0xD8, 0xE8));
    RECT address = {16, 56, client.right - 16, 76};
    std::wstring url = view.load_failed ? L"could not load " + view.url : view.url;
    DrawTextW(dc, url.c_str(), static_cast<int>(url.size()), &address, DT_SINGLELINE | DT_PATH_ELLIPSIS | DT_NOPREFIX);
    RECT tag = {16, 76, client.right - 16, 94};
    DrawTextW(dc, L"stand-in engine", -1, &tag, DT_SINGLELINE | DT_RIGHT | DT_NOPREFIX);

    // Alerts the page's scripts raised, below the buttons.
    int width = client.right - client.left;
    int y = view.buttons.empty() ? kHeaderHeight + 16 : pm::ButtonBox(static_cast<int>(view.buttons.size()) - 1, width).bottom + 16;
    SetTextColor(dc, RGB(0x80, 0x20, 0x20));
    for (const std::wstring& alert : view.alerts) {
        std::wstring line = L"alert: " + alert;
        RECT r = {16, y, client.right - 16, y + 20};
        DrawTextW(dc, line.c_str(), static_cast<int>(line.size()), &r, DT_SINGLELINE | DT_END_ELLIPSIS | DT_NOPREFIX);
        y += 20;
    }
    SelectObject(dc, old);
}

void PlaceButtons(View& view) {
    if (!view.window) return;
    RECT client;
    GetClientRect(view.window, &client);
    for (std::size_t i = 0; i < view.button_windows.size(); ++i) {
        pm::Box b = pm::ButtonBox(static_cast<int>(i), client.right);
        MoveWindow(view.button_windows[i], b.left, b.top, b.right - b.left, b.bottom - b.top, TRUE);
    }
}

void Fire(View& view, const char* registration, std::uint32_t& result, bool& fired) {
    StandinFireArgs args{};
    fired = standin::Fire(view.handle, registration, args, result);
}

LRESULT CALLBACK ViewProc(HWND window, UINT message, WPARAM wp, LPARAM lp) {
    try {
        View* view = E().ViewOfWindow(window);
        switch (message) {
            case WM_PAINT: {
                PAINTSTRUCT ps;
                HDC dc = BeginPaint(window, &ps);
                RECT client;
                GetClientRect(window, &client);
                if (view) Paint(*view, dc, client);
                EndPaint(window, &ps);
                return 0;
            }
            case WM_ERASEBKGND: return 1;
            case WM_KEYDOWN:
                if (view) view->keys_down.push_back(static_cast<unsigned int>(wp));
                break;
            case WM_CHAR:
                // Typed characters are noted (not logged as calls) so that a test sees the keys reach the page.
                AppendNoteToFile("#key " + std::to_string(static_cast<unsigned>(wp)));
                return 0;
            case WM_SIZE:
                if (view) {
                    view->width = LOWORD(lp);
                    view->height = HIWORD(lp);
                    PlaceButtons(*view);
                    InvalidateRect(window, nullptr, FALSE);
                }
                return 0;
            case WM_COMMAND:
                if (view && HIWORD(wp) == BN_CLICKED && LOWORD(wp) >= kFirstButtonId)
                    ClickButton(*view, LOWORD(wp) - kFirstButtonId);
                return 0;
            case WM_CLOSE:
                // As the engine does: a popup closes only when no closing callback is registered or it agrees.
                if (view) {
                    std::uint32_t result = 0;
                    bool fired = false;
                    Fire(*view, "wkeOnWindowClosing", result, fired);
                    if (fired && (result & 0xFF) != 1) return 0;
                }
                break;
            case WM_DESTROY:
                if (view) {
                    std::uint32_t result = 0;
                    bool fired = false;
                    Fire(*view, "wkeOnWindowDestroy", result, fired);
                    view->alive = false;
                    view->window = nullptr;
                    view->button_windows.clear();
                }
                return 0;
        }
    } catch (...) {
        // Nothing escapes a window procedure.
        RecordFailure("the view's window procedure");
    }
    return DefWindowProcW(window, message, wp, lp);
}

// Buttons of calls that a page makes on mouse-down (onmousedown: dragging the window, resizing it by an
// edge) act on the press itself, as the page would, so that the host can start a move or size loop
// while the button is still held; the others act on the click.
WNDPROC g_button_proc = nullptr;

LRESULT CALLBACK PressButtonProc(HWND button, UINT message, WPARAM wp, LPARAM lp) {
    if (message == WM_LBUTTONDOWN) {
        try {
            if (View* view = E().ViewOfWindow(GetParent(button))) ClickButton(*view, GetDlgCtrlID(button) - kFirstButtonId);
        } catch (...) {
            RecordFailure("a button press");
        }
        return 0;
    }
    return CallWindowProcW(g_button_proc, button, message, wp, lp);
}

void RegisterViewClass() {
    static bool registered = false;
    if (registered) return;
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = ViewProc;
    wc.hInstance = ModuleInstance();
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.lpszClassName = kViewClass;
    wc.style = CS_HREDRAW | CS_VREDRAW;
    RegisterClassExW(&wc);
    registered = true;
}

// ---- Handlers ---------------------------------------------------------------------------------------

View* ViewArg(const Arguments& a) { return E().FindView(a.Int(0)); }

std::uint64_t CreateWebWindow(const Arguments& a) {
    EnsureControlWindow();
    RegisterViewClass();
    int type = a.Int(0);
    HWND parent = reinterpret_cast<HWND>(static_cast<std::uintptr_t>(a.Word(1)));
    int x = a.Int(2), y = a.Int(3), w = a.Int(4), h = a.Int(5);
    DWORD style = WS_CLIPCHILDREN | WS_CLIPSIBLINGS;
    if (type == 2 && parent && IsWindow(parent))
        style |= WS_CHILD;
    else if (type == 1)
        style |= WS_POPUP;
    else
        style |= WS_OVERLAPPEDWINDOW;
    View& view = E().NewView();
    view.window_type = type;
    view.width = w;
    view.height = h;
    view.window = CreateWindowExW(0, kViewClass, L"", style, x, y, w, h, parent && IsWindow(parent) ? parent : nullptr,
                                  nullptr, ModuleInstance(), nullptr);
    if (!view.window) {
        view.alive = false;
        return 0;
    }
    return static_cast<std::uint32_t>(view.handle);
}

std::uint64_t CreateWebView(const Arguments&) {
    EnsureControlWindow();
    View& view = E().NewView();
    return static_cast<std::uint32_t>(view.handle);
}

std::uint64_t Destroy(const Arguments& a) {
    if (View* v = ViewArg(a)) {
        if (v->window) DestroyWindow(v->window);
        v->alive = false;
    }
    return 0;
}

std::uint64_t GetWindowHandle(const Arguments& a) {
    View* v = ViewArg(a);
    return v ? Pointer(v->window) : 0;
}

std::uint64_t ShowWindowHandler(const Arguments& a) {
    if (View* v = ViewArg(a); v && v->window) ShowWindow(v->window, a.Bool(1) ? SW_SHOWNA : SW_HIDE);
    return 0;
}

std::uint64_t EnableWindowHandler(const Arguments& a) {
    if (View* v = ViewArg(a); v && v->window) EnableWindow(v->window, a.Bool(1));
    return 0;
}

std::uint64_t MoveWindowHandler(const Arguments& a) {
    if (View* v = ViewArg(a)) {
        v->width = a.Int(3);
        v->height = a.Int(4);
        if (v->window) MoveWindow(v->window, a.Int(1), a.Int(2), a.Int(3), a.Int(4), TRUE);
    }
    return 0;
}

std::uint64_t Resize(const Arguments& a) {
    if (View* v = ViewArg(a)) {
        v->width = a.Int(1);
        v->height = a.Int(2);
        if (v->window) SetWindowPos(v->window, nullptr, 0, 0, a.Int(1), a.Int(2), SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    return 0;
}

std::uint64_t MoveToCenter(const Arguments& a) {
    View* v = ViewArg(a);
    if (!v || !v->window) return 0;
    RECT r, area;
    GetWindowRect(v->window, &r);
    HWND parent = GetParent(v->window);
    if (parent && (GetWindowLongW(v->window, GWL_STYLE) & WS_CHILD))
        GetClientRect(parent, &area);
    else
        SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
    int w = r.right - r.left, h = r.bottom - r.top;
    SetWindowPos(v->window, nullptr, area.left + (area.right - area.left - w) / 2, area.top + (area.bottom - area.top - h) / 2,
                 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    return 0;
}

std::uint64_t SetWindowTitleA(const Arguments& a) {
    if (View* v = ViewArg(a); v && v->window) SetWindowTextW(v->window, FromCodePage(a.Narrow(1)).c_str());
    return 0;
}
std::uint64_t SetWindowTitleW(const Arguments& a) {
    if (View* v = ViewArg(a); v && v->window) SetWindowTextW(v->window, a.Wide(1).c_str());
    return 0;
}

std::uint64_t Width(const Arguments& a) {
    View* v = ViewArg(a);
    return v ? static_cast<std::uint32_t>(v->width) : 0;
}
std::uint64_t Height(const Arguments& a) {
    View* v = ViewArg(a);
    return v ? static_cast<std::uint32_t>(v->height) : 0;
}

std::uint64_t SetHandle(const Arguments& a) {
    if (View* v = ViewArg(a)) v->host = reinterpret_cast<HWND>(static_cast<std::uintptr_t>(a.Word(1)));
    return 0;
}
std::uint64_t GetHostHwnd(const Arguments& a) {
    View* v = ViewArg(a);
    return v ? Pointer(v->window ? v->window : v->host) : 0;
}

std::uint64_t IsAlive(const Arguments& a) { return ViewArg(a) ? 1 : 0; }

// Loading.
std::uint64_t LoadUrlW(const Arguments& a) {
    if (View* v = ViewArg(a)) LoadUrl(*v, a.Wide(1));
    return 0;
}
std::uint64_t LoadUrlA(const Arguments& a) {
    if (View* v = ViewArg(a)) LoadUrl(*v, FromCodePage(a.Narrow(1)));
    return 0;
}
std::uint64_t LoadFileW(const Arguments& a) {
    if (View* v = ViewArg(a)) LoadFile(*v, a.Wide(1));
    return 0;
}
std::uint64_t LoadFileA(const Arguments& a) {
    if (View* v = ViewArg(a)) LoadFile(*v, FromCodePage(a.Narrow(1)));
    return 0;
}
std::uint64_t LoadHtmlW(const Arguments& a) {
    if (View* v = ViewArg(a)) LoadHtml(*v, a.Wide(1), L"about:blank");
    return 0;
}
std::uint64_t LoadHtmlA(const Arguments& a) {
    if (View* v = ViewArg(a)) LoadHtml(*v, FromCodePage(a.Narrow(1)), L"about:blank");
    return 0;
}
std::uint64_t LoadHtmlWithBase(const Arguments& a) {
    if (View* v = ViewArg(a)) LoadHtml(*v, FromCodePage(a.Narrow(1)), FromCodePage(a.Narrow(2)));
    return 0;
}
std::uint64_t PostUrlW(const Arguments& a) {
    if (View* v = ViewArg(a)) LoadUrl(*v, a.Wide(1));
    return 0;
}
std::uint64_t PostUrlA(const Arguments& a) {
    if (View* v = ViewArg(a)) LoadUrl(*v, FromCodePage(a.Narrow(1)));
    return 0;
}
std::uint64_t Reload(const Arguments& a) {
    if (View* v = ViewArg(a)) {
        std::wstring url = v->url;
        if (!url.empty() && url != L"about:blank") LoadUrl(*v, url);
        return 1;
    }
    return 0;
}

template <bool View::*Flag>
std::uint64_t FlagOf(const Arguments& a) {
    View* v = ViewArg(a);
    return v && v->*Flag ? 1 : 0;
}
std::uint64_t LoadSucceeded(const Arguments& a) {
    View* v = ViewArg(a);
    return v && v->load_complete && !v->load_failed ? 1 : 0;
}
template <bool View::*Flag>
std::uint64_t SetFlag(const Arguments& a) {
    if (View* v = ViewArg(a)) v->*Flag = a.Bool(1);
    return 0;
}

std::uint64_t GetUrl(const Arguments& a) {
    static const char kEmpty[] = "";
    View* v = ViewArg(a);
    if (!v) return Pointer(kEmpty);
    v->out_url = ToUtf8(v->url);
    return Pointer(v->out_url.c_str());
}
std::uint64_t GetTitle(const Arguments& a) {
    static const char kEmpty[] = "";
    View* v = ViewArg(a);
    if (!v) return Pointer(kEmpty);
    v->out_title = ToUtf8(v->title);
    return Pointer(v->out_title.c_str());
}
std::uint64_t GetTitleW(const Arguments& a) {
    static const wchar_t kEmpty[] = L"";
    View* v = ViewArg(a);
    if (!v) return Pointer(kEmpty);
    v->out_title_w = v->title;
    return Pointer(v->out_title_w.c_str());
}
std::uint64_t GetSource(const Arguments& a) {
    static const char kEmpty[] = "";
    View* v = ViewArg(a);
    if (!v) return Pointer(kEmpty);
    v->out_source = ToUtf8(v->source);
    return Pointer(v->out_source.c_str());
}

std::uint64_t SetUserAgentA(const Arguments& a) {
    if (View* v = ViewArg(a)) v->user_agent = FromCodePage(a.Narrow(1));
    return 0;
}
std::uint64_t SetUserAgentW(const Arguments& a) {
    if (View* v = ViewArg(a)) v->user_agent = a.Wide(1);
    return 0;
}
std::uint64_t GetUserAgent(const Arguments& a) {
    static const char kEmpty[] = "";
    View* v = ViewArg(a);
    if (!v) return Pointer(kEmpty);
    v->out_user_agent = ToUtf8(v->user_agent);
    return Pointer(v->out_user_agent.c_str());
}

std::uint64_t SetCookie(const Arguments& a) {
    if (View* v = ViewArg(a)) v->cookie = FromCodePage(a.Narrow(2));
    return 0;
}
std::uint64_t GetCookie(const Arguments& a) {
    static const char kEmpty[] = "";
    View* v = ViewArg(a);
    if (!v) return Pointer(kEmpty);
    v->out_cookie = ToUtf8(v->cookie);
    return Pointer(v->out_cookie.c_str());
}
std::uint64_t GetCookieW(const Arguments& a) {
    static const wchar_t kEmpty[] = L"";
    View* v = ViewArg(a);
    if (!v) return Pointer(kEmpty);
    v->out_cookie_w = v->cookie;
    return Pointer(v->out_cookie_w.c_str());
}

std::uint64_t SetZoom(const Arguments& a) {
    if (View* v = ViewArg(a)) v->zoom = a.Real(1);
    return 0;
}
std::uint64_t GetZoom(const Arguments& a) {
    View* v = ViewArg(a);
    return DoubleBits(v ? v->zoom : 0.0);
}
std::uint64_t SetVolume(const Arguments& a) {
    if (View* v = ViewArg(a)) v->volume = a.Real(1);
    return 0;
}
std::uint64_t GetVolume(const Arguments& a) {
    View* v = ViewArg(a);
    return DoubleBits(v ? v->volume : 0.0);
}

std::uint64_t SetUserKeyValue(const Arguments& a) {
    if (View* v = ViewArg(a)) v->user_values[a.Narrow(1)] = a.Int(2);
    return 0;
}
std::uint64_t GetUserKeyValue(const Arguments& a) {
    View* v = ViewArg(a);
    if (!v) return 0;
    auto it = v->user_values.find(a.Narrow(1));
    return it == v->user_values.end() ? 0 : static_cast<std::uint32_t>(it->second);
}

std::uint64_t SetName(const Arguments& a) {
    if (View* v = ViewArg(a)) v->name = FromCodePage(a.Narrow(1));
    return 0;
}
std::uint64_t GetName(const Arguments& a) {
    static const char kEmpty[] = "";
    View* v = ViewArg(a);
    if (!v) return Pointer(kEmpty);
    v->out_name = ToUtf8(v->name);
    return Pointer(v->out_name.c_str());
}

std::uint64_t Sleep(const Arguments& a) {
    if (View* v = ViewArg(a)) v->awake = false;
    return 0;
}
std::uint64_t Wake(const Arguments& a) {
    if (View* v = ViewArg(a)) v->awake = true;
    return 0;
}

std::uint64_t GlobalExec(const Arguments& a) { return static_cast<std::uint32_t>(E().GlobalExecState(a.Int(0))); }
std::uint64_t WebViewId(const Arguments& a) { return ViewArg(a) ? static_cast<std::uint32_t>(a.Int(0)) : 0; }

std::uint64_t RunJsW(const Arguments& a) { return RunScript(a.Int(0), a.Wide(1)); }
std::uint64_t RunJsA(const Arguments& a) { return RunScript(a.Int(0), FromCodePage(a.Narrow(1))); }
std::uint64_t RunJsByFrame(const Arguments& a) { return RunScript(a.Int(0), FromCodePage(a.Narrow(2))); }

// Synthetic mouse input: a left-button release over a page button clicks it, as a user's click would.
std::uint64_t FireMouseEvent(const Arguments& a) {
    View* v = ViewArg(a);
    if (!v) return 0;
    if (static_cast<UINT>(a.Int(1)) == WM_LBUTTONUP) {
        int index = pm::ButtonAt(a.Int(2), a.Int(3), static_cast<int>(v->buttons.size()), v->width);
        if (index >= 0) ClickButton(*v, index);
    }
    return 1;
}
std::uint64_t Handled(const Arguments& a) { return ViewArg(a) ? 1 : 0; }

// The file version of this engine's own file, from its version resource ("" when it has none): a test
// that replaces the engine sees from the note which file a program runs on.
std::string OwnFileVersion() {
    HMODULE self = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&OwnFileVersion), &self);
    HRSRC found = self ? FindResourceW(self, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(16)) : nullptr;  // RT_VERSION
    const auto* data = found ? static_cast<const std::uint8_t*>(LockResource(LoadResource(self, found))) : nullptr;
    const DWORD size = found ? SizeofResource(self, found) : 0;
    for (DWORD at = 0; data && at + sizeof(VS_FIXEDFILEINFO) <= size; at += 4) {
        VS_FIXEDFILEINFO info;
        memcpy(&info, data + at, sizeof info);
        if (info.dwSignature != 0xFEEF04BD) continue;
        return std::to_string(HIWORD(info.dwFileVersionMS)) + "." + std::to_string(LOWORD(info.dwFileVersionMS)) + "." +
               std::to_string(HIWORD(info.dwFileVersionLS)) + "." + std::to_string(LOWORD(info.dwFileVersionLS));
    }
    return "";
}

std::uint64_t Initialize(const Arguments&) {
    if (!E().initialized) AppendNoteToFile("#engine " + OwnFileVersion());
    E().initialized = true;
    EnsureControlWindow();
    return 0;
}
std::uint64_t Finalize(const Arguments&) {
    E().initialized = false;
    return 0;
}
std::uint64_t IsInitialize(const Arguments&) { return E().initialized ? 1 : 0; }
std::uint64_t Version(const Arguments&) { return 0x00010000; }
std::uint64_t VersionString(const Arguments&) {
    static const char kVersion[] = "1.0 (stand-in engine)";
    return Pointer(kVersion);
}

const HandlerEntry kHandlers[] = {
    {"wkeCreateWebWindow", CreateWebWindow},
    {"wkeCreateWebView", CreateWebView},
    {"wkeDestroyWebWindow", Destroy},
    {"wkeDestroyWebView", Destroy},
    {"wkeGetWindowHandle", GetWindowHandle},
    {"wkeShowWindow", ShowWindowHandler},
    {"wkeEnableWindow", EnableWindowHandler},
    {"wkeMoveWindow", MoveWindowHandler},
    {"wkeResize", Resize},
    {"wkeResizeWindow", Resize},
    {"wkeMoveToCenter", MoveToCenter},
    {"wkeSetWindowTitle", SetWindowTitleA},
    {"wkeSetWindowTitleW", SetWindowTitleW},
    {"wkeGetWidth", Width},
    {"wkeWidth", Width},
    {"wkeGetContentWidth", Width},
    {"wkeContentsWidth", Width},
    {"wkeGetHeight", Height},
    {"wkeHeight", Height},
    {"wkeGetContentHeight", Height},
    {"wkeContentsHeight", Height},
    {"wkeSetHandle", SetHandle},
    {"wkeGetHostHWND", GetHostHwnd},
    {"wkeIsWebviewAlive", IsAlive},
    {"wkeLoadW", LoadUrlW},
    {"wkeLoadURLW", LoadUrlW},
    {"wkeLoadURL", LoadUrlA},
    {"wkeLoadFileW", LoadFileW},
    {"wkeLoadFile", LoadFileA},
    {"wkeLoadHTMLW", LoadHtmlW},
    {"wkeLoadHTML", LoadHtmlA},
    {"wkeLoadHtmlWithBaseUrl", LoadHtmlWithBase},
    {"wkePostURLW", PostUrlW},
    {"wkePostURL", PostUrlA},
    {"wkeReload", Reload},
    {"wkeIsLoadComplete", FlagOf<&View::load_complete>},
    {"wkeIsLoaded", FlagOf<&View::load_complete>},
    {"wkeIsLoadingCompleted", FlagOf<&View::load_complete>},
    {"wkeIsDocumentReady", FlagOf<&View::document_ready>},
    {"wkeIsLoadFailed", FlagOf<&View::load_failed>},
    {"wkeIsLoadingFailed", FlagOf<&View::load_failed>},
    {"wkeIsLoadingSucceeded", LoadSucceeded},
    {"wkeIsTransparent", FlagOf<&View::transparent>},
    {"wkeIsAwake", FlagOf<&View::awake>},
    {"wkeIsCookieEnabled", FlagOf<&View::cookie_enabled>},
    {"wkeCookieEnabled", FlagOf<&View::cookie_enabled>},
    {"wkeSetTouchEnabled", SetFlag<&View::touch>},
    {"wkeSetMouseEnabled", SetFlag<&View::mouse>},
    {"wkeSetTransparent", SetFlag<&View::transparent>},
    {"wkeSetEditable", SetFlag<&View::editable>},
    {"wkeSetCookieEnabled", SetFlag<&View::cookie_enabled>},
    {"wkeGetURL", GetUrl},
    {"wkeGetTitle", GetTitle},
    {"wkeTitle", GetTitle},
    {"wkeGetTitleW", GetTitleW},
    {"wkeTitleW", GetTitleW},
    {"wkeGetSource", GetSource},
    {"wkeSetUserAgent", SetUserAgentA},
    {"wkeSetUserAgentW", SetUserAgentW},
    {"wkeGetUserAgent", GetUserAgent},
    {"wkeSetCookie", SetCookie},
    {"wkeGetCookie", GetCookie},
    {"wkeGetCookieW", GetCookieW},
    {"wkeSetZoomFactor", SetZoom},
    {"wkeGetZoomFactor", GetZoom},
    {"wkeZoomFactor", GetZoom},
    {"wkeSetMediaVolume", SetVolume},
    {"wkeGetMediaVolume", GetVolume},
    {"wkeMediaVolume", GetVolume},
    {"wkeSetUserKeyValue", SetUserKeyValue},
    {"wkeGetUserKeyValue", GetUserKeyValue},
    {"wkeSetName", SetName},
    {"wkeSetWebViewName", SetName},
    {"wkeGetName", GetName},
    {"wkeWebViewName", GetName},
    {"wkeSleep", Sleep},
    {"wkeWake", Wake},
    {"wkeGlobalExec", GlobalExec},
    {"wkeGetWebviewId", WebViewId},
    {"wkeRunJSW", RunJsW},
    {"wkeRunJS", RunJsA},
    {"wkeRunJsByFrame", RunJsByFrame},
    {"wkeFireMouseEvent", FireMouseEvent},
    {"wkeMouseEvent", FireMouseEvent},
    {"wkeFireMouseWheelEvent", Handled},
    {"wkeMouseWheel", Handled},
    {"wkeFireContextMenuEvent", Handled},
    {"wkeContextMenuEvent", Handled},
    {"wkeFireKeyUpEvent", Handled},
    {"wkeFireKeyDownEvent", Handled},
    {"wkeFireKeyPressEvent", Handled},
    {"wkeKeyUp", Handled},
    {"wkeKeyDown", Handled},
    {"wkeKeyPress", Handled},
    {"wkeInitialize", Initialize},
    {"wkeInitializeEx", Initialize},
    {"wkeInit", Initialize},
    {"wkeFinalize", Finalize},
    {"wkeShutdown", Finalize},
    {"wkeIsInitialize", IsInitialize},
    {"wkeVersion", Version},
    {"wkeGetVersion", Version},
    {"wkeVersionString", VersionString},
    {"wkeGetVersionString", VersionString},
};
const HandlerTable kTable(kHandlers, sizeof(kHandlers) / sizeof(kHandlers[0]));

}  // namespace

void RepaintPage(View& view) {
    if (!view.window) return;
    for (HWND b : view.button_windows) DestroyWindow(b);
    view.button_windows.clear();
    for (std::size_t i = 0; i < view.buttons.size(); ++i) {
        HWND b = CreateWindowExW(0, L"BUTTON", W(view.buttons[i].label).c_str(), WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON,
                                 0, 0, 10, 10, view.window, reinterpret_cast<HMENU>(static_cast<UINT_PTR>(kFirstButtonId + i)),
                                 ModuleInstance(), nullptr);
        SendMessageW(b, WM_SETFONT, reinterpret_cast<WPARAM>(TextFont()), FALSE);
        if (view.buttons[i].trigger == "onmousedown") {
            WNDPROC old = reinterpret_cast<WNDPROC>(
                SetWindowLongPtrW(b, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(PressButtonProc)));
            if (!g_button_proc) g_button_proc = old;
        }
        view.button_windows.push_back(b);
    }
    PlaceButtons(view);
    InvalidateRect(view.window, nullptr, TRUE);
}

bool ClickButton(View& view, int index) {
    if (index < 0 || index >= static_cast<int>(view.buttons.size())) return false;
    pm::PageCall call = view.buttons[index];  // the bound function may load another page meanwhile
    std::vector<std::uint64_t> values;
    for (const auto& arg : call.args) values.push_back(LiteralValue(arg));
    std::uint64_t result = 0;
    return CallBinding(call.function, view.handle, values, result);
}

}  // namespace standin
