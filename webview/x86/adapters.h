#pragma once
// Calling-convention adapters: small pieces of generated code that let a caller with one convention call a
// routine written for stdcall.
//
// cdecl -> stdcall (MakeCdeclAdapter): the engine calls with cdecl and removes its own arguments; the
// target is stdcall and removes them too. The adapter keeps nothing in memory of its own: it builds a
// frame, pushes a copy of the caller's arguments (last to first), calls the target, and restores the
// caller's stack pointer from its frame. So it is re-entrant (a page callback may run script that calls
// back through the same adapter) and every register result passes through whole: a 64-bit value in
// EDX:EAX, a 32-bit one in EAX, a floating one in ST(0).
//
// fastcall -> stdcall (MakeFastcallAdapter): the caller passes its first argument in ECX, the second in
// EDX and the rest on the stack, and expects the callee to remove the stack arguments. The adapter pushes
// the stack arguments again, then EDX, then ECX, optionally one extra value (it becomes the target's first
// argument), calls the target and returns removing the caller's stack arguments. With one argument that is
// a plain return. Results pass through whole, as above.
#include <cstdint>

namespace velview::x86 {

inline constexpr int kMaxCdeclArguments = 63;

// A new adapter for a stdcall `target` of `argumentCount` 32-bit arguments (0..63), or nullptr when the
// target is null, the count is out of range or no executable memory was obtained.
void* MakeCdeclAdapter(const void* target, int argumentCount);

// Frees an adapter made by MakeCdeclAdapter; nullptr and unknown addresses are ignored (false).
bool ReleaseCdeclAdapter(void* adapter);

// A new fastcall adapter for a stdcall `target` taking `argumentCount` arguments (0..63; a pushed extra
// value comes on top). nullptr for a negative or too large count, a null target or no memory.
// Adapters of this kind are never released.
void* MakeFastcallAdapter(const void* target, int argumentCount, bool pushExtra, std::uint32_t extra);

}  // namespace velview::x86
