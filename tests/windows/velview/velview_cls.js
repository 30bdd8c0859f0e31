// VelviewCls, MiniblinkAPI and MiniblinkCallBack from a late-bound JScript client: Wine's script host
// creates them by name and calls their members through dispatch. The exit code is the number of failed checks (100 for an unexpected error:
// this script host ends with 0 on an uncaught one, so every error is caught here).
// Wine's WScript.CreateObject does not connect event prefixes, so the events are covered by the C++ hosts.
var failures = 0;
function check(ok, what) {
    if (!ok) { WScript.Echo("FAIL: " + what); failures++; }
}
try {
    var view = WScript.CreateObject("Velview_G_201.VelviewCls");
    check(view.GetWebWindow() != 0, "a window-less view exists at once");
    check(view.TouchEnabled === false, "TouchEnabled reads false");
    check(view.MouseEnabled === true, "MouseEnabled reads true");
    view.TouchEnabled = true;
    check(view.TouchEnabled === true, "TouchEnabled keeps what was set");
    view.LoadHtml("<p id='x'>hello</p>");
    view.LoadURL("http://script.test/");
    check(typeof view.RunJs("1+1") == "string", "RunJs gives text");
    check(typeof view.IsLoadComplete() == "boolean", "IsLoadComplete gives a boolean");
    check(typeof view.IsDocumentReady() == "boolean", "IsDocumentReady gives a boolean");
    check(typeof view.GetEs() == "number", "GetEs gives a number");
    check(typeof view.SendMouseEvent(0x200, 5, 5, 0) == "boolean", "SendMouseEvent gives a boolean");
    view.NetHookRequest();  // outside a load-begin event: nothing, no error
    var second = new ActiveXObject("Velview_G_201.VelviewCls.1");
    check(second.GetWebWindow() != 0 && second.GetWebWindow() != view.GetWebWindow(), "each object has its own view");
    // The function table and the receiver, late-bound: a receiver entry registered with the engine, results
    // read back through the table.
    var api = new ActiveXObject("Velview_G_201.MiniblinkAPI");
    var receiver = new ActiveXObject("Velview_G_201.MiniblinkCallBack");
    var engineView = api.wkeCreateWebView();
    check(engineView != 0, "MiniblinkAPI makes a view");
    var stub = receiver.wkeLoadUrlBeginCallback;
    check(stub != 0, "the receiver hands out its load-begin entry");
    api.wkeOnLoadUrlBegin(engineView, stub, 0);
    api.wkeLoadW(engineView, "http://js.test/page");
    check(api.wkeGetURL(engineView) == "http://js.test/page", "the view reports the address it loaded");
    api.wkeResize(engineView, 222, 111);
    check(api.wkeGetWidth(engineView) == 222, "the view reports its new width");
    var threw = false;
    try { view.NoSuchMember(); } catch (e) { threw = true; }
    check(threw, "an unknown member is an error");
} catch (e) {
    WScript.Echo("unexpected error " + (e.number >>> 0).toString(16) + " " + e.description);
    WScript.Quit(100);
}
WScript.Echo("VelviewCls script checks: " + failures + " failed");
WScript.Quit(failures);
