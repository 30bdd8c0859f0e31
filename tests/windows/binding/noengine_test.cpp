// MiniblinkAPI where no engine can be found: every method gives its neutral result, the missing engine
// file is reported at each creation until it has been found once. This program lives in a folder of its
// own without node.dll; its argument is the stand-in engine's path, which the last test copies in.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "webview/api/miniblink_api.h"
#include "webview/api/wke.h"

namespace {

std::wstring g_standin;  // where the stand-in engine is built
int g_notices = 0;
void CountNotice() { ++g_notices; }

std::wstring OwnFolder() {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path);
    return folder.substr(0, folder.find_last_of(L'\\'));
}

// The installation's registration script puts an engine beside the control library in the system
// folder, where the standard search would find it; while this suite runs, that copy is moved aside.
std::wstring SystemEngine() {
    wchar_t folder[MAX_PATH] = {};
    GetSystemDirectoryW(folder, MAX_PATH);
    return std::wstring(folder) + L"\\node.dll";
}
std::wstring SystemEngineAside() { return SystemEngine() + L".aside-for-test"; }

class NoEngine : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        velview::wke::SetMissingEngineNotice(CountNotice);
        DeleteFileW((OwnFolder() + L"\\node.dll").c_str());  // left over by an interrupted run
        if (GetFileAttributesW(SystemEngine().c_str()) != INVALID_FILE_ATTRIBUTES)
            movedAside_ = MoveFileExW(SystemEngine().c_str(), SystemEngineAside().c_str(), MOVEFILE_REPLACE_EXISTING);
    }
    static void TearDownTestSuite() {
        if (movedAside_) MoveFileExW(SystemEngineAside().c_str(), SystemEngine().c_str(), MOVEFILE_REPLACE_EXISTING);
    }
    static inline bool movedAside_ = false;
    _MiniblinkAPI* Create() {
        _MiniblinkAPI* api = nullptr;
        EXPECT_EQ(velview::api::CreateMiniblinkAPI(&api), S_OK);
        return api;
    }
};

TEST_F(NoEngine, MethodsGiveZeroFalseAndEmptyText) {
    ASSERT_EQ(GetModuleHandleW(L"node.dll"), nullptr);
    _MiniblinkAPI* api = Create();
    ASSERT_NE(api, nullptr);
    VARIANT_BOOL complete = VARIANT_TRUE;
    EXPECT_EQ(api->wkeIsLoadComplete(1, &complete), S_OK);
    EXPECT_EQ(complete, VARIANT_FALSE);
    BSTR stale = SysAllocString(L"stale");
    BSTR url = stale;
    EXPECT_EQ(api->wkeGetURL(1, &url), S_OK);  // an [out] value is overwritten, not freed
    EXPECT_EQ(SysStringLen(url), 0u);
    SysFreeString(url);
    SysFreeString(stale);
    long window = 7;
    EXPECT_EQ(api->wkeCreateWebWindow(2, 0, 0, 0, 100, 100, &window), S_OK);
    EXPECT_EQ(window, 0);
    CY value;
    value.int64 = -1;
    EXPECT_EQ(api->jsArg(1, 0, &value), S_OK);
    EXPECT_EQ(value.int64, 0);
    double zoom = 3.0;
    EXPECT_EQ(api->wkeGetZoomFactor(1, &zoom), S_OK);
    EXPECT_EQ(zoom, 0.0);
    EXPECT_EQ(api->wkeLoadW(1, nullptr), S_OK);
    EXPECT_EQ(api->wkeGetURL(1, nullptr), E_POINTER);
    EXPECT_EQ(GetModuleHandleW(L"node.dll"), nullptr);
    api->Release();
}

// A host whose current directory holds a file named node.dll (a download folder, a network share) must not
// run it: while the library's own folder has no engine, only the safe default folders are searched.
TEST_F(NoEngine, APlantedEngineInTheCurrentDirectoryIsNotLoaded) {
    ASSERT_FALSE(g_standin.empty()) << "pass the stand-in engine's path";
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    const std::wstring planted = std::wstring(temp) + L"velview-planted";
    CreateDirectoryW(planted.c_str(), nullptr);
    ASSERT_TRUE(CopyFileW(g_standin.c_str(), (planted + L"\\node.dll").c_str(), FALSE)) << GetLastError();
    wchar_t previous[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, previous);
    ASSERT_TRUE(SetCurrentDirectoryW(planted.c_str()));
    _MiniblinkAPI* api = Create();
    long view = 7;
    EXPECT_EQ(api->wkeCreateWebView(&view), S_OK);
    SetCurrentDirectoryW(previous);
    EXPECT_EQ(view, 0);
    EXPECT_EQ(GetModuleHandleW(L"node.dll"), nullptr) << "the planted node.dll was loaded";
    api->Release();
    DeleteFileW((planted + L"\\node.dll").c_str());
    RemoveDirectoryW(planted.c_str());
}

TEST_F(NoEngine, MissingEngineFileIsReportedAtEachCreationUntilFoundOnce) {
    ASSERT_FALSE(g_standin.empty()) << "pass the stand-in engine's path";
    const std::wstring here = OwnFolder() + L"\\node.dll";
    g_notices = 0;
    _MiniblinkAPI* first = Create();
    _MiniblinkAPI* second = Create();
    EXPECT_EQ(g_notices, 2);
    EXPECT_FALSE(velview::wke::EnginePresent());
    EXPECT_EQ(velview::wke::EngineLibraryName(), L"node.dll");
    // The file appears: no notice, and none later even when it is gone again.
    ASSERT_TRUE(CopyFileW(g_standin.c_str(), here.c_str(), FALSE)) << GetLastError();
    _MiniblinkAPI* third = Create();
    EXPECT_EQ(g_notices, 2);
    EXPECT_TRUE(velview::wke::EnginePresent());
    ASSERT_TRUE(DeleteFileW(here.c_str()));
    _MiniblinkAPI* fourth = Create();
    EXPECT_EQ(g_notices, 2);
    for (_MiniblinkAPI* api : {first, second, third, fourth}) api->Release();
}

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (argc > 1) {
        // A Linux path of the build tree, as Wine shows it on drive Z:.
        std::string path = argv[1];
        if (!path.empty() && path[0] == '/') path = "Z:" + path;
        for (char& c : path)
            if (c == '/') c = '\\';
        g_standin.assign(path.begin(), path.end());
    }
    return RUN_ALL_TESTS();
}
