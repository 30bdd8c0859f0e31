#include "webview/bridge/universal_dll_calls.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "common/text/utf8.h"
#include "webview/com/library_log.h"
#include "webview/x86/adapters.h"
#include "webview/x86/guarded_call.h"
#include "win/code_page.h"
#include "win/module_path.h"

namespace velview {
namespace {

// A zero-terminated code-page copy of a name (library or export), on the stack when it is short: every
// engine call converts its export name, so this path avoids the heap.
class NarrowName {
public:
    explicit NarrowName(std::wstring_view name) {
        // Export names are ASCII, which every code page keeps as it is: no conversion call for them.
        if (name.size() < sizeof small_ &&
            std::all_of(name.begin(), name.end(), [](wchar_t c) { return c != 0 && c < 0x80; })) {
            std::transform(name.begin(), name.end(), small_, [](wchar_t c) { return static_cast<char>(c); });
            small_[name.size()] = '\0';
            text_ = small_;
            return;
        }
        const int length = static_cast<int>(name.size());
        int n = length > 0 ? WideCharToMultiByte(CP_ACP, 0, name.data(), length, small_, sizeof small_ - 1,
                                                 nullptr, nullptr)
                           : 0;
        if (n > 0 || length == 0) {
            small_[n] = '\0';
            text_ = small_;
        } else {
            large_ = vantorix::win::ToCodePage(name);
            text_ = large_.c_str();
        }
    }
    const char* c_str() const { return text_; }

private:
    char small_[128];
    std::string large_;
    const char* text_ = nullptr;
};

std::wstring SystemFolder() {
    wchar_t path[MAX_PATH] = {};
    const UINT length = GetSystemDirectoryW(path, MAX_PATH);
    return std::wstring(path, length < MAX_PATH ? length : 0);
}

// A library given by its full path is that file; its own dependencies come from its folder. A bare name is
// searched only in the safe default folders (the program's folder, the system folder, folders added with
// AddDllDirectory), never in the current directory or on PATH, where anyone may plant a file of that name.
// Systems without the restricted search get the same two folders by full path.
HMODULE LoadLibrarySafely(const std::wstring& name) {
    if (name.find_first_of(L"\\/") != std::wstring::npos)
        return LoadLibraryExW(name.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    static const bool restrictedSearch =
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "AddDllDirectory") != nullptr;
    if (restrictedSearch) return LoadLibraryExW(name.c_str(), nullptr, LOAD_LIBRARY_SEARCH_DEFAULT_DIRS);
    for (const std::wstring& folder : {vantorix::win::ModuleFolder(), SystemFolder()}) {
        if (folder.empty()) continue;
        if (HMODULE module = LoadLibraryExW(vantorix::win::JoinPath(folder, L"\\" + name).c_str(), nullptr,
                                            LOAD_WITH_ALTERED_SEARCH_PATH))
            return module;
    }
    return nullptr;
}

bool ValidReturnType(int type) { return (type & ~0xFFFF) == 0; }

// The copied arguments of one call: each a plain value (references resolved), the values actually passed
// (text replaced by pointers into the call's own buffers), and the two arrays DispCallFunc reads. Up to
// kInline arguments live inside the object. Lives until the call returns.
class ArgumentCopy {
public:
    static constexpr std::size_t kInline = 16;

    explicit ArgumentCopy(std::size_t count) : count_(count) {
        if (count > kInline) {
            heapOwned_.resize(count);
            heapPassed_.resize(count);
            heapTypes_.resize(count);
            heapPointers_.resize(count);
        }
        owned_ = count > kInline ? heapOwned_.data() : inlineOwned_;
        passed_ = count > kInline ? heapPassed_.data() : inlinePassed_;
        types_ = count > kInline ? heapTypes_.data() : inlineTypes_;
        pointers_ = count > kInline ? heapPointers_.data() : inlinePointers_;
        // VT_EMPTY is 0: zeroed VARIANTs are initialised ones.
        std::memset(owned_, 0, sizeof(VARIANT) * (count ? count : 1));
        types_[0] = VT_EMPTY;
        pointers_[0] = nullptr;
    }
    ArgumentCopy(const ArgumentCopy&) = delete;
    ArgumentCopy& operator=(const ArgumentCopy&) = delete;
    ~ArgumentCopy() {
        for (std::size_t i = 0; i < count_; ++i) ClearVariant(owned_[i]);
    }

    // Returns false when an argument cannot be copied (e.g. a reference to a type that has no value).
    bool Fill(const VARIANT* params, int stringMode) {
        for (std::size_t i = 0; i < count_; ++i) {
            VARIANT* v = &owned_[i];
            if (HoldsPlainValue(params[i].vt))
                *v = params[i];  // nothing to copy deeply or to resolve
            else if (FAILED(VariantCopyInd(v, const_cast<VARIANT*>(&params[i]))))
                return false;
            passed_[i] = *v;  // bit for bit: the owned copy keeps any storage
            if (v->vt == VT_BSTR && stringMode != kStringAsIs) {
                // The copy of a null text is an empty one on some platforms: ask the original.
                const VARIANT* source = &params[i];
                while (source->vt == (VT_VARIANT | VT_BYREF) && source->pvarVal) source = source->pvarVal;
                const bool null = source->vt == VT_BSTR ? !source->bstrVal
                                  : source->vt == (VT_BSTR | VT_BYREF) ? (!source->pbstrVal || !*source->pbstrVal)
                                                                       : false;
                const BSTR text = null ? nullptr : v->bstrVal;
                std::uint32_t address = 0;
                if (text && stringMode == kStringCodePage) {
                    // Converted into the call's own buffer; the caller's text is never written to.
                    std::string narrow = vantorix::win::ToCodePage(std::wstring_view(text, SysStringLen(text)));
                    texts_.emplace_back(narrow.begin(), narrow.end());
                    texts_.back().push_back('\0');
                    address = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(texts_.back().data()));
                } else if (text) {
                    // The owned copy's BSTR is zero-terminated UTF-16 and lives as long as this object.
                    address = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(text));
                }
                passed_[i].vt = VT_I4;
                passed_[i].lVal = static_cast<LONG>(address);
            } else {
                Widen(passed_[i]);
            }
            types_[i] = passed_[i].vt;
            pointers_[i] = &passed_[i];
        }
        return true;
    }
    VARTYPE* types() { return types_; }
    VARIANTARG** pointers() { return pointers_; }

private:
    // Values narrower than 32 bits occupy a whole stack slot: make the slot's upper bytes defined.
    static void Widen(VARIANT& v) {
        switch (v.vt) {
            case VT_UI1: v.ulVal = v.bVal; break;
            case VT_I1: v.lVal = v.cVal; break;
            case VT_UI2: v.ulVal = v.uiVal; break;
            case VT_I2: v.lVal = v.iVal; break;
            default: break;
        }
    }

    std::size_t count_;
    VARIANT inlineOwned_[kInline];
    VARIANT inlinePassed_[kInline];
    VARTYPE inlineTypes_[kInline];
    VARIANTARG* inlinePointers_[kInline];
    std::vector<VARIANT> heapOwned_, heapPassed_;
    std::vector<VARTYPE> heapTypes_;
    std::vector<VARIANTARG*> heapPointers_;
    VARIANT* owned_;
    VARIANT* passed_;
    VARTYPE* types_;
    VARIANTARG** pointers_;
    std::vector<std::vector<char>> texts_;
};

Variant Dispatch(void* instance, ULONG_PTR offset, int callConvention, int returnType, ArgumentCopy& args,
                 std::size_t count, bool zeroForNoResult) {
    Variant result;
    const HRESULT hr = DispCallFunc(instance, offset, static_cast<CALLCONV>(callConvention),
                                    static_cast<VARTYPE>(returnType), static_cast<UINT>(count), args.types(),
                                    args.pointers(), result.get());
    if (FAILED(hr)) {
        SetLastError(static_cast<DWORD>(hr));
        return Variant();
    }
    if (returnType == VT_EMPTY && zeroForNoResult) return Variant::Int32(0);
    return result;
}

}  // namespace

HMODULE cUniversalDLLCalls::ModuleFor(std::wstring_view libName) {
    if (module_ && libName == cachedName_) return module_;
    if (module_ && loadedHere_) FreeLibrary(module_);
    module_ = nullptr;
    loadedHere_ = false;
    cachedName_.clear();
    const std::wstring name(libName);
    HMODULE found = GetModuleHandleW(name.c_str());
    bool loaded = false;
    if (!found) {
        found = LoadLibrarySafely(name);
        loaded = found != nullptr;
    }
    if (!found) return nullptr;
    module_ = found;
    loadedHere_ = loaded;
    cachedName_ = libName;
    return module_;
}

Variant cUniversalDLLCalls::CallFunction_DLL(std::wstring_view libName, std::wstring_view functionName,
                                             int hasStringParams, int functionReturnType, int callConvention,
                                             const VARIANT* params, std::size_t count) {
    if (libName.empty() || functionName.empty() || !ValidReturnType(functionReturnType) || hasStringParams < 0 ||
        hasStringParams > 2 || (count && !params))
        return Variant();
    HMODULE module = ModuleFor(libName);
    if (!module) return Variant();
    const NarrowName exportName(functionName);
    FARPROC proc = GetProcAddress(module, exportName.c_str());
    if (!proc) return Variant();
    ArgumentCopy args(count);
    if (!args.Fill(params, hasStringParams)) return Variant();
    return Dispatch(nullptr, reinterpret_cast<ULONG_PTR>(proc), callConvention, functionReturnType, args, count,
                    true);
}

Variant cUniversalDLLCalls::CallFunction_COM(void* interfacePointer, long vtableOffset, int functionReturnType,
                                             int callConvention, const VARIANT* params, std::size_t count) {
    if (!interfacePointer || vtableOffset < 0 || !ValidReturnType(functionReturnType) || (count && !params))
        return Variant();
    ArgumentCopy args(count);
    if (!args.Fill(params, kStringAsIs)) return Variant();
    return Dispatch(interfacePointer, static_cast<ULONG_PTR>(vtableOffset), callConvention, functionReturnType,
                    args, count, false);
}

std::int32_t cUniversalDLLCalls::CallStdcall(const void* fn, const std::int32_t* params, int count) {
    const x86::GuardedResult r =
        x86::CallStdcallGuarded(fn, reinterpret_cast<const std::uint32_t*>(params), count);
    if (r.faulted && r.code != 0) Record(L"CallStdcall", L"the called routine faulted; the call gives 0", r.code);
    return static_cast<std::int32_t>(r.value);
}

std::wstring cUniversalDLLCalls::PointerToStringA(const char* ansiPointer) {
    if (!ansiPointer) return {};
    const int length = lstrlenA(ansiPointer);
    if (length <= 0) return {};
    std::wstring out = vantorix::win::FromCodePage(std::string_view(ansiPointer, static_cast<std::size_t>(length)));
    if (out.size() > static_cast<std::size_t>(length)) out.resize(static_cast<std::size_t>(length));
    return out;
}

std::wstring cUniversalDLLCalls::PointerToStringW(const wchar_t* unicodePointer) {
    if (!unicodePointer) return {};
    const int length = lstrlenW(unicodePointer);
    if (length <= 0) return {};
    return std::wstring(unicodePointer, static_cast<std::size_t>(length));
}

std::wstring cUniversalDLLCalls::PointerToStringUTF8(const char* ansiPointer) {
    if (!ansiPointer) return {};
    const int length = lstrlenA(ansiPointer);
    if (length <= 0) return {};
    const std::u16string text = vantorix::text::DecodeUtf8(std::string_view(ansiPointer, static_cast<std::size_t>(length)));
    return std::wstring(text.begin(), text.end());
}

std::uint32_t cUniversalDLLCalls::ThunkFor_CDeclCallbackToVB(const void* callback, int callbackParamCount) {
    return static_cast<std::uint32_t>(
        reinterpret_cast<std::uintptr_t>(x86::MakeCdeclAdapter(callback, callbackParamCount)));
}

void cUniversalDLLCalls::ThunkRelease_CDECL(std::uint32_t thunkCallBackAddress) {
    // An address that is not a live adapter is refused by the allocator; there is nothing to report.
    if (thunkCallBackAddress) x86::ReleaseCdeclAdapter(reinterpret_cast<void*>(thunkCallBackAddress));
}

std::uint32_t fastcallCallback::fastcall(int paramCount, const void* stdcallRoutine, const bool& pushExtra) {
    const auto self = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(this));
    return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(
        x86::MakeFastcallAdapter(stdcallRoutine, paramCount, pushExtra, self)));
}

}  // namespace velview
