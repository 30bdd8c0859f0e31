#include "webview/control/ambient.h"

#include <olectl.h>
#include <oleauto.h>

#include "win/variant.h"
#include "win/com_ptr.h"

namespace velview::view {
namespace {

using vantorix::win::com_ptr;
using vantorix::win::Variant;

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
    Variant b;
    if (FAILED(VariantChangeType(b.put(), value, 0, VT_BOOL))) return std::nullopt;
    return b.get()->boolVal != VARIANT_FALSE;
}

}  // namespace

bool AmbientUserMode(IOleClientSite* site) {
    if (!site) return true;
    com_ptr<IDispatch> ambient;
    if (FAILED(site->QueryInterface(IID_IDispatch, ambient.put_void())) || !ambient) return true;
    Variant value;
    if (FAILED(GetById(ambient.get(), DISPID_AMBIENT_USERMODE, value.put()))) return true;
    return AsBool(value.get()).value_or(true);
}

std::optional<bool> ExtenderParentRunMode(IOleClientSite* site) {
    if (!site) return std::nullopt;
    com_ptr<IOleControlSite> controlSite;
    if (FAILED(site->QueryInterface(IID_IOleControlSite, controlSite.put_void())) || !controlSite) return std::nullopt;
    com_ptr<IDispatch> extender;
    if (FAILED(controlSite->GetExtendedControl(extender.put())) || !extender) return std::nullopt;
    Variant parent;
    if (FAILED(GetByName(extender.get(), L"Parent", parent.put()))) return std::nullopt;
    if (parent.type() != VT_DISPATCH || !parent.get()->pdispVal) return std::nullopt;
    Variant runMode;
    if (FAILED(GetByName(parent.get()->pdispVal, L"RunMode", runMode.put()))) return std::nullopt;
    return AsBool(runMode.get());
}

bool RunModeOf(IOleClientSite* site) {
    bool runMode = AmbientUserMode(site);
    if (auto parent = ExtenderParentRunMode(site)) runMode = *parent;
    return runMode;
}

}  // namespace velview::view
