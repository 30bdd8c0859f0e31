#pragma once
// The engine and its callback receiver as the registered control library provides them: MiniblinkAPI and
// MiniblinkCallBack created through COM, the receiver's events taken from its connection point.
#include <memory>

#include "client/engine.h"

namespace vantorix::client {

// Nothing when the class cannot be created (library missing or not registered).
std::unique_ptr<EngineApi> CreateMiniblinkApi();
std::unique_ptr<CallbackReceiver> CreateMiniblinkCallBack();

}  // namespace vantorix::client
