#pragma once
// The owner of a VARIANT (empty on construction, cleared on destruction) and the conversions the native call
// bridge's callers make from a result: an empty or unconvertible value becomes 0, false or empty text.
#include <windows.h>
#include <oaidl.h>
#include <oleauto.h>

#include <cstdint>
#include <utility>

namespace vantorix::win {

// True for the types whose value is all in the VARIANT (no string, array, interface or reference to
// release): such a VARIANT is cleared by forgetting it. Every engine call makes and drops a dozen of them,
// so this spares the system's VariantClear where it has nothing to do.
constexpr bool HoldsPlainValue(VARTYPE vt) noexcept {
    switch (vt) {
        case VT_EMPTY: case VT_NULL: case VT_I1: case VT_UI1: case VT_I2: case VT_UI2: case VT_I4: case VT_UI4:
        case VT_INT: case VT_UINT: case VT_I8: case VT_UI8: case VT_R4: case VT_R8: case VT_CY: case VT_DATE:
        case VT_BOOL: case VT_ERROR:
            return true;
        default:
            return false;
    }
}

// Clears a VARIANT, through the system only where it owns something.
inline void ClearVariant(VARIANT& v) noexcept {
    if (HoldsPlainValue(v.vt)) v.vt = VT_EMPTY;
    else VariantClear(&v);
}

class Variant {
public:
    Variant() noexcept { v_.vt = VT_EMPTY; }
    Variant(const Variant&) = delete;
    Variant& operator=(const Variant&) = delete;
    Variant(Variant&& other) noexcept : v_(other.v_) { other.v_.vt = VT_EMPTY; }
    Variant& operator=(Variant&& other) noexcept {
        if (this != &other) {
            ClearVariant(v_);
            v_ = other.v_;
            other.v_.vt = VT_EMPTY;
        }
        return *this;
    }
    ~Variant() { ClearVariant(v_); }

    static Variant Int32(std::int32_t value) noexcept {
        Variant v;
        v.v_.vt = VT_I4;
        v.v_.lVal = value;
        return v;
    }
    static Variant Byte(std::uint8_t value) noexcept {
        Variant v;
        v.v_.vt = VT_UI1;
        v.v_.ulVal = value;  // the whole 32-bit slot is defined: the native callee sees 0x000000vv
        return v;
    }
    static Variant Double(double value) noexcept {
        Variant v;
        v.v_.vt = VT_R8;
        v.v_.dblVal = value;
        return v;
    }
    // 64 bits carried unchanged in a currency field (the engine's script values).
    static Variant Bits64(std::int64_t value) noexcept {
        Variant v;
        v.v_.vt = VT_CY;
        v.v_.cyVal.int64 = value;
        return v;
    }
    // Takes a copy of the text; a null text stays a null BSTR.
    static Variant Text(const wchar_t* text, UINT length);

    VARIANT* get() noexcept { return &v_; }
    const VARIANT* get() const noexcept { return &v_; }
    VARIANT* put() noexcept {
        ClearVariant(v_);
        return &v_;
    }
    VARTYPE type() const noexcept { return v_.vt; }
    bool empty() const noexcept { return v_.vt == VT_EMPTY; }

    // Conversions used by the typed wrappers. Anything that does not convert gives the neutral value.
    std::int32_t AsInt32() const noexcept;
    std::uint8_t AsByte() const noexcept;  // VT_UI1 only (a one-byte result), else 0
    double AsDouble() const noexcept;
    std::int64_t AsBits64() const noexcept;  // VT_CY (and the 64-bit integer types) bit for bit, else 0

private:
    VARIANT v_;
};

}  // namespace vantorix::win
