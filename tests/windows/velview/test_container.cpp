#include "test_container.h"

#include <oleauto.h>

namespace velview_test {

// ---- PropertyObject -------------------------------------------------------------------------------------------

PropertyObject::~PropertyObject() {
    for (auto& entry : values_) VariantClear(&entry.second);
}

void PropertyObject::Set(const std::wstring& name, const VARIANT& value) {
    VARIANT copy;
    VariantInit(&copy);
    VariantCopy(&copy, const_cast<VARIANT*>(&value));
    values_.emplace_back(name, copy);
}

HRESULT PropertyObject::QueryInterface(REFIID iid, void** out) {
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch)) {
        *out = static_cast<IDispatch*>(this);
        AddRef();
        return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
}

HRESULT PropertyObject::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
    if (count != 1) return DISP_E_UNKNOWNNAME;
    for (size_t i = 0; i < values_.size(); ++i)
        if (lstrcmpiW(values_[i].first.c_str(), names[0]) == 0) {
            ids[0] = static_cast<DISPID>(i + 1);
            return S_OK;
        }
    ids[0] = DISPID_UNKNOWN;
    return DISP_E_UNKNOWNNAME;
}

HRESULT PropertyObject::Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS*, VARIANT* result, EXCEPINFO*, UINT*) {
    if (id < 1 || static_cast<size_t>(id) > values_.size()) return DISP_E_MEMBERNOTFOUND;
    if (result) return VariantCopy(result, &values_[id - 1].second);
    return S_OK;
}

// ---- EventSink --------------------------------------------------------------------------------------------------

HRESULT EventSink::QueryInterface(REFIID iid, void** out) {
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) || IsEqualIID(iid, events_)) {
        *out = static_cast<IDispatch*>(this);
        AddRef();
        return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
}

HRESULT EventSink::Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*, UINT*) {
    if (record) {
        RecordedEvent e{};
        e.id = id;
        for (UINT i = params->cArgs; i-- > 0;) {  // rgvarg holds the last argument first
            const VARIANT& v = params->rgvarg[i];
            switch (v.vt) {
                case VT_BSTR: e.texts.emplace_back(v.bstrVal ? v.bstrVal : L""); break;
                case VT_I4: e.numbers.push_back(v.lVal); break;
                case VT_I4 | VT_BYREF: e.numbers.push_back(*v.plVal); break;
                case VT_ARRAY | VT_UI1 | VT_BYREF: {
                    e.hasBytes = true;
                    SAFEARRAY* a = *v.pparray;
                    if (a) {
                        LONG lo = 0, hi = -1;
                        SafeArrayGetLBound(a, 1, &lo);
                        SafeArrayGetUBound(a, 1, &hi);
                        e.numbers.push_back(lo);  // lower bound recorded after the other numbers
                        for (LONG k = lo; k <= hi; ++k) {
                            unsigned char b = 0;
                            SafeArrayGetElement(a, &k, &b);
                            e.bytes.push_back(b);
                        }
                    }
                    break;
                }
                default: break;
            }
        }
        events.push_back(std::move(e));
    }
    if (reaction) reaction(id, params);
    return S_OK;
}

DWORD Connect(IUnknown* object, REFIID events, IDispatch* sink) {
    IConnectionPointContainer* container = nullptr;
    if (FAILED(object->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&container))))
        return 0;
    IConnectionPoint* point = nullptr;
    DWORD cookie = 0;
    if (SUCCEEDED(container->FindConnectionPoint(events, &point))) {
        point->Advise(sink, &cookie);
        point->Release();
    }
    container->Release();
    return cookie;
}

// ---- Library --------------------------------------------------------------------------------------------------

HRESULT Library::Create(REFCLSID clsid, REFIID iid, void** out) {
    static HMODULE ocx = LoadLibraryW(L"Velview_G_201.ocx");
    if (!ocx) return HRESULT_FROM_WIN32(GetLastError());
    using GetClassObject = HRESULT(__stdcall*)(REFCLSID, REFIID, void**);
    auto get = reinterpret_cast<GetClassObject>(reinterpret_cast<void*>(GetProcAddress(ocx, "DllGetClassObject")));
    if (!get) return E_FAIL;
    IClassFactory* factory = nullptr;
    HRESULT hr = get(clsid, IID_IClassFactory, reinterpret_cast<void**>(&factory));
    if (FAILED(hr)) return hr;
    hr = factory->CreateInstance(nullptr, iid, out);
    factory->Release();
    return hr;
}

// ---- Site -----------------------------------------------------------------------------------------------------

// The site is also the container's frame: it keeps the active object it is told about, to hand it keyboard
// messages first as a container's message loop does.
class Site final : public IOleClientSite, public IOleInPlaceSite, public IOleControlSite, public IDispatch,
                   public IOleInPlaceFrame {
public:
    Site(HWND form, const RECT& rect, std::optional<bool> userMode, IDispatch* extender)
        : form_(form), rect_(rect), userMode_(userMode), extender_(extender) {
        if (extender_) extender_->AddRef();
    }
    ~Site() {
        if (extender_) extender_->Release();
        if (active) active->Release();
    }
    IOleInPlaceActiveObject* active = nullptr;
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    ULONG STDMETHODCALLTYPE Release() override {
        ULONG left = --refs_;
        if (left == 0) delete this;
        return left;
    }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        *out = nullptr;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IOleClientSite))
            *out = static_cast<IOleClientSite*>(this);
        else if (IsEqualIID(iid, IID_IOleWindow) || IsEqualIID(iid, IID_IOleInPlaceSite))
            *out = static_cast<IOleInPlaceSite*>(this);
        else if (IsEqualIID(iid, IID_IOleControlSite))
            *out = static_cast<IOleControlSite*>(this);
        else if (IsEqualIID(iid, IID_IOleInPlaceFrame) || IsEqualIID(iid, IID_IOleInPlaceUIWindow))
            *out = static_cast<IOleInPlaceFrame*>(this);
        else if (IsEqualIID(iid, IID_IDispatch) && userMode_)
            *out = static_cast<IDispatch*>(this);
        if (!*out) return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    // IOleClientSite
    HRESULT STDMETHODCALLTYPE SaveObject() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE GetMoniker(DWORD, DWORD, IMoniker** m) override { *m = nullptr; return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetContainer(IOleContainer** c) override { *c = nullptr; return E_NOINTERFACE; }
    HRESULT STDMETHODCALLTYPE ShowObject() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnShowWindow(BOOL) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE RequestNewObjectLayout() override { return E_NOTIMPL; }
    // IOleInPlaceSite
    HRESULT STDMETHODCALLTYPE GetWindow(HWND* w) override { *w = form_; return S_OK; }
    HRESULT STDMETHODCALLTYPE ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE CanInPlaceActivate() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnInPlaceActivate() override { ++activations; return S_OK; }
    HRESULT STDMETHODCALLTYPE OnUIActivate() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** doc, LPRECT pos,
                                               LPRECT clip, LPOLEINPLACEFRAMEINFO) override {
        *frame = static_cast<IOleInPlaceFrame*>(this);
        AddRef();
        *doc = nullptr;
        *pos = rect_;
        *clip = rect_;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Scroll(SIZE) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE OnUIDeactivate(BOOL) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnInPlaceDeactivate() override { ++deactivations; return S_OK; }
    HRESULT STDMETHODCALLTYPE DiscardUndoState() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE DeactivateAndUndo() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnPosRectChange(LPCRECT) override { return S_OK; }
    // IOleInPlaceUIWindow, IOleInPlaceFrame
    HRESULT STDMETHODCALLTYPE GetBorder(LPRECT) override { return INPLACE_E_NOTOOLSPACE; }
    HRESULT STDMETHODCALLTYPE RequestBorderSpace(LPCBORDERWIDTHS) override { return INPLACE_E_NOTOOLSPACE; }
    HRESULT STDMETHODCALLTYPE SetBorderSpace(LPCBORDERWIDTHS) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE SetActiveObject(IOleInPlaceActiveObject* object, LPCOLESTR) override {
        if (object) object->AddRef();
        if (active) active->Release();
        active = object;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE InsertMenus(HMENU, LPOLEMENUGROUPWIDTHS) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE SetMenu(HMENU, HOLEMENU, HWND) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE RemoveMenus(HMENU) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE SetStatusText(LPCOLESTR) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE EnableModeless(BOOL) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE TranslateAccelerator(LPMSG, WORD) override { return S_FALSE; }
    // IOleControlSite
    HRESULT STDMETHODCALLTYPE OnControlInfoChanged() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE LockInPlaceActive(BOOL) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE GetExtendedControl(IDispatch** out) override {
        *out = extender_;
        if (!extender_) return E_NOTIMPL;
        extender_->AddRef();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE TransformCoords(POINTL*, POINTF*, DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE TranslateAccelerator(MSG*, DWORD) override { return S_FALSE; }
    HRESULT STDMETHODCALLTYPE OnFocus(BOOL) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE ShowPropertyFrame() override { return E_NOTIMPL; }
    // IDispatch: the ambient properties
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* n) override { *n = 0; return S_OK; }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
        return DISP_E_UNKNOWNNAME;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS*, VARIANT* result, EXCEPINFO*,
                                     UINT*) override {
        if (id != DISPID_AMBIENT_USERMODE || !result) return DISP_E_MEMBERNOTFOUND;
        VariantInit(result);
        result->vt = VT_BOOL;
        result->boolVal = userMode_.value_or(true) ? VARIANT_TRUE : VARIANT_FALSE;
        return S_OK;
    }

    int activations = 0;
    int deactivations = 0;
    ULONG refs() const { return refs_; }
    void SetUserMode(bool userMode) { userMode_ = userMode; }

private:
    HWND form_;
    RECT rect_;
    std::optional<bool> userMode_;
    IDispatch* extender_;
    ULONG refs_ = 1;
};

// ---- Form -----------------------------------------------------------------------------------------------------

Form::Form(int width, int height) {
    static const bool registered = [] {
        WNDCLASSW wc = {};
        wc.lpfnWndProc = DefWindowProcW;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"VelviewTestForm";
        return RegisterClassW(&wc) != 0;
    }();
    (void)registered;
    window_ = CreateWindowExW(0, L"VelviewTestForm", L"form", WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, 0, 0, width,
                              height, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    ShowWindow(window_, SW_SHOWNOACTIVATE);
}

Form::~Form() {
    for (auto& p : placed_) {
        IOleObject* ole = nullptr;
        if (SUCCEEDED(p.first->QueryInterface(IID_IOleObject, reinterpret_cast<void**>(&ole)))) {
            ole->Close(OLECLOSE_NOSAVE);
            ole->SetClientSite(nullptr);
            ole->Release();
        }
        p.first->Release();
        p.second->Release();
    }
    DestroyWindow(window_);
}

_Velview* Form::Place(const RECT& rect, std::optional<bool> ambientUserMode, std::optional<bool> parentRunMode,
                      bool activate) {
    PropertyObject* extender = nullptr;
    if (parentRunMode) {
        auto* parent = new PropertyObject();
        VARIANT runMode;
        VariantInit(&runMode);
        runMode.vt = VT_BOOL;
        runMode.boolVal = *parentRunMode ? VARIANT_TRUE : VARIANT_FALSE;
        parent->Set(L"RunMode", runMode);
        extender = new PropertyObject();
        VARIANT p;
        VariantInit(&p);
        p.vt = VT_DISPATCH;
        p.pdispVal = parent;
        extender->Set(L"Parent", p);
        parent->Release();
    }
    auto* site = new Site(window_, rect, ambientUserMode, extender);
    if (extender) extender->Release();
    _Velview* control = nullptr;
    if (FAILED(Library::Create(CLSID_Velview, IID__Velview, reinterpret_cast<void**>(&control)))) {
        site->Release();
        return nullptr;
    }
    IOleObject* ole = nullptr;
    control->QueryInterface(IID_IOleObject, reinterpret_cast<void**>(&ole));
    ole->SetClientSite(site);
    IPersistStreamInit* persist = nullptr;
    if (SUCCEEDED(control->QueryInterface(IID_IPersistStreamInit, reinterpret_cast<void**>(&persist)))) {
        persist->InitNew();
        persist->Release();
    }
    if (activate) ole->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, site, 0, window_, &rect);
    ole->Release();
    placed_.emplace_back(control, site);
    control->AddRef();
    return control;
}

void Form::Move(_Velview* control, const RECT& rect) {
    IOleInPlaceObject* inPlace = nullptr;
    if (SUCCEEDED(control->QueryInterface(IID_IOleInPlaceObject, reinterpret_cast<void**>(&inPlace)))) {
        inPlace->SetObjectRects(&rect, &rect);
        inPlace->Release();
    }
}

void Form::SwitchUserMode(_Velview* control, bool userMode) {
    for (auto& p : placed_) {
        if (p.first != control) continue;
        p.second->SetUserMode(userMode);
        IOleControl* ole = nullptr;
        if (SUCCEEDED(control->QueryInterface(IID_IOleControl, reinterpret_cast<void**>(&ole)))) {
            ole->OnAmbientPropertyChange(DISPID_AMBIENT_USERMODE);
            ole->Release();
        }
    }
}

void Form::Remove(_Velview* control) {
    for (auto it = placed_.begin(); it != placed_.end(); ++it) {
        if (it->first != control) continue;
        IOleObject* ole = nullptr;
        if (SUCCEEDED(control->QueryInterface(IID_IOleObject, reinterpret_cast<void**>(&ole)))) {
            ole->Close(OLECLOSE_NOSAVE);
            ole->SetClientSite(nullptr);
            ole->Release();
        }
        control->Release();
        it->second->Release();
        placed_.erase(it);
        return;
    }
}

Form::Teardown Form::TearDown(_Velview* control) {
    Teardown seen{-1, 0};
    for (auto it = placed_.begin(); it != placed_.end(); ++it) {
        if (it->first != control) continue;
        Site* site = it->second;
        IOleObject* ole = nullptr;
        IOleInPlaceObject* inPlace = nullptr;
        control->QueryInterface(IID_IOleObject, reinterpret_cast<void**>(&ole));
        control->QueryInterface(IID_IOleInPlaceObject, reinterpret_cast<void**>(&inPlace));
        ole->SetClientSite(nullptr);
        const int deactivationsBefore = site->deactivations;
        seen.referencesKept = site->refs() - 1;  // the form's own
        ole->Close(OLECLOSE_NOSAVE);
        inPlace->InPlaceDeactivate();
        inPlace->Release();
        ole->Release();
        control->Release();
        control->Release();
        seen.callsAfterLeaving = site->deactivations - deactivationsBefore;
        site->Release();
        placed_.erase(it);
        break;
    }
    return seen;
}

void Form::PumpAsDialog() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        IOleInPlaceActiveObject* active = nullptr;
        for (auto& p : placed_)
            if (p.second->active) active = p.second->active;
        if (active && active->TranslateAccelerator(&msg) == S_OK) continue;
        if (IsDialogMessageW(window_, &msg)) continue;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

bool Form::HasActiveObject() const {
    for (auto& p : placed_)
        if (p.second->active) return true;
    return false;
}

void PumpMessages() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}


namespace {

BOOL CALLBACK AddChild(HWND child, LPARAM list) {
    reinterpret_cast<std::vector<HWND>*>(list)->push_back(child);
    return TRUE;
}

void AddWithDescendants(HWND window, std::vector<HWND>& windows) {
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process != GetCurrentProcessId()) return;
    windows.push_back(window);
    EnumChildWindows(window, AddChild, reinterpret_cast<LPARAM>(&windows));
}

BOOL CALLBACK AddTopLevel(HWND window, LPARAM list) {
    AddWithDescendants(window, *reinterpret_cast<std::vector<HWND>*>(list));
    return TRUE;
}

}  // namespace

std::vector<HWND> WindowsOfThisProcess() {
    std::vector<HWND> windows;
    EnumWindows(AddTopLevel, reinterpret_cast<LPARAM>(&windows));
    for (HWND m = FindWindowExW(HWND_MESSAGE, nullptr, nullptr, nullptr); m;
         m = FindWindowExW(HWND_MESSAGE, m, nullptr, nullptr))
        AddWithDescendants(m, windows);
    return windows;
}

}  // namespace velview_test
