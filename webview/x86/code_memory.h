#pragma once
// Executable memory for generated code. Small blocks are carved out of 64 KiB regions (one VirtualAlloc per
// adapter would spend 64 KiB of address space on 28 bytes); a released block goes back on a free list of
// its size class. The regions are executable and read-only: code is written through WriteCode, which makes
// the pages writable (and not executable) for the copy only. Data that generated code reads lives in
// ordinary read-write memory, never inside these regions. Regions are never returned to the system: adapters and thunks
// live as long as the process, and whoever asked for a block owns it.
#include <cstddef>

namespace velview::x86 {

// A block of at least `size` bytes (at most 4096), filled with int3, executable, 16-byte aligned.
// nullptr when no memory could be obtained or the size is out of range.
void* AllocateCode(std::size_t size);

// Returns a block obtained from AllocateCode. Anything else (nullptr, an address inside a block, a block
// already freed) is refused and false is returned, so a stray release cannot corrupt the free lists.
bool FreeCode(void* block);

// Copies `size` bytes of code to `at` (inside a block), then makes it visible to the processor. False when
// the pages could not be made writable.
bool WriteCode(void* at, const void* code, std::size_t size);

}  // namespace velview::x86
