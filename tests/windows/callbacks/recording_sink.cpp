#include "recording_sink.h"

namespace callbacks_test {

HRESULT RecordingSink::QueryInterface(REFIID iid, void** out) {
    if (!out) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) || IsEqualIID(iid, events_)) {
        *out = static_cast<IDispatch*>(this);
        AddRef();
        return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
}

HRESULT RecordingSink::GetTypeInfoCount(UINT* count) {
    if (!count) return E_POINTER;
    *count = 0;
    return S_OK;
}

HRESULT RecordingSink::Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*, UINT*) {
    RecordedEvent event;
    event.id = id;
    for (UINT i = params->cArgs; i-- > 0;) {  // rgvarg holds the last parameter first
        const VARIANTARG& value = params->rgvarg[i];
        RecordedArg arg;
        arg.vt = value.vt;
        if (value.vt == VT_I4) arg.number = value.lVal;
        if (value.vt == VT_BSTR && value.bstrVal) arg.text.assign(value.bstrVal, SysStringLen(value.bstrVal));
        if (value.vt == (VT_BSTR | VT_BYREF) && value.pbstrVal && *value.pbstrVal)
            arg.text.assign(*value.pbstrVal, SysStringLen(*value.pbstrVal));
        if (value.vt == (VT_RECORD | VT_BYREF) && value.pRecInfo && value.pvRecord) {
            ULONG size = 0;
            value.pRecInfo->GetSize(&size);
            auto* bytes = static_cast<const std::uint8_t*>(value.pvRecord);
            arg.record.assign(bytes, bytes + size);
        }
        event.args.push_back(arg);
    }
    events.push_back(std::move(event));
    return onEvent ? onEvent(id, params) : S_OK;
}

Advise::Advise(IUnknown* source, REFIID events, IDispatch* sink) {
    IConnectionPointContainer* container = nullptr;
    hr_ = source->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&container));
    if (FAILED(hr_)) return;
    hr_ = container->FindConnectionPoint(events, &point_);
    container->Release();
    if (FAILED(hr_)) return;
    hr_ = point_->Advise(sink, &cookie_);
}

Advise::~Advise() {
    if (point_) {
        if (SUCCEEDED(hr_)) point_->Unadvise(cookie_);
        point_->Release();
    }
}

}  // namespace callbacks_test
