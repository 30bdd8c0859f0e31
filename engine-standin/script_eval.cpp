#include "engine-standin/script_eval.h"

#include <cwchar>

#include "common/pagemarkup/page_markup.h"
#include "engine-standin/callbacks.h"
#include "engine-standin/engine_state.h"
#include "engine-standin/views.h"

namespace standin {
namespace {

namespace pm = vantorix::pagemarkup;

std::u16string U16(const std::wstring& w) { return std::u16string(w.begin(), w.end()); }
std::wstring W(const std::u16string& u) { return std::wstring(u.begin(), u.end()); }

std::wstring Trimmed(std::wstring s) {
    auto blank = [](wchar_t c) { return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n'; };
    while (!s.empty() && blank(s.front())) s.erase(0, 1);
    while (!s.empty() && (blank(s.back()) || s.back() == L';')) s.pop_back();
    return s;
}

}  // namespace

std::uint64_t LiteralValue(const pm::CallArgument& literal) {
    Engine& e = Engine::Get();
    if (literal.is_number) return e.Number(std::wcstod(W(literal.text).c_str(), nullptr));
    return e.String(W(literal.text));
}

std::uint64_t RunScript(int view, const std::wstring& script) {
    Engine& e = Engine::Get();
    std::wstring s = Trimmed(script);
    if (s.compare(0, 6, L"return") == 0 && (s.size() == 6 || s[6] == L' ' || s[6] == L'\t' || s[6] == L'('))
        s = Trimmed(s.substr(6));
    View* v = e.FindView(view);
    if (s.empty() || s == L"undefined") return e.Undefined();
    if (s == L"null") return e.Null();
    if (s == L"true" || s == L"false") return e.Boolean(s == L"true");
    if (s == L"document.title") return e.String(v ? v->title : L"");
    if (s == L"location.href" || s == L"window.location.href" || s == L"document.URL") return e.String(v ? v->url : L"");
    pm::CallArgument literal;
    if (pm::ParseLiteral(U16(s), literal)) return LiteralValue(literal);
    std::string function;
    std::vector<pm::CallArgument> args;
    if (!pm::ParseCallExpression(U16(s), function, args)) return e.Undefined();
    if (function.compare(0, 7, "window.") == 0) function.erase(0, 7);
    if (function == "alert") {
        if (v) {
            v->alerts.push_back(args.empty() ? L"" : W(args[0].text));
            RepaintPage(*v);
        }
        return e.Undefined();
    }
    std::vector<std::uint64_t> values;
    for (const auto& a : args) values.push_back(LiteralValue(a));
    std::uint64_t result = e.Undefined();
    if (!CallBinding(function, view, values, result)) return e.Undefined();
    return result;
}

}  // namespace standin
