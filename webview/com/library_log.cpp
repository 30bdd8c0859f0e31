#include "webview/com/library_log.h"

#include "win/diagnostic_log.h"

namespace velview {

void Record(const wchar_t* where, const std::wstring& what, unsigned long code) noexcept {
    namespace diag = vantorix::win::diag;
    try {
        static const bool opened = [] {
            return !diag::LogPath().empty() || diag::OpenLog(diag::PerUserLogPath(L"Velview_G_201.log"));
        }();
        (void)opened;  // without a file the record still goes to the debugger
        diag::Record(where, what, code);
    } catch (...) {
    }
}

void Record(const wchar_t* where, const wchar_t* what, unsigned long code) noexcept {
    try {
        Record(where, std::wstring(what ? what : L""), code);
    } catch (...) {
    }
}

}  // namespace velview
