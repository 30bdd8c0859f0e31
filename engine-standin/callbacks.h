#pragma once
// Calling the host's code as the engine does: bound functions (a page's script calls) and the
// notifications registered with wkeOn... and its kin.
#include <cstdint>
#include <string>
#include <vector>

#include "common/pagemarkup/page_markup.h"
#include "engine-standin/standin_control.h"

namespace standin {

// Calls the function bound under `name` from a page of `view` with the given script values: a fresh
// execution state carries them. False when nothing is bound under that name.
bool CallBinding(const std::string& name, int view, const std::vector<std::uint64_t>& args, std::uint64_t& result);
std::uint64_t LiteralValue(const vantorix::pagemarkup::CallArgument& literal);

// Calls the callback registered on `view` for `registration` with the arguments of its kind; false when
// none is registered (or the name is not a registration the engine knows how to fire).
bool Fire(int view, const std::string& registration, StandinFireArgs& args, std::uint32_t& result);

// A call of the address `fn` with the cdecl convention and 32-bit arguments; its 32-bit result.
std::uint32_t CallCdecl(std::uint32_t fn, const std::vector<std::uint32_t>& words);

}  // namespace standin
