#pragma once
// MyModule: the shared conversions of the control library between its own values and the engine's.
#include <windows.h>
#include <oaidl.h>

#include <cstdint>
#include <string>
#include <vector>

#include "win/code_page.h"

namespace velview::MyModule {

// Exactly the n bytes at `address`; empty when n is not positive or the address is 0.
std::vector<std::uint8_t> ByteArrayFromPointer(const void* address, long n);

// Public booleans are 16-bit (true = -1); the engine's are one byte, true only when it is exactly 1.
inline std::uint8_t BoolToByte(long value) noexcept { return value != 0 ? 1 : 0; }
inline VARIANT_BOOL ByteToBool(std::uint8_t value) noexcept { return value == 1 ? VARIANT_TRUE : VARIANT_FALSE; }

// Every character above 127 as percent-encoded UTF-8 (upper-case hex); everything else unchanged.
std::wstring PercentEncodeUtf8(const std::wstring& text);

// Bytes in the named charset as text (win/code_page.h).
using vantorix::win::BytesToText;

// The address of a routine, as the 32-bit value handed to native code.
inline std::uint32_t AddressOfRoutine(const void* routine) noexcept {
    return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(routine));
}

}  // namespace velview::MyModule
