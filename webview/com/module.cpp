#include "webview/com/module.h"
#include "webview/com/owner_thread.h"

#include <olectl.h>

#include <new>
#include <string>
#include <vector>

#include "Velview_G_201.h"
#include "win/com_ptr.h"
#include "win/module_path.h"
#include "win/unique_handle.h"

namespace velview {
namespace {

using vantorix::win::com_ptr;

std::vector<const ClassInfo*>& Classes() {
    static std::vector<const ClassInfo*> classes;
    return classes;
}

HINSTANCE g_instance = nullptr;
LONG g_objects = 0;
LONG g_engineThread = 0;  // the engine's thread id, 0 until the first creation

std::wstring GuidText(REFGUID guid) {
    wchar_t text[40] = {};
    StringFromGUID2(guid, text, 40);
    return text;
}

std::wstring ModulePath() { return vantorix::win::ModulePath(g_instance); }

LSTATUS SetValue(HKEY root, const std::wstring& key, const wchar_t* name, const std::wstring& value) {
    vantorix::win::unique_hkey hkey;
    LSTATUS status = RegCreateKeyExW(root, key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, hkey.put(), nullptr);
    if (status != ERROR_SUCCESS) return status;
    return RegSetValueExW(hkey.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

HRESULT RegisterClass(const ClassInfo& info, const std::wstring& path) {
    const std::wstring clsid = GuidText(*info.clsid);
    const std::wstring libid = GuidText(LIBID_Velview_G_201);
    const std::wstring key = L"CLSID\\" + clsid;
    LSTATUS s = SetValue(HKEY_CLASSES_ROOT, key, nullptr, info.name);
    s |= SetValue(HKEY_CLASSES_ROOT, key + L"\\InprocServer32", nullptr, path);
    s |= SetValue(HKEY_CLASSES_ROOT, key + L"\\InprocServer32", L"ThreadingModel", L"Apartment");
    s |= SetValue(HKEY_CLASSES_ROOT, key + L"\\ProgID", nullptr, info.versionedProgId);
    s |= SetValue(HKEY_CLASSES_ROOT, key + L"\\VersionIndependentProgID", nullptr, info.progId);
    s |= SetValue(HKEY_CLASSES_ROOT, key + L"\\TypeLib", nullptr, libid);
    s |= SetValue(HKEY_CLASSES_ROOT, key + L"\\Version", nullptr, L"1.0");
    s |= SetValue(HKEY_CLASSES_ROOT, key + L"\\Programmable", nullptr, L"");
    if (info.isControl) {
        s |= SetValue(HKEY_CLASSES_ROOT, key + L"\\Control", nullptr, L"");
        // OLEMISC_RECOMPOSEONRESIZE | CANTLINKINSIDE | INSIDEOUT | ACTIVATEWHENVISIBLE | SETCLIENTSITEFIRST
        s |= SetValue(HKEY_CLASSES_ROOT, key + L"\\MiscStatus", nullptr, L"0");
        s |= SetValue(HKEY_CLASSES_ROOT, key + L"\\MiscStatus\\1", nullptr, L"131473");
        s |= SetValue(HKEY_CLASSES_ROOT, key + L"\\ToolboxBitmap32", nullptr, path + L", 1");
        s |= SetValue(HKEY_CLASSES_ROOT, key + L"\\Implemented Categories\\{40FC6ED4-2438-11CF-A3DB-080036F12502}", nullptr, L"");
        for (std::size_t i = 0; i < info.verbCount; ++i)
            s |= SetValue(HKEY_CLASSES_ROOT, key + L"\\Verb\\" + std::to_wstring(info.verbs[i].id), nullptr,
                          info.verbs[i].entry);
    }
    s |= SetValue(HKEY_CLASSES_ROOT, info.progId, nullptr, info.name);
    s |= SetValue(HKEY_CLASSES_ROOT, std::wstring(info.progId) + L"\\CLSID", nullptr, clsid);
    s |= SetValue(HKEY_CLASSES_ROOT, std::wstring(info.progId) + L"\\CurVer", nullptr, info.versionedProgId);
    s |= SetValue(HKEY_CLASSES_ROOT, info.versionedProgId, nullptr, info.name);
    s |= SetValue(HKEY_CLASSES_ROOT, std::wstring(info.versionedProgId) + L"\\CLSID", nullptr, clsid);
    return s == ERROR_SUCCESS ? S_OK : SELFREG_E_CLASS;
}

void UnregisterClass(const ClassInfo& info) {
    RegDeleteTreeW(HKEY_CLASSES_ROOT, (L"CLSID\\" + GuidText(*info.clsid)).c_str());
    RegDeleteTreeW(HKEY_CLASSES_ROOT, info.progId);
    RegDeleteTreeW(HKEY_CLASSES_ROOT, info.versionedProgId);
}

}  // namespace

ClassRegistration::ClassRegistration(const ClassInfo& info) { Classes().push_back(&info); }

namespace module {

HINSTANCE Instance() { return g_instance; }
void SetInstance(HINSTANCE instance) { g_instance = instance; }
void AddRef() { InterlockedIncrement(&g_objects); }
void Release() { InterlockedDecrement(&g_objects); }
bool CanUnload() { return g_objects == 0; }

DWORD EngineThread() { return static_cast<DWORD>(g_engineThread); }

bool ClaimEngineThread() {
    const LONG self = static_cast<LONG>(CurrentThreadId());
    const LONG owner = InterlockedCompareExchange(&g_engineThread, self, 0);
    return owner == 0 || owner == self;
}

HRESULT Fail(HRESULT hr, const wchar_t* description) {
    com_ptr<ICreateErrorInfo> create;
    if (FAILED(CreateErrorInfo(create.put()))) return hr;
    create->SetSource(const_cast<LPOLESTR>(L"Velview_G_201"));
    create->SetDescription(const_cast<LPOLESTR>(description));
    if (const auto info = create.query<IErrorInfo>()) SetErrorInfo(0, info.get());
    return hr;
}

void PinUntilProcessEnd() {
    static const bool pinned = [] {
        HMODULE self = nullptr;
        return GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                                  reinterpret_cast<LPCWSTR>(&PinUntilProcessEnd), &self) != FALSE;
    }();
    (void)pinned;
}

const ClassInfo* FindClass(REFCLSID clsid) {
    for (const ClassInfo* info : Classes())
        if (IsEqualCLSID(*info->clsid, clsid)) return info;
    return nullptr;
}

ITypeLib* TypeLib() {
    // Loaded once and kept for the life of the process, like every object the library hands out.
    static ITypeLib* lib = [] {
        ITypeLib* loaded = nullptr;
        LoadTypeLibEx(ModulePath().c_str(), REGKIND_NONE, &loaded);
        return loaded;
    }();
    return lib;
}

HRESULT TypeInfoOf(REFGUID guid, ITypeInfo** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    // Every late-bound call asks for its interface's description: each is looked up once and kept, like
    // the type library itself. The library's objects live on one thread (creation elsewhere is refused).
    struct Found {
        GUID guid;
        ITypeInfo* info;
    };
    static std::vector<Found> found;
    for (const Found& f : found)
        if (IsEqualGUID(f.guid, guid)) {
            f.info->AddRef();
            *out = f.info;
            return S_OK;
        }
    ITypeLib* lib = TypeLib();
    if (!lib) return TYPE_E_CANTLOADLIBRARY;
    ITypeInfo* info = nullptr;
    const HRESULT hr = lib->GetTypeInfoOfGuid(guid, &info);
    if (FAILED(hr)) return hr;
    try {
        found.push_back({guid, info});
        info->AddRef();  // the kept one
    } catch (const std::bad_alloc&) {
        // not kept: looked up again next time
    }
    *out = info;
    return S_OK;
}

HRESULT RegisterAll() {
    const std::wstring path = ModulePath();
    com_ptr<ITypeLib> lib;
    HRESULT hr = LoadTypeLibEx(path.c_str(), REGKIND_NONE, lib.put());
    if (FAILED(hr)) return SELFREG_E_TYPELIB;
    std::vector<wchar_t> writable(path.begin(), path.end());
    writable.push_back(0);
    hr = RegisterTypeLib(lib.get(), writable.data(), nullptr);
    if (FAILED(hr)) return SELFREG_E_TYPELIB;
    for (const ClassInfo* info : Classes()) {
        hr = RegisterClass(*info, path);
        if (FAILED(hr)) return hr;
    }
    return S_OK;
}

HRESULT UnregisterAll() {
    for (const ClassInfo* info : Classes()) UnregisterClass(*info);
    UnRegisterTypeLib(LIBID_Velview_G_201, 1, 0, LOCALE_NEUTRAL, SYS_WIN32);
    return S_OK;
}

}  // namespace module
}  // namespace velview
