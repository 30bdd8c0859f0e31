#include "webview/events/event_args.h"

#include <oleauto.h>

#include <cstring>
#include <new>
#include <stdexcept>

#include "webview/com/module.h"
#include "win/com_ptr.h"
#include "win/unique_bstr.h"

namespace velview::events {
namespace {

const wchar_t* RecordName(Arg arg) {
    switch (arg) {
        case Arg::MemBuf: return L"wkeMemBuf";
        case Arg::Rect: return L"wkeRect";
        case Arg::WindowFeatures: return L"wkeWindowFeatures";
        case Arg::MediaLoadInfo: return L"wkeMediaLoadInfo";
        default: return nullptr;
    }
}

std::size_t RecordSize(Arg arg) {
    switch (arg) {
        case Arg::MemBuf: return sizeof(wkeMemBuf);
        case Arg::Rect: return sizeof(wkeRect);
        case Arg::WindowFeatures: return sizeof(wkeWindowFeatures);
        case Arg::MediaLoadInfo: return sizeof(wkeMediaLoadInfo);
        default: return 0;
    }
}

// The record's description from the library's type library, looked up by name; the caller owns it.
IRecordInfo* FindRecordInfo(const wchar_t* name) {
    ITypeLib* lib = module::TypeLib();
    if (!lib) return nullptr;
    const UINT count = lib->GetTypeInfoCount();
    for (UINT i = 0; i < count; ++i) {
        vantorix::win::unique_bstr typeName;
        if (FAILED(lib->GetDocumentation(static_cast<INT>(i), typeName.put(), nullptr, nullptr, nullptr))) continue;
        if (!typeName.get() || std::wcscmp(typeName.get(), name) != 0) continue;
        vantorix::win::com_ptr<ITypeInfo> info;
        if (FAILED(lib->GetTypeInfo(i, info.put()))) return nullptr;
        IRecordInfo* record = nullptr;
        GetRecordInfoFromTypeInfo(info.get(), &record);
        return record;
    }
    return nullptr;
}

// Record-carrying callbacks come often (paint updates); the type library is searched once per record kind
// and process, and the description is kept for the life of the process (the library is pinned while the
// engine holds its addresses). Not AddRef'ed for the caller. A failed search is tried again next time.
IRecordInfo* RecordInfoOf(Arg arg) {
    static IRecordInfo* found[4] = {};
    const int index = static_cast<int>(arg) - static_cast<int>(Arg::MemBuf);
    if (index < 0 || index >= 4) return nullptr;
    if (!found[index]) found[index] = FindRecordInfo(RecordName(arg));
    return found[index];
}

// A new BSTR that the event's variants own from here on (Clear frees it).
BSTR NewText(const std::wstring& text) { return vantorix::win::unique_bstr::of(text).release(); }

}  // namespace

EventArgs::EventArgs(const CallbackKind& kind, const std::uint32_t* args, EngineText& text) {
    for (VARIANTARG& value : values_) VariantInit(&value);
    try {
        Read(kind, args, text);
    } catch (...) {
        Clear();
        throw;
    }
}

void EventArgs::Read(const CallbackKind& kind, const std::uint32_t* args, EngineText& text) {
    for (int i = 0; i < kind.argCount; ++i) {
        VARIANTARG& value = values_[i];
        const std::uint32_t word = args[i];
        switch (kind.args[static_cast<std::size_t>(i)]) {
            case Arg::Int:
                value.vt = VT_I4;
                value.lVal = static_cast<LONG>(word);
                break;
            case Arg::Url:
                value.bstrVal = NewText(EngineText::Plain(word));
                value.vt = VT_BSTR;
                break;
            case Arg::EngineText:
                value.bstrVal = NewText(text.Read(word));
                value.vt = VT_BSTR;
                break;
            case Arg::PlatformText:
                value.bstrVal = NewText(EngineText::Platform(word));
                value.vt = VT_BSTR;
                break;
            case Arg::PromptResult:
                promptText_ = NewText(std::wstring());
                value.vt = VT_BSTR | VT_BYREF;
                value.pbstrVal = &promptText_;
                break;
            case Arg::MemBuf:
            case Arg::Rect:
            case Arg::WindowFeatures:
            case Arg::MediaLoadInfo:
                SetRecord(value, kind.args[static_cast<std::size_t>(i)], word);
                break;
        }
        count_ = static_cast<UINT>(i + 1);
    }
}

void EventArgs::SetRecord(VARIANTARG& value, Arg arg, std::uint32_t address) {
    recordInfo_ = RecordInfoOf(arg);
    if (!recordInfo_) throw std::runtime_error("record type information is missing");
    // A copy of the engine's bytes in the receiver's layout; what a handler changes stays here.
    if (address != 0)
        std::memcpy(&record_, reinterpret_cast<const void*>(static_cast<std::uintptr_t>(address)), RecordSize(arg));
    value.vt = VT_RECORD | VT_BYREF;
    value.pvRecord = &record_;
    value.pRecInfo = recordInfo_;
}

EventArgs::~EventArgs() { Clear(); }

void EventArgs::Clear() {
    // By-reference values belong to this object, not to the variants: free only the owned texts.
    for (UINT i = 0; i < count_; ++i)
        if (values_[i].vt == VT_BSTR) SysFreeString(values_[i].bstrVal);
    count_ = 0;
    SysFreeString(promptText_);
    promptText_ = nullptr;
    recordInfo_ = nullptr;  // the process-wide description, not ours
}

std::wstring EventArgs::PromptResult() const {
    return promptText_ ? std::wstring(promptText_, SysStringLen(promptText_)) : std::wstring();
}

}  // namespace velview::events
