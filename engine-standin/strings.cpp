// Engine string objects: made from UTF-16 or code-page text with a length, read back as UTF-8 or UTF-16,
// overwritten, deleted. A length counts code units (characters of UTF-16, bytes of code-page text); a
// negative length means "up to the terminator", and the text never runs past its terminator, so a caller
// that passes a byte count for UTF-16 text still hands over exactly its text. An unknown handle reads as
// empty text and ignores writes.
#include "engine-standin/engine_state.h"
#include "engine-standin/exports.h"
#include "engine-standin/text_codec.h"

namespace standin {
namespace {

std::uint64_t Pointer(const void* p) { return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(p)); }

template <class Str>
Str Cut(Str text, std::int32_t length) {
    if (length >= 0 && static_cast<std::size_t>(length) < text.size()) text.resize(length);
    return text;
}

std::uint64_t CreateStringW(const Arguments& a) { return static_cast<std::uint32_t>(Engine::Get().NewString(Cut(a.Wide(0), a.Int(1)))); }
std::uint64_t CreateString(const Arguments& a) {
    return static_cast<std::uint32_t>(Engine::Get().NewString(FromCodePage(Cut(a.Narrow(0), a.Int(1)))));
}

std::uint64_t GetString(const Arguments& a) {
    static const char kEmpty[] = "";
    EngineString* s = Engine::Get().FindString(a.Int(0));
    if (!s) return Pointer(kEmpty);
    s->utf8 = ToUtf8(s->text);
    return Pointer(s->utf8.c_str());
}

std::uint64_t GetStringW(const Arguments& a) {
    static const wchar_t kEmpty[] = L"";
    EngineString* s = Engine::Get().FindString(a.Int(0));
    return Pointer(s ? s->text.c_str() : kEmpty);
}

std::uint64_t SetStringW(const Arguments& a) {
    if (EngineString* s = Engine::Get().FindString(a.Int(0))) s->text = Cut(a.Wide(1), a.Int(2));
    return 0;
}

std::uint64_t SetString(const Arguments& a) {
    if (EngineString* s = Engine::Get().FindString(a.Int(0))) s->text = FromCodePage(Cut(a.Narrow(1), a.Int(2)));
    return 0;
}

std::uint64_t DeleteString(const Arguments& a) {
    Engine::Get().DeleteString(a.Int(0));
    return 0;
}

const HandlerEntry kHandlers[] = {
    {"wkeCreateStringW", CreateStringW}, {"wkeCreateString", CreateString}, {"wkeGetString", GetString},
    {"wkeToString", GetString},          {"wkeGetStringW", GetStringW},     {"wkeToStringW", GetStringW},
    {"wkeSetStringW", SetStringW},       {"wkeSetString", SetString},       {"wkeDeleteString", DeleteString},
};
const HandlerTable kTable(kHandlers, sizeof(kHandlers) / sizeof(kHandlers[0]));

}  // namespace
}  // namespace standin
