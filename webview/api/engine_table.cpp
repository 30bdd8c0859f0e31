#include "webview/api/engine_table.h"

#include <cstring>

namespace velview::api {

const std::vector<Method>& Methods() {
#define P(kind, name) Param{Kind::kind, #name, 0}
#define C(n, name) Param{Kind::Callback, #name, n}
#define F(n, name) Param{Kind::Fastcall, #name, n}
#define MB_METHOD(name, result, ...) Method{#name, Result::result, {__VA_ARGS__}},
    static const std::vector<Method> methods = {
#include "webview/api/miniblink_methods.inc"
    };
#undef MB_METHOD
#undef F
#undef C
#undef P
    return methods;
}

const std::vector<const char*>& ExportNames() {
#define ENGINE_EXPORT(name) #name,
    static const std::vector<const char*> names = {
#include "webview/api/engine_exports.inc"
    };
#undef ENGINE_EXPORT
    return names;
}

int ReturnTypeOf(Result result) {
    switch (result) {
        case Result::None: return 0;
        case Result::Bool: return 17;
        case Result::Double: return 5;
        case Result::Js: return 6;
        default: return 3;
    }
}

int StringModeOf(const Method& method) {
    for (const Param& p : method.params) {
        if (p.kind == Kind::Ansi || p.kind == Kind::Escaped) return 1;
        if (p.kind == Kind::Wide) return 2;
    }
    return 0;
}

int ExportIndexOf(const Method& method) {
    const auto& names = ExportNames();
    for (std::size_t i = 0; i < names.size(); ++i)
        if (std::strcmp(names[i], method.name) == 0) return static_cast<int>(i);
    return -1;
}

}  // namespace velview::api
