#include "webview/com/dispatch.h"

#include <olectl.h>

#include <algorithm>
#include <cstdint>
#include <new>

#include "webview/com/library_log.h"
#include "webview/x86/guarded_call.h"

namespace velview {
namespace {

std::uint32_t Word(const void* pointer) { return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(pointer)); }

// The address of a COM method: entry `index` of the object's vtable.
const void* VtableEntry(IUnknown* object, int index) { return (*reinterpret_cast<void* const* const*>(object))[index]; }

void RecordSinkFault(const wchar_t* what, DISPID id, std::uint32_t code) noexcept {
    try {
        Record(L"event sink", std::wstring(what) + L" of event " + std::to_wstring(id) + L" faulted", code);
    } catch (...) {
    }
}

// A sink lives in the host's code: a sink that faults must not take the event's caller (and everything it
// owns for the event) with it. Calls IDispatch::Invoke (vtable entry 6) inside the fault guard, with no
// frame of the library's between the guard and the host's code; a fault reads as RPC_E_SERVERFAULT, what an
// out-of-process sink that faults gives.
HRESULT InvokeGuarded(IDispatch* sink, DISPID id, DISPPARAMS* params) {
    const std::uint32_t args[9] = {Word(sink), static_cast<std::uint32_t>(id), Word(&IID_NULL),
                                   static_cast<std::uint32_t>(LOCALE_USER_DEFAULT), DISPATCH_METHOD, Word(params),
                                   0, 0, 0};
    const x86::GuardedResult call = x86::CallStdcallGuarded(VtableEntry(sink, 6), args, 9);
    if (!call.faulted) return static_cast<HRESULT>(call.value);
    RecordSinkFault(L"the host's handler", id, call.code);
    return RPC_E_SERVERFAULT;
}

// IUnknown::Release (vtable entry 2) of a sink that has failed: it may fault again.
void ReleaseGuarded(IDispatch* sink, DISPID id) {
    const std::uint32_t args[1] = {Word(sink)};
    const x86::GuardedResult call = x86::CallStdcallGuarded(VtableEntry(sink, 2), args, 1);
    if (call.faulted) RecordSinkFault(L"the release of the host's handler", id, call.code);
}

// A list of a length known up front, on the stack when it is short.
template <class T>
class SmallList {
public:
    explicit SmallList(std::size_t size) : size_(size) {
        if (size > kInline) heap_.resize(size);
    }
    T* begin() { return size_ > kInline ? heap_.data() : inline_; }
    T* end() { return begin() + size_; }
    T& operator[](std::size_t i) { return begin()[i]; }

private:
    static constexpr std::size_t kInline = 8;
    std::size_t size_;
    T inline_[kInline];
    std::vector<T> heap_;
};

// The sink faulted or its object is gone: calling it again cannot succeed.
bool SinkGone(HRESULT hr) {
    return hr == RPC_E_SERVERFAULT || hr == RPC_E_DISCONNECTED || hr == CO_E_OBJNOTCONNECTED ||
           hr == RPC_E_SERVER_DIED || hr == RPC_E_SERVER_DIED_DNE || hr == HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE);
}

// Enumerates the one connection point of an EventSource. An object of its own (the contract: enumerators
// have their own reference count); it holds the point, and through it the owner, while it lives.
class OnePointEnumerator final : public vantorix::win::ComObject<IEnumConnectionPoints> {
public:
    OnePointEnumerator(IConnectionPoint* point, ULONG position)
        : point_(vantorix::win::com_ptr<IConnectionPoint>::share(point)), position_(position) {}
    HRESULT STDMETHODCALLTYPE Next(ULONG count, IConnectionPoint** out, ULONG* fetched) override {
        VELVIEW_ON_OWNER_THREAD(thread_);
        if (!out || (count > 1 && !fetched)) return E_POINTER;
        ULONG given = 0;
        if (count > 0 && position_ == 0) {
            out[0] = vantorix::win::com_ptr<IConnectionPoint>(point_).release();
            position_ = 1;
            given = 1;
        }
        if (fetched) *fetched = given;
        return given == count ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Skip(ULONG count) override {
        VELVIEW_ON_OWNER_THREAD(thread_);
        const bool enough = count <= 1 - position_;
        position_ = count == 0 ? position_ : 1;
        return enough ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Reset() override {
        VELVIEW_ON_OWNER_THREAD(thread_);
        position_ = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Clone(IEnumConnectionPoints** out) override {
        VELVIEW_ON_OWNER_THREAD(thread_);
        if (!out) return E_POINTER;
        *out = new (std::nothrow) OnePointEnumerator(point_.get(), position_);
        return *out ? S_OK : E_OUTOFMEMORY;
    }

private:
    vantorix::win::com_ptr<IConnectionPoint> point_;
    ULONG position_;
    const OwnerThread thread_{L"IEnumConnectionPoints"};
    ModuleLock lock_;
};

}  // namespace

// A part of an EventSource: it lives and dies with the source's owner, so its references are the owner's.
// A part that shares the owner's identity sends QueryInterface there too; one that is an object of its own
// (the connection point) answers only IUnknown and its interface.
template <class Itf, bool kOwnIdentity = false>
class OwnerPart : public Itf {
public:
    explicit OwnerPart(IUnknown* owner) : owner_(owner) {}
    OwnerPart(const OwnerPart&) = delete;
    OwnerPart& operator=(const OwnerPart&) = delete;
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (!kOwnIdentity) return owner_->QueryInterface(iid, out);
        if (!out) return E_POINTER;
        *out = nullptr;
        if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, __uuidof(Itf))) return E_NOINTERFACE;
        *out = static_cast<Itf*>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return owner_->AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return owner_->Release(); }

private:
    IUnknown* owner_;
};

class EventSource::Container final : public OwnerPart<IConnectionPointContainer> {
public:
    explicit Container(EventSource& source) : OwnerPart(source.owner_), source_(source) {}

    HRESULT STDMETHODCALLTYPE EnumConnectionPoints(IEnumConnectionPoints** out) override;
    HRESULT STDMETHODCALLTYPE FindConnectionPoint(REFIID iid, IConnectionPoint** out) override;

private:
    EventSource& source_;
};

// The connection point is an object of its own (its own IUnknown), kept alive with its owner.
class EventSource::Point final : public OwnerPart<IConnectionPoint, true> {
public:
    explicit Point(EventSource& source) : OwnerPart(source.owner_), source_(source) {}

    HRESULT STDMETHODCALLTYPE GetConnectionInterface(IID* iid) override {
        VELVIEW_ON_OWNER_THREAD(source_.thread_);
        if (!iid) return E_POINTER;
        *iid = source_.events_;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetConnectionPointContainer(IConnectionPointContainer** out) override {
        VELVIEW_ON_OWNER_THREAD(source_.thread_);
        if (!out) return E_POINTER;
        *out = source_.container_;
        (*out)->AddRef();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Advise(IUnknown* sink, DWORD* cookie) override {
        VELVIEW_ON_OWNER_THREAD(source_.thread_);
        if (!sink || !cookie) return E_POINTER;
        *cookie = 0;
        vantorix::win::com_ptr<IDispatch> dispatch;
        // A sink must speak the event interface itself or plain IDispatch (script hosts offer only the latter).
        if (FAILED(sink->QueryInterface(source_.events_, dispatch.put_void())) &&
            FAILED(sink->QueryInterface(IID_IDispatch, dispatch.put_void())))
            return CONNECT_E_CANNOTCONNECT;
        try {
            source_.sinks_.push_back({source_.nextCookie_, dispatch.get()});
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        }
        dispatch.release();  // the list's reference now
        *cookie = source_.nextCookie_++;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Unadvise(DWORD cookie) override {
        VELVIEW_ON_OWNER_THREAD(source_.thread_);
        auto& sinks = source_.sinks_;
        auto it = std::find_if(sinks.begin(), sinks.end(), [cookie](const Sink& s) { return s.cookie == cookie; });
        if (it == sinks.end()) return CONNECT_E_NOCONNECTION;
        IDispatch* sink = it->sink;
        sinks.erase(it);
        sink->Release();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE EnumConnections(IEnumConnections** out) override {
        VELVIEW_ON_OWNER_THREAD(source_.thread_);
        if (out) *out = nullptr;
        return E_NOTIMPL;
    }

private:
    EventSource& source_;
};

class EventSource::ClassInfo final : public OwnerPart<IProvideClassInfo2> {
public:
    explicit ClassInfo(EventSource& source) : OwnerPart(source.owner_), source_(source) {}
    HRESULT STDMETHODCALLTYPE GetClassInfo(ITypeInfo** out) override {
        VELVIEW_ON_OWNER_THREAD(source_.thread_);
        if (!out) return E_POINTER;
        return module::TypeInfoOf(source_.clsid_, out);
    }
    HRESULT STDMETHODCALLTYPE GetGUID(DWORD kind, GUID* guid) override {
        VELVIEW_ON_OWNER_THREAD(source_.thread_);
        if (!guid) return E_POINTER;
        if (kind != GUIDKIND_DEFAULT_SOURCE_DISP_IID) return E_INVALIDARG;
        *guid = source_.events_;
        return S_OK;
    }

private:
    EventSource& source_;
};

HRESULT STDMETHODCALLTYPE EventSource::Container::EnumConnectionPoints(IEnumConnectionPoints** out) {
    VELVIEW_ON_OWNER_THREAD(source_.thread_);
    if (!out) return E_POINTER;
    *out = new (std::nothrow) OnePointEnumerator(source_.point_, 0);
    return *out ? S_OK : E_OUTOFMEMORY;
}

HRESULT STDMETHODCALLTYPE EventSource::Container::FindConnectionPoint(REFIID iid, IConnectionPoint** out) {
    VELVIEW_ON_OWNER_THREAD(source_.thread_);
    if (!out) return E_POINTER;
    *out = nullptr;
    if (!IsEqualIID(iid, source_.events_)) return CONNECT_E_NOCONNECTION;
    *out = source_.point_;
    (*out)->AddRef();
    return S_OK;
}

EventSource::EventSource(IUnknown* owner, const OwnerThread& thread, REFCLSID clsid, REFIID events)
    : owner_(owner),
      thread_(thread),
      clsid_(clsid),
      events_(events),
      container_(new Container(*this)),
      point_(new Point(*this)),
      classInfo_(new ClassInfo(*this)) {}

EventSource::~EventSource() {
    for (Sink& s : sinks_) s.sink->Release();
    delete container_;
    delete point_;
    delete classInfo_;
}

void EventSource::Drop(IDispatch* sink, DISPID id) {
    // The sink may have been unadvised (or advised twice) meanwhile: every connection of it goes.
    for (auto it = sinks_.begin(); it != sinks_.end();) {
        if (it->sink != sink) {
            ++it;
            continue;
        }
        it = sinks_.erase(it);
        ReleaseGuarded(sink, id);
    }
}

void* EventSource::Query(REFIID iid) {
    if (IsEqualIID(iid, IID_IConnectionPointContainer)) return static_cast<IConnectionPointContainer*>(container_);
    if (IsEqualIID(iid, IID_IProvideClassInfo) || IsEqualIID(iid, IID_IProvideClassInfo2))
        return static_cast<IProvideClassInfo2*>(classInfo_);
    return nullptr;
}

HRESULT EventSource::Fire(DISPID id, VARIANTARG* args, UINT count) {
    if (sinks_.empty()) return S_OK;
    // A handler may advise or unadvise while it runs: call a snapshot, each sink held for its call. Events
    // are frequent and have few sinks and arguments: both lists live on the stack unless they are long.
    SmallList<IDispatch*> snapshot(sinks_.size());
    for (std::size_t i = 0; i < sinks_.size(); ++i) {
        sinks_[i].sink->AddRef();
        snapshot[i] = sinks_[i].sink;
    }
    // DISPPARAMS lists the arguments last to first. The VARIANTs are copied bit for bit: the caller keeps
    // ownership, and by-reference arguments still point at the caller's storage.
    SmallList<VARIANTARG> reversed(count);
    std::reverse_copy(args, args + count, reversed.begin());
    DISPPARAMS params{count ? reversed.begin() : nullptr, nullptr, count, 0};
    HRESULT result = S_OK;
    for (IDispatch* sink : snapshot) {
        const HRESULT hr = InvokeGuarded(sink, id, &params);
        if (FAILED(hr)) result = hr;
        if (SinkGone(hr)) {
            Drop(sink, id);
            ReleaseGuarded(sink, id);
        } else {
            sink->Release();
        }
    }
    return result;
}

}  // namespace velview
