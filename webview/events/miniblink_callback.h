#pragma once
// MiniblinkCallBack: the engine callback receiver. It hands out one stub address per callback kind
// (callback_kinds.h), and when the engine calls one, raises the event of the same name on its connection
// point, synchronously, then gives the engine the kind's result from the matching Return_ property.
//
// Choices made where the receiver's contract is open:
//   - A handler that fails (a sink returning a failure other than "member not found", an error while
//     reading an argument, a processor fault inside the event) gives the engine the kind's neutral result,
//     0 or false, and the prompt's result object is left as it was.
//   - Every stub, property and event-source method answers only on the thread that created the receiver
//     (webview/com/owner_thread.h); an engine call through a stub on another thread gets the neutral result.
//   - While an engine call runs through a stub the receiver holds a reference to itself, so a host that
//     lets go of it inside an event finishes the event on a live object; once it is gone its stubs answer
//     0 without touching it. Nested callbacks (an event handler that makes the engine call back) run
//     normally, each with its own arguments, and each reads the Return_ value after its own event.
#include <windows.h>
#include <oaidl.h>

#include <array>
#include <cstdint>

#include "Velview_G_201.h"
#include "webview/com/dispatch.h"
#include "webview/events/callback_kinds.h"
#include "webview/events/engine_text.h"
#include "webview/thunks/method_thunks.h"

namespace velview::events {

// The property list shared by the declarations and definitions below: Return_ properties (name, type,
// index from 0x40030001) and the 27 stub-address properties (name, slot).
#define VELVIEW_RECEIVER_RETURNS(X)                         \
    X(Return_wkeNetResponseCallback, VARIANT_BOOL, 0)       \
    X(Return_jsNativeFunction, CURRENCY, 1)                 \
    X(Return_wkeJsNativeFunction, CURRENCY, 2)              \
    X(Return_wkeConfirmBoxCallback, VARIANT_BOOL, 3)        \
    X(Return_wkePromptBoxCallback, VARIANT_BOOL, 4)         \
    X(Return_wkeNavigationCallback, VARIANT_BOOL, 5)        \
    X(Return_wkeCreateViewCallback, long, 6)                \
    X(Return_wkeDownloadCallback, VARIANT_BOOL, 7)          \
    X(Return_wkeLoadUrlBeginCallback, VARIANT_BOOL, 8)      \
    X(Return_wkeWindowClosingCallback, VARIANT_BOOL, 9)

#define VELVIEW_RECEIVER_STUBS(X)                 \
    X(wkeWindowDestroyCallback, 0)                \
    X(wkeWindowClosingCallback, 1)                \
    X(wkeWillMediaLoadCallback, 2)                \
    X(wkeWillReleaseScriptContextCallback, 3)     \
    X(wkeDidCreateScriptContextCallback, 4)       \
    X(wkeLoadUrlEndCallback, 5)                   \
    X(wkeLoadUrlBeginCallback, 6)                 \
    X(wkeConsoleCallback, 7)                      \
    X(wkeDownloadCallback, 8)                     \
    X(wkeDocumentReady2Callback, 9)               \
    X(wkeDocumentReadyCallback, 10)               \
    X(wkeCreateViewCallback, 11)                  \
    X(wkeNavigationCallback, 12)                  \
    X(wkePromptBoxCallback, 13)                   \
    X(wkeConfirmBoxCallback, 14)                  \
    X(wkeAlertBoxCallback, 15)                    \
    X(wkePaintBitUpdatedCallback, 16)             \
    X(wkePaintUpdatedCallback, 17)                \
    X(wkeURLChangedCallback2, 18)                 \
    X(wkeURLChangedCallback, 19)                  \
    X(wkeTitleChangedCallback, 20)                \
    X(wkeJsNativeFunction, 21)                    \
    X(jsNativeFunction, 22)                       \
    X(wkeOnNetGetFavicon, 23)                     \
    X(wkeOnCallUiThread, 24)                      \
    X(wkeCallUiThread, 25)                        \
    X(wkeNetResponseCallback, 26)

class MiniblinkCallBack final : public DispatchObject<_MiniblinkCallBack> {
public:
    MiniblinkCallBack();
    // The class factory's entry: a new receiver, queried for `iid`.
    static HRESULT Create(REFIID iid, void** out);

#define VELVIEW_DECLARE_RETURN(name, type, index)                           \
    HRESULT STDMETHODCALLTYPE get_##name(type* value) override;             \
    HRESULT STDMETHODCALLTYPE put_##name(type value) override;
    VELVIEW_RECEIVER_RETURNS(VELVIEW_DECLARE_RETURN)
#undef VELVIEW_DECLARE_RETURN

#define VELVIEW_DECLARE_STUB(name, slot)                                    \
    HRESULT STDMETHODCALLTYPE get_##name(long* value) override;             \
    HRESULT STDMETHODCALLTYPE put_##name(long value) override;
    VELVIEW_RECEIVER_STUBS(VELVIEW_DECLARE_STUB)
#undef VELVIEW_DECLARE_STUB

    // What one engine call through the stub of `slot` does; the stubs land here.
    std::uint64_t HandleCallback(int slot, const std::uint32_t* args);

protected:
    void* QueryMore(REFIID iid) override { return events_.Query(iid); }

private:
    std::int64_t ReturnValue(DISPID id) const { return returns_[static_cast<std::size_t>(id - kFirstReturnId)]; }

    EventSource events_;
    EngineText engineText_;
    std::array<std::int64_t, 10> returns_{};  // Return_ values, by id from 0x40030001; bits as written
    std::array<long, kKindCount> stubs_{};    // stub-address properties, by slot
    thunks::MethodThunks<MiniblinkCallBack, kKindCount> thunks_;
};

// MiniblinkTypeEnum: carries the public enumerations and records in the type library; no members.
class MiniblinkTypeEnum final : public DispatchObject<_MiniblinkTypeEnum> {
public:
    MiniblinkTypeEnum() : DispatchObject(IID__MiniblinkTypeEnum, L"MiniblinkTypeEnum") {}
    static HRESULT Create(REFIID iid, void** out);
};

}  // namespace velview::events
