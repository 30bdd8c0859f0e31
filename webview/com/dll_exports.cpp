// The DLL's entry points. Nothing thrown inside the library crosses them.
#include <windows.h>
#include <objbase.h>
#include <olectl.h>

#include <new>
#include <string>

#include "webview/com/library_log.h"
#include "webview/com/module.h"
#include "webview/com/owner_thread.h"
#include "win/com_object.h"
#include "win/com_ptr.h"

namespace {

using vantorix::win::com_ptr;

// A class object. Only the engine's thread may create objects (module::ClaimEngineThread), and a refusal
// leaves its description on the thread that asked. COM hands a caller in another apartment a proxy of the
// class object (an MTA caller of an apartment-model class gets one from a host apartment COM makes): the
// refusal would then run there, and its description would not reach the caller. So once another thread
// is the engine's, the class object lets itself be marshaled by its pointer (the free-threaded marshaler:
// it holds nothing but its class's description and a lock count), and the refusal runs on the caller's
// own thread. While no thread is the engine's, it is marshaled as COM does, and a caller in another
// apartment gets its objects made in the apartment COM chooses and uses them through proxies.
class ClassFactory final : public vantorix::win::ComObject<IClassFactory> {
public:
    explicit ClassFactory(const velview::ClassInfo& info) : info_(info) {}
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (outer) return Refuse(CLASS_E_NOAGGREGATION, L"Velview_G_201 objects cannot be aggregated.");
        if (!velview::module::ClaimEngineThread())
            return Refuse(RPC_E_WRONG_THREAD, L"Velview_G_201 objects can only be created on the thread that created "
                                              L"the first one, the thread that runs the web engine.");
        try {
            return info_.create(iid, out);
        } catch (const std::bad_alloc&) {
            return Refuse(E_OUTOFMEMORY, L"There was not enough memory to create the object.");
        } catch (...) {
            return Refuse(E_FAIL, L"The object could not be created.");
        }
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
        lock ? velview::module::AddRef() : velview::module::Release();
        return S_OK;
    }

protected:
    void* QueryOther(REFIID iid) override {
        if (!IsEqualIID(iid, IID_IMarshal)) return nullptr;
        const DWORD engine = velview::module::EngineThread();
        if (engine == 0 || engine == velview::CurrentThreadId()) return nullptr;
        if (!marshaler_ && FAILED(CoCreateFreeThreadedMarshaler(Identity(), marshaler_.put()))) return nullptr;
        void* marshal = nullptr;
        if (FAILED(marshaler_->QueryInterface(IID_IMarshal, &marshal))) return nullptr;
        Release();  // the marshaler's QueryInterface counted a reference on us; ComObject counts its own
        return marshal;
    }

private:
    // A creation that does not happen: its description for the caller, and a record.
    HRESULT Refuse(HRESULT hr, const wchar_t* description) const noexcept {
        try {
            velview::Record(info_.name, std::wstring(L"a creation was refused: ") + description,
                            static_cast<unsigned long>(hr));
        } catch (...) {
            // no memory for the record: the caller still gets its error
        }
        return velview::module::Fail(hr, description);
    }

    const velview::ClassInfo& info_;
    com_ptr<IUnknown> marshaler_;  // the free-threaded marshaler, aggregated (its inner IUnknown)
    velview::ModuleLock lock_;
};

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        velview::module::SetInstance(instance);
        DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}

extern "C" HRESULT __stdcall DllGetClassObject(REFCLSID clsid, REFIID iid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    const velview::ClassInfo* info = velview::module::FindClass(clsid);
    if (!info) return CLASS_E_CLASSNOTAVAILABLE;
    const com_ptr<ClassFactory> factory(new (std::nothrow) ClassFactory(*info));
    if (!factory) return E_OUTOFMEMORY;
    const HRESULT hr = factory->QueryInterface(iid, out);
    // A host uses the library from here on: it stays loaded until the process ends (module.h).
    if (SUCCEEDED(hr)) velview::module::PinUntilProcessEnd();
    return hr;
}

extern "C" HRESULT __stdcall DllCanUnloadNow() { return velview::module::CanUnload() ? S_OK : S_FALSE; }

extern "C" HRESULT __stdcall DllRegisterServer() {
    try {
        return velview::module::RegisterAll();
    } catch (...) {
        velview::RecordCurrentException(L"DllRegisterServer", L"the registration failed");
        return SELFREG_E_CLASS;
    }
}

extern "C" HRESULT __stdcall DllUnregisterServer() {
    try {
        return velview::module::UnregisterAll();
    } catch (...) {
        velview::RecordCurrentException(L"DllUnregisterServer", L"the unregistration failed");
        return E_FAIL;
    }
}
