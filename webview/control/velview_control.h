#pragma once
// Velview: the windowed web view control. A container places it, activates it in place (it makes its own
// child window), shows it (the first show in run mode starts the engine view inside that window) and
// resizes it (the view follows). Persistence is accepted but nothing is stored.
//
// Every interface answers only on the thread that created the control (webview/com/owner_thread.h).
// Teardown as the OLE rules have it (SetClientSite(NULL), Close, InPlaceDeactivate, the last Release, in
// whatever order the container makes them): SetClientSite(NULL) lets go of the site and of everything
// obtained from it (in-place site, frame, document) without calling any of them again, the control window
// goes with its place, and when the control goes nothing of its windows stays (see ParkedViews).
#include <windows.h>
#include <ocidl.h>
#include <olectl.h>

#include "Velview_G_201.h"
#include "webview/control/control_window.h"
#include "webview/control/view_members.h"
#include "win/com_ptr.h"

namespace velview::view {

class Velview final : public ViewMembers<_Velview, IOleObject, IOleInPlaceObject, IOleInPlaceActiveObject, IOleControl,
                                          IViewObject2, IPersistStreamInit, IPersistPropertyBag, IPersistStorage> {
public:
    Velview();
    ~Velview() override;

    static HRESULT Create(REFIID iid, void** out);

    // _Velview
    HRESULT STDMETHODCALLTYPE get_RunMode(VARIANT_BOOL* value) override;

    // IOleObject
    HRESULT STDMETHODCALLTYPE SetClientSite(IOleClientSite* site) override;
    HRESULT STDMETHODCALLTYPE GetClientSite(IOleClientSite** site) override;
    HRESULT STDMETHODCALLTYPE SetHostNames(LPCOLESTR, LPCOLESTR) override { return Answer(S_OK); }
    HRESULT STDMETHODCALLTYPE Close(DWORD saveOption) override;
    HRESULT STDMETHODCALLTYPE SetMoniker(DWORD, IMoniker*) override { return Answer(E_NOTIMPL); }
    HRESULT STDMETHODCALLTYPE GetMoniker(DWORD, DWORD, IMoniker** out) override;
    HRESULT STDMETHODCALLTYPE InitFromData(IDataObject*, BOOL, DWORD) override { return Answer(E_NOTIMPL); }
    HRESULT STDMETHODCALLTYPE GetClipboardData(DWORD, IDataObject** out) override;
    HRESULT STDMETHODCALLTYPE DoVerb(LONG verb, LPMSG, IOleClientSite* site, LONG, HWND parent,
                                     LPCRECT position) override;
    HRESULT STDMETHODCALLTYPE EnumVerbs(IEnumOLEVERB** out) override;
    HRESULT STDMETHODCALLTYPE Update() override { return Answer(S_OK); }
    HRESULT STDMETHODCALLTYPE IsUpToDate() override { return Answer(S_OK); }
    HRESULT STDMETHODCALLTYPE GetUserClassID(CLSID* clsid) override;
    HRESULT STDMETHODCALLTYPE GetUserType(DWORD form, LPOLESTR* name) override;
    HRESULT STDMETHODCALLTYPE SetExtent(DWORD aspect, SIZEL* size) override;
    HRESULT STDMETHODCALLTYPE GetExtent(DWORD aspect, SIZEL* size) override;
    HRESULT STDMETHODCALLTYPE Advise(IAdviseSink* sink, DWORD* cookie) override;
    HRESULT STDMETHODCALLTYPE Unadvise(DWORD cookie) override;
    HRESULT STDMETHODCALLTYPE EnumAdvise(IEnumSTATDATA** out) override;
    HRESULT STDMETHODCALLTYPE GetMiscStatus(DWORD aspect, DWORD* status) override;
    HRESULT STDMETHODCALLTYPE SetColorScheme(LOGPALETTE*) override { return Answer(E_NOTIMPL); }

    // IOleWindow, IOleInPlaceObject, IOleInPlaceActiveObject
    HRESULT STDMETHODCALLTYPE GetWindow(HWND* window) override;
    HRESULT STDMETHODCALLTYPE ContextSensitiveHelp(BOOL) override { return Answer(E_NOTIMPL); }
    HRESULT STDMETHODCALLTYPE InPlaceDeactivate() override;
    HRESULT STDMETHODCALLTYPE UIDeactivate() override;
    HRESULT STDMETHODCALLTYPE SetObjectRects(LPCRECT position, LPCRECT clip) override;
    HRESULT STDMETHODCALLTYPE ReactivateAndUndo() override { return Answer(E_NOTIMPL); }
    HRESULT STDMETHODCALLTYPE TranslateAccelerator(LPMSG message) override;
    HRESULT STDMETHODCALLTYPE OnFrameWindowActivate(BOOL) override { return Answer(S_OK); }
    HRESULT STDMETHODCALLTYPE OnDocWindowActivate(BOOL) override { return Answer(S_OK); }
    HRESULT STDMETHODCALLTYPE ResizeBorder(LPCRECT, IOleInPlaceUIWindow*, BOOL) override { return Answer(S_OK); }
    HRESULT STDMETHODCALLTYPE EnableModeless(BOOL) override { return Answer(S_OK); }

    // IOleControl
    HRESULT STDMETHODCALLTYPE GetControlInfo(CONTROLINFO* info) override;
    HRESULT STDMETHODCALLTYPE OnMnemonic(MSG*) override { return Answer(E_NOTIMPL); }
    HRESULT STDMETHODCALLTYPE OnAmbientPropertyChange(DISPID id) override;
    HRESULT STDMETHODCALLTYPE FreezeEvents(BOOL freeze) override {
        VELVIEW_ON_OWNER_THREAD(thread());
        core().FreezeEvents(freeze != FALSE);
        return S_OK;
    }

    // IViewObject2
    HRESULT STDMETHODCALLTYPE Draw(DWORD aspect, LONG, void*, DVTARGETDEVICE*, HDC, HDC dc, LPCRECTL bounds,
                                   LPCRECTL, BOOL(STDMETHODCALLTYPE*)(ULONG_PTR), ULONG_PTR) override;
    HRESULT STDMETHODCALLTYPE GetColorSet(DWORD, LONG, void*, DVTARGETDEVICE*, HDC, LOGPALETTE** out) override;
    HRESULT STDMETHODCALLTYPE Freeze(DWORD, LONG, void*, DWORD*) override { return Answer(E_NOTIMPL); }
    HRESULT STDMETHODCALLTYPE Unfreeze(DWORD) override { return Answer(E_NOTIMPL); }
    HRESULT STDMETHODCALLTYPE SetAdvise(DWORD aspects, DWORD flags, IAdviseSink* sink) override;
    HRESULT STDMETHODCALLTYPE GetAdvise(DWORD* aspects, DWORD* flags, IAdviseSink** sink) override;
    HRESULT STDMETHODCALLTYPE GetExtent(DWORD aspect, LONG, DVTARGETDEVICE*, LPSIZEL size) override;

    // IPersist and the three persistence interfaces: accepted, nothing stored or read; a missing stream,
    // property bag or storage is E_POINTER.
    HRESULT STDMETHODCALLTYPE GetClassID(CLSID* clsid) override;
    HRESULT STDMETHODCALLTYPE IsDirty() override { return Answer(S_FALSE); }
    HRESULT STDMETHODCALLTYPE Load(IStream* stream) override { return Answer(Given(stream)); }
    HRESULT STDMETHODCALLTYPE Save(IStream* stream, BOOL) override { return Answer(Given(stream)); }
    HRESULT STDMETHODCALLTYPE GetSizeMax(ULARGE_INTEGER* size) override;
    HRESULT STDMETHODCALLTYPE InitNew() override { return Answer(S_OK); }
    HRESULT STDMETHODCALLTYPE Load(IPropertyBag* bag, IErrorLog*) override { return Answer(Given(bag)); }
    HRESULT STDMETHODCALLTYPE Save(IPropertyBag* bag, BOOL, BOOL) override { return Answer(Given(bag)); }
    HRESULT STDMETHODCALLTYPE InitNew(IStorage* storage) override { return Answer(Given(storage)); }
    HRESULT STDMETHODCALLTYPE Load(IStorage* storage) override { return Answer(Given(storage)); }
    HRESULT STDMETHODCALLTYPE Save(IStorage* storage, BOOL) override { return Answer(Given(storage)); }
    HRESULT STDMETHODCALLTYPE SaveCompleted(IStorage*) override { return Answer(S_OK); }
    HRESULT STDMETHODCALLTYPE HandsOffStorage() override { return Answer(S_OK); }

    // From the control's window.
    void OnShow();
    void OnSize(int width, int height);
    void OnPaint(HDC dc, const RECT& area);
    void OnWindowGone() { window_ = nullptr; }
    void OnPageClicked();

protected:
    void* QueryMore(REFIID iid) override;

private:
    // A member whose whole work is its answer: given on the control's own thread only.
    HRESULT Answer(HRESULT hr) const { return thread().Here() ? hr : thread().Refuse(); }
    static HRESULT Given(const void* argument) { return argument ? S_OK : E_POINTER; }
    HRESULT ActivateInPlace(IOleClientSite* site);
    // The control leaves its place without telling the site (which the container has taken away): UI
    // state dropped, the view parked, the control window destroyed, every reference from the site let go.
    void LeavePlace();
    // UI activation: the container learns the control is its active object (so it hands it keyboard
    // messages first, TranslateAccelerator) and the focus goes into the page.
    HRESULT UIActivate();

    vantorix::win::com_ptr<IOleClientSite> site_;
    vantorix::win::com_ptr<IOleInPlaceSite> inPlaceSite_;
    vantorix::win::com_ptr<IOleAdviseHolder> adviseHolder_;
    vantorix::win::com_ptr<IAdviseSink> viewSink_;
    DWORD viewAspects_ = 0;
    DWORD viewFlags_ = 0;
    SIZEL extent_;  // HIMETRIC
    HWND window_ = nullptr;
    // The engine's web window while the control is deactivated, shown again when the control is activated
    // once more (the engine is started once per control); it goes with the control.
    ParkedViews parked_;
    bool uiActive_ = false;
    vantorix::win::com_ptr<IOleInPlaceFrame> frame_;  // told about the active object while UI-active
    vantorix::win::com_ptr<IOleInPlaceUIWindow> document_;
};

}  // namespace velview::view
