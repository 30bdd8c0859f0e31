#include "common/manifest/utf8_text.h"

#include <cstdint>

namespace vantorix::manifest {

std::string CleanUtf8(std::string_view bytes) {
    static constexpr char kReplacement[] = "\xEF\xBF\xBD";
    if (bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);
    std::string out;
    out.reserve(bytes.size());
    size_t i = 0;
    while (i < bytes.size()) {
        const auto b0 = static_cast<uint8_t>(bytes[i]);
        if (b0 < 0x80) {
            out += static_cast<char>(b0);
            ++i;
            continue;
        }
        size_t length = 0;
        uint32_t cp = 0, min = 0;
        if (b0 >= 0xC2 && b0 <= 0xDF) length = 2, cp = b0 & 0x1F, min = 0x80;
        else if (b0 >= 0xE0 && b0 <= 0xEF) length = 3, cp = b0 & 0x0F, min = 0x800;
        else if (b0 >= 0xF0 && b0 <= 0xF4) length = 4, cp = b0 & 0x07, min = 0x10000;
        size_t taken = 1;
        bool ok = length != 0;
        while (ok && taken < length) {
            if (i + taken >= bytes.size()) { ok = false; break; }
            const auto b = static_cast<uint8_t>(bytes[i + taken]);
            if ((b & 0xC0) != 0x80) { ok = false; break; }
            cp = (cp << 6) | (b & 0x3F);
            ++taken;
        }
        if (ok && (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))) ok = false;
        if (ok) {
            out.append(bytes.data() + i, length);
            i += length;
        } else {
            // One replacement per maximal bad prefix, the usual decoder practice.
            out += kReplacement;
            i += taken;
        }
    }
    return out;
}

}  // namespace vantorix::manifest
