#pragma once
// The control library's COM module: the table of creatable classes, object counting for DllCanUnloadNow,
// the library's own type library, and registration of every class in the table.
#include <windows.h>
#include <oaidl.h>

namespace velview {

// One creatable class. Classes add themselves with a static ClassRegistration in their own .cpp.
struct ClassInfo {
    const CLSID* clsid;
    const wchar_t* name;            // class name, e.g. L"MiniblinkAPI"
    const wchar_t* progId;          // version-independent, e.g. L"Velview_G_201.MiniblinkAPI"
    const wchar_t* versionedProgId; // e.g. L"Velview_G_201.MiniblinkAPI.1"
    bool isControl;                 // adds the "Control" key, MiscStatus and ToolboxBitmap entries
    HRESULT (*create)(REFIID iid, void** out);
};

struct ClassRegistration {
    explicit ClassRegistration(const ClassInfo& info);
};

namespace module {
HINSTANCE Instance();
void SetInstance(HINSTANCE instance);
void AddRef();   // one count per live object or lock; DllCanUnloadNow answers from it
void Release();
bool CanUnload();
const ClassInfo* FindClass(REFCLSID clsid);
HRESULT RegisterAll();
HRESULT UnregisterAll();
// The library's own type library (embedded as resource 1), loaded once from this module's file.
ITypeLib* TypeLib();
HRESULT TypeInfoOf(REFGUID guid, ITypeInfo** out);
}  // namespace module

// Keeps the module loaded while an object lives: a member of every COM object of the library.
struct ModuleLock {
    ModuleLock() { module::AddRef(); }
    ModuleLock(const ModuleLock&) { module::AddRef(); }
    ~ModuleLock() { module::Release(); }
};

}  // namespace velview
