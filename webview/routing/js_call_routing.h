#pragma once
// Script-call routing: one page-callable function "jsCall" for every web view of the process.
//
// "jsCall" is bound once per process, to JsCallDispatch, by whichever web view owner (Velview or
// VelviewCls) starts first. Each owner writes its script-call stub (cb_Callback slot 2, ordinal 3,
// 2 parameters) into the routing table under the key of its view handle; JsCallDispatch asks the engine
// which view a call came from (jsGetWebView) and calls that view's stub with (es, param).
//
// How a view owner registers its routing entry, in this order:
//
//   jsCallStub_ = thunks_.cb_Callback(3, 2, 2);
//   engine_->wkeInitializeEx(0);
//   if (velview::routing::ClaimJsCallBinding())          // true for the first caller in the process only
//       engine_->wkeJsBindFunction(L"jsCall", velview::routing::JsCallDispatchAddress(), 0, 2);
//   webView_ = engine_->wkeCreateWebWindow(...);         // or wkeCreateWebView()
//   velview::routing::SetJsCallRoute(webView_, jsCallStub_);
//
// and, when the owner goes away before the process ends, velview::routing::RemoveJsCallRoute(webView_,
// jsCallStub_) so that later page calls from its view are dropped instead of reaching a dead object.
//
// Everything here runs on the thread that drives the engine; the state is process-wide and unguarded by
// design (the engine calls back on that one thread).
#include <cstdint>
#include <string>

namespace velview::routing {

// jsCallBound: false until the first ClaimJsCallBinding, then true for the rest of the process.
bool JsCallBound();
// Sets jsCallBound; returns true when it was false, i.e. the caller must now bind "jsCall".
bool ClaimJsCallBinding();

// The routing key of a view: its handle as signed decimal text, "-", "JsCallAddress" (1234-JsCallAddress;
// a handle above 2147483647 gives a key starting with "-").
std::wstring JsCallKey(std::uint32_t webView);

// Writes (or overwrites) the entry of a view: the stdcall (es, param) entry of its script-call handler.
void SetJsCallRoute(std::uint32_t webView, std::uint32_t handlerEntry);
// Removes the entry of a view when it still holds `handlerEntry` (a newer owner of an equal handle keeps
// its own entry). Returns whether an entry was removed.
bool RemoveJsCallRoute(std::uint32_t webView, std::uint32_t handlerEntry);
// The entry of a view; 0 when there is none.
std::uint32_t JsCallRoute(std::uint32_t webView);

// The routine bound to "jsCall" (stdcall; the engine reaches it through a 2-argument cdecl adapter).
// Forwards (es, param) to the handler of the view the call came from; a view without an entry is dropped.
// Always returns the script value 0.
std::uint64_t __stdcall JsCallDispatch(std::uint32_t es, std::uint32_t param);
// The address to bind; asking for it keeps the library loaded until the process ends.
std::uint32_t JsCallDispatchAddress();

}  // namespace velview::routing
