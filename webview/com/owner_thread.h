#pragma once
// The thread rule of the library's objects: each answers only on the thread that created it. Its state,
// the engine it drives and the host's sinks it calls are not guarded for several threads, and the engine
// calls back on that thread. A call from another thread (a raw pointer handed across threads) gets
// RPC_E_WRONG_THREAD with a description the caller reads through IErrorInfo, and nothing of it runs; a proxy
// from another apartment delivers its calls on the owner's thread and is served. The test is one
// comparison of thread ids, so every entry point can afford it.
//
//   HRESULT STDMETHODCALLTYPE Velview::Close(DWORD) {
//       VELVIEW_ON_OWNER_THREAD(thread());
//       ...
//   }
#include <windows.h>

namespace velview {

// The calling thread's id as GetCurrentThreadId gives it, read from the thread's own block (TEB, whose
// ClientId.UniqueThread is at FS:[0x24] on 32-bit Windows) without a call into the system. The one
// instruction __readfsdword(0x24) would give, written out: the intrinsic passes the offset as a pointer
// operand, which GCC's -Warray-bounds takes for an access to address 0x24 in every caller.
inline DWORD CurrentThreadId() noexcept {
    DWORD id;
    __asm__ __volatile__("movl %%fs:0x24, %0" : "=r"(id));
    return id;
}

class OwnerThread {
public:
    // The calling thread owns; typeName names the object's class in the description and the record.
    explicit OwnerThread(const wchar_t* typeName) noexcept : id_(CurrentThreadId()), typeName_(typeName) {}
    OwnerThread(const OwnerThread&) = delete;
    OwnerThread& operator=(const OwnerThread&) = delete;

    bool Here() const noexcept { return CurrentThreadId() == id_; }
    DWORD id() const noexcept { return id_; }
    const wchar_t* typeName() const noexcept { return typeName_; }
    // RPC_E_WRONG_THREAD with its description set for the calling thread; the object's first refusal is
    // recorded (a caller that keeps calling from the wrong thread does not fill the log).
    HRESULT Refuse() const noexcept;

private:
    const DWORD id_;
    const wchar_t* const typeName_;
    mutable LONG recorded_ = 0;
};

}  // namespace velview

#define VELVIEW_ON_OWNER_THREAD(owner)                 \
    do {                                               \
        if (!(owner).Here()) return (owner).Refuse();  \
    } while (0)
