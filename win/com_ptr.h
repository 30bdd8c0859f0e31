#pragma once
// The one owner of a COM interface pointer, for the library and the programs alike: it holds one
// reference and releases it when it goes, as unique_handle does for a handle.
//
//   com_ptr<IOleInPlaceSite> site;
//   client->QueryInterface(IID_IOleInPlaceSite, site.put_void());   // fills it from an out parameter
//   com_ptr<IDispatch> ambient = site.query<IDispatch>();          // another interface of the same object
//   auto kept = com_ptr<IAdviseSink>::share(sink);                  // a reference of its own to a borrowed one
//   *out = kept.release();                                          // handed to a caller with its reference
#include <windows.h>
#include <unknwn.h>

#include <utility>

namespace vantorix::win {

template <class T>
class com_ptr {
public:
    com_ptr() noexcept = default;
    // Takes over one reference the caller owns.
    explicit com_ptr(T* owned) noexcept : p_(owned) {}
    com_ptr(const com_ptr& other) noexcept : p_(other.p_) {
        if (p_) p_->AddRef();
    }
    com_ptr(com_ptr&& other) noexcept : p_(other.release()) {}
    com_ptr& operator=(com_ptr other) noexcept {
        std::swap(p_, other.p_);
        return *this;
    }
    ~com_ptr() { reset(); }

    // A reference of its own to a pointer the caller only borrows (AddRef).
    static com_ptr share(T* borrowed) noexcept {
        if (borrowed) borrowed->AddRef();
        return com_ptr(borrowed);
    }

    T* get() const noexcept { return p_; }
    T* operator->() const noexcept { return p_; }
    explicit operator bool() const noexcept { return p_ != nullptr; }
    // Gives up the reference without releasing it (to hand it to a caller's out parameter).
    T* release() noexcept { return std::exchange(p_, nullptr); }
    void reset(T* owned = nullptr) noexcept {
        if (T* old = std::exchange(p_, owned)) old->Release();
    }
    // Fills the owner from an out parameter: object->GetSomething(thing.put()).
    T** put() noexcept {
        reset();
        return &p_;
    }
    void** put_void() noexcept { return reinterpret_cast<void**>(put()); }

    // Another interface of the same object; empty when it has none.
    template <class U>
    com_ptr<U> query() const noexcept {
        com_ptr<U> other;
        if (p_) p_->QueryInterface(__uuidof(U), other.put_void());
        return other;
    }
    // The interface `iid` of the object into an out parameter (AddRef'ed), as QueryInterface gives it.
    HRESULT query_to(REFIID iid, void** out) const noexcept {
        if (!out) return E_POINTER;
        *out = nullptr;
        return p_ ? p_->QueryInterface(iid, out) : E_NOINTERFACE;
    }

private:
    T* p_ = nullptr;
};

}  // namespace vantorix::win
