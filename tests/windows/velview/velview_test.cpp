// The web view control and object as a host sees them, driven through the shipped library and the
// stand-in engine. Each process is one engine life: the binding tests run in processes of their own
// (see CMakeLists.txt), since "jsCall" is bound once per process.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "standin.h"
#include "test_container.h"
#include "tests/windows/callbacks/thread_rules.h"
#include "tests/windows/support/fault_codes.h"
#include "win/diagnostic_log.h"

using namespace velview_test;
using callbacks_test::LastErrorText;

namespace {

constexpr HRESULT kViewNotStarted = MAKE_HRESULT(SEVERITY_ERROR, FACILITY_ITF, 0x0201);
const RECT kRect{10, 20, 410, 320};  // 400 x 300

struct Bstr {
    BSTR b;
    explicit Bstr(const wchar_t* text) : b(SysAllocString(text)) {}
    Bstr() : b(nullptr) {}
    ~Bstr() { SysFreeString(b); }
    std::wstring str() const { return b ? std::wstring(b, SysStringLen(b)) : std::wstring(); }
};

long ViewOf(_Velview* control) {
    long view = 0;
    control->GetWebWindow(&view);
    return view;
}

HWND WindowOf(IUnknown* control) {
    IOleInPlaceObject* inPlace = nullptr;
    HWND window = nullptr;
    if (SUCCEEDED(control->QueryInterface(IID_IOleInPlaceObject, reinterpret_cast<void**>(&inPlace)))) {
        inPlace->GetWindow(&window);
        inPlace->Release();
    }
    return window;
}

// Runs an OLE verb on the control with its own client site, as its container does.
HRESULT Verb(_Velview* control, LONG verb, HWND window) {
    IOleObject* ole = nullptr;
    control->QueryInterface(IID_IOleObject, reinterpret_cast<void**>(&ole));
    IOleClientSite* site = nullptr;
    ole->GetClientSite(&site);
    const HRESULT hr = ole->DoVerb(verb, nullptr, site, 0, window, &kRect);
    if (site) site->Release();
    ole->Release();
    return hr;
}

class ViewTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(OleInitialize(nullptr), S_OK);
        ASSERT_TRUE(engine().ok()) << "node.dll with its test surface next to the test";
        engine().standinLogClear();
    }
    void TearDown() override { OleUninitialize(); }
    static const Standin& engine() { return Standin::Get(); }

    // A control with a connected recording sink.
    _Velview* PlaceWithSink(Form& form, EventSink*& sink, const RECT& rect = kRect, std::optional<bool> userMode = true,
                            std::optional<bool> parentRunMode = std::nullopt, bool activate = true) {
        _Velview* control = form.Place(rect, userMode, parentRunMode, activate);
        sink = new EventSink(DIID___Velview);
        EXPECT_NE(Connect(control, DIID___Velview, sink), 0u);
        return control;
    }

    unsigned Fire(long view, const char* registration, StandinFireArgs* args = nullptr) {
        StandinFireArgs none{};
        unsigned result = 0xDEADBEEF;
        EXPECT_EQ(engine().standinFire(view, registration, args ? args : &none, &result), 1) << registration;
        return result;
    }
    bool PageCall(long view, const wchar_t* first, const wchar_t* second) {
        const wchar_t* args[2] = {first, second};
        unsigned long long result = 1;
        int called = engine().standinCallBoundStrings("jsCall", view, args, 2, &result);
        EXPECT_EQ(result, 0u) << "the dispatcher hands the page the script value 0";
        return called == 1;
    }
};

// ---- design mode, run mode ------------------------------------------------------------------------------------

TEST_F(ViewTest, DesignModeShowsOnlyTheBackgroundAndTouchesNoEngine) {
    Form form;
    EventSink* sink = nullptr;
    _Velview* control = PlaceWithSink(form, sink, kRect, false);
    ASSERT_NE(control, nullptr);
    EXPECT_NE(WindowOf(control), nullptr) << "in-place activation makes the control's own window";
    Form::Move(control, RECT{0, 0, 200, 100});
    Bstr url(L"http://example.test/"), html(L"<p>x</p>");
    EXPECT_EQ(control->LoadURL(url.b), S_OK);
    EXPECT_EQ(control->LoadHtml(html.b), S_OK);
    VARIANT_BOOL runMode = VARIANT_TRUE;
    EXPECT_EQ(control->get_RunMode(&runMode), S_OK);
    EXPECT_EQ(runMode, VARIANT_FALSE);
    EXPECT_EQ(ViewOf(control), 0);
    Bstr agent;
    EXPECT_EQ(control->get_userAgent(&agent.b), S_OK);
    EXPECT_EQ(agent.str(), L"");
    EXPECT_EQ(engine().standinLogCount(), 0) << "no engine call in design mode";
    control->Release();
    sink->Release();
}

TEST_F(ViewTest, EngineMembersBeforeStartupFailWithAClearErrorAndNoEngineCall) {
    Form form;
    _Velview* control = form.Place(kRect, false);
    Bstr js(L"1+1"), text;
    long es = 7;
    VARIANT_BOOL b = VARIANT_TRUE;
    EXPECT_EQ(control->RunJs(js.b, &text.b), kViewNotStarted);
    EXPECT_EQ(control->GetEs(&es), kViewNotStarted);
    EXPECT_EQ(es, 0);
    EXPECT_EQ(control->IsLoadComplete(&b), kViewNotStarted);
    EXPECT_EQ(control->IsDocumentReady(&b), kViewNotStarted);
    EXPECT_EQ(control->SendMouseEvent(0x201, 1, 1, 0, &b), kViewNotStarted);
    EXPECT_EQ(control->SendMouseWheelEvent(1, 1, 120, 0, &b), kViewNotStarted);
    EXPECT_EQ(b, VARIANT_FALSE);
    EXPECT_EQ(control->NetHookRequest(), S_OK) << "outside a load-begin event it does nothing";

    // Late-bound: the automation caller gets the error with its description.
    DISPID id = 0;
    LPOLESTR name = const_cast<LPOLESTR>(L"GetEs");
    ASSERT_EQ(control->GetIDsOfNames(IID_NULL, &name, 1, 0, &id), S_OK);
    EXPECT_EQ(id, 0x6003000b);
    DISPPARAMS none{};
    VARIANT result;
    VariantInit(&result);
    EXCEPINFO info{};
    EXPECT_EQ(control->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &none, &result, &info, nullptr), DISP_E_EXCEPTION);
    EXPECT_EQ(info.scode, kViewNotStarted);
    EXPECT_NE(info.bstrDescription, nullptr);
    SysFreeString(info.bstrDescription);
    SysFreeString(info.bstrSource);
    SysFreeString(info.bstrHelpFile);
    EXPECT_EQ(engine().standinLogCount(), 0);
    control->Release();
}

// Each failure leaves its own text: after a not-started failure that nobody read, a null result pointer
// reports itself, not the earlier failure.
TEST_F(ViewTest, TwoDifferentFailuresEachReportTheirOwnText) {
    Form form;
    _Velview* control = form.Place(kRect, false);
    long es = 0;
    EXPECT_EQ(control->GetEs(&es), kViewNotStarted);
    EXPECT_EQ(control->GetEs(nullptr), E_POINTER);
    EXPECT_NE(LastErrorText().find(L"null pointer"), std::wstring::npos);
    EXPECT_EQ(control->GetEs(&es), kViewNotStarted);
    EXPECT_NE(LastErrorText().find(L"not started"), std::wstring::npos);
    VARIANT_BOOL runMode;
    EXPECT_EQ(control->GetEs(&es), kViewNotStarted);
    EXPECT_EQ(control->get_RunMode(nullptr), E_POINTER);
    EXPECT_NE(LastErrorText().find(L"null pointer"), std::wstring::npos);
    EXPECT_EQ(control->get_RunMode(&runMode), S_OK);
    control->Release();
}

TEST_F(ViewTest, RunModeComesFromTheAmbientFlagUnlessTheEnclosingObjectHasOne) {
    struct Case {
        std::optional<bool> ambient;
        std::optional<bool> parentRunMode;
        bool runs;
    } cases[] = {
        {false, true, true},                 // a designing form inside a running object runs
        {true, false, false},                // a running form inside a designing object does not
        {true, std::nullopt, true},          // no extender: the ambient flag decides
        {false, std::nullopt, false},
        {std::nullopt, std::nullopt, true},  // a site without ambient properties runs its controls
    };
    Form form;
    int top = 0;
    for (const Case& c : cases) {
        _Velview* control = form.Place(RECT{0, top, 100, top + 50}, c.ambient, c.parentRunMode);
        top += 50;
        VARIANT_BOOL runMode = 0;
        control->get_RunMode(&runMode);
        EXPECT_EQ(runMode, c.runs ? VARIANT_TRUE : VARIANT_FALSE) << "case " << (&c - cases);
        EXPECT_EQ(ViewOf(control) != 0, c.runs) << "case " << (&c - cases);
        control->Release();
    }
}

TEST_F(ViewTest, AVisibleControlStartsWhenItsContainerSwitchesToRunMode) {
    Form form;
    _Velview* control = form.Place(kRect, false);
    EXPECT_EQ(ViewOf(control), 0);
    form.SwitchUserMode(control, true);
    EXPECT_NE(ViewOf(control), 0);
    EXPECT_EQ(engine().Find("wkeCreateWebWindow").size(), 1u);
    form.SwitchUserMode(control, false);
    form.SwitchUserMode(control, true);
    EXPECT_EQ(engine().Find("wkeCreateWebWindow").size(), 1u) << "started once";
    control->Release();
}

// ---- startup ------------------------------------------------------------------------------------------------

TEST_F(ViewTest, StartupBuildsAChildViewFillingTheControlAndLoadsOnePendingContent) {
    struct Case {
        std::vector<std::pair<char, const wchar_t*>> calls;  // 'u' LoadURL, 'h' LoadHtml, 'f' LoadFile
        const char* loaded;
        const wchar_t* text;
    } cases[] = {
        {{{'h', L"<b>h</b>"}, {'u', L"http://u.test/"}}, "wkeLoadW", L"http://u.test/"},
        {{{'u', L"http://u.test/"}, {'h', L"<b>h</b>"}}, "wkeLoadW", L"http://u.test/"},
        {{{'f', L"C:\\page.html"}, {'h', L"<b>h</b>"}}, "wkeLoadHTMLW", L"<b>h</b>"},
        {{{'f', L"C:\\page.html"}}, "wkeLoadFileW", L"C:\\page.html"},
    };
    Form form;
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "case " << (&c - cases));
        _Velview* control = form.Place(kRect, true, std::nullopt, false);
        for (auto& call : c.calls) {
            Bstr arg(call.second);
            if (call.first == 'u') control->LoadURL(arg.b);
            if (call.first == 'h') control->LoadHtml(arg.b);
            if (call.first == 'f') control->LoadFile(arg.b);
        }
        engine().standinLogClear();
        ASSERT_EQ(Verb(control, OLEIVERB_INPLACEACTIVATE, form.window()), S_OK);

        std::vector<std::string> names = engine().Names();
        std::vector<std::string> expected = {"wkeInitializeEx", "wkeCreateWebWindow", "wkeShowWindow",
                                             "wkeOnDocumentReady", "wkeOnLoadUrlBegin", "wkeOnCreateView",
                                             "wkeOnLoadUrlEnd", c.loaded};
        names.erase(std::remove(names.begin(), names.end(), "wkeJsBindFunction"), names.end());
        EXPECT_EQ(names, expected);
        int create = engine().standinLogFind("wkeCreateWebWindow", 0);
        ASSERT_GE(create, 0);
        EXPECT_EQ(engine().standinLogArgValue(create, 0), 2u);
        EXPECT_EQ(engine().standinLogArgValue(create, 1), reinterpret_cast<uintptr_t>(WindowOf(control)));
        EXPECT_EQ(engine().standinLogArgValue(create, 2), 0u);
        EXPECT_EQ(engine().standinLogArgValue(create, 3), 0u);
        EXPECT_EQ(engine().standinLogArgValue(create, 4), 400u);
        EXPECT_EQ(engine().standinLogArgValue(create, 5), 300u);
        int load = engine().standinLogFind(c.loaded, 0);
        EXPECT_EQ(engine().Text(load, 1), c.text);
        long view = ViewOf(control);
        EXPECT_NE(view, 0);
        EXPECT_EQ(GetParent(reinterpret_cast<HWND>(static_cast<uintptr_t>(engine().standinViewWindow(view)))),
                  WindowOf(control));
        for (const char* kind : {"wkeOnDocumentReady", "wkeOnLoadUrlBegin", "wkeOnCreateView", "wkeOnLoadUrlEnd"}) {
            unsigned callback = 0, param = 1;
            EXPECT_EQ(engine().standinRegistration(view, kind, &callback, &param), 1) << kind;
            EXPECT_EQ(param, 0u) << kind;
        }
        control->Release();
    }
}

TEST_F(ViewTest, LoadFileAfterStartupLoadsAtOnceAndAnotherShowReloadsNothing) {
    Form form;
    _Velview* control = form.Place(kRect);
    engine().standinLogClear();
    Bstr file(L"C:\\later.html");
    control->LoadFile(file.b);
    EXPECT_EQ(engine().Names(), std::vector<std::string>{"wkeLoadFileW"});
    HWND window = WindowOf(control);
    ShowWindow(window, SW_HIDE);
    ShowWindow(window, SW_SHOW);
    EXPECT_EQ(engine().Names(), std::vector<std::string>{"wkeLoadFileW"});
    control->Release();
}

TEST_F(ViewTest, TouchSettingBeforeStartupIsLostAndMouseIsOnAfterIt) {
    Form form;
    _Velview* control = form.Place(kRect, true, std::nullopt, false);
    control->put_TouchEnabled(VARIANT_TRUE);
    control->put_MouseEnabled(VARIANT_FALSE);
    VARIANT_BOOL touch = VARIANT_TRUE, mouse = VARIANT_TRUE;
    control->get_TouchEnabled(&touch);
    control->get_MouseEnabled(&mouse);
    EXPECT_EQ(touch, VARIANT_FALSE);
    EXPECT_EQ(mouse, VARIANT_FALSE);
    Verb(control, OLEIVERB_SHOW, form.window());
    control->get_TouchEnabled(&touch);
    control->get_MouseEnabled(&mouse);
    EXPECT_EQ(touch, VARIANT_FALSE);
    EXPECT_EQ(mouse, VARIANT_TRUE);
    EXPECT_TRUE(engine().Find("wkeSetTouchEnabled").empty());

    control->put_TouchEnabled(VARIANT_TRUE);
    control->get_TouchEnabled(&touch);
    EXPECT_EQ(touch, VARIANT_TRUE);
    auto set = engine().Find("wkeSetTouchEnabled");
    ASSERT_EQ(set.size(), 1u);
    EXPECT_EQ(engine().standinLogArgValue(set[0], 0), static_cast<unsigned long long>(ViewOf(control)));
    EXPECT_EQ(engine().standinLogArgValue(set[0], 1), 1u);
    control->Release();
}

TEST_F(ViewTest, ResizeActsOnlyOnceTheViewExists) {
    Form form;
    _Velview* designing = form.Place(kRect, false);
    Form::Move(designing, RECT{0, 0, 120, 80});
    EXPECT_TRUE(engine().Find("wkeResize").empty());
    _Velview* running = form.Place(kRect);
    Form::Move(running, RECT{0, 0, 250, 150});
    auto resized = engine().Find("wkeResize");
    ASSERT_EQ(resized.size(), 1u);
    EXPECT_EQ(engine().standinLogArgValue(resized[0], 0), static_cast<unsigned long long>(ViewOf(running)));
    EXPECT_EQ(engine().standinLogArgValue(resized[0], 1), 250u);
    EXPECT_EQ(engine().standinLogArgValue(resized[0], 2), 150u);
    designing->Release();
    running->Release();
}

// ---- events ---------------------------------------------------------------------------------------------------

TEST_F(ViewTest, DocumentReadyAndLoadUrlBeginCarryTheViewsUrlAndTitle) {
    Form form;
    EventSink* sink = nullptr;
    _Velview* control = PlaceWithSink(form, sink);
    long view = ViewOf(control);
    Bstr url(L"http://ready.test/page");
    control->LoadURL(url.b);
    sink->events.clear();
    EXPECT_EQ(Fire(view, "wkeOnDocumentReady"), 0u);
    ASSERT_EQ(sink->events.size(), 1u);
    EXPECT_EQ(sink->events[0].id, 1);
    EXPECT_EQ(sink->events[0].texts, std::vector<std::wstring>{L"http://ready.test/page"});

    Bstr html(L"<html><head><title>Shown now</title></head><body>x</body></html>");
    control->LoadHtml(html.b);
    sink->events.clear();
    StandinFireArgs begin{};
    begin.url = L"http://next.test/a.js";
    EXPECT_EQ(Fire(view, "wkeOnLoadUrlBegin", &begin), 0u);
    ASSERT_EQ(sink->events.size(), 1u);
    EXPECT_EQ(sink->events[0].id, 2);
    // the title of the page now shown, then the requested address
    EXPECT_EQ(sink->events[0].texts, (std::vector<std::wstring>{L"Shown now", L"http://next.test/a.js"}));
    control->Release();
    sink->Release();
}

TEST_F(ViewTest, RunJsRunsInThePageAndReadsTheValueAsText) {
    Form form;
    _Velview* control = form.Place(kRect);
    engine().standinLogClear();
    Bstr js(L"1+1"), result;
    ASSERT_EQ(control->RunJs(js.b, &result.b), S_OK);
    std::vector<std::string> expected = {"wkeRunJSW", "wkeGlobalExec", "jsToTempStringW"};
    EXPECT_EQ(engine().Names(), expected);
    EXPECT_EQ(engine().Text(0, 1), L"1+1");
    control->Release();
}

TEST_F(ViewTest, TheControlDrawsItsBackgroundPersistsNothingAndNamesItsEvents) {
    Form form;
    _Velview* control = form.Place(kRect, false);
    IViewObject2* viewObject = nullptr;
    ASSERT_EQ(control->QueryInterface(IID_IViewObject2, reinterpret_cast<void**>(&viewObject)), S_OK);
    HDC screen = GetDC(nullptr);
    HDC dc = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, 20, 20);
    HGDIOBJ old = SelectObject(dc, bitmap);
    RECTL bounds{0, 0, 20, 20};
    EXPECT_EQ(viewObject->Draw(DVASPECT_CONTENT, -1, nullptr, nullptr, nullptr, dc, &bounds, nullptr, nullptr, 0), S_OK);
    EXPECT_EQ(GetPixel(dc, 10, 10), GetSysColor(COLOR_BTNFACE));
    SelectObject(dc, old);
    DeleteObject(bitmap);
    DeleteDC(dc);
    ReleaseDC(nullptr, screen);
    viewObject->Release();

    IPersistStreamInit* persist = nullptr;
    ASSERT_EQ(control->QueryInterface(IID_IPersistStreamInit, reinterpret_cast<void**>(&persist)), S_OK);
    IStream* stream = nullptr;
    ASSERT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, &stream), S_OK);
    EXPECT_EQ(persist->Save(stream, TRUE), S_OK);
    STATSTG stat{};
    stream->Stat(&stat, STATFLAG_NONAME);
    EXPECT_EQ(stat.cbSize.QuadPart, 0u) << "nothing is stored";
    EXPECT_EQ(persist->Load(stream), S_OK);
    stream->Release();
    persist->Release();
    IPersistPropertyBag* bag = nullptr;
    IPersistStorage* storage = nullptr;
    ASSERT_EQ(control->QueryInterface(IID_IPersistPropertyBag, reinterpret_cast<void**>(&bag)), S_OK);
    ASSERT_EQ(control->QueryInterface(IID_IPersistStorage, reinterpret_cast<void**>(&storage)), S_OK);
    ASSERT_EQ(control->QueryInterface(IID_IPersistStreamInit, reinterpret_cast<void**>(&persist)), S_OK);
    for (HRESULT hr : {persist->Load(nullptr), persist->Save(nullptr, TRUE), bag->Load(nullptr, nullptr),
                       bag->Save(nullptr, TRUE, TRUE), storage->InitNew(nullptr), storage->Load(nullptr),
                       storage->Save(nullptr, TRUE)})
        EXPECT_EQ(hr, E_POINTER) << "a missing stream, bag or storage";
    persist->Release();
    bag->Release();
    storage->Release();
    for (REFIID iid : {IID_IPersistPropertyBag, IID_IPersistStorage, IID_IOleControl, IID_IOleInPlaceActiveObject}) {
        IUnknown* other = nullptr;
        EXPECT_EQ(control->QueryInterface(iid, reinterpret_cast<void**>(&other)), S_OK);
        if (other) other->Release();
    }

    IProvideClassInfo2* classInfo = nullptr;
    ASSERT_EQ(control->QueryInterface(IID_IProvideClassInfo2, reinterpret_cast<void**>(&classInfo)), S_OK);
    GUID events{};
    EXPECT_EQ(classInfo->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, &events), S_OK);
    EXPECT_TRUE(IsEqualGUID(events, DIID___Velview));
    classInfo->Release();
    IOleObject* ole = nullptr;
    control->QueryInterface(IID_IOleObject, reinterpret_cast<void**>(&ole));
    DWORD status = 0;
    ole->GetMiscStatus(DVASPECT_CONTENT, &status);
    EXPECT_TRUE(status & OLEMISC_SETCLIENTSITEFIRST);
    EXPECT_TRUE(status & OLEMISC_ACTIVATEWHENVISIBLE);
    ole->Release();
    control->Release();
}

TEST_F(ViewTest, NetHookRequestHooksOnlyTheRequestOfTheRunningLoadUrlBegin) {
    Form form;
    EventSink* sink = nullptr;
    _Velview* control = PlaceWithSink(form, sink);
    long view = ViewOf(control);
    control->NetHookRequest();
    EXPECT_TRUE(engine().Find("wkeNetHookRequest").empty());
    sink->reaction = [control](DISPID id, DISPPARAMS*) {
        if (id == 2) control->NetHookRequest();
    };
    StandinFireArgs begin{};
    begin.url = L"http://hook.test/";
    Fire(view, "wkeOnLoadUrlBegin", &begin);
    EXPECT_EQ(engine().standinJobHooked(begin.jobUsed), 1);
    auto hooked = engine().Find("wkeNetHookRequest");
    ASSERT_EQ(hooked.size(), 1u);
    EXPECT_EQ(engine().standinLogArgValue(hooked[0], 0), static_cast<unsigned long long>(begin.jobUsed));
    sink->reaction = nullptr;
    control->NetHookRequest();
    EXPECT_EQ(engine().Find("wkeNetHookRequest").size(), 1u) << "after the event: no engine call";
    control->Release();
    sink->Release();
}

// The library's own log (its first record opens it), read from the end it had before (from its start when
// it has been rotated meanwhile).
const std::wstring kLibraryLog = vantorix::win::diag::PerUserLogPath(L"Velview_G_201.log");
std::string LibraryLogSince(std::streamoff from) {
    std::ifstream in(kLibraryLog.c_str(), std::ios::binary);
    const std::string all(std::istreambuf_iterator<char>(in), {});
    return static_cast<std::streamoff>(all.size()) >= from ? all.substr(static_cast<std::size_t>(from)) : all;
}
std::streamoff LibraryLogSize() {
    std::ifstream in(kLibraryLog.c_str(), std::ios::binary | std::ios::ate);
    return in ? static_cast<std::streamoff>(in.tellg()) : 0;
}

TEST_F(ViewTest, ALoadUrlBeginWhoseSinkFaultsLeavesNoRequestHookableAndIsRecorded) {
    const std::streamoff logged = LibraryLogSize();
    Form form;
    EventSink* sink = nullptr;
    _Velview* control = PlaceWithSink(form, sink);
    long view = ViewOf(control);
    sink->reaction = [](DISPID id, DISPPARAMS*) {
        if (id == 2) {
            // Reads the never-mapped address 4; through a volatile pointer, so the compiler keeps the read
            // and cannot judge it at build time.
            volatile long* volatile unmapped = reinterpret_cast<volatile long*>(4);
            static_cast<void>(*unmapped);
        }
    };
    StandinFireArgs begin{};
    begin.url = L"http://hook.test/fault";
    Fire(view, "wkeOnLoadUrlBegin", &begin);
    EXPECT_EQ(control->NetHookRequest(), S_OK);
    EXPECT_TRUE(engine().Find("wkeNetHookRequest").empty()) << "the faulted event's request is not hooked later";
    EXPECT_EQ(engine().standinJobHooked(begin.jobUsed), 0);
    const std::string recorded = LibraryLogSince(logged);
    char expected[96];
    std::snprintf(expected, sizeof expected, "event sink: the host's handler of event 2 faulted (code 0x%08X)",
                  static_cast<unsigned>(vantorix::wintest::CodeOfANullPageRead()));
    EXPECT_NE(recorded.find(expected), std::string::npos) << recorded;
    control->Release();
    sink->Release();
}

TEST_F(ViewTest, LoadUrlEndHandsTheExactResponseBytes) {
    Form form;
    EventSink* sink = nullptr;
    _Velview* control = PlaceWithSink(form, sink);
    long view = ViewOf(control);
    const unsigned char ten[10] = {0, 1, 2, 0, 4, 5, 6, 7, 8, 0};
    struct Case {
        const void* buffer;
        int length;
        std::vector<unsigned char> expected;
    } cases[] = {
        {ten, 10, std::vector<unsigned char>(ten, ten + 10)},
        {ten, 0, {}},
        {nullptr, 5, {}},
    };
    for (const Case& c : cases) {
        sink->events.clear();
        StandinFireArgs end{};
        end.url = L"http://end.test/data.bin";
        end.buffer = c.buffer;
        end.bufferLength = c.length;
        EXPECT_EQ(Fire(view, "wkeOnLoadUrlEnd", &end), 0u);
        ASSERT_EQ(sink->events.size(), 1u);
        const RecordedEvent& e = sink->events[0];
        EXPECT_EQ(e.id, 5);
        EXPECT_EQ(e.texts, std::vector<std::wstring>{L"http://end.test/data.bin"});
        EXPECT_TRUE(e.hasBytes);
        EXPECT_EQ(e.bytes, c.expected) << "case " << (&c - cases);
        if (!c.expected.empty()) {
            EXPECT_EQ(e.numbers, std::vector<long>{0}) << "indexed from 0";
        }
    }
    control->Release();
    sink->Release();
}

TEST_F(ViewTest, ShowNewViewHandsBackTheOwnViewUnlessTheHostChoosesAnother) {
    Form form;
    EventSink* sink = nullptr;
    _Velview* control = PlaceWithSink(form, sink, kRect);
    _Velview* other = form.Place(RECT{0, 0, 100, 100});
    long view = ViewOf(control), otherView = ViewOf(other);
    ASSERT_NE(otherView, view);
    StandinFireArgs create{};
    create.url = L"http://popup.test/";
    EXPECT_EQ(Fire(view, "wkeOnCreateView", &create), static_cast<unsigned>(view));
    ASSERT_EQ(sink->events.size(), 1u);
    EXPECT_EQ(sink->events[0].id, 4);
    EXPECT_EQ(sink->events[0].texts, std::vector<std::wstring>{L"http://popup.test/"});
    EXPECT_EQ(sink->events[0].numbers, std::vector<long>{0});
    sink->reaction = [otherView](DISPID id, DISPPARAMS* params) {
        if (id == 4) *params->rgvarg[0].plVal = otherView;  // rgvarg[0] is the last argument, ret
    };
    EXPECT_EQ(Fire(view, "wkeOnCreateView", &create), static_cast<unsigned>(otherView));
    control->Release();
    other->Release();
    sink->Release();
}

TEST_F(ViewTest, PageJsCallRaisesTheIndexByTheLeadingNumberRule) {
    Form form;
    EventSink* sink = nullptr;
    _Velview* control = PlaceWithSink(form, sink);
    long view = ViewOf(control);
    struct Case {
        const wchar_t* first;
        bool raised;
        long index;
    } cases[] = {
        {L"5", true, 5},   {L"7.5", true, 8},  {L"2.5", true, 2},      {L" 1 2", true, 12},
        {L"-3e2", true, -300}, {L"&H1F", true, 31}, {L"&O17", true, 15}, {L"abc", true, 0},
        {L"", true, 0},    {L"1e10", false, 0}, {L"-2147483649", false, 0},
    };
    for (const Case& c : cases) {
        sink->events.clear();
        EXPECT_TRUE(PageCall(view, c.first, L"abc"));
        ASSERT_EQ(sink->events.size(), c.raised ? 1u : 0u) << "case " << (&c - cases);
        if (!c.raised) continue;
        EXPECT_EQ(sink->events[0].id, 3);
        EXPECT_EQ(sink->events[0].numbers, std::vector<long>{c.index}) << "case " << (&c - cases);
        EXPECT_EQ(sink->events[0].texts, std::vector<std::wstring>{L"abc"});
    }
    control->Release();
    sink->Release();
}

TEST_F(ViewTest, EventsFrozenByTheContainerAreDroppedAndTheEngineStillGetsItsResult) {
    Form form;
    EventSink* sink = nullptr;
    _Velview* control = PlaceWithSink(form, sink);
    long view = ViewOf(control);
    IOleControl* ole = nullptr;
    ASSERT_EQ(control->QueryInterface(IID_IOleControl, reinterpret_cast<void**>(&ole)), S_OK);
    ole->FreezeEvents(TRUE);
    StandinFireArgs create{};
    create.url = L"http://frozen.test/";
    EXPECT_EQ(Fire(view, "wkeOnCreateView", &create), static_cast<unsigned>(view));
    EXPECT_TRUE(PageCall(view, L"1", L"frozen"));
    EXPECT_TRUE(sink->events.empty());
    ole->FreezeEvents(FALSE);
    EXPECT_TRUE(PageCall(view, L"2", L"thawed"));
    ASSERT_EQ(sink->events.size(), 1u);
    EXPECT_EQ(sink->events[0].numbers, std::vector<long>{2});
    ole->Release();
    control->Release();
    sink->Release();
}

// ---- destruction -----------------------------------------------------------------------------------------------

TEST_F(ViewTest, ADestroyedControlIsNotReachedByItsViewAnyMore) {
    Form form;
    EventSink* sink = nullptr;
    _Velview* control = PlaceWithSink(form, sink);
    long view = ViewOf(control);
    ASSERT_NE(view, 0);
    ASSERT_TRUE(PageCall(view, L"1", L"alive"));
    ASSERT_EQ(sink->events.size(), 1u);
    sink->events.clear();
    control->Release();
    form.Remove(control);

    StandinFireArgs args{};
    args.url = L"http://after.test/";
    const unsigned char bytes[3] = {1, 2, 3};
    args.buffer = bytes;
    args.bufferLength = 3;
    for (const char* kind : {"wkeOnDocumentReady", "wkeOnLoadUrlBegin", "wkeOnCreateView", "wkeOnLoadUrlEnd"})
        EXPECT_EQ(Fire(view, kind, &args), 0u) << kind << ": the neutral result";
    EXPECT_TRUE(PageCall(view, L"2", L"gone"));
    EXPECT_TRUE(sink->events.empty()) << "no event from a destroyed control";
    sink->Release();
}

// ---- deactivation ---------------------------------------------------------------------------------------------

// Containers deactivate and activate controls again (tab switches, re-created host windows, ATL): the view
// and its page come back in the new control window, and the engine is not started a second time.
TEST_F(ViewTest, AReactivatedControlShowsItsRunningViewAgain) {
    Form form;
    EventSink* sink = nullptr;
    _Velview* control = PlaceWithSink(form, sink);
    const long view = ViewOf(control);
    ASSERT_NE(view, 0);
    const HWND viewWindow = reinterpret_cast<HWND>(static_cast<uintptr_t>(engine().standinViewWindow(view)));
    IOleInPlaceObject* inPlace = nullptr;
    ASSERT_EQ(control->QueryInterface(IID_IOleInPlaceObject, reinterpret_cast<void**>(&inPlace)), S_OK);
    ASSERT_EQ(inPlace->InPlaceDeactivate(), S_OK);
    inPlace->Release();
    EXPECT_EQ(WindowOf(control), nullptr);
    ASSERT_TRUE(IsWindow(viewWindow)) << "deactivation destroyed the engine's window";

    engine().standinLogClear();
    ASSERT_EQ(Verb(control, OLEIVERB_INPLACEACTIVATE, form.window()), S_OK);
    PumpMessages();
    EXPECT_EQ(engine().standinLogFind("wkeInitializeEx", 0), -1) << "the engine was started again";
    EXPECT_EQ(engine().standinLogFind("wkeCreateWebWindow", 0), -1) << "the engine was started again";
    EXPECT_EQ(ViewOf(control), view);
    ASSERT_NE(WindowOf(control), nullptr);
    EXPECT_EQ(GetParent(viewWindow), WindowOf(control));
    EXPECT_TRUE(IsWindowVisible(viewWindow));

    // The page calls the host, takes a new address and paints.
    ASSERT_TRUE(PageCall(view, L"1", L"back"));
    ASSERT_EQ(sink->events.size(), 1u);
    Bstr url(L"http://again.test/");
    EXPECT_EQ(control->LoadURL(url.b), S_OK);
    const int load = engine().standinLogFind("wkeLoadW", 0);
    ASSERT_GE(load, 0);
    EXPECT_EQ(engine().standinLogArgValue(load, 0), static_cast<unsigned long long>(view));
    InvalidateRect(viewWindow, nullptr, FALSE);
    UpdateWindow(viewWindow);
    EXPECT_FALSE(GetUpdateRect(viewWindow, nullptr, FALSE)) << "the view did not repaint";
    control->Release();
    sink->Release();
}

// ---- keyboard -------------------------------------------------------------------------------------------------

// Keys typed into the page reach the engine's window in a container with dialog navigation, which would take
// Tab, Enter and the arrows for itself: UI activation names the control as the active object and puts the
// focus into the page, and the control hands the page its keys.
TEST_F(ViewTest, KeysTypedIntoThePageReachTheEngineView) {
    Form form;
    _Velview* control = form.Place(kRect);
    const long view = ViewOf(control);
    const HWND viewWindow = reinterpret_cast<HWND>(static_cast<uintptr_t>(engine().standinViewWindow(view)));
    ASSERT_EQ(Verb(control, OLEIVERB_UIACTIVATE, form.window()), S_OK);
    ASSERT_TRUE(form.HasActiveObject()) << "the container was not told the active object";
    EXPECT_EQ(GetFocus(), viewWindow);
    const std::vector<unsigned> typed = {VK_TAB, VK_RETURN, VK_LEFT, 'A'};
    for (unsigned key : typed) PostMessageW(viewWindow, WM_KEYDOWN, key, 1);
    form.PumpAsDialog();
    unsigned keys[8] = {};
    const int count = engine().standinViewKeys(view, keys, 8);
    ASSERT_GE(count, 0);
    EXPECT_EQ(std::vector<unsigned>(keys, keys + std::min(count, 8)), typed);
    control->Release();
}

// ---- threads and teardown ---------------------------------------------------------------------------------

// Each interface of the control answers only on its own thread: from another, every call is refused and
// nothing of it runs (no engine call, no deactivation).
template <class Itf>
Itf* Query(IUnknown* object) {
    Itf* itf = nullptr;
    object->QueryInterface(__uuidof(Itf), reinterpret_cast<void**>(&itf));
    return itf;
}

TEST_F(ViewTest, TheControlsInterfacesRefuseCallsFromAnotherThread) {
    Form form;
    _Velview* control = form.Place(kRect);
    auto* ole = Query<IOleObject>(control);
    auto* inPlace = Query<IOleInPlaceObject>(control);
    auto* active = Query<IOleInPlaceActiveObject>(control);
    auto* oleControl = Query<IOleControl>(control);
    auto* view = Query<IViewObject2>(control);
    auto* persist = Query<IPersistStreamInit>(control);
    const HWND window = WindowOf(control);
    Bstr url(L"http://elsewhere.test/");
    LPOLESTR name = const_cast<LPOLESTR>(L"LoadURL");
    DISPID id = 0;
    MSG key{};
    key.hwnd = window;
    key.message = WM_KEYDOWN;
    key.wParam = VK_TAB;
    const std::vector<std::function<HRESULT()>> calls = {
        [&] { return control->LoadURL(url.b); },
        [&] { return control->GetIDsOfNames(IID_NULL, &name, 1, 0, &id); },
        [&] { return ole->SetClientSite(nullptr); },
        [&] { return inPlace->InPlaceDeactivate(); },
        [&] { return active->TranslateAccelerator(&key); },
        [&] { return oleControl->FreezeEvents(TRUE); },
        [&] { return view->SetAdvise(DVASPECT_CONTENT, 0, nullptr); },
        [&] { return persist->InitNew(); },
    };
    std::vector<HRESULT> results;
    engine().standinLogClear();
    ASSERT_TRUE(callbacks_test::OnOtherThread([&] {
        for (const auto& call : calls) results.push_back(call());
    }));
    for (std::size_t i = 0; i < results.size(); ++i) EXPECT_EQ(results[i], RPC_E_WRONG_THREAD) << "call " << i;
    EXPECT_EQ(engine().standinLogCount(), 0);
    EXPECT_EQ(WindowOf(control), window) << "the control was deactivated from another thread";
    EXPECT_EQ(inPlace->InPlaceDeactivate(), S_OK) << "its own thread is served";
    for (IUnknown* itf : std::initializer_list<IUnknown*>{ole, inPlace, active, oleControl, view, persist})
        itf->Release();
    control->Release();
}

// A container that follows the OLE rules tears the control down: no window of the control is left behind
// (visible, re-parented or alive), the old site is not used once it is taken away, and the engine view is
// never destroyed by the library.
TEST_F(ViewTest, AnOleTeardownLeavesNoWindowBehindAndDoesNotUseTheOldSite) {
    Form form;
    const std::vector<HWND> before = WindowsOfThisProcess();
    _Velview* control = form.Place(kRect);
    ASSERT_NE(ViewOf(control), 0);
    const HWND viewWindow = reinterpret_cast<HWND>(static_cast<uintptr_t>(engine().standinViewWindow(ViewOf(control))));
    ASSERT_TRUE(IsWindowVisible(viewWindow));
    const Form::Teardown seen = form.TearDown(control);
    EXPECT_EQ(seen.referencesKept, 0u) << "the control kept the site it was told to let go";
    EXPECT_EQ(seen.callsAfterLeaving, 0) << "the control called its old site";
    std::vector<HWND> left = WindowsOfThisProcess();
    std::vector<HWND> added;
    for (HWND w : left)
        if (std::find(before.begin(), before.end(), w) == before.end()) added.push_back(w);
    // The engine's own message window comes with its first view; nothing else may stay.
    added.erase(std::remove_if(added.begin(), added.end(), [](HWND w) {
                    wchar_t name[64] = {};
                    GetClassNameW(w, name, 64);
                    return std::wstring(name) == STANDIN_CONTROL_CLASS;
                }), added.end());
    std::printf("OLE teardown: windows of the process %zu -> %zu\n", before.size(), left.size());
    EXPECT_EQ(added.size(), 0u) << "windows " << before.size() << " -> " << left.size();
    EXPECT_FALSE(IsWindow(viewWindow) && IsWindowVisible(viewWindow));
    EXPECT_TRUE(engine().Find("wkeDestroyWebWindow").empty() && engine().Find("wkeDestroyWebView").empty());
}

}  // namespace
