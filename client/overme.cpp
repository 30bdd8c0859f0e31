#include "client/overme.h"

#include <windows.h>

#include "win/diagnostic_log.h"

namespace vantorix::client::overme {
namespace {
Parts g_parts;
bool g_in_progress = false;

void Run(const std::function<void()>& step) {
    if (!step) return;
    try {
        step();
    } catch (...) {
        // The process ends below whatever a step did; the log keeps that one failed.
        win::diag::Record(L"overme", L"a shutdown step failed");
    }
}
}  // namespace

void SetParts(Parts parts) { g_parts = std::move(parts); }

bool InProgress() { return g_in_progress; }

void Shutdown() {
    if (!g_in_progress) {
        g_in_progress = true;
        Run(g_parts.hide_tray);
        Run(g_parts.close_main_form);
        Run(g_parts.close_menu_form);
        Run(g_parts.close_picker);
    }
    ExitProcess(0);
}

}  // namespace vantorix::client::overme
