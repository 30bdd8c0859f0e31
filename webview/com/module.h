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
// Keeps the library's code mapped until the process ends. Called wherever the library hands the engine an
// address of its own (a method entry, the "jsCall" binding): the engine keeps calling such addresses after
// every object is gone, so an unused-library sweep (CoFreeUnusedLibraries) must not unload the module.
void PinUntilProcessEnd();
// The library's objects share process-wide state with the engine (the "jsCall" routing table, the engine
// file check, the engine's own state) that is not guarded for several threads, and the engine itself runs on
// one thread. So objects are created on one thread only: the first creation claims its thread, and this
// answers whether the calling thread is that one.
bool OnEngineThread();
// Sets the thread's error information (source "Velview_G_201", the given text) and returns `hr`: the one
// way the library's COM methods report a failure a caller can read with IErrorInfo.
HRESULT Fail(HRESULT hr, const wchar_t* description);
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
