#include "webview/control/ambient.h"

#include <olectl.h>
#include <oleauto.h>

#include "webview/control/com_ref.h"

namespace velview::view {
namespace {

struct OwnedVariant {
    VARIANT v;
    OwnedVariant() { VariantInit(&v); }
    ~OwnedVariant() { VariantClear(&v); }
};

HRESULT GetById(IDispatch* object, DISPID id, VARIANT* out) {
    DISPPARAMS none = {nullptr, nullptr, 0, 0};
    return object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none, out, nullptr, nullptr);
}

HRESULT GetByName(IDispatch* object, const wchar_t* name, VARIANT* out) {
    DISPID id = DISPID_UNKNOWN;
    LPOLESTR names[1] = {const_cast<LPOLESTR>(name)};
    HRESULT hr = object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
    if (FAILED(hr)) return hr;
    return GetById(object, id, out);
}

std::optional<bool> AsBool(VARIANT* value) {
    OwnedVariant b;
    if (FAILED(VariantChangeType(&b.v, value, 0, VT_BOOL))) return std::nullopt;
    return b.v.boolVal != VARIANT_FALSE;
}

}  // namespace

bool AmbientUserMode(IOleClientSite* site) {
    if (!site) return true;
    Ref<IDispatch> ambient;
    if (FAILED(site->QueryInterface(IID_IDispatch, ambient.putVoid())) || !ambient) return true;
    OwnedVariant value;
    if (FAILED(GetById(ambient.get(), DISPID_AMBIENT_USERMODE, &value.v))) return true;
    return AsBool(&value.v).value_or(true);
}

std::optional<bool> ExtenderParentRunMode(IOleClientSite* site) {
    if (!site) return std::nullopt;
    Ref<IOleControlSite> controlSite;
    if (FAILED(site->QueryInterface(IID_IOleControlSite, controlSite.putVoid())) || !controlSite) return std::nullopt;
    Ref<IDispatch> extender;
    if (FAILED(controlSite->GetExtendedControl(extender.put())) || !extender) return std::nullopt;
    OwnedVariant parent;
    if (FAILED(GetByName(extender.get(), L"Parent", &parent.v))) return std::nullopt;
    if (parent.v.vt != VT_DISPATCH || !parent.v.pdispVal) return std::nullopt;
    OwnedVariant runMode;
    if (FAILED(GetByName(parent.v.pdispVal, L"RunMode", &runMode.v))) return std::nullopt;
    return AsBool(&runMode.v);
}

bool RunModeOf(IOleClientSite* site) {
    bool runMode = AmbientUserMode(site);
    if (auto parent = ExtenderParentRunMode(site)) runMode = *parent;
    return runMode;
}

}  // namespace velview::view
