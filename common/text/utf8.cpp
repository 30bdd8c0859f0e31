#include "common/text/utf8.h"

namespace vantorix::text {
namespace {

constexpr char16_t kReplacement = 0xFFFD;

void AppendCodePoint(std::u16string& out, char32_t c) {
    if (c < 0x10000) {
        out.push_back(static_cast<char16_t>(c));
    } else {
        c -= 0x10000;
        out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
        out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
    }
}

void AppendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (c >> 18)));
        out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

}  // namespace

std::u16string DecodeUtf8(std::string_view bytes) {
    std::u16string out;
    out.reserve(bytes.size());
    std::size_t i = 0;
    const std::size_t n = bytes.size();
    while (i < n) {
        const unsigned char b = static_cast<unsigned char>(bytes[i]);
        if (b < 0x80) {
            out.push_back(b);
            ++i;
            continue;
        }
        int need;
        char32_t c;
        unsigned char lo = 0x80, hi = 0xBF;  // allowed range of the first continuation byte
        if (b >= 0xC2 && b <= 0xDF) {
            need = 1, c = b & 0x1F;
        } else if (b >= 0xE0 && b <= 0xEF) {
            need = 2, c = b & 0x0F;
            if (b == 0xE0) lo = 0xA0;  // overlong below U+0800
            if (b == 0xED) hi = 0x9F;  // surrogates
        } else if (b >= 0xF0 && b <= 0xF4) {
            need = 3, c = b & 0x07;
            if (b == 0xF0) lo = 0x90;  // overlong below U+10000
            if (b == 0xF4) hi = 0x8F;  // above U+10FFFF
        } else {
            out.push_back(kReplacement);  // continuation byte without a lead, C0, C1, F5..FF
            ++i;
            continue;
        }
        std::size_t j = i + 1;
        bool ok = true;
        for (int k = 0; k < need; ++k, ++j) {
            if (j >= n) {
                ok = false;
                break;
            }
            const unsigned char cb = static_cast<unsigned char>(bytes[j]);
            const unsigned char min = k == 0 ? lo : 0x80, max = k == 0 ? hi : 0xBF;
            if (cb < min || cb > max) {
                ok = false;
                break;
            }
            c = (c << 6) | (cb & 0x3F);
        }
        if (!ok) {
            out.push_back(kReplacement);  // the valid prefix [i, j) is consumed by this one replacement
            i = j;
            continue;
        }
        AppendCodePoint(out, c);
        i = j;
    }
    return out;
}

std::string EncodeUtf8(std::u16string_view text) {
    std::string out;
    out.reserve(text.size() * 3);
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = kReplacement;
        }
        AppendUtf8(out, c);
    }
    return out;
}

std::u16string PercentEncodeUtf8(std::u16string_view text) {
    static const char kHex[] = "0123456789ABCDEF";
    std::u16string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        std::size_t run = i;
        while (run < text.size() && text[run] > 127) ++run;
        if (run == i) {
            out.push_back(text[i++]);
            continue;
        }
        for (unsigned char b : EncodeUtf8(text.substr(i, run - i))) {
            out.push_back(u'%');
            out.push_back(static_cast<char16_t>(kHex[b >> 4]));
            out.push_back(static_cast<char16_t>(kHex[b & 0xF]));
        }
        i = run;
    }
    return out;
}

}  // namespace vantorix::text
