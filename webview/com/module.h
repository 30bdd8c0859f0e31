#pragma once
// The control library's COM module: the table of creatable classes, object counting for DllCanUnloadNow,
// the library's own type library, and registration of every class in the table.
#include <windows.h>
#include <oaidl.h>

#include <cstddef>

namespace velview {

// One OLE verb of a control as the registry lists it (CLSID\{...}\Verb\<id>): the entry is
// "name,menu flags,verb attributes", as OleRegEnumVerbs reads it.
struct RegisteredVerb {
    LONG id;
    const wchar_t* entry;
};

// One creatable class. Classes add themselves with a static ClassRegistration in their own .cpp.
struct ClassInfo {
    const CLSID* clsid;
    const wchar_t* name;            // class name, e.g. L"MiniblinkAPI"
    const wchar_t* progId;          // version-independent, e.g. L"Velview_G_201.MiniblinkAPI"
    const wchar_t* versionedProgId; // e.g. L"Velview_G_201.MiniblinkAPI.1"
    bool isControl;                 // adds the "Control" key, MiscStatus and ToolboxBitmap entries
    HRESULT (*create)(REFIID iid, void** out);
    const RegisteredVerb* verbs = nullptr;  // a control's verbs (EnumVerbs lists them from the registry)
    std::size_t verbCount = 0;
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
// Keeps the library's code mapped until the process ends. Called when a host first gets a class object
// from the library and wherever the library hands the engine an address of its own (a method entry, the
// "jsCall" binding): the engine keeps calling such addresses after every object is gone, and a module that
// an unused-library sweep (CoFreeUnusedLibraries) unloaded and a later creation loaded again would lose
// what its static runtime took at each load (handles and memory that no unload gives back).
void PinUntilProcessEnd();
// The library's objects share process-wide state with the engine (the "jsCall" routing table, the engine
// file check, the engine's own state) that is not guarded for several threads, and the engine itself runs on
// one thread. So objects are created on one thread only: the first creation claims its thread.
// EngineThread gives it (0 before the first creation); ClaimEngineThread claims the calling thread when no
// thread is claimed yet and answers whether the calling thread is the engine's.
DWORD EngineThread();
bool ClaimEngineThread();
// Sets the thread's error information (source "Velview_G_201", the given text) and returns `hr`: the one
// way the library's COM methods report a failure a caller can read with IErrorInfo.
HRESULT Fail(HRESULT hr, const wchar_t* description);
// The texts of the failures every object's members share.
inline constexpr wchar_t kMissingResultText[] = L"A result argument is missing (a null pointer was passed for it).";
inline constexpr wchar_t kNoMemoryText[] = L"There was not enough memory for the call.";
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
