#include "webview/thunks/method_thunks.h"

#include <cstring>
#include <string>

#include "webview/com/module.h"
#include "webview/x86/code_memory.h"
#include "webview/x86/guarded_call.h"
#include "webview/x86/method_thunk.h"

namespace velview::thunks {
namespace {

}  // namespace

// The data of one slot, read by SlotRoutine through the address its entry code pushes; ordinary read-write
// memory, never inside the executable block. A null target means the slot was never filled or its owner
// is gone.
struct SlotData {
    void* target;
    const Method* method;
    const LifetimeHooks* hooks;
    std::uint32_t guarded;
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

// The engine's side of the library's boundary: nothing thrown by a handler reaches the caller.
std::uint64_t __stdcall CallHandler(const Method* method, void* target, const std::uint32_t* args) noexcept {
    try {
        return method->call(target, args);
    } catch (...) {
        return 0;
    }
}

std::uint64_t __stdcall SlotRoutine(void* slot, const std::uint32_t* args) {
    auto* data = static_cast<SlotData*>(slot);
    void* target = data->target;
    const Method* method = data->method;
    if (!target || !method) return 0;
    KeepAlive hold(data->hooks, target);
    if (!data->guarded) return CallHandler(method, target, args);
    const std::uint32_t packed[3] = {
        static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(method)),
        static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(target)),
        static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(args)),
    };
    const x86::GuardedResult result =
        x86::CallStdcallGuarded(reinterpret_cast<const void*>(&CallHandler), packed, 3);
    if (result.faulted) return 0;
    return (static_cast<std::uint64_t>(result.high) << 32) | result.value;
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
    data->guarded = hostGuard ? 1u : 0u;
    void* entry = x86::WriteMethodEntry(SlotAt(block_, slot), data, &SlotRoutine, paramCount);
    module::PinUntilProcessEnd();  // the entry runs this module's code for as long as the engine keeps it
    return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(entry));
}

}  // namespace velview::thunks
