// The tray icon control: the icon in the notification area, its balloon, and presses turned into events.
#include <gtest/gtest.h>
#include <olectl.h>

#include <cstring>
#include <string>

#include "client/tray_control.h"
#include "test_support.h"

using namespace vantorix::client;
using namespace client_test;

namespace {

struct TrayTest : ::testing::Test {
    PlainWindow form{100, 100, 200, 100, RGB(255, 255, 255), false};
    HICON form_icon = LoadIconW(nullptr, IDI_APPLICATION);
    void SetUp() override { SendMessageW(form.get(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(form_icon)); }
};

}  // namespace

TEST_F(TrayTest, ShowAddsOneIconWithTheFormsImageAndNoTooltip) {
    Tray tray(form.get());
    EXPECT_FALSE(TrayIconPresent(tray.window()));
    tray.Show();
    EXPECT_TRUE(TrayIconPresent(tray.window()));
    const NOTIFYICONDATAA& r = tray.record();
    EXPECT_EQ(r.cbSize, 488u);
    EXPECT_EQ(r.hWnd, tray.window());
    EXPECT_EQ(r.uID, 0u);
    EXPECT_EQ(r.uFlags, 23u);
    EXPECT_EQ(r.uCallbackMessage, 512u);
    EXPECT_EQ(r.hIcon, form_icon);
    EXPECT_STREQ(r.szTip, "");
    // The notification area hands presses to the control's window only: its window is not the form.
    EXPECT_NE(tray.window(), form.get());
}

TEST_F(TrayTest, AFormWithASmallIconShowsTheSmallOneSoTheShellNeedNotShrinkIt) {
    HICON small_icon = static_cast<HICON>(LoadImageW(nullptr, IDI_WINLOGO, IMAGE_ICON,
                                                     GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON),
                                                     LR_SHARED));
    ASSERT_NE(small_icon, nullptr);
    SendMessageW(form.get(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(small_icon));
    Tray tray(form.get());
    tray.Show();
    EXPECT_EQ(tray.record().hIcon, small_icon);
    tray.Hide();
}

TEST_F(TrayTest, HideRemovesTheIconAndASecondHideDoesNothing) {
    Tray tray(form.get());
    tray.Show();
    tray.Hide();
    EXPECT_FALSE(TrayIconPresent(tray.window()));
    tray.Hide();
    EXPECT_FALSE(TrayIconPresent(tray.window()));
    tray.Show();  // and it can come back
    EXPECT_TRUE(TrayIconPresent(tray.window()));
}

TEST_F(TrayTest, DestroyingTheControlRemovesItsIcon) {
    HWND window;
    int icon_at_destroy = -1;
    vantorix::win::WindowSubclass watch(L"test", [&](HWND w, UINT message, WPARAM, LPARAM) -> std::optional<LRESULT> {
        // The window is still alive here: an icon the control left behind would still be known.
        if (message == WM_DESTROY) icon_at_destroy = TrayIconPresent(w) ? 1 : 0;
        return std::nullopt;
    });
    {
        Tray tray(form.get());
        tray.Show();
        window = tray.window();
        ASSERT_TRUE(TrayIconPresent(window));
        watch.Install(window);
    }
    EXPECT_FALSE(IsWindow(window));
    EXPECT_EQ(icon_at_destroy, 0) << "the icon was removed before the control's window went";
}

TEST_F(TrayTest, PressesOnTheIconRaiseClickAndPopupMenuOnly) {
    Tray tray(form.get());
    int clicks = 0, menus = 0;
    tray.on_click = [&] { ++clicks; };
    tray.on_popup_menu = [&] { ++menus; };
    struct Case { UINT mouse_message; int clicks, menus; const char* what; } cases[] = {
        {WM_LBUTTONDOWN, 1, 0, "left press"},
        {WM_RBUTTONDOWN, 0, 1, "right press"},
        {WM_MBUTTONDOWN, 0, 0, "middle press"},
        {WM_MOUSEMOVE, 0, 0, "hovering"},
        {WM_LBUTTONUP, 0, 0, "left release"},
        {WM_LBUTTONDBLCLK, 0, 0, "double click"},
    };
    for (const auto& c : cases) {
        clicks = menus = 0;
        SendMessageW(tray.window(), Tray::kCallbackMessage, 0, c.mouse_message);
        EXPECT_EQ(clicks, c.clicks) << c.what;
        EXPECT_EQ(menus, c.menus) << c.what;
    }
}

TEST_F(TrayTest, IconComesBackWhenTheTaskbarIsRecreated) {
    Tray tray(form.get());
    tray.Show();
    // The shell restarts: it has forgotten every icon.
    NOTIFYICONDATAA gone{};
    gone.cbSize = 488;
    gone.hWnd = tray.window();
    Shell_NotifyIconA(NIM_DELETE, &gone);
    ASSERT_FALSE(TrayIconPresent(tray.window()));
    SendMessageW(tray.window(), RegisterWindowMessageW(L"TaskbarCreated"), 0, 0);
    EXPECT_TRUE(TrayIconPresent(tray.window()));
    // A hidden icon stays hidden.
    tray.Hide();
    SendMessageW(tray.window(), RegisterWindowMessageW(L"TaskbarCreated"), 0, 0);
    EXPECT_FALSE(TrayIconPresent(tray.window()));
}

TEST_F(TrayTest, BalloonTitleAndTextAreCutToTheirFields) {
    Tray tray(form.get());
    tray.Show();
    const std::wstring title(80, L'T'), text(300, L'x');
    tray.ShowBubble(title, text, NIIF_INFO);
    EXPECT_EQ(std::strlen(tray.record().szInfoTitle), 63u);
    EXPECT_EQ(std::strlen(tray.record().szInfo), 255u);
    EXPECT_EQ(tray.record().dwInfoFlags, static_cast<DWORD>(NIIF_INFO));
    EXPECT_EQ(tray.record().uFlags & NIF_INFO, static_cast<UINT>(NIF_INFO));
    EXPECT_TRUE(TrayIconPresent(tray.window()));  // the modification went to the shown icon
    tray.ShowBubble(L"short", L"text", NIIF_WARNING);
    EXPECT_STREQ(tray.record().szInfoTitle, "short");
    EXPECT_STREQ(tray.record().szInfo, "text");
}

TEST_F(TrayTest, ChangeIconTakesATaggedValueAndClearsTheBalloon) {
    Tray tray(form.get());
    tray.Show();
    tray.ShowBubble(L"title", L"text", NIIF_INFO);
    HICON other = LoadIconW(nullptr, IDI_WARNING);
    struct Case { VARTYPE vt; } cases[] = {{VT_I4}, {VT_BSTR}, {VT_R8}};
    for (const auto& c : cases) {
        VARIANT v;
        VariantInit(&v);
        v.vt = VT_I4;
        v.lVal = static_cast<LONG>(reinterpret_cast<INT_PTR>(other));
        VariantChangeType(&v, &v, 0, c.vt);
        tray.ChangeIcon(v);
        VariantClear(&v);
        EXPECT_EQ(tray.record().hIcon, other) << c.vt;
        EXPECT_STREQ(tray.record().szInfoTitle, "");
        EXPECT_STREQ(tray.record().szInfo, "");
    }
}

namespace {
// A host's property store holding one value per name.
class MemoryBag : public IPropertyBag {
public:
    ~MemoryBag() { VariantClear(&stored_); }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (iid == IID_IUnknown || iid == IID_IPropertyBag) {
            *out = this;
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE Read(LPCOLESTR name, VARIANT* value, IErrorLog*) override {
        if (name_ != name) return E_INVALIDARG;
        return VariantCopy(value, &stored_);
    }
    HRESULT STDMETHODCALLTYPE Write(LPCOLESTR name, VARIANT* value) override {
        name_ = name;
        VariantClear(&stored_);
        return VariantCopy(&stored_, value);
    }
    std::wstring name_;
    VARIANT stored_{};
};
}  // namespace

TEST_F(TrayTest, PictureIsUsedForTheIconAndKeptUnderPictureIcon) {
    HICON picture_icon = LoadIconW(nullptr, IDI_QUESTION);
    PICTDESC desc{};
    desc.cbSizeofstruct = sizeof desc;
    desc.picType = PICTYPE_ICON;
    desc.icon.hicon = picture_icon;
    IPicture* picture = nullptr;
    ASSERT_EQ(OleCreatePictureIndirect(&desc, IID_IPicture, FALSE, reinterpret_cast<void**>(&picture)), S_OK);

    MemoryBag bag;
    {
        Tray tray(form.get());
        ASSERT_EQ(tray.SaveProperties(&bag), S_OK);
        EXPECT_TRUE(bag.name_.empty()) << "no picture: nothing stored";
        tray.SetPicture(picture);
        tray.Show();
        EXPECT_EQ(tray.record().hIcon, picture_icon);
        ASSERT_EQ(tray.SaveProperties(&bag), S_OK);
        EXPECT_EQ(bag.name_, L"PictureIcon");
    }
    Tray loaded(form.get());
    ASSERT_EQ(loaded.LoadProperties(&bag), S_OK);
    ASSERT_NE(loaded.Picture(), nullptr);
    loaded.Show();
    EXPECT_EQ(loaded.record().hIcon, picture_icon);
    picture->Release();
}
