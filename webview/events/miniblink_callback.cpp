#include "webview/events/miniblink_callback.h"

#include <new>
#include <type_traits>
#include <utility>

#include "webview/com/module.h"
#include "webview/events/event_args.h"
#include "win/com_ptr.h"

namespace velview::events {
namespace {

// Return_ values are kept as the bits the host wrote; each property reads them back in its own type.
template <class T>
T FromStore(std::int64_t bits) {
    if constexpr (std::is_same_v<T, CURRENCY>) {
        CURRENCY value;
        value.int64 = bits;
        return value;
    } else {
        return static_cast<T>(bits);
    }
}
std::int64_t ToStore(CURRENCY value) { return value.int64; }
std::int64_t ToStore(long value) { return value; }
std::int64_t ToStore(VARIANT_BOOL value) { return value; }

// A sink that does not handle an event answers "member not found" (or "not implemented"): that is not
// a failing handler.
bool HandlerFailed(HRESULT hr) { return FAILED(hr) && hr != DISP_E_MEMBERNOTFOUND && hr != E_NOTIMPL; }

template <int Slot>
std::uint64_t CallSlot(void* target, const std::uint32_t* args) {
    return static_cast<MiniblinkCallBack*>(target)->HandleCallback(Slot, args);
}

// The receiver's handler table in declaration order: the handler of slot s is the (s + 1)-th from the end.
template <std::size_t... I>
constexpr std::array<thunks::Method, kKindCount> HandlerTable(std::index_sequence<I...>) {
    return {{thunks::Method{kCallbackKinds[kKindCount - 1 - I].argCount, &CallSlot<kKindCount - 1 - static_cast<int>(I)>}...}};
}
constexpr std::array<thunks::Method, kKindCount> kHandlerTable = HandlerTable(std::make_index_sequence<kKindCount>{});

const ClassInfo kReceiverClass{&CLSID_MiniblinkCallBack, L"MiniblinkCallBack", L"Velview_G_201.MiniblinkCallBack",
                               L"Velview_G_201.MiniblinkCallBack.1", false, &MiniblinkCallBack::Create};
const ClassRegistration kReceiverRegistration(kReceiverClass);
const ClassInfo kTypesClass{&CLSID_MiniblinkTypeEnum, L"MiniblinkTypeEnum", L"Velview_G_201.MiniblinkTypeEnum",
                            L"Velview_G_201.MiniblinkTypeEnum.1", false, &MiniblinkTypeEnum::Create};
const ClassRegistration kTypesRegistration(kTypesClass);

template <class Object>
HRESULT CreateObject(REFIID iid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    const vantorix::win::com_ptr<Object> object(new (std::nothrow) Object());
    if (!object) return E_OUTOFMEMORY;
    return object->QueryInterface(iid, out);
}

}  // namespace

MiniblinkCallBack::MiniblinkCallBack()
    : DispatchObject(IID__MiniblinkCallBack, L"MiniblinkCallBack"),
      events_(Identity(), thread(), CLSID_MiniblinkCallBack, DIID___MiniblinkCallBack),
      thunks_(*this, L"MiniblinkCallBack", kHandlerTable) {
    // Slot 0 to 26 in order; a stub that cannot be made keeps 0 (after cb_Callback's message).
    for (int slot = 0; slot < kKindCount; ++slot)
        stubs_[static_cast<std::size_t>(slot)] = static_cast<long>(
            thunks_.cb_Callback(OrdinalOf(slot), kCallbackKinds[static_cast<std::size_t>(slot)].argCount, slot));
}

HRESULT MiniblinkCallBack::Create(REFIID iid, void** out) { return CreateObject<MiniblinkCallBack>(iid, out); }
HRESULT MiniblinkTypeEnum::Create(REFIID iid, void** out) { return CreateObject<MiniblinkTypeEnum>(iid, out); }

std::uint64_t MiniblinkCallBack::HandleCallback(int slot, const std::uint32_t* args) {
    const CallbackKind& kind = kCallbackKinds[static_cast<std::size_t>(slot)];
    EventArgs event(kind, args, engineText_);
    const HRESULT hr = events_.Fire(EventIdOf(slot), event.Data(), event.Count());
    if (HandlerFailed(hr)) return 0;
    for (int i = 0; i < kind.argCount; ++i)
        if (kind.args[static_cast<std::size_t>(i)] == Arg::PromptResult) engineText_.Write(args[i], event.PromptResult());
    switch (kind.result) {
        case Result::None:
            return 0;
        case Result::Bool:
            return ReturnValue(kind.returnId) != 0 ? 1 : 0;
        case Result::ViewHandle:
            return static_cast<std::uint32_t>(ReturnValue(kind.returnId));
        case Result::ScriptValue:
            return static_cast<std::uint64_t>(ReturnValue(kind.returnId));
    }
    return 0;
}

#define VELVIEW_DEFINE_RETURN(name, type, index)                                  \
    HRESULT STDMETHODCALLTYPE MiniblinkCallBack::get_##name(type* value) {        \
        VELVIEW_ON_OWNER_THREAD(thread());                                        \
        if (!value) return module::Fail(E_POINTER, module::kMissingResultText);   \
        *value = FromStore<type>(returns_[index]);                                \
        return S_OK;                                                              \
    }                                                                             \
    HRESULT STDMETHODCALLTYPE MiniblinkCallBack::put_##name(type value) {         \
        VELVIEW_ON_OWNER_THREAD(thread());                                        \
        returns_[index] = ToStore(value);                                         \
        return S_OK;                                                              \
    }
VELVIEW_RECEIVER_RETURNS(VELVIEW_DEFINE_RETURN)
#undef VELVIEW_DEFINE_RETURN

#define VELVIEW_DEFINE_STUB(name, slot)                                           \
    HRESULT STDMETHODCALLTYPE MiniblinkCallBack::get_##name(long* value) {        \
        VELVIEW_ON_OWNER_THREAD(thread());                                        \
        if (!value) return module::Fail(E_POINTER, module::kMissingResultText);   \
        *value = stubs_[slot];                                                    \
        return S_OK;                                                              \
    }                                                                             \
    HRESULT STDMETHODCALLTYPE MiniblinkCallBack::put_##name(long value) {         \
        VELVIEW_ON_OWNER_THREAD(thread());                                        \
        stubs_[slot] = value;                                                     \
        return S_OK;                                                              \
    }
VELVIEW_RECEIVER_STUBS(VELVIEW_DEFINE_STUB)
#undef VELVIEW_DEFINE_STUB

}  // namespace velview::events
