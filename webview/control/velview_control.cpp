#include "webview/control/velview_control.h"

#include <new>

#include "webview/com/module.h"
#include "webview/control/ambient.h"
#include "win/unique_handle.h"

namespace velview::view {
namespace {

// What the registry says too: resize recomposes, in-place activation when visible, site set first.
constexpr DWORD kMiscStatus = OLEMISC_RECOMPOSEONRESIZE | OLEMISC_CANTLINKINSIDE | OLEMISC_INSIDEOUT |
                              OLEMISC_ACTIVATEWHENVISIBLE | OLEMISC_SETCLIENTSITEFIRST;

constexpr LONG kHimetricPerInch = 2540;
constexpr int kDefaultWidth = 320, kDefaultHeight = 240;  // pixels, until the container sets an extent

LONG PixelsToHimetric(int pixels, int perInch) { return MulDiv(pixels, kHimetricPerInch, perInch); }

int ScreenDpi(int index) {
    auto screen = vantorix::win::unique_window_dc::ClientOf(nullptr);
    int dpi = screen ? GetDeviceCaps(screen.get(), index) : 0;
    return dpi > 0 ? dpi : 96;
}

// The verbs DoVerb carries out, as the registry lists them for containers (EnumVerbs reads them there).
// None of them changes what would be saved (nothing is); the primary one goes on the container's menu.
constexpr RegisteredVerb kVerbs[] = {
    {OLEIVERB_PRIMARY, L"&Activate,0,3"},
    {OLEIVERB_SHOW, L"&Show,0,1"},
    {OLEIVERB_HIDE, L"&Hide,0,1"},
    {OLEIVERB_UIACTIVATE, L"&UI Activate,0,1"},
    {OLEIVERB_INPLACEACTIVATE, L"&In-place Activate,0,1"},
};

const ClassInfo kVelviewClass{&CLSID_Velview, L"Velview", L"Velview_G_201.Velview", L"Velview_G_201.Velview.1",
                              true, &Velview::Create, kVerbs, sizeof kVerbs / sizeof kVerbs[0]};
const ClassRegistration kRegistration(kVelviewClass);

}  // namespace

Velview::Velview()
    : ViewMembers(IID__Velview, CLSID_Velview, DIID___Velview, ViewKind::Windowed, L"Velview") {
    extent_.cx = PixelsToHimetric(kDefaultWidth, ScreenDpi(LOGPIXELSX));
    extent_.cy = PixelsToHimetric(kDefaultHeight, ScreenDpi(LOGPIXELSY));
}

Velview::~Velview() {
    DestroyControlWindow(window_);
    window_ = nullptr;
}

HRESULT Velview::Create(REFIID iid, void** out) {
    const vantorix::win::com_ptr<Velview> control(new (std::nothrow) Velview());
    if (!control) return E_OUTOFMEMORY;
    return control->QueryInterface(iid, out);
}

void* Velview::QueryMore(REFIID iid) {
    // The base interfaces the implemented ones extend.
    if (IsEqualIID(iid, IID_IOleWindow)) return static_cast<IOleInPlaceObject*>(this);
    if (IsEqualIID(iid, IID_IViewObject)) return static_cast<IViewObject2*>(this);
    if (IsEqualIID(iid, IID_IPersist)) return static_cast<IPersistStreamInit*>(this);
    return ViewMembers::QueryMore(iid);
}

HRESULT Velview::get_RunMode(VARIANT_BOOL* value) {
    VELVIEW_ON_OWNER_THREAD(thread());
    if (!value) return Reported(E_POINTER);
    *value = RunModeOf(site_.get()) ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
}

// ---- show, size, paint -------------------------------------------------------------------------------------

void Velview::OnShow() {
    if (core().started() || !window_ || !RunModeOf(site_.get())) return;
    RECT inner;
    GetClientRect(window_, &inner);
    core().Start(window_, inner.right - inner.left, inner.bottom - inner.top);
}

void Velview::OnSize(int width, int height) { core().Resize(width, height); }

void Velview::OnPaint(HDC dc, const RECT& area) { FillRect(dc, &area, GetSysColorBrush(COLOR_BTNFACE)); }

// ---- IOleObject ----------------------------------------------------------------------------------------------

// A new site, or none: the control leaves the place the old site gave it, and nothing it had from the old
// site is used again (the container may be tearing itself down).
HRESULT Velview::SetClientSite(IOleClientSite* site) {
    VELVIEW_ON_OWNER_THREAD(thread());
    if (site == site_.get()) return S_OK;
    LeavePlace();
    site_ = vantorix::win::com_ptr<IOleClientSite>::share(site);
    return S_OK;
}

void Velview::LeavePlace() {
    uiActive_ = false;
    frame_.reset();
    document_.reset();
    inPlaceSite_.reset();
    if (core().started()) parked_.Park(window_);
    DestroyControlWindow(window_);
    window_ = nullptr;
}

HRESULT Velview::GetClientSite(IOleClientSite** site) {
    VELVIEW_ON_OWNER_THREAD(thread());
    if (!site) return E_POINTER;
    *site = vantorix::win::com_ptr<IOleClientSite>(site_).release();
    return S_OK;
}

HRESULT Velview::Close(DWORD) {
    VELVIEW_ON_OWNER_THREAD(thread());
    InPlaceDeactivate();
    if (adviseHolder_) adviseHolder_->SendOnClose();
    return S_OK;
}

HRESULT Velview::GetMoniker(DWORD, DWORD, IMoniker** out) {
    VELVIEW_ON_OWNER_THREAD(thread());
    if (out) *out = nullptr;
    return E_NOTIMPL;
}

HRESULT Velview::GetClipboardData(DWORD, IDataObject** out) {
    VELVIEW_ON_OWNER_THREAD(thread());
    if (out) *out = nullptr;
    return E_NOTIMPL;
}

HRESULT Velview::ActivateInPlace(IOleClientSite* site) {
    if (window_) {
        ShowWindow(window_, SW_SHOW);
        return S_OK;
    }
    IOleClientSite* from = site ? site : site_.get();
    if (!from) return E_UNEXPECTED;
    if (!site_) site_ = vantorix::win::com_ptr<IOleClientSite>::share(from);
    vantorix::win::com_ptr<IOleInPlaceSite> inPlace;
    if (FAILED(from->QueryInterface(IID_IOleInPlaceSite, inPlace.put_void())) || !inPlace) return E_NOINTERFACE;
    if (inPlace->CanInPlaceActivate() != S_OK) return E_FAIL;
    inPlace->OnInPlaceActivate();
    HWND parent = nullptr;
    inPlace->GetWindow(&parent);
    vantorix::win::com_ptr<IOleInPlaceFrame> frame;
    vantorix::win::com_ptr<IOleInPlaceUIWindow> document;
    RECT position = {0, 0, 0, 0}, clip = {0, 0, 0, 0};
    OLEINPLACEFRAMEINFO frameInfo{};
    frameInfo.cb = sizeof(frameInfo);
    inPlace->GetWindowContext(frame.put(), document.put(), &position, &clip, &frameInfo);
    window_ = CreateControlWindow(parent, position, this);
    if (!window_) {
        inPlace->OnInPlaceDeactivate();
        return E_FAIL;
    }
    inPlaceSite_ = inPlace;
    // Activated again after a deactivation: the running view comes back (creating the window has already
    // sized it to the new window), instead of a second engine start.
    parked_.Restore(window_);
    ShowWindow(window_, SW_SHOW);  // the show that starts the view in run mode
    return S_OK;
}

HRESULT Velview::DoVerb(LONG verb, LPMSG, IOleClientSite* site, LONG, HWND, LPCRECT) {
    VELVIEW_ON_OWNER_THREAD(thread());
    switch (verb) {
        case OLEIVERB_SHOW:
        case OLEIVERB_INPLACEACTIVATE:
            return ActivateInPlace(site);
        case OLEIVERB_PRIMARY:
        case OLEIVERB_UIACTIVATE: {
            const HRESULT hr = ActivateInPlace(site);
            return FAILED(hr) ? hr : UIActivate();
        }
        case OLEIVERB_HIDE:
            if (window_) ShowWindow(window_, SW_HIDE);
            return S_OK;
        default:
            return OLEOBJ_S_INVALIDVERB;
    }
}

HRESULT Velview::EnumVerbs(IEnumOLEVERB** out) {
    VELVIEW_ON_OWNER_THREAD(thread());
    if (!out) return E_POINTER;
    return OleRegEnumVerbs(CLSID_Velview, out);
}

HRESULT Velview::GetUserClassID(CLSID* clsid) {
    VELVIEW_ON_OWNER_THREAD(thread());
    if (!clsid) return E_POINTER;
    *clsid = CLSID_Velview;
    return S_OK;
}

HRESULT Velview::GetUserType(DWORD form, LPOLESTR* name) {
    VELVIEW_ON_OWNER_THREAD(thread());
    if (!name) return E_POINTER;
    return OleRegGetUserType(CLSID_Velview, form, name);
}

HRESULT Velview::SetExtent(DWORD aspect, SIZEL* size) {
    VELVIEW_ON_OWNER_THREAD(thread());
    if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
    if (!size) return E_POINTER;
    extent_ = *size;
    return S_OK;
}

HRESULT Velview::GetExtent(DWORD aspect, SIZEL* size) {
    VELVIEW_ON_OWNER_THREAD(thread());
    if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
    if (!size) return E_POINTER;
    *size = extent_;
    return S_OK;
}

HRESULT Velview::Advise(IAdviseSink* sink, DWORD* cookie) {
    VELVIEW_ON_OWNER_THREAD(thread());
    if (!sink || !cookie) return E_POINTER;
    if (!adviseHolder_) {
        const HRESULT hr = CreateOleAdviseHolder(adviseHolder_.put());
        if (FAILED(hr)) return hr;
    }
    return adviseHolder_->Advise(sink, cookie);
}

HRESULT Velview::Unadvise(DWORD cookie) {
    VELVIEW_ON_OWNER_THREAD(thread());
    if (!adviseHolder_) return OLE_E_NOCONNECTION;
    return adviseHolder_->Unadvise(cookie);
}

HRESULT Velview::EnumAdvise(IEnumSTATDATA** out) {
    VELVIEW_ON_OWNER_THREAD(thread());
    if (!out) return E_POINTER;
    *out = nullptr;
    if (!adviseHolder_) return S_OK;
    return adviseHolder_->EnumAdvise(out);
}

HRESULT Velview::GetMiscStatus(DWORD, DWORD* status) {
    VELVIEW_ON_OWNER_THREAD(thread());
    if (!status) return E_POINTER;
    *status = kMiscStatus;
    return S_OK;
}

// ---- IOleInPlaceObject ---------------------------------------------------------------------------------------

HRESULT Velview::GetWindow(HWND* window) {
    VELVIEW_ON_OWNER_THREAD(thread());
    if (!window) return E_POINTER;
    *window = window_;
    return window_ ? S_OK : E_FAIL;
}

HRESULT Velview::UIActivate() {
    if (!window_ || !inPlaceSite_) return E_UNEXPECTED;
    if (!uiActive_) {
        uiActive_ = true;
        inPlaceSite_->OnUIActivate();
        RECT position, clip;
        OLEINPLACEFRAMEINFO frameInfo{};
        frameInfo.cb = sizeof(frameInfo);
        inPlaceSite_->GetWindowContext(frame_.put(), document_.put(), &position, &clip, &frameInfo);
        IOleInPlaceActiveObject* self = this;
        if (frame_) frame_->SetActiveObject(self, const_cast<LPOLESTR>(L"Velview"));
        if (document_) document_->SetActiveObject(self, const_cast<LPOLESTR>(L"Velview"));
    }
    const HWND view = ::GetWindow(window_, GW_CHILD);
    SetFocus(view ? view : window_);
    return S_OK;
}

void Velview::OnPageClicked() {
    if (!uiActive_) UIActivate();
}

HRESULT Velview::UIDeactivate() {
    VELVIEW_ON_OWNER_THREAD(thread());
    if (!uiActive_) return S_OK;
    uiActive_ = false;
    if (frame_) frame_->SetActiveObject(nullptr, nullptr);
    if (document_) document_->SetActiveObject(nullptr, nullptr);
    frame_.reset();
    document_.reset();
    if (inPlaceSite_) inPlaceSite_->OnUIDeactivate(FALSE);
    return S_OK;
}

// The container hands its active object each keyboard message before its own dialog navigation. A key
// typed in the page belongs to the page (Tab, Enter and the arrows too): it is delivered to its window
// here, so the container does not take it.
HRESULT Velview::TranslateAccelerator(LPMSG message) {
    VELVIEW_ON_OWNER_THREAD(thread());
    if (!message || !window_ || message->message < WM_KEYFIRST || message->message > WM_KEYLAST) return S_FALSE;
    if (message->hwnd != window_ && !IsChild(window_, message->hwnd)) return S_FALSE;
    TranslateMessage(message);
    DispatchMessageW(message);
    return S_OK;
}

HRESULT Velview::InPlaceDeactivate() {
    VELVIEW_ON_OWNER_THREAD(thread());
    if (!window_ && !inPlaceSite_) return S_OK;
    UIDeactivate();
    // Containers deactivate and activate controls again (tab switches, re-created host windows): the
    // engine's window and its page outlive the control window.
    if (core().started()) parked_.Park(window_);
    DestroyControlWindow(window_);
    window_ = nullptr;
    if (const auto site = std::move(inPlaceSite_)) site->OnInPlaceDeactivate();
    return S_OK;
}

HRESULT Velview::SetObjectRects(LPCRECT position, LPCRECT) {
    VELVIEW_ON_OWNER_THREAD(thread());
    if (!position) return E_POINTER;
    if (window_)
        SetWindowPos(window_, nullptr, position->left, position->top, position->right - position->left,
                     position->bottom - position->top, SWP_NOZORDER | SWP_NOACTIVATE);
    return S_OK;
}

// ---- IOleControl ---------------------------------------------------------------------------------------------

HRESULT Velview::GetControlInfo(CONTROLINFO* info) {
    VELVIEW_ON_OWNER_THREAD(thread());
    if (!info) return E_POINTER;
    info->hAccel = nullptr;
    info->cAccel = 0;
    info->dwFlags = 0;
    return S_OK;
}

HRESULT Velview::OnAmbientPropertyChange(DISPID id) {
    VELVIEW_ON_OWNER_THREAD(thread());
    // A container that switches to run mode while the control is visible starts it as a show would.
    if ((id == DISPID_AMBIENT_USERMODE || id == DISPID_UNKNOWN) && window_ && IsWindowVisible(window_)) OnShow();
    return S_OK;
}

// ---- IViewObject2 ----------------------------------------------------------------------------------------------

HRESULT Velview::Draw(DWORD aspect, LONG, void*, DVTARGETDEVICE*, HDC, HDC dc, LPCRECTL bounds, LPCRECTL,
                      BOOL(STDMETHODCALLTYPE*)(ULONG_PTR), ULONG_PTR) {
    VELVIEW_ON_OWNER_THREAD(thread());
    if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
    if (!dc || !bounds) return E_INVALIDARG;
    RECT area = {bounds->left, bounds->top, bounds->right, bounds->bottom};
    OnPaint(dc, area);
    return S_OK;
}

HRESULT Velview::GetColorSet(DWORD, LONG, void*, DVTARGETDEVICE*, HDC, LOGPALETTE** out) {
    VELVIEW_ON_OWNER_THREAD(thread());
    if (out) *out = nullptr;
    return S_FALSE;
}

HRESULT Velview::SetAdvise(DWORD aspects, DWORD flags, IAdviseSink* sink) {
    VELVIEW_ON_OWNER_THREAD(thread());
    viewAspects_ = aspects;
    viewFlags_ = flags;
    viewSink_ = vantorix::win::com_ptr<IAdviseSink>::share(sink);
    return S_OK;
}

HRESULT Velview::GetAdvise(DWORD* aspects, DWORD* flags, IAdviseSink** sink) {
    VELVIEW_ON_OWNER_THREAD(thread());
    if (aspects) *aspects = viewAspects_;
    if (flags) *flags = viewFlags_;
    if (sink) *sink = vantorix::win::com_ptr<IAdviseSink>(viewSink_).release();
    return S_OK;
}

HRESULT Velview::GetExtent(DWORD aspect, LONG, DVTARGETDEVICE*, LPSIZEL size) {
    return GetExtent(aspect, size);  // the IOleObject one, which answers on the control's thread only
}

// ---- persistence -------------------------------------------------------------------------------------------

HRESULT Velview::GetClassID(CLSID* clsid) {
    VELVIEW_ON_OWNER_THREAD(thread());
    if (!clsid) return E_POINTER;
    *clsid = CLSID_Velview;
    return S_OK;
}

HRESULT Velview::GetSizeMax(ULARGE_INTEGER* size) {
    VELVIEW_ON_OWNER_THREAD(thread());
    if (!size) return E_POINTER;
    size->QuadPart = 0;
    return S_OK;
}

}  // namespace velview::view
