#include "webview/events/engine_text.h"

#include <oleauto.h>

#include <new>
#include <stdexcept>

#include "webview/api/miniblink_api.h"
#include "webview/bridge/universal_dll_calls.h"

namespace velview::events {
namespace {

std::wstring TakeText(BSTR text) {
    std::wstring result = text ? std::wstring(text, SysStringLen(text)) : std::wstring();
    SysFreeString(text);
    return result;
}

}  // namespace

EngineText::EngineText() {
    if (FAILED(api::CreateMiniblinkAPI(&engine_))) throw std::bad_alloc();
}

EngineText::~EngineText() {
    if (engine_) engine_->Release();
}

std::wstring EngineText::Plain(std::uint32_t address) {
    return cUniversalDLLCalls::PointerToStringA(reinterpret_cast<const char*>(static_cast<std::uintptr_t>(address)));
}

std::wstring EngineText::Platform(std::uint32_t address) {
    if (address == 0) return {};
    auto text = reinterpret_cast<BSTR>(static_cast<std::uintptr_t>(address));
    return std::wstring(text, SysStringLen(text));
}

std::wstring EngineText::Read(std::uint32_t engineString) {
    if (engineString == 0) return {};
    BSTR text = nullptr;
    if (FAILED(engine_->wkeGetStringW(static_cast<long>(engineString), &text)))
        throw std::runtime_error("engine string not readable");
    return TakeText(text);
}

void EngineText::Write(std::uint32_t engineString, const std::wstring& text) {
    if (engineString == 0) return;
    BSTR copy = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    if (!copy) throw std::bad_alloc();
    const HRESULT hr = engine_->wkeSetStringW(static_cast<long>(engineString), copy, static_cast<long>(text.size()));
    SysFreeString(copy);
    if (FAILED(hr)) throw std::runtime_error("engine string not written");
}

}  // namespace velview::events
