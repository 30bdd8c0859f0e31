' MiniblinkAPI, MiniblinkCallBack and VelviewCls from a late-bound VBScript client, as a form runtime's
' script uses them: created by name, a receiver stub registered with the engine, results read back. The exit
' code is the number of failed checks. Events are covered by the C++ hosts (Wine's script host connects no
' event prefixes).
Option Explicit
Dim failures : failures = 0
Sub Check(ok, what)
    If Not ok Then
        WScript.Echo "FAIL: " & what
        failures = failures + 1
    End If
End Sub

On Error Resume Next
Dim api, receiver, view, cls, stub, threw
Set api = CreateObject("Velview_G_201.MiniblinkAPI")
Check Err.Number = 0 And IsObject(api), "MiniblinkAPI is created by name"
Set receiver = CreateObject("Velview_G_201.MiniblinkCallBack")
Check Err.Number = 0 And IsObject(receiver), "MiniblinkCallBack is created by name"
api.wkeInitializeEx 0
view = api.wkeCreateWebView()
Check view <> 0, "the engine makes a view"
stub = receiver.wkeLoadUrlBeginCallback
Check stub <> 0, "the receiver hands out its load-begin entry"
api.wkeOnLoadUrlBegin view, stub, 0
Check Err.Number = 0, "the entry is registered with the engine"
api.wkeLoadW view, "http://vbs.test/page"
Check api.wkeGetURL(view) = "http://vbs.test/page", "the view reports the address it loaded"
api.wkeResize view, 321, 123
Check api.wkeGetWidth(view) = 321, "the view reports its new width"
receiver.Return_wkeLoadUrlBeginCallback = True
Check receiver.Return_wkeLoadUrlBeginCallback = True, "the receiver keeps the answer for the engine"
Set cls = CreateObject("Velview_G_201.VelviewCls")
Check cls.GetWebWindow() <> 0 And cls.GetWebWindow() <> view, "VelviewCls has a view of its own"
Check Err.Number = 0, "no call failed"
Err.Clear
api.NoSuchMember
threw = Err.Number <> 0
Err.Clear
Check threw, "an unknown member is an error"
WScript.Echo "late-bound VBScript checks: " & failures & " failed"
WScript.Quit failures
