#include "webview/com/owner_thread.h"

#include <string>

#include "webview/com/library_log.h"
#include "webview/com/module.h"

namespace velview {

HRESULT OwnerThread::Refuse() const noexcept {
    if (InterlockedExchange(&recorded_, 1) == 0) {
        try {
            Record(typeName_, L"a call from thread " + std::to_wstring(GetCurrentThreadId()) +
                                  L" was refused: the object belongs to thread " + std::to_wstring(id_),
                   static_cast<unsigned long>(RPC_E_WRONG_THREAD));
        } catch (...) {
            // no memory for the record: the caller still gets its error
        }
    }
    return module::Fail(RPC_E_WRONG_THREAD,
                        L"This Velview_G_201 object can only be called on the thread that created it (the "
                        L"thread that runs the web engine). Use it there, or through an interface marshaled "
                        L"to the other thread.");
}

}  // namespace velview
