#pragma once
// The interface members that Velview and VelviewCls share (_Velview and _VelviewCls have the same
// members apart from the control's RunMode), forwarded to the object's WebViewCore on the object's own
// thread only (webview/com/owner_thread.h), plus the piece of COM identity both need: the event source
// (connection point and class info).
#include <windows.h>
#include <oaidl.h>

#include "webview/com/dispatch.h"
#include "webview/control/web_view_core.h"

namespace velview::view {

// More: further interfaces the view object implements itself (the control's OLE interfaces).
template <class Itf, class... More>
class ViewMembers : public DispatchObject<Itf, More...> {
public:
    ViewMembers(REFIID iid, REFCLSID clsid, REFIID events, ViewKind kind, const wchar_t* typeName)
        : DispatchObject<Itf, More...>(iid, typeName),
          events_(this->Identity(), this->thread(), clsid, events),
          core_(kind, this->Identity(), events_, typeName) {}

    HRESULT STDMETHODCALLTYPE get_MouseEnabled(VARIANT_BOOL* v) override {
        return Forward([&] { return core_.get_MouseEnabled(v); });
    }
    HRESULT STDMETHODCALLTYPE put_MouseEnabled(VARIANT_BOOL v) override {
        return Forward([&] { return core_.put_MouseEnabled(v); });
    }
    HRESULT STDMETHODCALLTYPE get_TouchEnabled(VARIANT_BOOL* v) override {
        return Forward([&] { return core_.get_TouchEnabled(v); });
    }
    HRESULT STDMETHODCALLTYPE put_TouchEnabled(VARIANT_BOOL v) override {
        return Forward([&] { return core_.put_TouchEnabled(v); });
    }
    HRESULT STDMETHODCALLTYPE get_userAgent(BSTR* v) override {
        return Forward([&] { return core_.get_userAgent(v); });
    }
    HRESULT STDMETHODCALLTYPE put_userAgent(BSTR v) override {
        return Forward([&] { return core_.put_userAgent(v); });
    }
    HRESULT STDMETHODCALLTYPE LoadURL(BSTR url) override { return Forward([&] { return core_.LoadURL(url); }); }
    HRESULT STDMETHODCALLTYPE LoadHtml(BSTR html) override { return Forward([&] { return core_.LoadHtml(html); }); }
    HRESULT STDMETHODCALLTYPE LoadFile(BSTR filename) override {
        return Forward([&] { return core_.LoadFile(filename); });
    }
    HRESULT STDMETHODCALLTYPE GetWebWindow(long* webView) override {
        return Forward([&] { return core_.GetWebWindow(webView); });
    }
    HRESULT STDMETHODCALLTYPE RunJs(BSTR js, BSTR* result) override {
        return Forward([&] { return core_.RunJs(js, result); });
    }
    HRESULT STDMETHODCALLTYPE GetEs(long* es) override { return Forward([&] { return core_.GetEs(es); }); }
    HRESULT STDMETHODCALLTYPE IsLoadComplete(VARIANT_BOOL* r) override {
        return Forward([&] { return core_.IsLoadComplete(r); });
    }
    HRESULT STDMETHODCALLTYPE IsDocumentReady(VARIANT_BOOL* r) override {
        return Forward([&] { return core_.IsDocumentReady(r); });
    }
    HRESULT STDMETHODCALLTYPE SendMouseEvent(long message, long x, long y, long flags, VARIANT_BOOL* r) override {
        return Forward([&] { return core_.SendMouseEvent(message, x, y, flags, r); });
    }
    HRESULT STDMETHODCALLTYPE SendMouseWheelEvent(long x, long y, long delta, long flags, VARIANT_BOOL* r) override {
        return Forward([&] { return core_.SendMouseWheelEvent(x, y, delta, flags, r); });
    }
    HRESULT STDMETHODCALLTYPE NetHookRequest() override { return Forward([&] { return core_.NetHookRequest(); }); }

protected:
    void* QueryMore(REFIID iid) override { return events_.Query(iid); }
    WebViewCore& core() { return core_; }
    // The members' one error boundary towards the caller: every failure leaves its own description, so
    // a caller that reads IErrorInfo after a failure never sees the text of an earlier one.
    static HRESULT Reported(HRESULT hr) { return FAILED(hr) ? module::Fail(hr, DescriptionOf(hr)) : hr; }
    // A member's call of the core, made on the object's own thread only.
    template <class Call>
    HRESULT Forward(Call&& call) {
        VELVIEW_ON_OWNER_THREAD(this->thread());
        return Reported(call());
    }

private:
    EventSource events_;  // declared before core_: the core raises events through it until it is gone
    WebViewCore core_;
};

}  // namespace velview::view
