#pragma once
// Method entries: the plain stdcall entry points that the library hands out for one object's handler.
//
// A method slot is 88 bytes of executable memory; the entry code starts at byte 16 (the bytes before it
// stay int3). The data the routine needs (see webview/thunks/method_thunks.h) lives in read-write memory of
// the owner's; the entry pushes its address:
//
//   +16  8D 44 24 04      lea  eax, [esp+4]        ; address of the caller's first argument
//   +20  50               push eax
//   +21  68 <data>        push data                ; the slot's data, outside executable memory
//   +26  E8 <rel32>       call routine             ; stdcall (slot, args) -> EDX:EAX
//   +31  C2 <bytes>       ret  paramCount * 4      ; stdcall: the entry removes the caller's arguments
//   +34  CC ...           int3 padding up to the next slot
//
// The entry keeps nothing of its own in memory, so it may be entered again while a call through it runs;
// EDX:EAX of the routine come back unchanged, so a 64-bit result reaches the caller whole. EBX, ESI, EDI
// and EBP are preserved by the routine as the stdcall convention requires.
#include <cstddef>
#include <cstdint>

namespace velview::x86 {

inline constexpr std::size_t kMethodSlotSize = 88;
inline constexpr std::size_t kMethodEntryOffset = 16;
inline constexpr int kMaxMethodParameters = 63;

// What every entry calls: the slot's data address and the address of the caller's arguments (args[0] first).
using MethodSlotRoutine = std::uint64_t(__stdcall*)(void* data, const std::uint32_t* args);

// Writes the entry code of one slot, which hands `data` to the routine. paramCount must be 0..63.
// Returns the entry address (slot + 16), or nullptr for a bad count or a null slot or routine.
void* WriteMethodEntry(void* slot, const void* data, MethodSlotRoutine routine, int paramCount);

}  // namespace velview::x86
