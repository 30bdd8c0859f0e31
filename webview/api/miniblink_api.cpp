#include "webview/api/miniblink_api.h"
#include "webview/com/library_log.h"

#include <algorithm>
#include <functional>
#include <map>
#include <mutex>
#include <new>
#include <tuple>

#include "webview/api/engine_table.h"
#include "webview/api/wke.h"
#include "webview/bridge/my_module.h"
#include "win/com_ptr.h"
#include "win/unique_bstr.h"

namespace velview::api {
namespace {

HRESULT Create(REFIID iid, void** out) {
    const vantorix::win::com_ptr<MiniblinkAPI> object(new MiniblinkAPI());
    return object->QueryInterface(iid, out);
}

const ClassInfo kClass = {&CLSID_MiniblinkAPI, L"MiniblinkAPI", L"Velview_G_201.MiniblinkAPI",
                          L"Velview_G_201.MiniblinkAPI.1", false, Create};
const ClassRegistration kRegistration(kClass);

std::wstring Widen(const char* ascii) { return std::wstring(ascii, ascii + std::char_traits<char>::length(ascii)); }

// The neutral result: what a method gives when the engine gave nothing.
void ClearOutput(int type, void* target) {
    switch (type) {
        case 1: *static_cast<long*>(target) = 0; break;
        case 2: *static_cast<VARIANT_BOOL*>(target) = VARIANT_FALSE; break;
        case 3: *static_cast<double*>(target) = 0.0; break;
        case 4: static_cast<CY*>(target)->int64 = 0; break;
        case 5: *static_cast<BSTR*>(target) = nullptr; break;
        default: break;
    }
}

// The adapters registrations hand to the engine, one per routine, argument count and kind for the whole
// process. The engine may call an adapter for good, so none is ever released; a host that registers the
// same routine again (a handler per page or per dialog) gets the adapter it had, not a new block each time.
std::uint32_t RegistrationAdapter(const void* routine, int arguments, bool fastcall,
                                  const std::function<std::uint32_t()>& make) {
    static std::mutex lock;
    static std::map<std::tuple<const void*, int, bool>, std::uint32_t> made;
    if (!routine) return make();
    const std::lock_guard<std::mutex> guard(lock);
    std::uint32_t& adapter = made[{routine, arguments, fastcall}];
    if (!adapter) adapter = make();
    return adapter;
}

}  // namespace

HRESULT CreateMiniblinkAPI(_MiniblinkAPI** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    try {
        return Create(IID__MiniblinkAPI, reinterpret_cast<void**>(out));
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

MiniblinkAPI::MiniblinkAPI() : DispatchObject(IID__MiniblinkAPI, L"MiniblinkAPI") {
    wke::CheckEngineFile();
    exportNames_.reserve(kExportCount);
    for (const char* name : ExportNames()) exportNames_.push_back(Widen(name));
    methodExports_.reserve(kMethodCount);
    for (const Method& m : Methods()) {
        const int index = ExportIndexOf(m);
        methodExports_.push_back(index < 0 ? std::wstring() : exportNames_[static_cast<std::size_t>(index)]);
    }
}

Variant MiniblinkAPI::Argument(const Param& param, const Input& input) {
    switch (param.kind) {
        case Kind::Int: return Variant::Int32(input.l);
        case Kind::Bool: return Variant::Byte(MyModule::BoolToByte(input.b));
        case Kind::Double: return Variant::Double(input.d);
        case Kind::Js: return Variant::Bits64(input.cy);
        case Kind::Ansi:
        case Kind::Wide:
            // A private copy: the bridge converts text in the call's own storage, never the caller's.
            return Variant::Text(input.s, input.s ? SysStringLen(input.s) : 0);
        case Kind::Escaped: {
            if (!input.s) return Variant::Text(nullptr, 0);
            const std::wstring escaped = MyModule::PercentEncodeUtf8(std::wstring(input.s, SysStringLen(input.s)));
            return Variant::Text(escaped.c_str(), static_cast<UINT>(escaped.size()));
        }
        case Kind::Callback: {
            const void* routine = reinterpret_cast<const void*>(input.l);
            return Variant::Int32(static_cast<std::int32_t>(RegistrationAdapter(routine, param.adapterArguments, false, [&] {
                return cUniversalDLLCalls::ThunkFor_CDeclCallbackToVB(routine, param.adapterArguments);
            })));
        }
        case Kind::Fastcall: {
            const void* routine = reinterpret_cast<const void*>(input.l);
            return Variant::Int32(static_cast<std::int32_t>(RegistrationAdapter(routine, param.adapterArguments, true, [&] {
                return fastcall_.fastcall(param.adapterArguments, routine, false);
            })));
        }
    }
    return Variant();
}

HRESULT MiniblinkAPI::Call(int methodIndex, std::initializer_list<Input> inputs, Output output) {
    VELVIEW_ON_OWNER_THREAD(thread());
    if (output.type != Output::Nothing && !output.target)
        return module::Fail(E_POINTER, module::kMissingResultText);
    ClearOutput(output.type, output.target);
    try {
        const Method& method = Methods()[static_cast<std::size_t>(methodIndex)];
        // No engine function takes more than kMaxParams arguments (the table test holds it to that).
        Variant args[kMaxParams];
        VARIANT raw[kMaxParams];
        const std::size_t count = std::min(method.params.size(), std::min(inputs.size(), kMaxParams));
        auto input = inputs.begin();
        for (std::size_t i = 0; i < count; ++i) {
            args[i] = Argument(method.params[i], *input++);
            raw[i] = *args[i].get();  // a view of the owned value, not a copy
        }
        const Variant result = calls_.CallFunction_DLL(
            wke::EngineLibraryName(), methodExports_[static_cast<std::size_t>(methodIndex)], StringModeOf(method),
            ReturnTypeOf(method.result), CC_CDECL, raw, count);
        switch (method.result) {
            case Result::None: break;
            case Result::Int: *static_cast<long*>(output.target) = result.AsInt32(); break;
            case Result::Bool:
                *static_cast<VARIANT_BOOL*>(output.target) = MyModule::ByteToBool(result.AsByte());
                break;
            case Result::Double: *static_cast<double*>(output.target) = result.AsDouble(); break;
            case Result::Js: static_cast<CY*>(output.target)->int64 = result.AsBits64(); break;
            case Result::Utf8:
            case Result::Utf16:
            case Result::Ansi: {
                const auto address = static_cast<std::uintptr_t>(static_cast<std::uint32_t>(result.AsInt32()));
                std::wstring text;
                if (method.result == Result::Utf8)
                    text = cUniversalDLLCalls::PointerToStringUTF8(reinterpret_cast<const char*>(address));
                else if (method.result == Result::Utf16)
                    text = cUniversalDLLCalls::PointerToStringW(reinterpret_cast<const wchar_t*>(address));
                else
                    text = cUniversalDLLCalls::PointerToStringA(reinterpret_cast<const char*>(address));
                *static_cast<BSTR*>(output.target) = vantorix::win::unique_bstr::of(text).release();
                break;
            }
        }
        return S_OK;
    } catch (const std::bad_alloc&) {
        return module::Fail(E_OUTOFMEMORY, module::kNoMemoryText);
    } catch (...) {
        // Nothing crosses the COM boundary.
        RecordCurrentException(L"MiniblinkAPI", L"an engine call failed; the caller gets E_FAIL");
        return module::Fail(E_FAIL, L"The engine call failed.");
    }
}

}  // namespace velview::api
