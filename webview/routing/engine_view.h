#pragma once
// The dispatcher's one question to the engine: which web view a script call came from.
#include <cstdint>

namespace velview::routing {

// jsGetWebView(es) through the dispatcher's own engine table, made on first use; 0 when unknown.
std::uint32_t ViewOfCall(std::uint32_t es);

}  // namespace velview::routing
