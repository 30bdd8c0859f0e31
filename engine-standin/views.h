#pragma once
// Web windows (real windows showing the loaded page) and window-less views, and loading content into them.
#include <string>

#include "engine-standin/engine_state.h"

namespace standin {

// Rebuilds what the view shows after its content changed (buttons, title, alerts).
void RepaintPage(View& view);
// Loads by address: a file:/// address (with an optional ?query or #fragment) is read from disk; other
// addresses are only recorded (the stand-in has no network).
void LoadUrl(View& view, const std::wstring& url);
// Loads a file name or a file:/// address.
void LoadFile(View& view, const std::wstring& file);
void LoadHtml(View& view, const std::wstring& html, const std::wstring& base_url);
// A click on page button `index` as a user would make it: calls its bound function. False when there is no
// such button or its function is not bound.
bool ClickButton(View& view, int index);
// The message-only control window (created on the engine's thread at initialisation).
void EnsureControlWindow();
HINSTANCE ModuleInstance();
// Load notifications (see standinSetAutoFire): queued after a load when switched on.
void SetAutoFire(bool on);
void QueueLoadNotifications(int view);

}  // namespace standin
