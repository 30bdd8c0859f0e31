#include "webview/bridge/universal_dll_calls.h"

#include <cstring>
#include <vector>

#include "common/text/utf8.h"
#include "webview/x86/adapters.h"
#include "webview/x86/guarded_call.h"

namespace velview {
namespace {

std::string ToCodePage(const wchar_t* text, int length) {
    if (length <= 0) return {};
    const int size = WideCharToMultiByte(CP_ACP, 0, text, length, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(size > 0 ? size : 0), '\0');
    if (size > 0) WideCharToMultiByte(CP_ACP, 0, text, length, out.data(), size, nullptr, nullptr);
    return out;
}

bool ValidReturnType(int type) { return (type & ~0xFFFF) == 0; }

// The copied arguments of one call, each a plain value (references resolved), with the storage that text
// arguments point into. Lives until the call returns.
class ArgumentCopy {
public:
    // Returns false when an argument cannot be copied (e.g. a reference to a type that has no value).
    bool Fill(const VARIANT* params, std::size_t count, int stringMode) {
        values_.resize(count);
        texts_.reserve(count);
        for (std::size_t i = 0; i < count; ++i) {
            VARIANT* v = values_[i].put();
            if (FAILED(VariantCopyInd(v, const_cast<VARIANT*>(&params[i])))) return false;
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
                    std::string narrow = ToCodePage(text, static_cast<int>(SysStringLen(text)));
                    texts_.emplace_back(narrow.begin(), narrow.end());
                    texts_.back().push_back('\0');
                    address = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(texts_.back().data()));
                } else if (text) {
                    // The copy's own BSTR is zero-terminated UTF-16; it stays alive with the copy.
                    address = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(text));
                    keep_.push_back(std::move(values_[i]));
                }
                values_[i] = Variant::Int32(static_cast<std::int32_t>(address));
            } else {
                Widen(*v);
            }
        }
        types_.resize(count ? count : 1, VT_EMPTY);
        pointers_.resize(count ? count : 1, nullptr);
        for (std::size_t i = 0; i < count; ++i) {
            types_[i] = values_[i].type();
            pointers_[i] = values_[i].get();
        }
        return true;
    }
    VARTYPE* types() { return types_.data(); }
    VARIANTARG** pointers() { return pointers_.data(); }

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

    std::vector<Variant> values_;
    std::vector<Variant> keep_;
    std::vector<std::vector<char>> texts_;
    std::vector<VARTYPE> types_;
    std::vector<VARIANTARG*> pointers_;
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

HMODULE cUniversalDLLCalls::ModuleFor(const std::wstring& libName) {
    if (module_ && libName == cachedName_) return module_;
    if (module_ && loadedHere_) FreeLibrary(module_);
    module_ = nullptr;
    loadedHere_ = false;
    cachedName_.clear();
    const std::string name = ToCodePage(libName.c_str(), static_cast<int>(libName.size()));
    HMODULE found = GetModuleHandleA(name.c_str());
    bool loaded = false;
    if (!found) {
        found = LoadLibraryA(name.c_str());
        loaded = found != nullptr;
    }
    if (!found) return nullptr;
    module_ = found;
    loadedHere_ = loaded;
    cachedName_ = libName;
    return module_;
}

Variant cUniversalDLLCalls::CallFunction_DLL(const std::wstring& libName, const std::wstring& functionName,
                                             int hasStringParams, int functionReturnType, int callConvention,
                                             const VARIANT* params, std::size_t count) {
    if (libName.empty() || functionName.empty() || !ValidReturnType(functionReturnType) || hasStringParams < 0 ||
        hasStringParams > 2 || (count && !params))
        return Variant();
    HMODULE module = ModuleFor(libName);
    if (!module) return Variant();
    const std::string exportName = ToCodePage(functionName.c_str(), static_cast<int>(functionName.size()));
    FARPROC proc = GetProcAddress(module, exportName.c_str());
    if (!proc) return Variant();
    ArgumentCopy args;
    if (!args.Fill(params, count, hasStringParams)) return Variant();
    return Dispatch(nullptr, reinterpret_cast<ULONG_PTR>(proc), callConvention, functionReturnType, args, count,
                    true);
}

Variant cUniversalDLLCalls::CallFunction_COM(void* interfacePointer, long vtableOffset, int functionReturnType,
                                             int callConvention, const VARIANT* params, std::size_t count) {
    if (!interfacePointer || vtableOffset < 0 || !ValidReturnType(functionReturnType) || (count && !params))
        return Variant();
    ArgumentCopy args;
    if (!args.Fill(params, count, kStringAsIs)) return Variant();
    return Dispatch(interfacePointer, static_cast<ULONG_PTR>(vtableOffset), callConvention, functionReturnType,
                    args, count, false);
}

std::int32_t cUniversalDLLCalls::CallStdcall(const void* fn, const std::int32_t* params, int count) {
    const x86::GuardedResult r =
        x86::CallStdcallGuarded(fn, reinterpret_cast<const std::uint32_t*>(params), count);
    return static_cast<std::int32_t>(r.value);
}

std::wstring cUniversalDLLCalls::PointerToStringA(const char* ansiPointer) {
    if (!ansiPointer) return {};
    const int length = lstrlenA(ansiPointer);
    if (length <= 0) return {};
    const int size = MultiByteToWideChar(CP_ACP, 0, ansiPointer, length, nullptr, 0);
    if (size <= 0) return {};
    std::wstring out(static_cast<std::size_t>(size), L'\0');
    MultiByteToWideChar(CP_ACP, 0, ansiPointer, length, out.data(), size);
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
