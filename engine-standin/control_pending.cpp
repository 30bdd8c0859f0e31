// Placeholders of the control surface that later steps fill in.
#include "engine-standin/standin_control.h"
extern "C" {
int STANDIN_CALL standinCallBound(const char*, int, const StandinJsArg*, int, unsigned long long*) { return 0; }
int STANDIN_CALL standinCallBoundStrings(const char*, int, const wchar_t* const*, int, unsigned long long*) { return 0; }
int STANDIN_CALL standinFire(int, const char*, StandinFireArgs*, unsigned int*) { return 0; }
int STANDIN_CALL standinRegistration(int, const char*, unsigned int*, unsigned int*) { return 0; }
int STANDIN_CALL standinJobHooked(int) { return 0; }
int STANDIN_CALL standinViewCount(void) { return 0; }
int STANDIN_CALL standinViewAt(int) { return 0; }
int STANDIN_CALL standinViewWindow(int) { return 0; }
int STANDIN_CALL standinViewUrl(int, wchar_t*, int) { return -1; }
int STANDIN_CALL standinViewTitle(int, wchar_t*, int) { return -1; }
int STANDIN_CALL standinButtonCount(int) { return 0; }
int STANDIN_CALL standinButtonLabel(int, int, wchar_t*, int) { return -1; }
int STANDIN_CALL standinButtonCall(int, int, char*, int, wchar_t*, int) { return -1; }
int STANDIN_CALL standinClickButton(int, const wchar_t*) { return 0; }
int STANDIN_CALL standinAlerts(int, int, wchar_t*, int) { return 0; }
}
