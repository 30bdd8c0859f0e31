// VelviewCls: the window-less web view object. Its view is built while the object is created; there is
// no container, no window and no run-mode test.
#include <new>

#include "Velview_G_201.h"
#include "webview/com/module.h"
#include "webview/control/view_members.h"
#include "win/com_ptr.h"

namespace velview::view {
namespace {

class VelviewCls final : public ViewMembers<_VelviewCls> {
public:
    VelviewCls()
        : ViewMembers(IID__VelviewCls, CLSID_VelviewCls, DIID___VelviewCls, ViewKind::Windowless, L"VelviewCls") {}

    static HRESULT Create(REFIID iid, void** out) {
        const vantorix::win::com_ptr<VelviewCls> object(new (std::nothrow) VelviewCls());
        if (!object) return E_OUTOFMEMORY;
        // An error from the engine side fails the creation; a view already made is left to the engine.
        const HRESULT hr = object->core().Start(nullptr, 0, 0);
        return SUCCEEDED(hr) ? object->QueryInterface(iid, out) : hr;
    }
};

const ClassInfo kVelviewClsClass{&CLSID_VelviewCls, L"VelviewCls", L"Velview_G_201.VelviewCls",
                                 L"Velview_G_201.VelviewCls.1", false, &VelviewCls::Create};
const ClassRegistration kRegistration(kVelviewClsClass);

}  // namespace
}  // namespace velview::view
