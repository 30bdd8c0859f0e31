#pragma once
// A counted interface reference for the control's container plumbing (sites, frames, advise sinks).
#include <windows.h>
#include <unknwn.h>

#include <utility>

namespace velview::view {

template <class T>
class Ref {
public:
    Ref() = default;
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
    ~Ref() { reset(); }

    // Takes its own reference on `p`.
    void assign(T* p) {
        if (p) p->AddRef();
        reset();
        p_ = p;
    }
    void reset() {
        if (T* old = std::exchange(p_, nullptr)) old->Release();
    }
    T* get() const { return p_; }
    T** put() {
        reset();
        return &p_;
    }
    void** putVoid() { return reinterpret_cast<void**>(put()); }
    T* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }

private:
    T* p_ = nullptr;
};

}  // namespace velview::view
