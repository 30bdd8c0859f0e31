// The control surface's log and result functions (declared in standin_control.h).
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "engine-standin/call_log.h"
#include "engine-standin/exports.h"
#include "engine-standin/standin_control.h"
#include "engine-standin/text_codec.h"

using standin::CopyOut;

namespace {

const standin::Argument* ArgumentAt(int entry, int arg, standin::LogEntry& holder) {
    if (!standin::LogEntryAt(entry, holder) || arg < 0 || arg >= static_cast<int>(holder.args.size())) return nullptr;
    return &holder.args[arg];
}

}  // namespace

extern "C" {

int STANDIN_CALL standinLogCount(void) { return standin::LogSize(); }

void STANDIN_CALL standinLogClear(void) { standin::ClearLog(); }

void STANDIN_CALL standinLogEnable(int on) { standin::EnableLog(on != 0); }

int STANDIN_CALL standinLogName(int entry, char* buf, int bufSize) {
    standin::LogEntry e;
    if (!standin::LogEntryAt(entry, e)) return -1;
    return CopyOut(e.name, buf, bufSize);
}

int STANDIN_CALL standinLogFind(const char* name, int from) { return name ? standin::LogFind(name, from) : -1; }

int STANDIN_CALL standinLogArgCount(int entry) {
    standin::LogEntry e;
    return standin::LogEntryAt(entry, e) ? static_cast<int>(e.args.size()) : -1;
}

int STANDIN_CALL standinLogArgKind(int entry, int arg) {
    standin::LogEntry e;
    const standin::Argument* a = ArgumentAt(entry, arg, e);
    return a ? a->kind : 0;
}

int STANDIN_CALL standinLogArgIsNull(int entry, int arg) {
    standin::LogEntry e;
    const standin::Argument* a = ArgumentAt(entry, arg, e);
    return a && a->is_null ? 1 : 0;
}

int STANDIN_CALL standinLogArgBytes(int entry, int arg, unsigned char* buf, int bufSize) {
    standin::LogEntry e;
    const standin::Argument* a = ArgumentAt(entry, arg, e);
    if (!a) return -1;
    if (buf && bufSize > 0) std::memcpy(buf, a->bytes.data(), std::min<std::size_t>(a->bytes.size(), bufSize));
    return static_cast<int>(a->bytes.size());
}

unsigned long long STANDIN_CALL standinLogArgValue(int entry, int arg) {
    standin::LogEntry e;
    const standin::Argument* a = ArgumentAt(entry, arg, e);
    if (!a) return 0;
    unsigned long long value = 0;
    for (std::size_t i = 0; i < a->bytes.size() && i < 8; ++i) value |= static_cast<unsigned long long>(a->bytes[i]) << (8 * i);
    return value;
}

int STANDIN_CALL standinLogArgText(int entry, int arg, wchar_t* buf, int bufSize) {
    standin::LogEntry e;
    const standin::Argument* a = ArgumentAt(entry, arg, e);
    if (!a || (a->kind != 'w' && a->kind != 'a')) return -1;
    std::wstring text;
    if (a->kind == 'w') {
        for (std::size_t i = 0; i + 1 < a->bytes.size(); i += 2)
            text.push_back(static_cast<wchar_t>(a->bytes[i] | (a->bytes[i + 1] << 8)));
    } else if (!a->bytes.empty()) {
        const char* bytes = reinterpret_cast<const char*>(a->bytes.data());
        int size = static_cast<int>(a->bytes.size());
        UINT page = CP_UTF8;
        int n = MultiByteToWideChar(page, MB_ERR_INVALID_CHARS, bytes, size, nullptr, 0);
        if (n <= 0) {
            page = CP_ACP;
            n = MultiByteToWideChar(page, 0, bytes, size, nullptr, 0);
        }
        text.resize(n > 0 ? n : 0);
        if (n > 0) MultiByteToWideChar(page, page == CP_UTF8 ? MB_ERR_INVALID_CHARS : 0, bytes, size, &text[0], n);
    }
    return CopyOut(text, buf, bufSize);
}

int STANDIN_CALL standinLogLine(int entry, char* buf, int bufSize) {
    standin::LogEntry e;
    if (!standin::LogEntryAt(entry, e)) return -1;
    return CopyOut(standin::FormatLine(e), buf, bufSize);
}

int STANDIN_CALL standinSetResult(const char* exportName, unsigned long long value, int mode) {
    int index = exportName ? standin::ExportIndex(exportName) : -1;
    if (index < 0) return 0;
    standin::SetResultOverride(index, value, mode == STANDIN_RESULT_ALWAYS);
    return 1;
}

void STANDIN_CALL standinClearResults(void) { standin::ClearResultOverrides(); }

}  // extern "C"
