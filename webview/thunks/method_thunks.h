#pragma once
// cb_Callback: plain stdcall entry addresses for one object's callback handlers.
//
// The engine calls back through plain function addresses (behind the cdecl adapters of webview/x86), while
// the handlers are methods of the library's objects. Each owner (the web view control, the window-less web
// view object, the callback receiver) keeps one MethodThunks with its own number of slots. The first
// cb_Callback call makes the owner's executable block (slots × 88 bytes); each call then fills one slot and
// returns its entry address, a stdcall routine of the handler's parameter count that calls the handler with
// its arguments and returns its result (32-bit in EAX, or a 64-bit script value in EDX:EAX, whole).
//
// How a view owner obtains its five stubs (Velview, VelviewCls):
//
//   class VelviewCls : public velview::DispatchObject<_VelviewCls> {
//       std::uint32_t OnDocumentReady(std::uint32_t view, std::uint32_t param);              // ordinal 1
//       std::uint32_t OnLoadUrlBegin(std::uint32_t view, std::uint32_t param,
//                                    std::uint32_t url, std::uint32_t job);                  // ordinal 2
//       std::uint32_t OnJsCall(std::uint32_t es, std::uint32_t param);                       // ordinal 3
//       std::uint32_t OnCreateView(std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t,
//                                  std::uint32_t);                                           // ordinal 4
//       std::uint32_t OnLoadUrlEnd(std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t,
//                                  std::uint32_t, std::uint32_t);                            // ordinal 5
//       // The handler table in declaration order; ordinals count from its end (1 = last entry).
//       static const velview::thunks::Method kCallbackMethods[5];
//       velview::thunks::MethodThunks<VelviewCls, 5> thunks_{*this, L"VelviewCls", kCallbackMethods};
//   };
//   const velview::thunks::Method VelviewCls::kCallbackMethods[5] = {
//       velview::thunks::MethodOf<&VelviewCls::OnLoadUrlEnd>(), velview::thunks::MethodOf<&VelviewCls::OnCreateView>(),
//       velview::thunks::MethodOf<&VelviewCls::OnJsCall>(), velview::thunks::MethodOf<&VelviewCls::OnLoadUrlBegin>(),
//       velview::thunks::MethodOf<&VelviewCls::OnDocumentReady>()};
//   ...
//   documentReadyStub_ = thunks_.cb_Callback(1, 2, 0);   // ordinal, parameter count, slot
//   jsCallStub_        = thunks_.cb_Callback(3, 2, 2);   // then see webview/routing/js_call_routing.h
//
// Failures show a critical-error message box with the caption "Error in " + type name + ".cb_Callback" and
// give 0: "nThunkNo doesn't exist." for a slot outside 0..slots-1, "Callback address not found." for an
// ordinal outside the table or a parameter count that differs from the handler's own (a mismatched entry
// would leave the caller's stack unbalanced).
//
// Lifetime: the block is never freed (the engine may keep any handed-out address for the life of the
// process). While a call runs through a slot, the target object is held with AddRef, so a handler whose
// event lets the last reference go finishes on a live object. When the owner is destroyed, its slots are
// detached: a later call through any of them returns 0 (the neutral result) without touching the object.
// Entries are re-entrant.
//
// The host-mode guard (all owners request it) lets an entry run its handler only on the thread that made
// the owner, the thread the engine must call back on: a call from any other thread gets 0 and is
// recorded, and nothing of the handler runs. A handler that throws gives 0, and the failure is recorded
// (webview/com/library_log.h). No exception guard stands around a handler: the handlers are the library's
// own code, and a processor fault in them is not hidden (the host's code they call, an event sink, is
// guarded where it is called, with no frame of the library's in between).
#include <windows.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <type_traits>
#include <utility>
#include <vector>

namespace velview::thunks {

// One callback handler of an owner, type-erased: its parameter count and a function that calls it on a
// target object with the caller's arguments (args[0] is the first).
struct Method {
    int paramCount;
    std::uint64_t (*call)(void* target, const std::uint32_t* args);
};

// Keeps a target alive while a call runs through one of its slots.
struct LifetimeHooks {
    void (*addRef)(void* target);
    void (*release)(void* target);
};

struct SlotData;

// The type-erased factory behind MethodThunks; one per owner object.
class ThunkBlock {
public:
    ThunkBlock(void* self, const wchar_t* typeName, const LifetimeHooks* hooks, const Method* methods,
               int methodCount, int slots);
    ThunkBlock(const ThunkBlock&) = delete;
    ThunkBlock& operator=(const ThunkBlock&) = delete;
    ~ThunkBlock();  // detaches every slot and lets go of targets other than the owner

    // The entry address for handler `ordinal` (1 = the last method of the table) on `target` (the owner
    // when null), in `slot`; 0 after the failure message.
    std::uint32_t cb_Callback(int ordinal, int paramCount, int slot, void* target, bool hostGuard);

    // Address of the executable block, 0 until the first successful cb_Callback.
    std::uintptr_t StubBlock() const { return reinterpret_cast<std::uintptr_t>(block_); }
    int Slots() const { return slots_; }

private:
    void Fail(const wchar_t* text) const;

    void* self_;
    const wchar_t* typeName_;
    const LifetimeHooks* hooks_;
    const Method* methods_;
    int methodCount_;
    int slots_;
    DWORD ownerThread_;               // the thread that made the owner
    unsigned char* block_ = nullptr;  // kept until the process ends, see above
    SlotData* data_ = nullptr;        // per slot: what its entry hands the routine (read-write memory)
    std::vector<void*> held_;         // per slot: a target other than the owner, held with AddRef
};

namespace detail {

template <class T>
T FromWord(std::uint32_t word) {
    static_assert(sizeof(T) <= 4, "handler parameters are 32-bit words");
    if constexpr (std::is_pointer_v<T>)
        return reinterpret_cast<T>(static_cast<std::uintptr_t>(word));
    else
        return static_cast<T>(word);
}

template <auto Fn, class C, class R, class... A, std::size_t... I>
std::uint64_t Invoke(C& self, const std::uint32_t* args, std::index_sequence<I...>) {
    (void)args;
    if constexpr (std::is_void_v<R>) {
        (self.*Fn)(FromWord<A>(args[I])...);
        return 0;
    } else if constexpr (sizeof(R) == 8) {
        return static_cast<std::uint64_t>((self.*Fn)(FromWord<A>(args[I])...));
    } else {
        static_assert(sizeof(R) <= 4, "handler results are 32 or 64 bits");
        return static_cast<std::uint32_t>((self.*Fn)(FromWord<A>(args[I])...));
    }
}

template <auto Fn, class C, class R, class... A>
std::uint64_t Call(void* target, const std::uint32_t* args) {
    return Invoke<Fn, C, R, A...>(*static_cast<C*>(target), args, std::index_sequence_for<A...>{});
}

template <auto Fn, class C, class R, class... A>
constexpr Method Make(R (C::*)(A...)) {
    return {static_cast<int>(sizeof...(A)), &Call<Fn, C, R, A...>};
}
template <auto Fn, class C, class R, class... A>
constexpr Method Make(R (C::*)(A...) noexcept) {
    return {static_cast<int>(sizeof...(A)), &Call<Fn, C, R, A...>};
}

template <class Owner>
void AddRefOwner(void* target) {
    static_cast<Owner*>(target)->AddRef();
}
template <class Owner>
void ReleaseOwner(void* target) {
    static_cast<Owner*>(target)->Release();
}
template <class Owner>
inline constexpr LifetimeHooks kHooks{&AddRefOwner<Owner>, &ReleaseOwner<Owner>};

}  // namespace detail

// The Method for a member function of 32-bit parameters returning a 32-bit or 64-bit value (or void).
template <auto Fn>
constexpr Method MethodOf() {
    return detail::Make<Fn>(Fn);
}

// The typed face an owner keeps as a member. Owner must have AddRef() and Release() (every COM object does).
template <class Owner, int SlotCount>
class MethodThunks {
public:
    template <std::size_t N>
    MethodThunks(Owner& self, const wchar_t* typeName, const Method (&methods)[N])
        : block_(&self, typeName, &detail::kHooks<Owner>, methods, static_cast<int>(N), SlotCount) {}
    template <std::size_t N>
    MethodThunks(Owner& self, const wchar_t* typeName, const std::array<Method, N>& methods)
        : block_(&self, typeName, &detail::kHooks<Owner>, methods.data(), static_cast<int>(N), SlotCount) {}

    std::uint32_t cb_Callback(int ordinal, int paramCount, int slot, Owner* target = nullptr,
                              bool hostGuard = true) {
        return block_.cb_Callback(ordinal, paramCount, slot, target, hostGuard);
    }
    std::uintptr_t StubBlock() const { return block_.StubBlock(); }

private:
    ThunkBlock block_;
};

}  // namespace velview::thunks
