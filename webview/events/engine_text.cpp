#include "webview/events/engine_text.h"

#include <oleauto.h>

#include <new>
#include <stdexcept>

#include "webview/api/miniblink_api.h"
#include "webview/bridge/universal_dll_calls.h"
#include "win/unique_bstr.h"

namespace velview::events {

using vantorix::win::unique_bstr;

EngineText::EngineText() {
    if (FAILED(api::CreateMiniblinkAPI(engine_.put()))) throw std::bad_alloc();
}

EngineText::~EngineText() = default;

std::wstring EngineText::Plain(std::uint32_t address) {
    return cUniversalDLLCalls::PointerToStringA(reinterpret_cast<const char*>(static_cast<std::uintptr_t>(address)));
}

std::wstring EngineText::Platform(std::uint32_t address) {
    if (address == 0) return {};
    return unique_bstr::text_of(reinterpret_cast<BSTR>(static_cast<std::uintptr_t>(address)));
}

std::wstring EngineText::Read(std::uint32_t engineString) {
    if (engineString == 0) return {};
    unique_bstr text;
    if (FAILED(engine_->wkeGetStringW(static_cast<long>(engineString), text.put())))
        throw std::runtime_error("engine string not readable");
    return text.text();
}

void EngineText::Write(std::uint32_t engineString, const std::wstring& text) {
    if (engineString == 0) return;
    const unique_bstr copy = unique_bstr::of(text);
    if (FAILED(engine_->wkeSetStringW(static_cast<long>(engineString), copy.get(), static_cast<long>(text.size()))))
        throw std::runtime_error("engine string not written");
}

}  // namespace velview::events
