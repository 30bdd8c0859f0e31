#pragma once
// Reusable pieces for the library's COM objects.
//
//   DispatchObject<Itf>   IUnknown (win/com_object.h, plus a ModuleLock) and IDispatch for one dual interface
//                         Itf, answered from the embedded type library (module::TypeInfoOf + DispInvoke).
//                         Derive, implement Itf's own methods, and override QueryMore() for more
//                         interfaces (or list them: DispatchObject<Itf, ISupportErrorInfo>).
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
//       Receiver() : DispatchObject(IID__MiniblinkCallBack),
//                    events_(this, CLSID_MiniblinkCallBack, DIID___MiniblinkCallBack) {}
//   protected:
//       void* QueryMore(REFIID iid) override { return events_.Query(iid); }
//   private:
//       velview::EventSource events_;
//   };
//   ... events_.Fire(1, args, 2);
#include <windows.h>
#include <objbase.h>
#include <oaidl.h>
#include <ocidl.h>

#include <vector>

#include "webview/com/module.h"
#include "win/com_object.h"

namespace velview {

// IDispatch of one dual interface from the library's type library, on the shared IUnknown; More are further
// interfaces the object implements itself (answered under their own IIDs).
template <class Itf, class... More>
class DispatchObject : public vantorix::win::ComObject<Itf, More...> {
public:
    explicit DispatchObject(REFIID iid) : iid_(iid) {}

    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
        if (!count) return E_POINTER;
        *count = 1;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID, ITypeInfo** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (index != 0) return DISP_E_BADINDEX;
        return module::TypeInfoOf(iid_, out);
    }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
        ITypeInfo* info = nullptr;
        HRESULT hr = module::TypeInfoOf(iid_, &info);
        if (FAILED(hr)) return hr;
        hr = DispGetIDsOfNames(info, names, count, ids);
        info->Release();
        return hr;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                     EXCEPINFO* excep, UINT* argErr) override {
        ITypeInfo* info = nullptr;
        HRESULT hr = module::TypeInfoOf(iid_, &info);
        if (FAILED(hr)) return hr;
        hr = DispInvoke(static_cast<Itf*>(this), info, id, flags, params, result, excep, argErr);
        info->Release();
        return hr;
    }

protected:
    // The dual interface's own IID and IDispatch, then what the object adds (override QueryMore).
    void* QueryOther(REFIID iid) final {
        if (IsEqualIID(iid, IID_IDispatch) || IsEqualIID(iid, iid_)) return static_cast<Itf*>(this);
        return QueryMore(iid);
    }
    virtual void* QueryMore(REFIID) { return nullptr; }

private:
    const IID iid_;
    ModuleLock lock_;
};

// The connection point of one outgoing dispinterface, its container and the coclass's class info.
// Lives inside its owner object and shares the owner's identity and reference count.
class EventSource {
public:
    // owner: the object's IUnknown identity; clsid: its coclass; events: the outgoing dispinterface.
    EventSource(IUnknown* owner, REFCLSID clsid, REFIID events);
    EventSource(const EventSource&) = delete;
    EventSource& operator=(const EventSource&) = delete;
    ~EventSource();

    // IConnectionPointContainer, IProvideClassInfo, IProvideClassInfo2 (not AddRef'ed), else nullptr.
    void* Query(REFIID iid);

    // Raises an event on every sink. args[0] is the event's first parameter. Returns S_OK when there are no
    // sinks; otherwise the last failing sink's HRESULT (every sink is still called). A sink that faults (its
    // call is guarded: RPC_E_SERVERFAULT) or answers that its object is gone (RPC_E_DISCONNECTED and the
    // like) is released and unadvised: the source no longer holds it.
    HRESULT Fire(DISPID id, VARIANTARG* args, UINT count);
    bool HasSinks() const { return !sinks_.empty(); }

private:
    struct Sink {
        DWORD cookie;
        IDispatch* sink;
    };
    void Drop(IDispatch* sink);

    class Container;
    class Point;
    class ClassInfo;
    friend class Container;
    friend class Point;
    friend class ClassInfo;

    IUnknown* owner_;
    CLSID clsid_;
    IID events_;
    std::vector<Sink> sinks_;
    DWORD nextCookie_ = 1;
    Container* container_;
    Point* point_;
    ClassInfo* classInfo_;
};

}  // namespace velview
