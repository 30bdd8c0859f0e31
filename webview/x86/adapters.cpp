#include "webview/x86/adapters.h"

#include <cstring>
#include <vector>

#include "webview/x86/code_memory.h"

namespace velview::x86 {
namespace {

// Collects the bytes of one piece of code; call targets are relative, so the final address is needed.
class CodeWriter {
public:
    void Bytes(std::initializer_list<std::uint8_t> bytes) { code_.insert(code_.end(), bytes); }
    void U32(std::uint32_t v) {
        for (int i = 0; i < 4; ++i) code_.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    }
    void U16(std::uint16_t v) { Bytes({static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8)}); }
    // call rel32 to `target`, given where the code will live.
    void CallTo(const void* target, const void* codeBase) {
        const auto here = reinterpret_cast<std::uintptr_t>(codeBase) + code_.size() + 5;
        Bytes({0xE8});
        U32(static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(target) - here));
    }
    // Pushes `count` dword stack arguments of the caller again, last first. The caller's first stack
    // argument is at [ebp+8] once the frame is built.
    //   B9 imm32      mov   ecx, count
    //   E3 06         jecxz done
    //   FF 74 8D 04   push  dword [ebp + ecx*4 + 4]
    //   E2 FA         loop  (back to the push)
    void RepushStackArguments(int count) {
        Bytes({0xB9});
        U32(static_cast<std::uint32_t>(count));
        Bytes({0xE3, 0x06, 0xFF, 0x74, 0x8D, 0x04, 0xE2, 0xFA});
    }
    // The code is written for the address it will have: reserve the block first, then copy it in.
    void* InstallAt(void* block) const {
        if (!WriteCode(block, code_.data(), code_.size())) {
            FreeCode(block);
            return nullptr;
        }
        return block;
    }

private:
    std::vector<std::uint8_t> code_;
};

constexpr std::size_t kCdeclAdapterSize = 23;

}  // namespace

// cdecl caller -> stdcall target (23 bytes):
//   55              push  ebp
//   89 E5           mov   ebp, esp
//   B9 .. E2 FA     push the caller's argumentCount arguments again (see RepushStackArguments)
//   E8 rel32        call  target           ; stdcall: removes its copy of the arguments
//   C9              leave                  ; esp from the frame: exact whatever the target removed
//   C3              ret                    ; the caller removes its own arguments
void* MakeCdeclAdapter(const void* target, int argumentCount) {
    if (!target || argumentCount < 0 || argumentCount > kMaxCdeclArguments) return nullptr;
    void* block = AllocateCode(kCdeclAdapterSize);
    if (!block) return nullptr;
    CodeWriter w;
    w.Bytes({0x55, 0x89, 0xE5});
    w.RepushStackArguments(argumentCount);
    w.CallTo(target, block);
    w.Bytes({0xC9, 0xC3});
    return w.InstallAt(block);
}

bool ReleaseCdeclAdapter(void* adapter) { return FreeCode(adapter); }

// fastcall caller -> stdcall target:
//   55              push  ebp
//   89 E5           mov   ebp, esp
//   FF B5 disp32    push  dword [ebp + 8 + 4*i]   ; stack arguments (3rd and later), last first
//   52              push  edx                     ; 2nd argument, when there is one
//   51              push  ecx                     ; 1st argument, when there is one
//   68 imm32        push  extra                   ; only with pushExtra: the target's new first argument
//   E8 rel32        call  target
//   C9              leave
//   C3 | C2 iw      ret / ret 4*(stack arguments) ; fastcall: the callee removes the stack arguments
// The stack arguments are pushed unrolled because ECX and EDX hold register arguments.
void* MakeFastcallAdapter(const void* target, int argumentCount, bool pushExtra, std::uint32_t extra) {
    if (!target || argumentCount < 0 || argumentCount > kMaxCdeclArguments) return nullptr;
    const int stackArguments = argumentCount > 2 ? argumentCount - 2 : 0;
    const std::size_t size = 3 + 6 * stackArguments + 2 + 5 + 5 + 1 + 3;
    void* block = AllocateCode(size);
    if (!block) return nullptr;
    CodeWriter w;
    w.Bytes({0x55, 0x89, 0xE5});
    for (int i = stackArguments - 1; i >= 0; --i) {
        w.Bytes({0xFF, 0xB5});
        w.U32(static_cast<std::uint32_t>(8 + 4 * i));
    }
    if (argumentCount >= 2) w.Bytes({0x52});
    if (argumentCount >= 1) w.Bytes({0x51});
    if (pushExtra) {
        w.Bytes({0x68});
        w.U32(extra);
    }
    w.CallTo(target, block);
    w.Bytes({0xC9});
    if (stackArguments == 0) {
        w.Bytes({0xC3});
    } else {
        w.Bytes({0xC2});
        w.U16(static_cast<std::uint16_t>(4 * stackArguments));
    }
    return w.InstallAt(block);
}

}  // namespace velview::x86
