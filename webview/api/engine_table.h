#pragma once
// The engine function table as data: the 333 export names and the 210 methods of _MiniblinkAPI with
// their parameter and result kinds, read from engine_exports.inc and miniblink_methods.inc.
#include <cstdint>
#include <string>
#include <vector>

namespace velview::api {

enum class Kind : std::uint8_t {
    Int,       // 32-bit integer (handle, pointer, count, coordinate, flag word)
    Bool,      // public 16-bit boolean -> one byte, 1 for any non-zero value
    Double,    // double
    Js,        // 64-bit script value, carried bit for bit in a currency field
    Ansi,      // text -> zero-terminated, system code page
    Wide,      // text -> zero-terminated UTF-16
    Escaped,   // text -> percent-encoded UTF-8 (PercentEncodeUtf8), then as Ansi
    Callback,  // stdcall routine -> new cdecl adapter of adapterArguments arguments
    Fastcall,  // stdcall routine -> fastcall adapter of adapterArguments arguments
};

enum class Result : std::uint8_t { None, Int, Bool, Double, Js, Utf8, Utf16, Ansi };

struct Param {
    Kind kind;
    const char* name;
    int adapterArguments;  // Callback and Fastcall only
};

struct Method {
    const char* name;
    Result result;
    std::vector<Param> params;
};

inline constexpr int kMethodCount = 210;
inline constexpr int kExportCount = 333;
inline constexpr std::size_t kMaxParams = 12;  // no method has more parameters

const std::vector<Method>& Methods();            // interface order
const std::vector<const char*>& ExportNames();   // alphabetical, as held per instance

// The variant type a result is asked for with (0 none, 3 integer or text pointer, 5 double, 6 currency,
// 17 unsigned byte).
int ReturnTypeOf(Result result);
// The string mode of a method's call: 1 when it has code-page text, 2 when it has UTF-16 text, else 0.
int StringModeOf(const Method& method);
// Index of the method's export in ExportNames(), or -1 when the table holds no such export.
int ExportIndexOf(const Method& method);

}  // namespace velview::api
