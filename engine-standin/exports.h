#pragma once
// The engine's exports as data: one descriptor per line of engine_exports.inc, and the behaviour
// handlers that modules attach to them by name.
#include <cstdint>
#include <string_view>

#include "engine-standin/arguments.h"

namespace standin {

// Named as in engine_exports.inc (scoped, so the names do not meet the Windows types of the same name).
enum class ResultKind { NONE, INT, BOOL, TEXT, VALUE, DOUBLE, FLOAT };

// What a handler gives back: the whole result, as bits. DOUBLE and FLOAT exports put the bits of a double
// here (see DoubleBits); the stub moves them to the x87 stack.
using Handler = std::uint64_t (*)(const Arguments&);

struct HandlerEntry {
    const char* name;
    Handler handler;
};

std::uint64_t DoubleBits(double value);
double BitsToDouble(std::uint64_t bits);

// Each behaviour module lists its handlers in a table and hands it over here at load time.
struct HandlerTable {
    HandlerTable(const HandlerEntry* entries, std::size_t count);
};

// Looks an engine export up by name; -1 when it is not one.
int ExportIndex(std::string_view name);
int ExportCount();
const char* ExportName(int index);
const char* ExportShape(int index);
ResultKind ExportResult(int index);

// Result overrides set through the control surface.
void SetResultOverride(int index, std::uint64_t value, bool always);
void ClearResultOverrides();

}  // namespace standin
