// The DLL's entry points. Nothing thrown inside the library crosses them.
#include <windows.h>
#include <objbase.h>
#include <olectl.h>

#include <new>

#include "webview/com/module.h"
#include "win/com_object.h"

namespace {

class ClassFactory final : public vantorix::win::ComObject<IClassFactory> {
public:
    explicit ClassFactory(const velview::ClassInfo& info) : info_(info) {}
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        if (!velview::module::OnEngineThread())
            return velview::module::Fail(RPC_E_WRONG_THREAD,
                                         L"Velview_G_201 objects can only be created on the thread that created "
                                         L"the first one, the thread that runs the web engine.");
        try {
            return info_.create(iid, out);
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        } catch (...) {
            return E_FAIL;
        }
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
        lock ? velview::module::AddRef() : velview::module::Release();
        return S_OK;
    }

private:
    const velview::ClassInfo& info_;
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
    auto* factory = new (std::nothrow) ClassFactory(*info);
    if (!factory) return E_OUTOFMEMORY;
    HRESULT hr = factory->QueryInterface(iid, out);
    factory->Release();
    return hr;
}

extern "C" HRESULT __stdcall DllCanUnloadNow() { return velview::module::CanUnload() ? S_OK : S_FALSE; }

extern "C" HRESULT __stdcall DllRegisterServer() {
    try {
        return velview::module::RegisterAll();
    } catch (...) {
        return SELFREG_E_CLASS;
    }
}

extern "C" HRESULT __stdcall DllUnregisterServer() {
    try {
        return velview::module::UnregisterAll();
    } catch (...) {
        return E_FAIL;
    }
}
