#pragma once
// What the stand-in engine understands of a script (wkeRunJS, wkeRunJSW, jsEval...): a literal, the page's
// title or address, alert('text') (kept as the view's alert, drawn on the page), or a call of a bound
// function with literal arguments (which calls it as the page would). An optional leading "return" and
// trailing ";" are ignored. Anything else runs as nothing and gives undefined.
#include <cstdint>
#include <string>

namespace standin {

std::uint64_t RunScript(int view, const std::wstring& script);

}  // namespace standin
