#include "common/pagemarkup/page_markup.h"

#include <algorithm>
#include <cstdint>

#include "common/text/ascii.h"

namespace vantorix::pagemarkup {
namespace {

using View = std::u16string_view;

bool IsSpace(char16_t c) { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n' || c == u'\f' || c == 0xA0; }
bool IsIdent(char16_t c) {
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') || c == u'_' || c == u'$';
}

// Case-insensitive search for an ASCII needle.
std::size_t FindNoCase(View hay, View needle, std::size_t from) {
    if (needle.empty() || hay.size() < needle.size()) return View::npos;
    for (std::size_t i = from; i + needle.size() <= hay.size(); ++i) {
        std::size_t k = 0;
        while (k < needle.size() && AsciiLowerChar(hay[i + k]) == AsciiLowerChar(needle[k])) ++k;
        if (k == needle.size()) return i;
    }
    return View::npos;
}

std::u16string CollapseSpaces(View text) {
    std::u16string out;
    bool pending = false;
    for (char16_t c : text) {
        if (IsSpace(c)) {
            pending = !out.empty();
            continue;
        }
        if (pending) out += u' ';
        pending = false;
        out += c;
    }
    return out;
}

void AppendCodePoint(std::u16string& out, std::uint32_t cp) {
    if (cp == 0 || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = 0xFFFD;
    if (cp >= 0x10000) {
        cp -= 0x10000;
        out += static_cast<char16_t>(0xD800 + (cp >> 10));
        out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    } else {
        out += static_cast<char16_t>(cp);
    }
}

// Text of markup with its tags and comments left out, references decoded, blanks collapsed.
std::u16string TextOf(View markup) {
    std::u16string plain;
    for (std::size_t i = 0; i < markup.size();) {
        if (markup.substr(i, 4) == u"<!--") {
            std::size_t end = markup.find(u"-->", i + 4);
            i = end == View::npos ? markup.size() : end + 3;
        } else if (markup[i] == u'<') {
            std::size_t end = markup.find(u'>', i);
            i = end == View::npos ? markup.size() : end + 1;
            plain += u' ';
        } else {
            plain += markup[i++];
        }
    }
    return CollapseSpaces(DecodeEntities(plain));
}

// The end of the tag that begins at `open` (the index of its '>'), skipping quoted attribute values.
std::size_t TagEnd(View html, std::size_t open) {
    char16_t quote = 0;
    for (std::size_t i = open + 1; i < html.size(); ++i) {
        char16_t c = html[i];
        if (quote) {
            if (c == quote) quote = 0;
        } else if (c == u'"' || c == u'\'') {
            quote = c;
        } else if (c == u'>') {
            return i;
        }
    }
    return View::npos;
}

std::u16string AttributeOf(View tag, View name) {
    for (std::size_t at = FindNoCase(tag, name, 0); at != View::npos; at = FindNoCase(tag, name, at + 1)) {
        if (at == 0 || !IsSpace(tag[at - 1])) continue;
        std::size_t i = at + name.size();
        while (i < tag.size() && IsSpace(tag[i])) ++i;
        if (i >= tag.size() || tag[i] != u'=') continue;
        ++i;
        while (i < tag.size() && IsSpace(tag[i])) ++i;
        if (i >= tag.size()) return {};
        char16_t quote = tag[i];
        std::size_t end;
        if (quote == u'"' || quote == u'\'') {
            ++i;
            end = tag.find(quote, i);
        } else {
            end = i;
            while (end < tag.size() && !IsSpace(tag[end]) && tag[end] != u'>') ++end;
        }
        if (end == View::npos) end = tag.size();
        return CollapseSpaces(DecodeEntities(tag.substr(i, end - i)));
    }
    return {};
}

// The label of the element whose start tag holds the call at `call`; empty when the call is not inside a
// start tag.
std::u16string LabelFor(View html, std::size_t call) {
    std::size_t open = html.rfind(u'<', call);
    if (open == View::npos) return {};
    std::size_t end = TagEnd(html, open);
    if (end == View::npos || end < call) return {};
    std::size_t n = open + 1;
    while (n < html.size() && (IsIdent(html[n]) || html[n] == u'-')) ++n;
    std::u16string name;
    for (std::size_t i = open + 1; i < n; ++i) name += AsciiLowerChar(html[i]);
    if (name.empty()) return {};
    View tag = html.substr(open, end - open);
    std::u16string label;
    if (tag.empty() || tag.back() != u'/') {
        // The element's content up to its matching end tag, counting nested elements of the same name.
        std::u16string open_token = u"<" + name, close_token = u"</" + name;
        int depth = 1;
        std::size_t i = end + 1, content_end = View::npos;
        while (depth > 0) {
            std::size_t next_close = FindNoCase(html, close_token, i);
            if (next_close == View::npos) break;
            std::size_t next_open = FindNoCase(html, open_token, i);
            while (next_open != View::npos && next_open < next_close && next_open + open_token.size() < html.size() &&
                   IsIdent(html[next_open + open_token.size()]))
                next_open = FindNoCase(html, open_token, next_open + 1);
            if (next_open != View::npos && next_open < next_close) {
                ++depth;
                i = next_open + open_token.size();
            } else {
                --depth;
                content_end = next_close;
                i = next_close + close_token.size();
            }
        }
        if (depth == 0) label = TextOf(html.substr(end + 1, content_end - end - 1));
    }
    for (View attribute : {View(u"title"), View(u"value"), View(u"aria-label"), View(u"alt")}) {
        if (!label.empty()) break;
        label = AttributeOf(tag, attribute);
    }
    return label;
}

// The name of the attribute whose value holds the call at `call` ("onmousedown" in onmousedown="f()"), in
// lower case; empty when the call is not in an attribute value.
std::string TriggerFor(View html, std::size_t call) {
    std::size_t open = html.rfind(u'<', call);
    if (open == View::npos) return {};
    std::size_t end = TagEnd(html, open);
    if (end == View::npos || end < call) return {};
    // Walk the tag's attributes up to the call, remembering the last name followed by "=".
    std::string last;
    char16_t quote = 0;
    for (std::size_t i = open + 1; i < call; ++i) {
        char16_t c = html[i];
        if (quote) {
            if (c == quote) quote = 0;
            continue;
        }
        if (c == u'"' || c == u'\'') {
            quote = c;
        } else if (c == u'=') {
            std::size_t e = i;
            while (e > open && IsSpace(html[e - 1])) --e;
            std::size_t b = e;
            while (b > open && (IsIdent(html[b - 1]) || html[b - 1] == u'-')) --b;
            last.clear();
            for (std::size_t k = b; k < e; ++k) last += static_cast<char>(AsciiLowerChar(html[k]));
        }
    }
    return quote ? last : std::string();
}

// Reads a JavaScript string literal starting at the quote at `i`; false when it does not end.
bool ReadString(View s, std::size_t& i, std::u16string& out) {
    char16_t quote = s[i++];
    while (i < s.size() && s[i] != quote) {
        char16_t c = s[i++];
        if (c == u'\n') return false;
        if (c != u'\\') {
            out += c;
            continue;
        }
        if (i >= s.size()) return false;
        char16_t e = s[i++];
        switch (e) {
            case u'n': out += u'\n'; break;
            case u't': out += u'\t'; break;
            case u'r': out += u'\r'; break;
            case u'0': out += u'\0'; break;
            case u'u': {
                if (i + 4 > s.size()) return false;
                std::uint32_t v = 0;
                for (int k = 0; k < 4; ++k) {
                    char16_t h = s[i++];
                    int d = h >= u'0' && h <= u'9' ? h - u'0' : h >= u'a' && h <= u'f' ? h - u'a' + 10
                          : h >= u'A' && h <= u'F' ? h - u'A' + 10 : -1;
                    if (d < 0) return false;
                    v = v * 16 + d;
                }
                out += static_cast<char16_t>(v);
                break;
            }
            default: out += e; break;
        }
    }
    if (i >= s.size()) return false;
    ++i;
    return true;
}

bool ReadNumber(View s, std::size_t& i, std::u16string& out) {
    std::size_t start = i;
    if (s[i] == u'-' || s[i] == u'+') ++i;
    std::size_t digits = i;
    while (i < s.size() && ((s[i] >= u'0' && s[i] <= u'9') || s[i] == u'.')) ++i;
    if (i == digits) return false;
    out.assign(s.substr(start, i - start));
    return true;
}

// Parses "(arg, arg, ...)" from the '(' at `i`; only literal arguments are accepted.
bool ReadArguments(View s, std::size_t i, std::vector<CallArgument>& args, std::size_t& end) {
    ++i;
    auto skip = [&] {
        while (i < s.size() && IsSpace(s[i])) ++i;
    };
    skip();
    if (i < s.size() && s[i] == u')') {
        end = i + 1;
        return true;
    }
    while (i < s.size()) {
        skip();
        if (i >= s.size()) return false;
        CallArgument arg;
        if (s[i] == u'\'' || s[i] == u'"') {
            if (!ReadString(s, i, arg.text)) return false;
        } else if (ReadNumber(s, i, arg.text)) {
            arg.is_number = true;
        } else {
            return false;
        }
        args.push_back(std::move(arg));
        skip();
        if (i < s.size() && s[i] == u',') {
            ++i;
            continue;
        }
        if (i < s.size() && s[i] == u')') {
            end = i + 1;
            return true;
        }
        return false;
    }
    return false;
}

}  // namespace

std::u16string DecodeEntities(std::u16string_view text) {
    static const struct {
        const char16_t* name;
        char16_t value;
    } kNamed[] = {{u"amp", u'&'}, {u"lt", u'<'}, {u"gt", u'>'}, {u"quot", u'"'}, {u"apos", u'\''}, {u"nbsp", 0xA0}};
    std::u16string out;
    for (std::size_t i = 0; i < text.size();) {
        if (text[i] != u'&') {
            out += text[i++];
            continue;
        }
        std::size_t semi = text.find(u';', i);
        if (semi == View::npos || semi - i > 10) {
            out += text[i++];
            continue;
        }
        View name = text.substr(i + 1, semi - i - 1);
        bool done = false;
        if (!name.empty() && name[0] == u'#') {
            bool hex = name.size() > 1 && (name[1] == u'x' || name[1] == u'X');
            std::uint32_t v = 0;
            bool ok = name.size() > (hex ? 2u : 1u);
            for (std::size_t k = hex ? 2 : 1; k < name.size() && ok; ++k) {
                char16_t c = name[k];
                int d = c >= u'0' && c <= u'9' ? c - u'0' : hex && c >= u'a' && c <= u'f' ? c - u'a' + 10
                      : hex && c >= u'A' && c <= u'F' ? c - u'A' + 10 : -1;
                if (d < 0 || v > 0x10FFFF) ok = false;
                else v = v * (hex ? 16 : 10) + d;
            }
            if (ok) {
                AppendCodePoint(out, v);
                done = true;
            }
        } else {
            for (const auto& e : kNamed)
                if (name == e.name) {
                    out += e.value;
                    done = true;
                    break;
                }
        }
        if (done) {
            i = semi + 1;
        } else {
            out += text[i++];
        }
    }
    return out;
}

Page ParsePage(std::u16string_view html) {
    Page page;
    std::size_t t = FindNoCase(html, u"<title", 0);
    if (t != View::npos) {
        std::size_t start = html.find(u'>', t);
        std::size_t end = start == View::npos ? View::npos : FindNoCase(html, u"</title", start);
        if (end != View::npos) page.title = CollapseSpaces(DecodeEntities(html.substr(start + 1, end - start - 1)));
    }
    for (std::size_t i = 0; i < html.size();) {
        if (html.substr(i, 4) == u"<!--") {
            std::size_t end = html.find(u"-->", i + 4);
            i = end == View::npos ? html.size() : end + 3;
            continue;
        }
        std::string function;
        if (html.substr(i, 8) == u"onJsCall") function = "onJsCall";
        else if (html.substr(i, 6) == u"jsCall") function = "jsCall";
        if (function.empty() || (i > 0 && IsIdent(html[i - 1]))) {
            ++i;
            continue;
        }
        std::size_t p = i + function.size();
        while (p < html.size() && IsSpace(html[p])) ++p;
        std::size_t end = 0;
        PageCall call;
        call.function = function;
        if (p < html.size() && html[p] == u'(' && ReadArguments(html, p, call.args, end)) {
            call.label = LabelFor(html, i);
            call.trigger = TriggerFor(html, i);
            if (call.label.empty()) call.label = std::u16string(html.substr(i, end - i));
            page.calls.push_back(std::move(call));
            i = end;
        } else {
            i = p;
        }
    }
    return page;
}

namespace {

std::u16string_view Trim(std::u16string_view s) {
    while (!s.empty() && IsSpace(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsSpace(s.back())) s.remove_suffix(1);
    return s;
}

}  // namespace

bool ParseLiteral(std::u16string_view text, CallArgument& out) {
    View s = Trim(text);
    if (s.empty()) return false;
    std::size_t i = 0;
    out = CallArgument{};
    if (s[0] == u'\'' || s[0] == u'"') {
        if (!ReadString(s, i, out.text)) return false;
    } else if (ReadNumber(s, i, out.text)) {
        out.is_number = true;
    } else {
        return false;
    }
    return i == s.size();
}

bool ParseCallExpression(std::u16string_view text, std::string& function, std::vector<CallArgument>& args) {
    View s = Trim(text);
    std::size_t i = 0;
    function.clear();
    args.clear();
    while (i < s.size() && (IsIdent(s[i]) || s[i] == u'.')) function += static_cast<char>(s[i++]);
    if (function.empty() || (function[0] >= '0' && function[0] <= '9')) return false;
    while (i < s.size() && IsSpace(s[i])) ++i;
    std::size_t end = 0;
    if (i >= s.size() || s[i] != u'(' || !ReadArguments(s, i, args, end)) return false;
    return end == s.size();
}

namespace {
constexpr int kHeaderHeight = 96;
constexpr int kMargin = 16;
constexpr int kButtonWidth = 180;
constexpr int kButtonHeight = 36;
constexpr int kGap = 10;
int Columns(int width) { return std::max(1, (width - 2 * kMargin + kGap) / (kButtonWidth + kGap)); }
}  // namespace

Box ButtonBox(int index, int width) {
    int columns = Columns(width);
    int left = kMargin + (index % columns) * (kButtonWidth + kGap);
    int top = kHeaderHeight + kMargin + (index / columns) * (kButtonHeight + kGap);
    return {left, top, left + kButtonWidth, top + kButtonHeight};
}

int ButtonAt(int x, int y, int count, int width) {
    for (int i = 0; i < count; ++i) {
        Box b = ButtonBox(i, width);
        if (x >= b.left && x < b.right && y >= b.top && y < b.bottom) return i;
    }
    return -1;
}

}  // namespace vantorix::pagemarkup
