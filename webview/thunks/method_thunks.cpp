#include "webview/thunks/method_thunks.h"

#include <exception>
#include <string>

#include "webview/com/library_log.h"
#include "webview/com/module.h"
#include "webview/com/owner_thread.h"
#include "webview/x86/code_memory.h"
#include "webview/x86/method_thunk.h"

namespace velview::thunks {

// The data of one slot, read by SlotRoutine through the address its entry code pushes; ordinary read-write
// memory, never inside the executable block. A null target means the slot was never filled or its owner
// is gone.
struct SlotData {
    void* target;
    const Method* method;
    const LifetimeHooks* hooks;
    DWORD thread;              // the only thread the handler runs on (the host-mode guard); 0: any thread
    const wchar_t* typeName;   // the owner's class, for the records
    LONG offThreadRecorded;    // a call from another thread has been recorded
};

namespace {

class KeepAlive {
public:
    KeepAlive(const LifetimeHooks* hooks, void* target) : hooks_(hooks), target_(target) {
        if (hooks_) hooks_->addRef(target_);
    }
    KeepAlive(const KeepAlive&) = delete;
    KeepAlive& operator=(const KeepAlive&) = delete;
    ~KeepAlive() {
        if (hooks_) hooks_->release(target_);
    }

private:
    const LifetimeHooks* hooks_;
    void* target_;
};

void RecordFailure(const SlotData& data, const std::wstring& what, unsigned long code = 0) noexcept {
    Record(data.typeName, what, code);
}

std::wstring Widen(const char* text) {
    std::wstring wide;
    for (; text && *text; ++text) wide.push_back(static_cast<unsigned char>(*text));
    return wide;
}

// The engine's side of the library's boundary: what a handler throws ends here, is recorded, and the
// engine gets the neutral result 0. No exception guard stands here: a processor fault in a handler is a
// fault of the library's own code (or of memory it was handed) and is not hidden; faults of the host's
// code called from a handler are stopped where that code is called (EventSource::Fire).
std::uint64_t CallHandler(const SlotData& data, void* target, const std::uint32_t* args) noexcept {
    try {
        return data.method->call(target, args);
    } catch (const std::exception& e) {
        RecordFailure(data, L"a callback handler failed (" + Widen(e.what()) + L"); the engine gets 0");
    } catch (...) {
        RecordFailure(data, L"a callback handler failed; the engine gets 0");
    }
    return 0;
}

std::uint64_t __stdcall SlotRoutine(void* slot, const std::uint32_t* args) {
    auto* data = static_cast<SlotData*>(slot);
    if (data->thread != 0 && CurrentThreadId() != data->thread) {
        if (InterlockedExchange(&data->offThreadRecorded, 1) == 0)
            RecordFailure(*data, L"an engine callback from thread " + std::to_wstring(GetCurrentThreadId()) +
                                     L" was refused: its object belongs to thread " + std::to_wstring(data->thread),
                          static_cast<unsigned long>(RPC_E_WRONG_THREAD));
        return 0;
    }
    void* target = data->target;
    if (!target || !data->method) return 0;
    KeepAlive hold(data->hooks, target);
    return CallHandler(*data, target, args);
}

unsigned char* SlotAt(unsigned char* block, int slot) {
    return block + static_cast<std::size_t>(slot) * x86::kMethodSlotSize;
}

}  // namespace

ThunkBlock::ThunkBlock(void* self, const wchar_t* typeName, const LifetimeHooks* hooks, const Method* methods,
                       int methodCount, int slots)
    : self_(self),
      typeName_(typeName),
      hooks_(hooks),
      methods_(methods),
      methodCount_(methodCount),
      slots_(slots),
      ownerThread_(GetCurrentThreadId()),
      held_(static_cast<std::size_t>(slots), nullptr) {}

ThunkBlock::~ThunkBlock() {
    if (data_) {
        for (int i = 0; i < slots_; ++i) {
            data_[i].target = nullptr;
            data_[i].method = nullptr;
        }
    }
    for (void* target : held_)
        if (target) hooks_->release(target);
}

void ThunkBlock::Fail(const wchar_t* text) const {
    const std::wstring caption = std::wstring(L"Error in ") + typeName_ + L".cb_Callback";
    MessageBoxW(nullptr, text, caption.c_str(), MB_OK | MB_ICONHAND);
}

std::uint32_t ThunkBlock::cb_Callback(int ordinal, int paramCount, int slot, void* target, bool hostGuard) {
    if (slot < 0 || slot >= slots_) {
        Fail(L"nThunkNo doesn't exist.");
        return 0;
    }
    if (!target) target = self_;
    if (ordinal < 1 || ordinal > methodCount_ || methods_[methodCount_ - ordinal].paramCount != paramCount ||
        !methods_[methodCount_ - ordinal].call) {
        Fail(L"Callback address not found.");
        return 0;
    }
    const Method* method = &methods_[methodCount_ - ordinal];
    if (!block_) {
        // The engine may call an entry after the owner is gone: the data, like the code, stays until the
        // process ends (the owner's destructor only clears it).
        data_ = new SlotData[static_cast<std::size_t>(slots_)]();
        block_ = static_cast<unsigned char*>(x86::AllocateCode(static_cast<std::size_t>(slots_) * x86::kMethodSlotSize));
        if (!block_) return 0;
        for (int i = 0; i < slots_; ++i) x86::WriteMethodEntry(SlotAt(block_, i), &data_[i], &SlotRoutine, 0);
    }
    SlotData* data = &data_[slot];
    void*& held = held_[static_cast<std::size_t>(slot)];
    if (target != self_) hooks_->addRef(target);
    if (held) hooks_->release(held);
    held = target != self_ ? target : nullptr;
    data->target = target;
    data->method = method;
    data->hooks = hooks_;
    data->thread = hostGuard ? ownerThread_ : 0;
    data->typeName = typeName_;
    void* entry = x86::WriteMethodEntry(SlotAt(block_, slot), data, &SlotRoutine, paramCount);
    module::PinUntilProcessEnd();  // the entry runs this module's code for as long as the engine keeps it
    return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(entry));
}

}  // namespace velview::thunks
