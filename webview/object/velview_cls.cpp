// VelviewCls: the window-less web view object. Its view is built while the object is created; there is
// no container, no window and no run-mode test.
#include <new>

#include "Velview_G_201.h"
#include "webview/com/module.h"
#include "webview/control/view_members.h"

namespace velview::view {
namespace {

class VelviewCls final : public ViewMembers<_VelviewCls> {
public:
    VelviewCls()
        : ViewMembers(IID__VelviewCls, CLSID_VelviewCls, DIID___VelviewCls, ViewKind::Windowless, L"VelviewCls") {}

    static HRESULT Create(REFIID iid, void** out) {
        auto* object = new (std::nothrow) VelviewCls();
        if (!object) return E_OUTOFMEMORY;
        // An error from the engine side fails the creation; a view already made is left to the engine.
        HRESULT hr = object->core().Start(nullptr, 0, 0);
        if (SUCCEEDED(hr)) hr = object->QueryInterface(iid, out);
        object->Release();
        return hr;
    }
};

const ClassInfo kVelviewClsClass{&CLSID_VelviewCls, L"VelviewCls", L"Velview_G_201.VelviewCls",
                                 L"Velview_G_201.VelviewCls.1", false, &VelviewCls::Create};
const ClassRegistration kRegistration(kVelviewClsClass);

}  // namespace
}  // namespace velview::view
