#pragma once
// Reusable pieces for the library's COM objects.
//
//   DispatchObject<Itf>   IUnknown (win/com_object.h, plus a ModuleLock), IDispatch for one dual interface
//                         Itf, answered from the embedded type library (module::TypeInfoOf + DispInvoke), and
//                         ISupportErrorInfo for it. The object belongs to the thread that creates it
//                         (owner_thread.h): IDispatch refuses other threads, and so must every method the
//                         derived class implements (VELVIEW_ON_OWNER_THREAD(thread())). Derive, implement
//                         Itf's own methods, and override QueryMore() for more interfaces (or list them:
//                         DispatchObject<Itf, IOleObject>).
//   EventSource           IConnectionPointContainer with ONE IConnectionPoint for an outgoing dispinterface,
//                         plus IProvideClassInfo2 for the coclass. Fire(dispid, args, count) calls every
//                         advised sink's IDispatch::Invoke synchronously, in advise order, with the arguments
//                         given in their natural (first-to-last) order; by-reference arguments (VT_BYREF) are
//                         passed through untouched, so a handler's writes reach the caller.
//                         Hook it into an object with DispatchObject::QueryOther -> EventSource::Query.
//
// Example:
//   class Receiver final : public velview::DispatchObject<_MiniblinkCallBack> {
//   public:
//       Receiver() : DispatchObject(IID__MiniblinkCallBack, L"MiniblinkCallBack"),
//                    events_(this, CLSID_MiniblinkCallBack, DIID___MiniblinkCallBack) {}
//   protected:
//       void* QueryMore(REFIID iid) override { return events_.Query(iid); }
//   private:
//       velview::EventSource events_;
//   };
//   ... events_.Fire(1, args, 2);
//   HRESULT STDMETHODCALLTYPE get_Return_wkeNetResponseCallback(VARIANT_BOOL* value) override {
//       VELVIEW_ON_OWNER_THREAD(thread());
//       ...
//   }
#include <windows.h>
#include <objbase.h>
#include <oaidl.h>
#include <ocidl.h>

#include <vector>

#include "webview/com/module.h"
#include "webview/com/owner_thread.h"
#include "win/com_object.h"
#include "win/com_ptr.h"

namespace velview {

// IDispatch and ISupportErrorInfo of one dual interface from the library's type library, on the shared
// IUnknown; More are further interfaces the object implements itself (answered under their own IIDs).
template <class Itf, class... More>
class DispatchObject : public vantorix::win::ComObject<Itf, ISupportErrorInfo, More...> {
public:
    DispatchObject(REFIID iid, const wchar_t* typeName) : iid_(iid), thread_(typeName) {}

    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
        VELVIEW_ON_OWNER_THREAD(thread_);
        if (!count) return E_POINTER;
        *count = 1;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID, ITypeInfo** out) override {
        VELVIEW_ON_OWNER_THREAD(thread_);
        if (!out) return E_POINTER;
        *out = nullptr;
        if (index != 0) return DISP_E_BADINDEX;
        return module::TypeInfoOf(iid_, out);
    }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
        VELVIEW_ON_OWNER_THREAD(thread_);
        vantorix::win::com_ptr<ITypeInfo> info;
        HRESULT hr = module::TypeInfoOf(iid_, info.put());
        if (FAILED(hr)) return hr;
        return DispGetIDsOfNames(info.get(), names, count, ids);
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                     EXCEPINFO* excep, UINT* argErr) override {
        VELVIEW_ON_OWNER_THREAD(thread_);
        vantorix::win::com_ptr<ITypeInfo> info;
        HRESULT hr = module::TypeInfoOf(iid_, info.put());
        if (FAILED(hr)) return hr;
        return DispInvoke(static_cast<Itf*>(this), info.get(), id, flags, params, result, excep, argErr);
    }
    // Every failure of the dual interface's methods leaves its description (module::Fail).
    HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID iid) override {
        VELVIEW_ON_OWNER_THREAD(thread_);
        return IsEqualIID(iid, iid_) ? S_OK : S_FALSE;
    }

protected:
    // The dual interface's own IID and IDispatch, then what the object adds (override QueryMore).
    void* QueryOther(REFIID iid) final {
        if (IsEqualIID(iid, IID_IDispatch) || IsEqualIID(iid, iid_)) return static_cast<Itf*>(this);
        return QueryMore(iid);
    }
    virtual void* QueryMore(REFIID) { return nullptr; }
    const OwnerThread& thread() const { return thread_; }

private:
    const IID iid_;
    const OwnerThread thread_;
    ModuleLock lock_;
};

// The connection point of one outgoing dispinterface, its container and the coclass's class info.
// Lives inside its owner object and shares the owner's identity and reference count.
class EventSource {
public:
    // owner: the object's IUnknown identity and its thread (the parts answer only there); clsid: its
    // coclass; events: the outgoing dispinterface.
    EventSource(IUnknown* owner, const OwnerThread& thread, REFCLSID clsid, REFIID events);
    EventSource(const EventSource&) = delete;
    EventSource& operator=(const EventSource&) = delete;
    ~EventSource();

    // IConnectionPointContainer, IProvideClassInfo, IProvideClassInfo2 (not AddRef'ed), else nullptr.
    void* Query(REFIID iid);

    // Raises an event on every sink. args[0] is the event's first parameter. Returns S_OK when there are no
    // sinks; otherwise the last failing sink's HRESULT (every sink is still called). A sink runs the host's
    // code: its call is the one place an event is guarded (webview/x86/guarded_call.h), so a fault of the
    // host's handler unwinds only the host's frames and becomes RPC_E_SERVERFAULT here, recorded with its
    // exception code, while everything the library holds for the event is cleaned up as usual. A sink that
    // faulted or answers that its object is gone (RPC_E_DISCONNECTED and the like) is released and
    // unadvised: the source no longer holds it.
    HRESULT Fire(DISPID id, VARIANTARG* args, UINT count);
    bool HasSinks() const { return !sinks_.empty(); }

private:
    // A sink is held raw: one that failed is let go through the guard (its Release may fault too).
    struct Sink {
        DWORD cookie;
        IDispatch* sink;
    };
    void Drop(IDispatch* sink, DISPID id);

    class Container;
    class Point;
    class ClassInfo;
    friend class Container;
    friend class Point;
    friend class ClassInfo;

    IUnknown* owner_;
    const OwnerThread& thread_;
    CLSID clsid_;
    IID events_;
    std::vector<Sink> sinks_;
    DWORD nextCookie_ = 1;
    Container* container_;
    Point* point_;
    ClassInfo* classInfo_;
};

}  // namespace velview
