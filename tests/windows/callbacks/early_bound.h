/* An early-bound C client of _MiniblinkAPI that takes every vtable offset from the type library alone. */
#ifndef VELVIEW_TEST_EARLY_BOUND_H
#define VELVIEW_TEST_EARLY_BOUND_H
#include <windows.h>
#include <unknwn.h>
#include "Velview_G_201.h"
#ifdef __cplusplus
extern "C" {
#endif
/* Initialises the engine, makes a view, resizes it to `width` and reads the width back, every call by the
 * member's vtable offset from the type library in `libraryPath`. Returns 1 when every step could be made. */
int EarlyBoundWidthRoundTrip(const wchar_t* libraryPath, IUnknown* api, long width, long* view, long* readBack);
#ifdef __cplusplus
}
#endif
#endif
