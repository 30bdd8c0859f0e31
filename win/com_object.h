#pragma once
// IUnknown for the COM objects the programs implement, written once: a reference count that starts with
// the creator's reference and deletes the object when the last one goes, and QueryInterface answered from
// the object's interface list (IUnknown and each listed interface under its own IID), then from QueryOther
// for identities the list cannot name (a dual interface's IID known at run time, a dispinterface a sink
// answers as IDispatch, interfaces of parts that share the object's identity).
//
//   class Sink final : public vantorix::win::ComObject<IDispatch> {
//   protected:
//       void* QueryOther(REFIID iid) override { return IsEqualIID(iid, DIID_Events) ? this : nullptr; }
//       ... IDispatch's own methods ...
//   };
//   auto* sink = new Sink();   // one reference, the creator's
#include <windows.h>
#include <unknwn.h>

namespace vantorix::win {

template <class First, class... Rest>
class ComObject : public First, public Rest... {
public:
    ComObject() = default;
    ComObject(const ComObject&) = delete;
    ComObject& operator=(const ComObject&) = delete;
    virtual ~ComObject() = default;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        *out = Find(iid);
        if (!*out) return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&refs_)); }
    ULONG STDMETHODCALLTYPE Release() override {
        const LONG left = InterlockedDecrement(&refs_);
        if (left == 0) delete this;
        return static_cast<ULONG>(left);
    }

protected:
    // Further interfaces of the object: the interface pointer (not AddRef'ed) or nullptr.
    virtual void* QueryOther(REFIID) { return nullptr; }
    IUnknown* Identity() { return static_cast<First*>(this); }

private:
    void* Find(REFIID iid) {
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, __uuidof(First))) return static_cast<First*>(this);
        void* found = nullptr;
        ((found = found ? found : IsEqualIID(iid, __uuidof(Rest)) ? static_cast<Rest*>(this) : nullptr), ...);
        return found ? found : QueryOther(iid);
    }

    LONG refs_ = 1;  // the creator's reference
};

}  // namespace vantorix::win
