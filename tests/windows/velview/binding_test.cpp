// "jsCall" is bound once per process by whichever view owner starts first; each run of these suites is a
// process of its own (see CMakeLists.txt), so the log holds every binding of the process.
#include <gtest/gtest.h>
#include <windows.h>

#include "standin.h"
#include "test_container.h"

using namespace velview_test;

namespace {

const RECT kLeft{0, 0, 300, 200}, kRight{300, 0, 600, 200};

bool PageCall(long view, const wchar_t* first, const wchar_t* second) {
    const wchar_t* args[2] = {first, second};
    return Standin::Get().standinCallBoundStrings("jsCall", view, args, 2, nullptr) == 1;
}

std::vector<long> JsCallIndexes(const EventSink& sink) {
    std::vector<long> indexes;
    for (const auto& e : sink.events)
        if (e.id == 3) indexes.push_back(e.numbers.at(0));
    return indexes;
}

class Binding : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(OleInitialize(nullptr), S_OK);
        ASSERT_TRUE(Standin::Get().ok());
    }
    void TearDown() override { OleUninitialize(); }
};

using ControlFirst = Binding;
using ObjectFirst = Binding;

TEST_F(ControlFirst, TwoControlsOnOneFormBindJsCallOnceAndEachGetsItsOwnCalls) {
    const Standin& engine = Standin::Get();
    Form form;
    _Velview* left = form.Place(kLeft);
    _Velview* right = form.Place(kRight);
    auto* leftSink = new EventSink(DIID___Velview);
    auto* rightSink = new EventSink(DIID___Velview);
    Connect(left, DIID___Velview, leftSink);
    Connect(right, DIID___Velview, rightSink);
    long leftView = 0, rightView = 0;
    left->GetWebWindow(&leftView);
    right->GetWebWindow(&rightView);
    ASSERT_NE(leftView, 0);
    ASSERT_NE(rightView, 0);
    ASSERT_NE(leftView, rightView);

    auto binds = engine.Find("wkeJsBindFunction");
    ASSERT_EQ(binds.size(), 1u) << "bound once per process";
    EXPECT_EQ(engine.Text(binds[0], 0), L"jsCall");
    EXPECT_EQ(engine.standinLogArgValue(binds[0], 2), 0u);
    EXPECT_EQ(engine.standinLogArgValue(binds[0], 3), 2u);
    EXPECT_LT(binds[0], engine.standinLogFind("wkeCreateWebWindow", 0)) << "bound before the first view";

    EXPECT_TRUE(PageCall(leftView, L"1", L"from left"));
    EXPECT_TRUE(PageCall(rightView, L"2", L"from right"));
    EXPECT_TRUE(PageCall(leftView, L"3", L"again left"));
    EXPECT_EQ(JsCallIndexes(*leftSink), (std::vector<long>{1, 3}));
    EXPECT_EQ(JsCallIndexes(*rightSink), (std::vector<long>{2}));
    ASSERT_EQ(rightSink->events.size(), 1u);
    EXPECT_EQ(rightSink->events[0].texts, std::vector<std::wstring>{L"from right"});

    // An object created later shares the binding and the routing.
    _VelviewCls* object = nullptr;
    ASSERT_EQ(Library::Create(CLSID_VelviewCls, IID__VelviewCls, reinterpret_cast<void**>(&object)), S_OK);
    auto* objectSink = new EventSink(DIID___VelviewCls);
    Connect(object, DIID___VelviewCls, objectSink);
    long objectView = 0;
    object->GetWebWindow(&objectView);
    EXPECT_EQ(engine.Find("wkeJsBindFunction").size(), 1u);
    EXPECT_TRUE(PageCall(objectView, L"4", L"from object"));
    EXPECT_EQ(JsCallIndexes(*objectSink), (std::vector<long>{4}));
    EXPECT_EQ(JsCallIndexes(*leftSink), (std::vector<long>{1, 3}));

    object->Release();
    objectSink->Release();
    left->Release();
    right->Release();
    leftSink->Release();
    rightSink->Release();
}

TEST_F(ObjectFirst, AnObjectCreatedFirstBindsJsCallAndALaterControlDoesNot) {
    const Standin& engine = Standin::Get();
    engine.standinLogClear();
    _VelviewCls* object = nullptr;
    ASSERT_EQ(Library::Create(CLSID_VelviewCls, IID__VelviewCls, reinterpret_cast<void**>(&object)), S_OK);
    long objectView = 0;
    object->GetWebWindow(&objectView);
    EXPECT_NE(objectView, 0) << "a view at once";
    VARIANT_BOOL touch = VARIANT_TRUE, mouse = VARIANT_FALSE;
    object->get_TouchEnabled(&touch);
    object->get_MouseEnabled(&mouse);
    EXPECT_EQ(touch, VARIANT_FALSE);
    EXPECT_EQ(mouse, VARIANT_TRUE);
    std::vector<std::string> expected = {"wkeInitializeEx",   "wkeJsBindFunction", "wkeCreateWebView",
                                         "wkeOnDocumentReady", "wkeOnLoadUrlBegin", "wkeOnCreateView",
                                         "wkeOnLoadUrlEnd"};
    EXPECT_EQ(engine.Names(), expected) << "no web window, no show";
    EXPECT_EQ(engine.standinViewWindow(objectView), 0) << "window-less";

    // Loads act at once and RunJs works on the window-less view.
    BSTR url = SysAllocString(L"http://object.test/");
    EXPECT_EQ(object->LoadURL(url), S_OK);
    SysFreeString(url);
    int load = engine.standinLogFind("wkeLoadW", 0);
    ASSERT_GE(load, 0);
    EXPECT_EQ(engine.standinLogArgValue(load, 0), static_cast<unsigned long long>(objectView));

    Form form;
    _Velview* control = form.Place(kLeft);
    auto* controlSink = new EventSink(DIID___Velview);
    Connect(control, DIID___Velview, controlSink);
    auto* objectSink = new EventSink(DIID___VelviewCls);
    Connect(object, DIID___VelviewCls, objectSink);
    long controlView = 0;
    control->GetWebWindow(&controlView);
    ASSERT_NE(controlView, 0);
    EXPECT_EQ(engine.Find("wkeJsBindFunction").size(), 1u) << "the control reuses the object's binding";

    EXPECT_TRUE(PageCall(objectView, L"7", L"object"));
    EXPECT_TRUE(PageCall(controlView, L"8", L"control"));
    EXPECT_EQ(JsCallIndexes(*objectSink), (std::vector<long>{7}));
    EXPECT_EQ(JsCallIndexes(*controlSink), (std::vector<long>{8}));

    // The control's host opens a page's new window in the window-less view.
    controlSink->reaction = [objectView](DISPID id, DISPPARAMS* params) {
        if (id == 4) *params->rgvarg[0].plVal = objectView;
    };
    StandinFireArgs create{};
    create.url = L"http://popup.test/";
    unsigned result = 0;
    ASSERT_EQ(engine.standinFire(controlView, "wkeOnCreateView", &create, &result), 1);
    EXPECT_EQ(result, static_cast<unsigned>(objectView));

    // The object goes: its view stays in the engine but reaches nothing any more.
    objectSink->events.clear();
    object->Release();
    StandinFireArgs args{};
    args.url = L"http://after.test/";
    for (const char* kind : {"wkeOnDocumentReady", "wkeOnLoadUrlBegin", "wkeOnCreateView", "wkeOnLoadUrlEnd"}) {
        unsigned r = 0xDEADBEEF;
        EXPECT_EQ(engine.standinFire(objectView, kind, &args, &r), 1) << kind;
        EXPECT_EQ(r, 0u) << kind;
    }
    EXPECT_TRUE(PageCall(objectView, L"9", L"gone"));
    EXPECT_TRUE(objectSink->events.empty());
    EXPECT_TRUE(PageCall(controlView, L"10", L"still here"));
    EXPECT_EQ(JsCallIndexes(*controlSink), (std::vector<long>{8, 10}));

    objectSink->Release();
    control->Release();
    controlSink->Release();
}

}  // namespace
