#pragma once
// An event sink written the way a C++ host writes one: IDispatch whose Invoke sees the event's dispatch
// id and parameters. It records every event (parameters in declaration order) and can act inside it.
#include <windows.h>
#include <ocidl.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace callbacks_test {

struct RecordedArg {
    VARTYPE vt = VT_EMPTY;
    long number = 0;                    // VT_I4
    std::wstring text;                  // VT_BSTR, or the text behind VT_BSTR | VT_BYREF
    std::vector<std::uint8_t> record;   // VT_RECORD | VT_BYREF: the record's bytes (IRecordInfo size)
};

struct RecordedEvent {
    DISPID id = 0;
    std::vector<RecordedArg> args;
};

class RecordingSink final : public IDispatch {
public:
    explicit RecordingSink(REFIID events) : events_(events) {}

    // Runs inside each event after it was recorded; its result is what Invoke returns.
    std::function<HRESULT(DISPID id, DISPPARAMS* params)> onEvent;
    std::vector<RecordedEvent> events;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&refs_)); }
    ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(InterlockedDecrement(&refs_)); }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*,
                                     UINT*) override;
    long References() const { return refs_; }

private:
    IID events_;
    LONG refs_ = 1;  // lives on the test's stack; the count only shows that sources let go
};

// Connects a sink to a source's connection point for `events` for the life of this object.
class Advise {
public:
    Advise(IUnknown* source, REFIID events, IDispatch* sink);
    ~Advise();
    Advise(const Advise&) = delete;
    Advise& operator=(const Advise&) = delete;
    HRESULT Result() const { return hr_; }
    void Drop() { point_ = nullptr; }  // the source is gone: nothing to undo

private:
    IConnectionPoint* point_ = nullptr;
    DWORD cookie_ = 0;
    HRESULT hr_ = E_FAIL;
};

}  // namespace callbacks_test
