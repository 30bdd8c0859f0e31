/* Test control surface of the stand-in engine node.dll (see engine-standin/README.md).
 *
 * node.dll here is our own small engine for tests and demos. Besides the engine's exports it exports the
 * functions below, all cdecl, all with the prefix "standin". A test either links the `node` target (CMake:
 * target_link_libraries(my_test PRIVATE node)) or resolves them with GetProcAddress from the loaded node.dll;
 * both reach the same state as the engine calls the code under test makes, as long as one node.dll is
 * loaded in the process.
 *
 * Every function may be called on the thread that drives the engine (the one that created its views);
 * callbacks fired from here run synchronously on the caller's thread before the function returns.
 */
#ifndef VANTORIX_STANDIN_CONTROL_H
#define VANTORIX_STANDIN_CONTROL_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

#define STANDIN_CALL __cdecl

/* ---- The call log ----------------------------------------------------------------------------------------
 * Every engine export appends one entry: the export name and one item per argument, in order, holding the
 * bytes the engine received for it:
 *   kind 'i'  32-bit integer, handle or address        4 bytes, little-endian, as pushed
 *   kind 'c'  callback address                          4 bytes
 *   kind 'b'  boolean                                   1 byte: the low byte of its stack slot, as the engine reads it
 *   kind 'v'  64-bit script value                       8 bytes, as pushed
 *   kind 'd'  double                                    8 bytes
 *   kind 'f'  float                                     4 bytes
 *   kind 'w'  UTF-16 text pointer                       the UTF-16LE code units it points at, without the terminator
 *   kind 'a'  narrow text pointer (code page / UTF-8)   the bytes it points at, without the terminating zero
 * A text argument whose pointer is null is logged with is-null set and no bytes.
 * Entry indexes count from 0 since the last standinLogClear. Calls of the standin... functions are not logged.
 */
int STANDIN_CALL standinLogCount(void);
void STANDIN_CALL standinLogClear(void);
/* Logging is on from the start; a benchmark that makes very many calls may switch it off (0) and on (1)
 * again. While it is off, calls are neither kept nor written to the log file. */
void STANDIN_CALL standinLogEnable(int on);
/* Copies the export name (ASCII, zero-terminated) into buf; returns its length, or -1 for no such entry. */
int STANDIN_CALL standinLogName(int entry, char* buf, int bufSize);
/* Index of the first entry at or after `from` whose export name equals `name`; -1 when there is none. */
int STANDIN_CALL standinLogFind(const char* name, int from);
/* Number of logged arguments of an entry; -1 for no such entry. */
int STANDIN_CALL standinLogArgCount(int entry);
/* The kind letter of one argument ('i', 'c', 'b', 'v', 'd', 'f', 'w', 'a'); 0 for no such argument. */
int STANDIN_CALL standinLogArgKind(int entry, int arg);
/* 1 when a text argument's pointer was null; 0 otherwise. */
int STANDIN_CALL standinLogArgIsNull(int entry, int arg);
/* Copies up to bufSize bytes of one argument into buf (buf may be null); returns the full byte count, or -1
 * for no such argument. */
int STANDIN_CALL standinLogArgBytes(int entry, int arg, unsigned char* buf, int bufSize);
/* The first (up to) 8 bytes of one argument read as a little-endian number; 0 for no such argument. */
unsigned long long STANDIN_CALL standinLogArgValue(int entry, int arg);
/* A text argument decoded: 'w' as UTF-16, 'a' as UTF-8 when valid, else the system code page. Returns the
 * length in UTF-16 units (the copy in buf is cut to bufSize - 1 and zero-terminated), -1 for no such
 * argument or one that is not text. */
int STANDIN_CALL standinLogArgText(int entry, int arg, wchar_t* buf, int bufSize);
/* The entry as one text line, the same line the log file gets: the name, then per argument a blank and
 * kind=hex-bytes (lower-case hex, memory order; "null" for a null text pointer), e.g.
 *   wkeShowWindow i=10001e0b b=01
 * Returns the line's length (without terminator; buf gets it cut to fit), -1 for no such entry. */
int STANDIN_CALL standinLogLine(int entry, char* buf, int bufSize);

/* When the environment variable VANTORIX_STANDIN_LOG names a file (it is read at the first logged call),
 * every logged call is also appended to that file as its line (UTF-8 text, one line per call, "\r\n"
 * ends), written at once, so a test in another process can read what the engine received. The file is
 * opened for appending and shared: several runs may write to one file in turn. */

/* ---- Results ---------------------------------------------------------------------------------------------
 * Makes an engine export return `value` instead of its own result: once (its next call only) or always
 * (until standinClearResults). The export still does its own work. The value is taken as the export's
 * whole result: 32 bits for integers, handles and text pointers (all 32 bits reach the caller, so e.g. 2
 * for a boolean export returns the byte 2), 64 bits for script values (EDX:EAX), the bits of a double for
 * the double exports. Returns 1, or 0 when `exportName` is not an engine export. */
#define STANDIN_RESULT_ONCE 0
#define STANDIN_RESULT_ALWAYS 1
int STANDIN_CALL standinSetResult(const char* exportName, unsigned long long value, int mode);
void STANDIN_CALL standinClearResults(void);

/* ---- Page calls -------------------------------------------------------------------------------------------
 * Calls the function bound under `name` (by wkeJsBindFunction or jsBindFunction) as a page of `webView`
 * would: the engine makes a fresh execution state whose jsArgCount is argCount and whose jsArg(es, i) are
 * the given values (jsGetWebView(es) gives webView), then calls the bound routine the way the engine does
 * (wkeJsBindFunction: cdecl (es, param); jsBindFunction: fastcall with es in ECX) and stores its 64-bit
 * script-value result (EDX:EAX) in *result (may be null). Returns 1 when a function of that name is bound
 * and was called, 0 otherwise. */
#define STANDIN_JS_STRING 1
#define STANDIN_JS_INT 2
#define STANDIN_JS_UNDEFINED 3
typedef struct StandinJsArg {
    int type;             /* STANDIN_JS_STRING, STANDIN_JS_INT or STANDIN_JS_UNDEFINED */
    int number;           /* the value of a STANDIN_JS_INT */
    const wchar_t* text;  /* the value of a STANDIN_JS_STRING (zero-terminated UTF-16) */
} StandinJsArg;
int STANDIN_CALL standinCallBound(const char* name, int webView, const StandinJsArg* args, int argCount,
                                  unsigned long long* result);
/* Short form for string arguments only. */
int STANDIN_CALL standinCallBoundStrings(const char* name, int webView, const wchar_t* const* args,
                                         int argCount, unsigned long long* result);

/* ---- Firing notifications --------------------------------------------------------------------------------
 * Calls the callback registered on `webView` through `registration` (an engine export name such as
 * "wkeOnLoadUrlBegin", "wkeOnCreateView", "wkeNetOnResponse", "wkeSetUIThreadCallback") the way the engine
 * does: cdecl, first the view (the web window for wkeOnWindowClosing/Destroy), then the registration's user
 * parameter, then the arguments of its kind, built from `args` as listed here (args may be null: all empty):
 *
 *   wkeOnTitleChanged           title(text1 as string object)
 *   wkeOnMouseOverUrlChanged    url(text1 as string object)
 *   wkeOnURLChanged             url
 *   wkeOnURLChanged2            frameId(ints[0]), url
 *   wkeOnPaintUpdated           hdc(ints[0]), x(ints[1]), y(ints[2]), cx(ints[3]), cy(ints[4])
 *   wkeOnPaintBitUpdated        buffer, record (wkeRect*), width(ints[0]), height(ints[1])
 *   wkeOnAlertBox               Msg(text1 as string object)
 *   wkeOnConfirmBox             Msg(text1 as string object)                                   -> byte
 *   wkeOnPromptBox              Msg(text1), defaultResult(text2), result (a new empty string
 *                               object; its handle is stored in args->promptResult)            -> byte
 *   wkeOnNavigation             navigationType(ints[0]), url                                   -> byte
 *   wkeOnCreateView             navigationType(ints[0]), url, record (wkeWindowFeatures*)      -> view
 *   wkeOnDocumentReady          (nothing more)
 *   wkeOnDocumentReady2         frameId(ints[0])
 *   wkeOnDownload               url                                                            -> byte
 *   wkeOnConsole                level(ints[0]), message(text1), sourceName(text2), sourceLine(ints[1]),
 *                               stackTrace(text3)
 *   wkeOnLoadUrlBegin           url, job (args->job, or a fresh job handle when 0)             -> byte
 *   wkeOnLoadUrlEnd             url, job (as above), buffer, bufferLength (zeros allowed)
 *   wkeOnDidCreateScriptContext frameId(ints[0]), context(ints[1]), extensionGroup(ints[2]), worldId(ints[3])
 *   wkeOnWillReleaseScriptContext frameId(ints[0]), context(ints[1]), worldId(ints[2])
 *   wkeOnWillMediaLoad          url, record (wkeMediaLoadInfo*)
 *   wkeOnWindowClosing          (nothing more)                                                 -> byte
 *   wkeOnWindowDestroy          (nothing more)
 *   wkeNetOnResponse            url, job (as above)                                            -> byte
 *   wkeNetGetFavicon            url, record (wkeMemBuf*)
 *   wkeSetUIThreadCallback      called as (webView, func = ints[0], param)
 *   the other wkeOn... names    ints[0..4]
 * "url" is a plain zero-terminated string in the system code page made from args->url; "string object" is
 * an engine string (wkeGetStringW reads it) made from the text; both stay valid after the call.
 * Returns 1 when a callback was registered (and was called), 0 otherwise; the callback's
 * 32-bit result (EAX, all of it: mask the low byte for the byte results) goes to *callbackResult (may be
 * null). wkeOnCreateView: when the callback returns the handle of one of the engine's views, the url is
 * loaded into that view, where the page's new window opens. */
typedef struct StandinFireArgs {
    const wchar_t* url;         /* plain-string url of the kinds that have one */
    const wchar_t* text1;       /* title / Msg / message */
    const wchar_t* text2;       /* defaultResult / sourceName */
    const wchar_t* text3;       /* stackTrace */
    int ints[5];                /* the kind's integer arguments, in engine order */
    int job;                    /* request handle for the kinds with a job; 0 = make a new one */
    const void* buffer;         /* load-end / paint buffer */
    int bufferLength;           /* its length in bytes */
    const void* record;         /* address handed over for the record of the kind */
    int promptResult;           /* out: the result string object handed to a prompt-box callback */
    int jobUsed;                /* out: the job handle that was passed */
} StandinFireArgs;
int STANDIN_CALL standinFire(int webView, const char* registration, StandinFireArgs* args,
                             unsigned int* callbackResult);
/* The registration of one kind on a view: callback address and user parameter; returns 0 when none. */
int STANDIN_CALL standinRegistration(int webView, const char* registration, unsigned int* callback,
                                     unsigned int* param);
/* 1 when `job` has been hooked with wkeNetHookRequest, else 0. */
int STANDIN_CALL standinJobHooked(int job);

/* ---- Views and pages -------------------------------------------------------------------------------------- */
/* Number of live views (web windows and window-less views), and the handle of the one at an index (in
 * creation order; 0 for an index out of range). */
int STANDIN_CALL standinViewCount(void);
int STANDIN_CALL standinViewAt(int index);
/* The window of a web window (the HWND as an integer); 0 for a window-less view or an unknown handle. */
int STANDIN_CALL standinViewWindow(int webView);
/* The page the view shows: its current URL (UTF-16) and title; returns the length, -1 for an unknown view. */
int STANDIN_CALL standinViewUrl(int webView, wchar_t* buf, int bufSize);
int STANDIN_CALL standinViewTitle(int webView, wchar_t* buf, int bufSize);
/* The keys typed into a web window: the virtual-key codes of the WM_KEYDOWN messages its window received, in
 * order. Copies up to `max` of them into keys (may be null) and returns how many there are; -1 for an
 * unknown view. */
int STANDIN_CALL standinViewKeys(int webView, unsigned int* keys, int max);
/* The page's buttons: one per onJsCall(...) / jsCall(...) call with literal arguments found in its markup,
 * labelled with the text of the element that holds the call. */
int STANDIN_CALL standinButtonCount(int webView);
/* Label of button `index`; returns its length, -1 when there is no such button. */
int STANDIN_CALL standinButtonLabel(int webView, int index, wchar_t* buf, int bufSize);
/* The call a button makes: function name (ASCII) and its arguments joined by '\t'; returns the argument
 * count, -1 when there is no such button. */
int STANDIN_CALL standinButtonCall(int webView, int index, char* nameBuf, int nameSize, wchar_t* argsBuf,
                                   int argsSize);
/* Clicks the first button whose label equals `label` as a user would (the bound function is called with
 * the button's arguments). Returns 1 when a button was found and its function is bound, 0 otherwise. */
int STANDIN_CALL standinClickButton(int webView, const wchar_t* label);
/* The texts of alert('...') scripts run in the view (by wkeRunJS/wkeRunJSW), the latest last; returns
 * the number of them and copies the one at `index` (if any) into buf. */
int STANDIN_CALL standinAlerts(int webView, int index, wchar_t* buf, int bufSize);

/* ---- Load notifications ------------------------------------------------------------------------------------
 * Loading is synchronous and fires nothing by default, so that a test decides what its host sees. With
 * auto-fire on (this call, or VANTORIX_STANDIN_AUTOFIRE=1 in the environment when node.dll loads), every
 * completed load of a view queues, on the engine's thread, the notifications a browser gives, each to
 * whatever is registered on the view, in this order: wkeOnLoadUrlBegin (url, a new job), wkeOnURLChanged
 * (url), wkeOnURLChanged2 (frame 1, url), wkeOnTitleChanged (title), wkeOnDocumentReady,
 * wkeOnDocumentReady2 (frame 1), wkeOnLoadUrlEnd (url, the job, the page's bytes as UTF-8, their length).
 * They run from the message loop, after the load call has returned. */
void STANDIN_CALL standinSetAutoFire(int on);

/* ---- Control from another process --------------------------------------------------------------------------
 * Once the engine is initialised (wkeInitialize/wkeInitializeEx/wkeInit or the first view), node.dll owns a
 * message-only window of class STANDIN_CONTROL_CLASS titled "VantorixStandin <process id>" on that thread.
 * Another process sends it WM_COPYDATA with dwData = STANDIN_COPYDATA_MAGIC and a UTF-8 command whose fields
 * are separated by '\t'; the SendMessage result is the command's result (-1 for an unknown or malformed
 * command). Commands:
 *   click <label>                       click the page button so labelled in the first view that has one
 *   call <name> [<arg>...]              call a bound function with string arguments from the first view
 *                                       with a window (else the first view); result: low 32 bits
 *   fire <registration> [<key>=<value>...]  fire on the first view that has that registration; keys: url,
 *                                       text1, text2, text3, int0..int4, job; result: the callback's result
 *   views                               number of views
 * The log file gets a line "#standin <command>" before a command runs (so the calls it causes follow it)
 * and "#standin <command> -> <result>" after.
 * The tool standinctl.exe (built next to node.dll) sends one command from a command line:
 *   standinctl.exe click Maximize            standinctl.exe fire wkeOnDownload url=http://x/y.zip */
#define STANDIN_CONTROL_CLASS L"VantorixStandinControl"
#define STANDIN_COPYDATA_MAGIC 0x43545356u /* 'VSTC' */

#ifdef __cplusplus
}
#endif

#endif
