#pragma once
// MiniblinkAPI: the engine function table as a COM object (dual interface _MiniblinkAPI, 210 methods in
// the order of miniblink_methods.inc). C++ code of the library uses the same object through the generated
// interface:
//
//     vantorix::win::com_ptr<_MiniblinkAPI> api;
//     if (SUCCEEDED(velview::api::CreateMiniblinkAPI(api.put()))) {
//         vantorix::win::unique_bstr text;
//         api->wkeGetStringW(engineString, text.put());   // S_OK; empty text when the engine gives nothing
//         ...
//     }
//
// Every method returns S_OK (E_POINTER for a null result pointer, E_OUTOFMEMORY when memory runs out,
// RPC_E_WRONG_THREAD on a thread other than the object's own, webview/com/owner_thread.h): engine failures
// are silent and give 0, false, 0.0, an all-zero script value or empty text.
#include <windows.h>

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "Velview_G_201.h"
#include "webview/api/engine_table.h"
#include "webview/bridge/universal_dll_calls.h"
#include "webview/com/dispatch.h"

namespace velview::api {

HRESULT CreateMiniblinkAPI(_MiniblinkAPI** out);

class MiniblinkAPI final : public DispatchObject<_MiniblinkAPI> {
public:
    // Runs the engine file check, fills the export-name table, creates the call bridge and the fastcall
    // adapter maker. Nothing is resolved and the engine is not called.
    MiniblinkAPI();

#include "webview/api/miniblink_methods_com.inc"

    // The export name a method calls ("" when the table holds none, as for wkeSetWkeDllPath).
    const std::wstring& ExportFor(int methodIndex) const { return methodExports_[methodIndex]; }

private:
    // One input of a method as the interface delivered it.
    struct Input {
        enum Type { Long, Boolean, Real, Currency, Text } type;
        long l = 0;
        VARIANT_BOOL b = 0;
        double d = 0.0;
        std::int64_t cy = 0;
        BSTR s = nullptr;
    };
    static Input In(long v) { Input i{Input::Long}; i.l = v; return i; }
    static Input In(VARIANT_BOOL v) { Input i{Input::Boolean}; i.b = v; return i; }
    static Input In(double v) { Input i{Input::Real}; i.d = v; return i; }
    static Input In(CY v) { Input i{Input::Currency}; i.cy = v.int64; return i; }
    static Input In(BSTR v) { Input i{Input::Text}; i.s = v; return i; }

    // Where a method's result goes (nothing for methods without one).
    struct Output {
        enum Type { Nothing, Long, Boolean, Real, Currency, Text } type;
        void* target;
    };
    static Output Out() { return {Output::Nothing, nullptr}; }
    static Output Out(long* p) { return {Output::Long, p}; }
    static Output Out(VARIANT_BOOL* p) { return {Output::Boolean, p}; }
    static Output Out(double* p) { return {Output::Real, p}; }
    static Output Out(CY* p) { return {Output::Currency, p}; }
    static Output Out(BSTR* p) { return {Output::Text, p}; }

    // The one body of all 210 methods, driven by the method table.
    HRESULT Call(int methodIndex, std::initializer_list<Input> inputs, Output output);
    Variant Argument(const Param& param, const Input& input);

    std::vector<std::wstring> exportNames_;     // the 333 names, one field per name
    std::vector<std::wstring> methodExports_;   // per method: its export's name, or ""
    cUniversalDLLCalls calls_;
    fastcallCallback fastcall_;
};

}  // namespace velview::api
