#include "webview/com/library_log.h"

#include "win/diagnostic_log.h"

namespace velview {

namespace {

namespace diag = vantorix::win::diag;

void OpenOnFirstRecord() {
    static const bool opened = [] {
        return !diag::LogPath().empty() || diag::OpenLog(diag::PerUserLogPath(L"Velview_G_201.log"));
    }();
    (void)opened;  // without a file the record still goes to the debugger
}

}  // namespace

void Record(const wchar_t* where, const std::wstring& what, unsigned long code) noexcept {
    try {
        OpenOnFirstRecord();
        diag::Record(where, what, code);
    } catch (...) {
        // no memory for the record: dropped (see the header)
    }
}

void RecordCurrentException(const wchar_t* where, const wchar_t* what) noexcept {
    try {
        OpenOnFirstRecord();
    } catch (...) {
        // no memory to open the file: the record still goes to the debugger
    }
    diag::RecordCurrentException(where, what);
}

void Record(const wchar_t* where, const wchar_t* what, unsigned long code) noexcept {
    try {
        Record(where, std::wstring(what ? what : L""), code);
    } catch (...) {
        // no memory for the text: dropped (see the header)
    }
}

}  // namespace velview
