#pragma once
// The parameters of one event, read from the engine's arguments of one callback kind in engine order:
// texts decoded as the kind's table says, records copied into fresh records of the receiver's layout and
// passed by reference, the prompt's result text passed by reference. Owns everything it made.
#include <windows.h>
#include <oaidl.h>

#include <cstdint>
#include <string>

#include "Velview_G_201.h"
#include "webview/events/callback_kinds.h"
#include "webview/events/engine_text.h"

namespace velview::events {

class EventArgs {
public:
    // Throws std::runtime_error when a record's type information is missing (no type library).
    EventArgs(const CallbackKind& kind, const std::uint32_t* args, EngineText& text);
    EventArgs(const EventArgs&) = delete;
    EventArgs& operator=(const EventArgs&) = delete;
    ~EventArgs();

    VARIANTARG* Data() { return values_; }
    UINT Count() const { return count_; }
    // The prompt's result text as the event's handlers left it.
    std::wstring PromptResult() const;

private:
    union Record {
        wkeMemBuf memBuf;
        wkeRect rect;
        wkeWindowFeatures windowFeatures;
        wkeMediaLoadInfo mediaLoadInfo;
    };

    void Read(const CallbackKind& kind, const std::uint32_t* args, EngineText& text);
    void SetRecord(VARIANTARG& value, Arg arg, std::uint32_t address);
    void Clear();

    VARIANTARG values_[kMaxArgs];
    UINT count_ = 0;
    BSTR promptText_ = nullptr;
    Record record_{};
    IRecordInfo* recordInfo_ = nullptr;
};

// The records' sizes in the receiver's layout: what is copied from the engine's address.
static_assert(sizeof(wkeMemBuf) == 12, "wkeMemBuf is three 32-bit integers");
static_assert(sizeof(wkeRect) == 16, "wkeRect is four 32-bit integers");
static_assert(sizeof(wkeWindowFeatures) == 32, "wkeWindowFeatures: four integers, seven 16-bit booleans");
static_assert(sizeof(wkeMediaLoadInfo) == 20, "wkeMediaLoadInfo: three integers and a double, no padding");

}  // namespace velview::events
