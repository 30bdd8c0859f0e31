#pragma once
// cUniversalDLLCalls: calls native code whose address or name is known only at run time, through the
// platform's dynamic call service (DispCallFunc). One instance caches one library's module handle.
//
//   CallFunction_DLL   an export of a library, by library and export name (every engine call)
//   CallFunction_COM   a method of a COM interface, by byte offset into its function table
//   CallStdcall        a raw stdcall address with a block of 32-bit arguments, guarded against its faults
//                      (those GuardStops stops: recorded, and the call gives 0)
//   PointerToString*   zero-terminated text at a native address, from the code page, UTF-16 or UTF-8
//   ThunkFor_CDeclCallbackToVB / ThunkRelease_CDECL   cdecl -> stdcall adapters (webview/x86/adapters.h)
//
// Every failure is silent and yields an empty result (VT_EMPTY); callers turn that into 0, false or "".
// A failed dynamic call leaves its HRESULT as the thread's last error.
#include <windows.h>
#include <oaidl.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "win/variant.h"

namespace velview {

// Arguments and results of the bridge are the shared VARIANT owner.
using vantorix::win::ClearVariant;
using vantorix::win::HoldsPlainValue;
using vantorix::win::Variant;

// How text arguments (VT_BSTR, directly or by reference) reach the callee.
enum StringMode : int {
    kStringAsIs = 0,      // passed as they are (the BSTR itself)
    kStringCodePage = 1,  // pointer to a zero-terminated copy in the system code page
    kStringUtf16 = 2,     // pointer to zero-terminated UTF-16
};

class cUniversalDLLCalls {
public:
    cUniversalDLLCalls() = default;
    cUniversalDLLCalls(const cUniversalDLLCalls&) = delete;
    cUniversalDLLCalls& operator=(const cUniversalDLLCalls&) = delete;
    // The cached library stays loaded: adapters handed to it may still be called until the process ends.
    ~cUniversalDLLCalls() = default;

    // Calls export `functionName` of library `libName`. params[0] is the first argument; an element may be
    // a reference (VT_BYREF), and the callee gets the current value. Text arguments are converted into
    // the call's own buffers: the caller's texts are never modified. Result: the callee's result as
    // `functionReturnType` (0 = none gives the integer 0 on success), or empty when no call was made.
    Variant CallFunction_DLL(std::wstring_view libName, std::wstring_view functionName, int hasStringParams,
                             int functionReturnType, int callConvention, const VARIANT* params = nullptr,
                             std::size_t count = 0);

    // Calls the method at byte offset `vtableOffset` of `interfacePointer`'s function table, the pointer
    // being the hidden first argument. No text handling. Empty when no call was made.
    Variant CallFunction_COM(void* interfacePointer, long vtableOffset, int functionReturnType, int callConvention,
                             const VARIANT* params = nullptr, std::size_t count = 0);

    // Calls `fn` (stdcall) with `count` 32-bit arguments from `params` (params[0] first). A callee that
    // raises a processor exception gives 0 and the process goes on (the fault is recorded); a stack overflow
    // or a non-continuable exception is not stopped (x86::GuardStops). Count outside 0..255 gives 0, no call.
    static std::int32_t CallStdcall(const void* fn, const std::int32_t* params, int count);

    static std::wstring PointerToStringA(const char* ansiPointer);
    static std::wstring PointerToStringW(const wchar_t* unicodePointer);
    static std::wstring PointerToStringUTF8(const char* ansiPointer);

    // A new cdecl adapter around a stdcall routine of 0..63 arguments (0 for a null routine, a count out of
    // range or no memory). The adapter is re-entrant and passes 64-bit results (EDX:EAX) through.
    static std::uint32_t ThunkFor_CDeclCallbackToVB(const void* callback, int callbackParamCount);
    static void ThunkRelease_CDECL(std::uint32_t thunkCallBackAddress);

    // What the cache holds (for tests): the last library looked up and whether this instance loaded it.
    const std::wstring& CachedLibrary() const noexcept { return cachedName_; }
    HMODULE CachedModule() const noexcept { return module_; }
    bool LoadedHere() const noexcept { return loadedHere_; }

private:
    HMODULE ModuleFor(std::wstring_view libName);

    std::wstring cachedName_;
    HMODULE module_ = nullptr;  // not owned unless loadedHere_; never released at the instance's end
    bool loadedHere_ = false;
};

// fastcallCallback: builds adapters that let a fastcall caller call a stdcall routine (jsBindFunction).
class fastcallCallback {
public:
    // Returns the adapter address, or 0 for a negative count, a null routine or no memory. With
    // pushExtra the adapter passes this object's address as an extra first argument. Never released.
    std::uint32_t fastcall(int paramCount, const void* stdcallRoutine, const bool& pushExtra);
};

}  // namespace velview
