#include "webview/x86/method_thunk.h"

#include <cstring>

#include "webview/x86/code_memory.h"

namespace velview::x86 {
namespace {

constexpr std::size_t kCallEnd = kMethodEntryOffset + 15;  // the call's rel32 counts from here
constexpr std::size_t kCodeBytes = 18;

}  // namespace

void* WriteMethodEntry(void* slot, const void* data, MethodSlotRoutine routine, int paramCount) {
    if (!slot || !routine || paramCount < 0 || paramCount > kMaxMethodParameters) return nullptr;
    auto* base = static_cast<unsigned char*>(slot);
    unsigned char* code = base + kMethodEntryOffset;
    const auto dataAddress = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(data));
    const auto rel = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(routine) -
                                                reinterpret_cast<std::uintptr_t>(base + kCallEnd));
    const auto bytes = static_cast<std::uint16_t>(paramCount * 4);

    unsigned char image[kMethodSlotSize - kMethodEntryOffset] = {
        0x8D, 0x44, 0x24, 0x04,  // lea eax, [esp+4]
        0x50,                    // push eax
        0x68, 0, 0, 0, 0,        // push data
        0xE8, 0, 0, 0, 0,        // call routine
        0xC2, 0, 0,              // ret bytes
    };
    std::memcpy(image + 6, &dataAddress, 4);
    std::memcpy(image + 11, &rel, 4);
    std::memcpy(image + 16, &bytes, 2);
    std::memset(image + kCodeBytes, 0xCC, sizeof image - kCodeBytes);
    return WriteCode(code, image, sizeof image) ? code : nullptr;
}

}  // namespace velview::x86
