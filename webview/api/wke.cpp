#include "webview/api/wke.h"

#include <windows.h>

#include "webview/com/module.h"
#include "win/file_exists.h"
#include "win/module_path.h"

namespace velview::wke {
namespace {

std::wstring g_engineName;
bool g_enginePresent = false;

void ShowMissingEngineMessage() {
    MessageBoxW(nullptr, L"node.dll 不存在", L"Velview_G_201", MB_OK | MB_SYSTEMMODAL);
}

MissingEngineNotice g_notice = ShowMissingEngineMessage;

std::wstring LibraryFolder() { return vantorix::win::ModuleFolder(module::Instance()); }


}  // namespace

const std::wstring& EngineLibraryName() { return g_engineName; }
bool EnginePresent() { return g_enginePresent; }

void CheckEngineFile() {
    if (g_enginePresent) return;
    std::wstring path = LibraryFolder();
    if (path.empty() || path.back() != L'\\') path += L'\\';
    path += L"node.dll";
    g_engineName = L"node.dll";
    if (vantorix::win::FileExists(path)) {
        g_engineName = path;  // the file the check found is the one that runs, whatever the search would find
        g_enginePresent = true;
    } else {
        g_notice();
    }
}

void SetMissingEngineNotice(MissingEngineNotice notice) { g_notice = notice ? notice : ShowMissingEngineMessage; }

}  // namespace velview::wke
