// VelviewCls from a late-bound automation client: Wine's script host creates it by name and calls its
// members through dispatch. The exit code is the number of failed checks (100 for an unexpected error:
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
    var threw = false;
    try { view.NoSuchMember(); } catch (e) { threw = true; }
    check(threw, "an unknown member is an error");
} catch (e) {
    WScript.Echo("unexpected error " + (e.number >>> 0).toString(16) + " " + e.description);
    WScript.Quit(100);
}
WScript.Echo("VelviewCls script checks: " + failures + " failed");
WScript.Quit(failures);
