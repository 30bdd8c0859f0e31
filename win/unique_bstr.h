#pragma once
// The one owner of a BSTR, for the library and the programs alike: SysFreeString when it goes.
//
//   unique_bstr name = unique_bstr::of(L"jsCall");     // a copy of the text (std::bad_alloc when memory runs out)
//   api->wkeGetStringW(s, result.put());             // filled from an out parameter
//   std::wstring text = result.text();               // the whole text, embedded zeros included
//   *out = name.release();                           // handed to a caller, who frees it
#include <windows.h>
#include <oleauto.h>

#include <new>
#include <string>
#include <string_view>
#include <utility>

namespace vantorix::win {

class unique_bstr {
public:
    unique_bstr() noexcept = default;
    // Takes over a BSTR the caller owns.
    explicit unique_bstr(BSTR owned) noexcept : b_(owned) {}
    unique_bstr(const unique_bstr&) = delete;
    unique_bstr& operator=(const unique_bstr&) = delete;
    unique_bstr(unique_bstr&& other) noexcept : b_(other.release()) {}
    unique_bstr& operator=(unique_bstr&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    ~unique_bstr() { reset(); }

    // A new BSTR holding `text` (an empty text gives an empty BSTR, not a null one).
    static unique_bstr of(std::wstring_view text) {
        BSTR made = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
        if (!made) throw std::bad_alloc();
        return unique_bstr(made);
    }
    // The text of a BSTR the caller only borrows; "" for a null one.
    static std::wstring text_of(BSTR borrowed) {
        return borrowed ? std::wstring(borrowed, SysStringLen(borrowed)) : std::wstring();
    }

    BSTR get() const noexcept { return b_; }
    std::wstring text() const { return text_of(b_); }
    BSTR release() noexcept { return std::exchange(b_, nullptr); }
    void reset(BSTR owned = nullptr) noexcept {
        if (BSTR old = std::exchange(b_, owned)) SysFreeString(old);
    }
    BSTR* put() noexcept {
        reset();
        return &b_;
    }

private:
    BSTR b_ = nullptr;
};

}  // namespace vantorix::win
