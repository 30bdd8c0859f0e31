/* An early-bound C client that knows _MiniblinkAPI only from the type library: it looks up each member's
 * vtable offset (FUNCDESC.oVft) by name and calls through the object's vtable at that offset, as a C or
 * Delphi program built against the type library does. */
#define COBJMACROS
#include <windows.h>
#include <oaidl.h>

#include "early_bound.h"

typedef HRESULT(__stdcall* OutLong)(void* self, long* out);
typedef HRESULT(__stdcall* LongOutLong)(void* self, long a, long* out);
typedef HRESULT(__stdcall* ThreeLongs)(void* self, long a, long b, long c);
typedef HRESULT(__stdcall* Long)(void* self, long a);

/* The vtable slot of the method `name` that `info` describes; -1 when there is none. */
static int SlotOf(ITypeInfo* info, const wchar_t* name) {
    MEMBERID id = MEMBERID_NIL;
    LPOLESTR names[1] = {(LPOLESTR)name};
    TYPEATTR* attr = NULL;
    int slot = -1;
    UINT i;
    if (FAILED(ITypeInfo_GetIDsOfNames(info, names, 1, &id))) return -1;
    if (FAILED(ITypeInfo_GetTypeAttr(info, &attr))) return -1;
    for (i = 0; i < attr->cFuncs && slot < 0; ++i) {
        FUNCDESC* desc = NULL;
        if (FAILED(ITypeInfo_GetFuncDesc(info, i, &desc))) continue;
        if (desc->memid == id && desc->invkind == INVOKE_FUNC) slot = desc->oVft / (int)sizeof(void*);
        ITypeInfo_ReleaseFuncDesc(info, desc);
    }
    ITypeInfo_ReleaseTypeAttr(info, attr);
    return slot;
}

static void* At(void* object, int slot) { return (*(void***)object)[slot]; }

int EarlyBoundWidthRoundTrip(const wchar_t* libraryPath, IUnknown* api, long width, long* view, long* readBack) {
    ITypeLib* lib = NULL;
    ITypeInfo* info = NULL;
    void* itf = NULL;
    int init, create, resize, getWidth, ok = 0;
    if (FAILED(LoadTypeLibEx(libraryPath, REGKIND_NONE, &lib))) return 0;
    if (SUCCEEDED(ITypeLib_GetTypeInfoOfGuid(lib, &IID__MiniblinkAPI, &info)) &&
        SUCCEEDED(IUnknown_QueryInterface(api, &IID__MiniblinkAPI, &itf))) {
        init = SlotOf(info, L"wkeInitializeEx");
        create = SlotOf(info, L"wkeCreateWebView");
        resize = SlotOf(info, L"wkeResize");
        getWidth = SlotOf(info, L"wkeGetWidth");
        if (init > 6 && create > 6 && resize > 6 && getWidth > 6) {  /* after IUnknown and IDispatch */
            ((Long)At(itf, init))(itf, 0);
            ((OutLong)At(itf, create))(itf, view);
            ((ThreeLongs)At(itf, resize))(itf, *view, width, 50);
            ok = SUCCEEDED(((LongOutLong)At(itf, getWidth))(itf, *view, readBack));
        }
        IUnknown_Release((IUnknown*)itf);
    }
    if (info) ITypeInfo_Release(info);
    ITypeLib_Release(lib);
    return ok;
}
