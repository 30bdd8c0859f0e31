// MiniblinkCallBack through COM: the callback addresses from its properties, its events through a dispatch
// sink on its connection point.
#include <windows.h>
#include <ocidl.h>

#include <string>

#include "Velview_G_201.h"
#include "client/engine_com.h"
#include "win/com_object.h"
#include "win/com_ptr.h"
#include "win/diagnostic_log.h"
#include "win/variant.h"

namespace vantorix::client {
namespace {

// The receiver's event ids (its source dispinterface).
enum ReceiverEvent : DISPID {
    kEventJsNativeFunction = 6,
    kEventCreateView = 16,
    kEventDownload = 19,
    kEventLoadUrlBegin = 21,
};

// Argument `index` (counted from the left) of an event call; the dispatch list holds them right to left.
const VARIANT* Arg(const DISPPARAMS* params, UINT index) {
    if (!params || index >= params->cArgs) return nullptr;
    return &params->rgvarg[params->cArgs - 1 - index];
}

std::int32_t LongArg(const DISPPARAMS* params, UINT index) {
    const VARIANT* arg = Arg(params, index);
    if (!arg) return 0;
    win::Variant value;
    return SUCCEEDED(VariantChangeType(value.put(), const_cast<VARIANT*>(arg), 0, VT_I4)) ? value.get()->lVal : 0;
}

std::wstring TextArg(const DISPPARAMS* params, UINT index) {
    const VARIANT* arg = Arg(params, index);
    if (!arg) return {};
    win::Variant value;
    if (FAILED(VariantChangeType(value.put(), const_cast<VARIANT*>(arg), 0, VT_BSTR)) || !value.get()->bstrVal) return {};
    return std::wstring(value.get()->bstrVal, SysStringLen(value.get()->bstrVal));
}

// The sink the receiver raises its events on. Lives as long as the connection holds it.
class EventSink final : public win::ComObject<IDispatch> {
public:
    explicit EventSink(EngineEvents* events) : events_(events) {}

    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
        if (count) *count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }

    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT* result,
                                     EXCEPINFO*, UINT*) override {
        if (result) VariantInit(result);
        if (!events_) return S_OK;
        // The event boundary: a handler's failure ends here and the engine's call returns normally.
        try {
            switch (id) {
                case kEventJsNativeFunction:
                    events_->OnJsNativeFunction(LongArg(params, 0), LongArg(params, 1));
                    break;
                case kEventCreateView:
                    events_->OnCreateView(LongArg(params, 0), LongArg(params, 1), LongArg(params, 2), TextArg(params, 3));
                    break;
                case kEventDownload:
                    events_->OnDownload(LongArg(params, 0), LongArg(params, 1), TextArg(params, 2));
                    break;
                case kEventLoadUrlBegin:
                    events_->OnLoadUrlBegin(LongArg(params, 0), LongArg(params, 1), TextArg(params, 2), LongArg(params, 3));
                    break;
                default:
                    break;  // the other kinds are not subscribed
            }
        } catch (...) {
            win::diag::Record(L"receiver events", L"the handler of event " + std::to_wstring(id) + L" failed");
        }
        return S_OK;
    }

protected:
    // The receiver's event interface is a dispinterface: this sink is its IDispatch.
    void* QueryOther(REFIID iid) override {
        return IsEqualIID(iid, DIID___MiniblinkCallBack) ? static_cast<IDispatch*>(this) : nullptr;
    }

private:
    EngineEvents* events_;
};

class ComReceiver final : public CallbackReceiver {
public:
    explicit ComReceiver(win::com_ptr<_MiniblinkCallBack> receiver) : receiver_(std::move(receiver)) {}

    std::int32_t NativeFunctionAddress() override { return Read(&_MiniblinkCallBack::get_wkeJsNativeFunction); }
    std::int32_t LoadUrlBeginAddress() override { return Read(&_MiniblinkCallBack::get_wkeLoadUrlBeginCallback); }
    std::int32_t CreateViewAddress() override { return Read(&_MiniblinkCallBack::get_wkeCreateViewCallback); }
    std::int32_t DownloadAddress() override { return Read(&_MiniblinkCallBack::get_wkeDownloadCallback); }
    void SetReturnCreateView(WebView view) override { receiver_->put_Return_wkeCreateViewCallback(view); }

    void Advise(EngineEvents* events) override {
        const auto container = receiver_.query<IConnectionPointContainer>();
        if (!container) return;
        win::com_ptr<IConnectionPoint> point;
        if (FAILED(container->FindConnectionPoint(DIID___MiniblinkCallBack, point.put()))) return;
        const win::com_ptr<EventSink> sink(new EventSink(events));
        DWORD cookie = 0;
        // The connection lasts as long as the process: the client never unsubscribes.
        point->Advise(sink.get(), &cookie);
    }

private:
    std::int32_t Read(HRESULT (STDMETHODCALLTYPE _MiniblinkCallBack::*getter)(LONG*)) {
        LONG value = 0;
        if (FAILED((receiver_.get()->*getter)(&value))) return 0;
        return value;
    }

    win::com_ptr<_MiniblinkCallBack> receiver_;
};

}  // namespace

std::unique_ptr<CallbackReceiver> CreateMiniblinkCallBack() {
    win::com_ptr<_MiniblinkCallBack> receiver;
    if (FAILED(CoCreateInstance(CLSID_MiniblinkCallBack, nullptr, CLSCTX_INPROC_SERVER, IID__MiniblinkCallBack,
                                receiver.put_void())))
        return nullptr;
    return std::make_unique<ComReceiver>(std::move(receiver));
}

}  // namespace vantorix::client
