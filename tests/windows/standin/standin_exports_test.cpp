// The engine's export list, and what the call log records of each argument convention.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <sstream>

#include "tests/windows/standin/standin_test_support.h"

using namespace standin_test;

namespace {

// The engine's 333 export names, written out here independently of the table the DLL is built from.
const char kEngineNames[] =
    "jsAddRef jsArg jsArgCount jsArgType jsArrayBuffer jsBindFunction jsBindGetter jsBindSetter jsBoolean jsCall jsCallGlobal jsDeleteObjectProp jsDouble jsEmptyArray jsEmptyObject jsEval jsEvalExW jsEvalW jsFalse jsFloat jsFunction jsGC jsGet jsGetArrayBuffer jsGetAt jsGetCallstack jsGetData jsGetGlobal jsGetKeys jsGetLastErrorIfException jsGetLength jsGetWebView jsGlobalObject jsInt jsIsArray jsIsBoolean jsIsFalse jsIsFunction jsIsJsValueValid jsIsNull jsIsNumber jsIsObject jsIsString jsIsTrue jsIsUndefined jsIsValidExecState jsNull jsObject jsReleaseRef jsSet jsSetAt jsSetGlobal jsSetLength jsString jsStringW jsThrowException jsToBoolean jsToDouble jsToFloat jsToInt jsToString jsToStringW jsToTempString jsToTempStringW jsToV8Value jsTrue jsTypeOf jsUndefined wkeAddDirtyArea wkeAddNpapiPlugin wkeAddPluginDirectory wkeAwaken wkeCanGoBack wkeCanGoForward wkeConfigure wkeContentsHeight wkeContentsWidth wkeContextMenuEvent wkeCookieEnabled wkeCopy wkeCreateMemBuf wkeCreateString wkeCreateStringW wkeCreateWebView wkeCreateWebWindow wkeCut wkeDelete wkeDeleteString wkeDestroyWebView wkeDestroyWebWindow wkeDragTargetDragEnter wkeDragTargetDragLeave wkeDragTargetDragOver wkeDragTargetDrop wkeDragTargetEnd wkeEditorCopy wkeEditorCut wkeEditorDelete wkeEditorPaste wkeEditorRedo wkeEditorSelectAll wkeEditorUndo wkeEditorUnSelect wkeEnableWindow wkeFinalize wkeFireContextMenuEvent wkeFireKeyDownEvent wkeFireKeyPressEvent wkeFireKeyUpEvent wkeFireMouseEvent wkeFireMouseWheelEvent wkeFireWindowsMessage wkeFocus wkeFreeMemBuf wkeGC wkeGetBlinkMainThreadIsolate wkeGetCaret wkeGetCaretRect wkeGetClientHandler wkeGetContentHeight wkeGetContentWidth wkeGetCookie wkeGetCookieW wkeGetCursorInfoType wkeGetDocumentCompleteURL wkeGetFrameUrl wkeGetGlobalExecByFrame wkeGetHeight wkeGetHostHWND wkeGetMediaVolume wkeGetName wkeGetSource wkeGetString wkeGetStringW wkeGetTempCallbackInfo wkeGetTitle wkeGetTitleW wkeGetURL wkeGetUserAgent wkeGetUserKeyValue wkeGetVersion wkeGetVersionString wkeGetViewDC wkeGetWebViewByNData wkeGetWebViewForCurrentContext wkeGetWebviewId wkeGetWidth wkeGetWindowHandle wkeGetZoomFactor wkeGlobalExec wkeGoBack wkeGoForward wkeGoToIndex wkeGoToOffset wkeHeight wkeInit wkeInitialize wkeInitializeEx wkeInsertCSSByFrame wkeIsAwake wkeIsCookieEnabled wkeIsDirty wkeIsDocumentReady wkeIsInitialize wkeIsLoadComplete wkeIsLoaded wkeIsLoadFailed wkeIsLoading wkeIsLoadingCompleted wkeIsLoadingFailed wkeIsLoadingSucceeded wkeIsMainFrame wkeIsProcessingUserGesture wkeIsTransparent wkeIsWebRemoteFrame wkeIsWebviewAlive wkeJsBindFunction wkeJsBindGetter wkeJsBindSetter wkeKeyDown wkeKeyPress wkeKeyUp wkeKillFocus wkeLayoutIfNeeded wkeLoadFile wkeLoadFileW wkeLoadHTML wkeLoadHTMLW wkeLoadHtmlWithBaseUrl wkeLoadURL wkeLoadURLW wkeLoadW wkeMediaVolume wkeMouseEvent wkeMouseWheel wkeMoveToCenter wkeMoveWindow wkeNetAddHTTPHeaderFieldToUrlRequest wkeNetCancelRequest wkeNetCancelWebUrlRequest wkeNetChangeRequestUrl wkeNetContinueJob wkeNetCreatePostBodyElement wkeNetCreatePostBodyElements wkeNetCreateWebUrlRequest wkeNetFreePostBodyElement wkeNetFreePostBodyElements wkeNetGetExpectedContentLength wkeNetGetFavicon wkeNetGetHTTPHeaderField wkeNetGetHttpStatusCode wkeNetGetMIMEType wkeNetGetPostBody wkeNetGetRequestMethod wkeNetGetResponseUrl wkeNetGetUrlByJob wkeNetHoldJobToAsynCommit wkeNetHookRequest wkeNetOnResponse wkeNetSetData wkeNetSetHTTPHeaderField wkeNetSetMIMEType wkeNetStartUrlRequest wkeNodeOnCreateProcess wkeOnAlertBox wkeOnConfirmBox wkeOnConsole wkeOnCreateView wkeOnDidCreateScriptContext wkeOnDocumentReady wkeOnDocumentReady2 wkeOnDownload wkeOnDraggableRegionsChanged wkeOnLoadingFinish wkeOnLoadUrlBegin wkeOnLoadUrlEnd wkeOnMouseOverUrlChanged wkeOnNavigation wkeOnOtherLoad wkeOnPaintBitUpdated wkeOnPaintUpdated wkeOnPluginFind wkeOnPromptBox wkeOnStartDragging wkeOnTitleChanged wkeOnURLChanged wkeOnURLChanged2 wkeOnWillMediaLoad wkeOnWillReleaseScriptContext wkeOnWindowClosing wkeOnWindowDestroy wkePaint wkePaint2 wkePaste wkePerformCookieCommand wkePostURL wkePostURLW wkeRegisterEmbedderCustomElement wkeReload wkeRepaintIfNeeded wkeResize wkeResizeWindow wkeRunJS wkeRunJsByFrame wkeRunJSW wkeSelectAll wkeSetClientHandler wkeSetCookie wkeSetCookieEnabled wkeSetCookieJarFullPath wkeSetCookieJarPath wkeSetCspCheckEnable wkeSetDebugConfig wkeSetDeviceParameter wkeSetDirty wkeSetDragDropEnable wkeSetDragEnable wkeSetDragFiles wkeSetEditable wkeSetFileSystem wkeSetFocus wkeSetHandle wkeSetHandleOffset wkeSetHeadlessEnabled wkeSetLanguage wkeSetLocalStorageFullPath wkeSetMediaPlayerFactory wkeSetMediaVolume wkeSetMemoryCacheEnable wkeSetMouseEnabled wkeSetName wkeSetNavigationToNewWindowEnable wkeSetNpapiPluginsEnabled wkeSetProxy wkeSetResourceGc wkeSetString wkeSetStringW wkeSetTouchEnabled wkeSetTransparent wkeSetUIThreadCallback wkeSetUserAgent wkeSetUserAgentW wkeSetUserKeyValue wkeSetViewNetInterface wkeSetViewProxy wkeSetViewSettings wkeSetWebViewName wkeSetWindowTitle wkeSetWindowTitleW wkeSetZoomFactor wkeShowDevtools wkeShowWindow wkeShutdown wkeSleep wkeStopLoading wkeTitle wkeTitleW wkeToString wkeToStringW wkeUnfocus wkeUpdate wkeUtilDecodeURLEscape wkeUtilSerializeToMHTML wkeUtilSetUiCallback wkeVersion wkeVersionString wkeVisitAllCookie wkeWake wkeWebFrameGetMainFrame wkeWebFrameGetMainWorldScriptContext wkeWebViewName wkeWidth wkeZoomFactor ";

std::set<std::string> DllExportNames() {
    std::set<std::string> names;
    auto* base = reinterpret_cast<const unsigned char*>(GetModuleHandleW(L"node.dll"));
    auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const auto& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    auto* exports = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + dir.VirtualAddress);
    auto* name_rvas = reinterpret_cast<const DWORD*>(base + exports->AddressOfNames);
    for (DWORD i = 0; i < exports->NumberOfNames; ++i) names.insert(reinterpret_cast<const char*>(base + name_rvas[i]));
    return names;
}

}  // namespace

TEST(StandinExports, TheDllExportsExactlyTheEngineNamesAndTheControlSurface) {
    std::istringstream in(kEngineNames);
    std::set<std::string> engine;
    for (std::string name; in >> name;) engine.insert(name);
    ASSERT_EQ(engine.size(), 333u);
    std::set<std::string> exported = DllExportNames();
    for (const std::string& name : engine) EXPECT_TRUE(exported.count(name)) << name << " is not exported";
    for (const std::string& name : exported)
        EXPECT_TRUE(engine.count(name) || name.compare(0, 7, "standin") == 0) << name << " is exported but not an engine name";
    EXPECT_TRUE(exported.count("standinLogCount"));
    EXPECT_TRUE(exported.count("standinFire"));
}

TEST(StandinExports, EveryExportIsCdeclAndLogsItsCallEvenWithoutBehaviour) {
    // A caller that pushes more than an export reads must find its stack intact afterwards (cdecl).
    standinLogClear();
    auto f = Fn<int(__cdecl*)(int, int, int, int)>("wkeAwaken");
    volatile int guard = 0x5A5A5A5A;
    for (int i = 0; i < 50; ++i) f(1, 2, 3, 4);
    EXPECT_EQ(guard, 0x5A5A5A5A);
    EXPECT_EQ(standinLogCount(), 50);
    EXPECT_EQ(LogLine(0), "wkeAwaken i=01000000");
    char name[64];
    EXPECT_EQ(standinLogName(0, name, sizeof name), 9);
    EXPECT_STREQ(name, "wkeAwaken");
}

TEST(StandinLog, EachArgumentIsRecordedAsTheEngineReadsIt) {
    standinLogClear();
    // A boolean is one byte: whatever the rest of its stack slot holds.
    Fn<void(__cdecl*)(int, std::uint32_t)>("wkeSetTouchEnabled")(0x1234, 0xABCDEF01u);
    Fn<void(__cdecl*)(int, std::uint32_t)>("wkeSetMouseEnabled")(0x1234, 0x00000100u);
    // A script value is 8 bytes, both halves as pushed.
    Fn<int(__cdecl*)(JsValue)>("jsTypeOf")(0x1122334455667788ull);
    // Text: UTF-16 for the W exports, bytes of the code page for the others; a null pointer as such.
    Fn<void(__cdecl*)(int, const wchar_t*)>("wkeLoadW")(7, L"a\u4E2D");
    Fn<void(__cdecl*)(int, const char*)>("wkeLoadURL")(7, "a\xD6\xD0");
    Fn<void(__cdecl*)(int, const wchar_t*)>("wkeLoadW")(7, nullptr);
    // A double is 8 bytes.
    Fn<void(__cdecl*)(int, double)>("wkeSetZoomFactor")(7, 1.5);
    struct Case {
        int entry;
        int arg;
        int kind;
        std::vector<unsigned char> bytes;
        bool is_null;
    } cases[] = {
        {0, 1, 'b', {0x01}, false},
        {1, 1, 'b', {0x00}, false},
        {2, 0, 'v', {0x88, 0x77, 0x66, 0x55, 0x44, 0x33, 0x22, 0x11}, false},
        {3, 1, 'w', {0x61, 0x00, 0x2D, 0x4E}, false},
        {4, 1, 'a', {0x61, 0xD6, 0xD0}, false},
        {5, 1, 'w', {}, true},
        {6, 1, 'd', {0, 0, 0, 0, 0, 0, 0xF8, 0x3F}, false},
        {0, 0, 'i', {0x34, 0x12, 0, 0}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(LogLine(c.entry));
        EXPECT_EQ(standinLogArgKind(c.entry, c.arg), c.kind);
        unsigned char buf[32] = {};
        int n = standinLogArgBytes(c.entry, c.arg, buf, sizeof buf);
        ASSERT_EQ(n, static_cast<int>(c.bytes.size()));
        EXPECT_EQ(std::vector<unsigned char>(buf, buf + n), c.bytes);
        EXPECT_EQ(standinLogArgIsNull(c.entry, c.arg), c.is_null ? 1 : 0);
    }
    EXPECT_EQ(standinLogArgValue(2, 0), 0x1122334455667788ull);
    wchar_t text[16];
    EXPECT_EQ(standinLogArgText(3, 1, text, 16), 2);
    EXPECT_STREQ(text, L"a\u4E2D");
    EXPECT_EQ(LogLine(0), "wkeSetTouchEnabled i=34120000 b=01");
    EXPECT_EQ(LogLine(3), "wkeLoadW i=07000000 w=61002d4e");
    EXPECT_EQ(LogLine(5), "wkeLoadW i=07000000 w=null");
}

TEST(StandinLog, BadQueriesGiveClearFailuresAndClearEmptiesTheLog) {
    standinLogClear();
    Fn<void(__cdecl*)(int)>("wkeStopLoading")(1);
    EXPECT_EQ(standinLogCount(), 1);
    EXPECT_EQ(standinLogName(5, nullptr, 0), -1);
    EXPECT_EQ(standinLogArgCount(5), -1);
    EXPECT_EQ(standinLogArgKind(0, 3), 0);
    EXPECT_EQ(standinLogArgBytes(0, 3, nullptr, 0), -1);
    EXPECT_EQ(standinLogArgText(0, 0, nullptr, 0), -1);  // an integer is not text
    EXPECT_EQ(standinLogFind("wkeStopLoading", 1), -1);
    EXPECT_EQ(standinLogFind(nullptr, 0), -1);
    char small[5];
    EXPECT_EQ(standinLogLine(0, small, sizeof small), static_cast<int>(std::strlen("wkeStopLoading i=01000000")));
    EXPECT_STREQ(small, "wkeS");  // cut to fit, terminated
    standinLogClear();
    EXPECT_EQ(standinLogCount(), 0);
    standinLogEnable(0);
    Fn<void(__cdecl*)(int)>("wkeStopLoading")(1);
    standinLogEnable(1);
    Fn<void(__cdecl*)(int)>("wkeStopLoading")(2);
    ASSERT_EQ(standinLogCount(), 1) << "a call made while logging is off is not kept";
    EXPECT_EQ(LogLine(0), "wkeStopLoading i=02000000");
}

TEST(StandinResults, AnOverrideReplacesTheResultOnceOrAlways) {
    auto is_ready = Fn<std::uint32_t(__cdecl*)(int)>("wkeIsDocumentReady");
    auto get_width = Fn<int(__cdecl*)(int)>("wkeGetWidth");
    auto js_int = Fn<JsValue(__cdecl*)(int)>("jsInt");
    auto zoom = Fn<double(__cdecl*)(int)>("wkeGetZoomFactor");
    ASSERT_EQ(standinSetResult("wkeIsDocumentReady", 2, STANDIN_RESULT_ONCE), 1);
    EXPECT_EQ(is_ready(0), 2u);  // the whole of EAX: a caller sees the byte 2
    EXPECT_EQ(is_ready(0), 0u);  // once only
    ASSERT_EQ(standinSetResult("wkeGetWidth", 640, STANDIN_RESULT_ALWAYS), 1);
    EXPECT_EQ(get_width(0), 640);
    EXPECT_EQ(get_width(0), 640);
    ASSERT_EQ(standinSetResult("jsInt", 0xFEDCBA9876543210ull, STANDIN_RESULT_ONCE), 1);
    EXPECT_EQ(js_int(1), 0xFEDCBA9876543210ull);  // EDX:EAX whole
    double half = 0.5;
    unsigned long long bits;
    std::memcpy(&bits, &half, 8);
    ASSERT_EQ(standinSetResult("wkeGetZoomFactor", bits, STANDIN_RESULT_ONCE), 1);
    EXPECT_EQ(zoom(0), 0.5);
    standinClearResults();
    EXPECT_EQ(get_width(0), 0);
    EXPECT_EQ(standinSetResult("wkeNoSuchExport", 1, STANDIN_RESULT_ONCE), 0);
    EXPECT_EQ(standinSetResult(nullptr, 1, STANDIN_RESULT_ONCE), 0);
}
