#include "launcher/app/registration.h"

#include <windows.h>

#include "common/update_flow/update_flow.h"
#include "launcher/services/services.h"
#include "win/process.h"

namespace vantorix::launcher {

std::wstring ControlFilePath() {
    constexpr int kSystemRoot = 279;
    return update_flow::ControlFileIn(services::SpecialPath(kSystemRoot), services::IsWow64());
}

bool Registration::ControlFileExists() const {
    DWORD attributes = GetFileAttributesW(ControlFilePath().c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

namespace {
constexpr unsigned long long kScriptPatienceMs = 60000;
}

void Registration::Start() {
    script_ = win::StartProgramTracked(installation_.Path(update_flow::kScriptPath), {}, SW_HIDE,
                                       installation_.Path(L"\\Build"));
    started_ms_ = GetTickCount64();
}

bool Registration::Running() const {
    return script_ && WaitForSingleObject(script_.get(), 0) == WAIT_TIMEOUT &&
           GetTickCount64() - started_ms_ < kScriptPatienceMs;
}

}  // namespace vantorix::launcher
