#pragma once
// A small ActiveX container for the web view tests: a form window, client sites with a switchable ambient
// UserMode and an optional extender whose Parent carries "RunMode", and an event sink that records what
// the control raises. The control library and the stand-in engine are loaded as the real files next to
// the test program, so every call goes through the shipped binaries.
#include <windows.h>
#include <ocidl.h>
#include <olectl.h>

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "Velview_G_201.h"

namespace velview_test {

// Minimal IUnknown over one interface with a reference count.
template <class Itf>
class ComBase : public Itf {
public:
    virtual ~ComBase() = default;
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    ULONG STDMETHODCALLTYPE Release() override {
        ULONG left = --refs_;
        if (left == 0) delete this;
        return left;
    }

protected:
    ULONG refs_ = 1;
};

// An automation object with named read-only properties (the extender, the form).
class PropertyObject final : public ComBase<IDispatch> {
public:
    void Set(const std::wstring& name, const VARIANT& value);
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* n) override { *n = 0; return S_OK; }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override;
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS*, VARIANT* result, EXCEPINFO*,
                                     UINT*) override;
    ~PropertyObject() override;

private:
    std::vector<std::pair<std::wstring, VARIANT>> values_;
};

// One raised event: its id and the arguments in declaration order (by-reference ones dereferenced).
struct RecordedEvent {
    DISPID id;
    std::vector<std::wstring> texts;  // text arguments, in order
    std::vector<long> numbers;        // 32-bit integer arguments, in order
    std::vector<unsigned char> bytes; // a byte-array argument
    bool hasBytes = false;
};

// The host's event handler: records each event, then runs an optional reaction (set ShowNewView's ret,
// call NetHookRequest, ...) with the raw parameters.
class EventSink final : public ComBase<IDispatch> {
public:
    explicit EventSink(REFIID events) : events_(events) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* n) override { *n = 0; return S_OK; }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*,
                                     UINT*) override;

    std::vector<RecordedEvent> events;
    std::function<void(DISPID, DISPPARAMS*)> reaction;
    bool record = true;

private:
    IID events_;
};

// Connects a sink to an object's outgoing interface; returns the cookie (0 on failure).
DWORD Connect(IUnknown* object, REFIID events, IDispatch* sink);

// The control library and the stand-in engine, loaded once per process.
struct Library {
    static HRESULT Create(REFCLSID clsid, REFIID iid, void** out);
};

// A site of the test form for one control.
class Site;

class Form {
public:
    Form(int width = 640, int height = 480);
    ~Form();
    HWND window() const { return window_; }

    // Places a new Velview at `rect`: site first, InitNew, then in-place activation (which shows it).
    // ambientUserMode: the site's ambient flag (nothing: the site has no ambient properties);
    // parentRunMode: the extender's Parent "RunMode" (nothing: no extender).
    _Velview* Place(const RECT& rect, std::optional<bool> ambientUserMode = true,
                    std::optional<bool> parentRunMode = std::nullopt, bool activate = true);
    // Sets the new rectangle through IOleInPlaceObject::SetObjectRects.
    static void Move(_Velview* control, const RECT& rect);
    // Changes the ambient UserMode of a control's site and tells the control, as a container switching
    // between design and run mode does.
    void SwitchUserMode(_Velview* control, bool userMode);
    // Pumps pending messages as a dialog-style container does: the active object (the one a control named
    // through the frame's SetActiveObject) gets each message first, then the dialog navigation.
    void PumpAsDialog();
    bool HasActiveObject() const;
    // Closes and releases one control (its site lets go of it).
    void Remove(_Velview* control);
    // Tears one control down as a container that follows the OLE rules does: SetClientSite(NULL), Close,
    // InPlaceDeactivate, then the last Release (the caller's reference goes too). Reports what its old site
    // saw from the moment the control had no site: deactivation calls made on it, and references the control
    // held to it.
    struct Teardown {
        int callsAfterLeaving;
        ULONG referencesKept;
    };
    Teardown TearDown(_Velview* control);

private:
    HWND window_;
    std::vector<std::pair<_Velview*, Site*>> placed_;
};

// Pumps pending window messages of this thread.
void PumpMessages();

// Every window of this process: top-level, message-only, and all their descendants.
std::vector<HWND> WindowsOfThisProcess();

}  // namespace velview_test
