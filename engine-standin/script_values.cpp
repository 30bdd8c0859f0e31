// Script values and execution states: making values, reading them back (jsTo...), testing them (jsIs...),
// the arguments of a script call (jsArg, jsArgCount, jsArgType) and a little object and global storage.
// Script values travel as 64 bits; the functions that take an object or value as a 32-bit integer
// (jsGet, jsSet) find it by its low half.
#include <cmath>
#include <cstdio>
#include <cwchar>

#include "engine-standin/engine_state.h"
#include "engine-standin/exports.h"
#include "engine-standin/script_eval.h"
#include "engine-standin/text_codec.h"

namespace standin {
namespace {

std::uint64_t Pointer(const void* p) { return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(p)); }
Engine& E() { return Engine::Get(); }

JsType TypeOf(std::uint64_t v) {
    JsValue* value = E().FindValue(v);
    return value ? value->type : JsType::Undefined;
}

// The value's text as JavaScript's String() gives it.
std::wstring TextOf(const JsValue& v) {
    switch (v.type) {
        case JsType::String: return v.text;
        case JsType::Boolean: return v.number != 0 ? L"true" : L"false";
        case JsType::Null: return L"null";
        case JsType::Undefined: return L"undefined";
        case JsType::Object: return L"[object Object]";
        case JsType::Function: return L"function () { [native code] }";
        case JsType::Array: return L"";
        case JsType::Number: {
            if (std::isnan(v.number)) return L"NaN";
            if (std::isinf(v.number)) return v.number > 0 ? L"Infinity" : L"-Infinity";
            wchar_t buf[64];
            if (v.number == std::floor(v.number) && std::fabs(v.number) < 1e21)
                std::swprintf(buf, 64, L"%.0f", v.number);
            else
                std::swprintf(buf, 64, L"%.17g", v.number);
            return buf;
        }
    }
    return L"";
}

double NumberOf(const JsValue& v) {
    switch (v.type) {
        case JsType::Number:
        case JsType::Boolean: return v.number;
        case JsType::String: {
            if (v.text.empty()) return 0;
            wchar_t* end = nullptr;
            double d = std::wcstod(v.text.c_str(), &end);
            while (end && (*end == L' ' || *end == L'\t' || *end == L'\n' || *end == L'\r')) ++end;
            return end && *end == 0 ? d : NAN;
        }
        case JsType::Null: return 0;
        default: return NAN;
    }
}

// JavaScript's ToInt32: NaN and infinities give 0, everything else wraps modulo 2^32.
std::int32_t ToInt32(double d) {
    if (!std::isfinite(d)) return 0;
    double m = std::fmod(std::trunc(d), 4294967296.0);
    if (m < 0) m += 4294967296.0;
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(m));
}

std::uint64_t ArgCount(const Arguments& a) {
    ExecState* es = E().FindExecState(a.Int(0));
    return es ? es->args.size() : 0;
}

std::uint64_t Arg(const Arguments& a) {
    ExecState* es = E().FindExecState(a.Int(0));
    int n = a.Int(1);
    if (!es || n < 0 || n >= static_cast<int>(es->args.size())) return E().Undefined();
    return es->args[n];
}

std::uint64_t ArgType(const Arguments& a) { return static_cast<std::uint32_t>(TypeOf(Arg(a))); }
std::uint64_t TypeOfValue(const Arguments& a) { return static_cast<std::uint32_t>(TypeOf(a.Value(0))); }

template <JsType T>
std::uint64_t Is(const Arguments& a) {
    return TypeOf(a.Value(0)) == T ? 1 : 0;
}

std::uint64_t IsTrue(const Arguments& a) {
    JsValue* v = E().FindValue(a.Value(0));
    return v && v->type == JsType::Boolean && v->number != 0 ? 1 : 0;
}
std::uint64_t IsFalse(const Arguments& a) {
    JsValue* v = E().FindValue(a.Value(0));
    return v && v->type == JsType::Boolean && v->number == 0 ? 1 : 0;
}

std::uint64_t ToInt(const Arguments& a) {
    JsValue* v = E().FindValue(a.Value(1));
    return static_cast<std::uint32_t>(v ? ToInt32(NumberOf(*v)) : 0);
}
std::uint64_t ToDouble(const Arguments& a) {
    JsValue* v = E().FindValue(a.Value(1));
    return DoubleBits(v ? NumberOf(*v) : NAN);
}
std::uint64_t ToBoolean(const Arguments& a) {
    JsValue* v = E().FindValue(a.Value(1));
    if (!v) return 0;
    switch (v->type) {
        case JsType::Number:
        case JsType::Boolean: return v->number != 0 && !std::isnan(v->number);
        case JsType::String: return !v->text.empty();
        case JsType::Undefined:
        case JsType::Null: return 0;
        default: return 1;
    }
}

std::uint64_t ToStringW(const Arguments& a) {
    static const wchar_t kEmpty[] = L"";
    JsValue* v = E().FindValue(a.Value(1));
    if (!v) return Pointer(kEmpty);
    v->wide = TextOf(*v);
    return Pointer(v->wide.c_str());
}
std::uint64_t ToStringUtf8(const Arguments& a) {
    static const char kEmpty[] = "";
    JsValue* v = E().FindValue(a.Value(1));
    if (!v) return Pointer(kEmpty);
    v->utf8 = ToUtf8(TextOf(*v));
    return Pointer(v->utf8.c_str());
}

std::uint64_t Int(const Arguments& a) { return E().Number(a.Int(0)); }
std::uint64_t Double(const Arguments& a) { return E().Number(a.Real(0)); }
std::uint64_t Boolean(const Arguments& a) { return E().Boolean(a.Bool(0)); }
std::uint64_t True(const Arguments&) { return E().Boolean(true); }
std::uint64_t False(const Arguments&) { return E().Boolean(false); }
std::uint64_t Null(const Arguments&) { return E().Null(); }
std::uint64_t Undefined(const Arguments&) { return E().Undefined(); }
std::uint64_t String(const Arguments& a) { return E().String(FromCodePage(a.Narrow(1))); }
std::uint64_t StringW(const Arguments& a) { return E().String(a.Wide(1)); }
std::uint64_t EmptyObject(const Arguments&) {
    JsValue v;
    v.type = JsType::Object;
    return E().NewValue(std::move(v));
}
std::uint64_t EmptyArray(const Arguments&) {
    JsValue v;
    v.type = JsType::Array;
    return E().NewValue(std::move(v));
}

// A value given as its low 32 bits (jsGet, jsSet): the handle with that low half.
JsValue* ValueOfLow(std::int32_t low) {
    return E().FindValue(E().ValueFromLow(static_cast<std::uint32_t>(low)));
}
std::uint64_t FullOfLow(std::int32_t low) { return E().ValueFromLow(static_cast<std::uint32_t>(low)); }

std::uint64_t Get(const Arguments& a) {
    JsValue* object = ValueOfLow(a.Int(1));
    if (!object) return E().Undefined();
    auto it = object->properties.find(a.Narrow(2));
    return it == object->properties.end() ? E().Undefined() : it->second;
}
std::uint64_t Set(const Arguments& a) {
    if (JsValue* object = ValueOfLow(a.Int(1))) object->properties[a.Narrow(2)] = FullOfLow(a.Int(3));
    return 0;
}
std::uint64_t GetGlobal(const Arguments& a) {
    auto& globals = E().global_properties;
    auto it = globals.find(a.Narrow(1));
    return it == globals.end() ? E().Undefined() : it->second;
}
std::uint64_t SetGlobal(const Arguments& a) {
    E().global_properties[a.Narrow(1)] = a.Value(2);
    return 0;
}
std::uint64_t GetAt(const Arguments& a) {
    JsValue* array = E().FindValue(a.Value(1));
    int n = a.Int(2);
    if (!array || n < 0 || n >= static_cast<int>(array->items.size())) return E().Undefined();
    return array->items[n];
}
std::uint64_t SetAt(const Arguments& a) {
    JsValue* array = E().FindValue(a.Value(1));
    int n = a.Int(2);
    if (array && n >= 0 && n < 1 << 20) {
        if (n >= static_cast<int>(array->items.size())) array->items.resize(n + 1, E().Undefined());
        array->items[n] = a.Value(3);
    }
    return 0;
}
std::uint64_t GetLength(const Arguments& a) {
    JsValue* v = E().FindValue(a.Value(1));
    if (!v) return 0;
    return v->type == JsType::String ? v->text.size() : v->items.size();
}
std::uint64_t SetLength(const Arguments& a) {
    JsValue* v = E().FindValue(a.Value(1));
    int n = a.Int(2);
    if (v && n >= 0 && n < 1 << 20) v->items.resize(n, E().Undefined());
    return 0;
}

std::uint64_t GetWebView(const Arguments& a) {
    ExecState* es = E().FindExecState(a.Int(0));
    return es ? static_cast<std::uint32_t>(es->view) : 0;
}
std::uint64_t IsValidExecState(const Arguments& a) { return E().FindExecState(a.Int(0)) ? 1 : 0; }
std::uint64_t IsValueValid(const Arguments& a) { return E().FindValue(a.Value(1)) ? 1 : 0; }

std::uint64_t EvalIn(const Arguments& a, const std::wstring& script) {
    ExecState* es = E().FindExecState(a.Int(0));
    return RunScript(es ? es->view : 0, script);
}
std::uint64_t EvalW(const Arguments& a) { return EvalIn(a, a.Wide(1)); }
std::uint64_t Eval(const Arguments& a) { return EvalIn(a, FromCodePage(a.Narrow(1))); }

const HandlerEntry kHandlers[] = {
    {"jsArgCount", ArgCount},
    {"jsArg", Arg},
    {"jsArgType", ArgType},
    {"jsTypeOf", TypeOfValue},
    {"jsIsNumber", Is<JsType::Number>},
    {"jsIsString", Is<JsType::String>},
    {"jsIsBoolean", Is<JsType::Boolean>},
    {"jsIsObject", Is<JsType::Object>},
    {"jsIsFunction", Is<JsType::Function>},
    {"jsIsUndefined", Is<JsType::Undefined>},
    {"jsIsNull", Is<JsType::Null>},
    {"jsIsArray", Is<JsType::Array>},
    {"jsIsTrue", IsTrue},
    {"jsIsFalse", IsFalse},
    {"jsToInt", ToInt},
    {"jsToDouble", ToDouble},
    {"jsToFloat", ToDouble},
    {"jsToBoolean", ToBoolean},
    {"jsToTempStringW", ToStringW},
    {"jsToStringW", ToStringW},
    {"jsToTempString", ToStringUtf8},
    {"jsToString", ToStringUtf8},
    {"jsInt", Int},
    {"jsDouble", Double},
    {"jsFloat", Double},
    {"jsBoolean", Boolean},
    {"jsTrue", True},
    {"jsFalse", False},
    {"jsNull", Null},
    {"jsUndefined", Undefined},
    {"jsString", String},
    {"jsStringW", StringW},
    {"jsEmptyObject", EmptyObject},
    {"jsEmptyArray", EmptyArray},
    {"jsGet", Get},
    {"jsSet", Set},
    {"jsGetGlobal", GetGlobal},
    {"jsSetGlobal", SetGlobal},
    {"jsGetAt", GetAt},
    {"jsSetAt", SetAt},
    {"jsGetLength", GetLength},
    {"jsSetLength", SetLength},
    {"jsGetWebView", GetWebView},
    {"jsIsValidExecState", IsValidExecState},
    {"jsIsJsValueValid", IsValueValid},
    {"jsEvalW", EvalW},
    {"jsEvalExW", EvalW},
    {"jsEval", Eval},
};
const HandlerTable kTable(kHandlers, sizeof(kHandlers) / sizeof(kHandlers[0]));

}  // namespace
}  // namespace standin
