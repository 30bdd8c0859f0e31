#include "win/variant.h"

#include <new>

namespace vantorix::win {

Variant Variant::Text(const wchar_t* text, UINT length) {
    Variant v;
    v.v_.vt = VT_BSTR;
    v.v_.bstrVal = nullptr;
    if (text) {
        v.v_.bstrVal = SysAllocStringLen(text, length);
        if (!v.v_.bstrVal) throw std::bad_alloc();
    }
    return v;
}

std::int32_t Variant::AsInt32() const noexcept {
    if (v_.vt == VT_I4 || v_.vt == VT_UI4 || v_.vt == VT_INT || v_.vt == VT_UINT) return v_.lVal;
    VARIANT converted;
    VariantInit(&converted);
    if (FAILED(VariantChangeType(&converted, const_cast<VARIANT*>(&v_), 0, VT_I4))) return 0;
    return converted.lVal;
}

std::uint8_t Variant::AsByte() const noexcept { return v_.vt == VT_UI1 ? v_.bVal : 0; }

double Variant::AsDouble() const noexcept {
    if (v_.vt == VT_R8) return v_.dblVal;
    VARIANT converted;
    VariantInit(&converted);
    if (FAILED(VariantChangeType(&converted, const_cast<VARIANT*>(&v_), 0, VT_R8))) return 0.0;
    return converted.dblVal;
}

std::int64_t Variant::AsBits64() const noexcept {
    switch (v_.vt) {
        case VT_CY: return v_.cyVal.int64;
        case VT_I8: return v_.llVal;
        case VT_UI8: return static_cast<std::int64_t>(v_.ullVal);
        default: return 0;
    }
}

}  // namespace vantorix::win
