#pragma once
// UTF-8 <-> UTF-16 without any code page: the engine hands back UTF-8 text, the programs keep UTF-16.
#include <string>
#include <string_view>

namespace vantorix::text {

// Decodes UTF-8. Each malformed part (a stray continuation byte, a truncated sequence, an overlong form,
// an encoded surrogate, a value above U+10FFFF, the bytes C0, C1, F5..FF) becomes one U+FFFD, covering
// the longest prefix that could have started a valid sequence, and decoding goes on after it.
// Characters above U+FFFF become surrogate pairs.
std::u16string DecodeUtf8(std::string_view bytes);

// Encodes UTF-16 as UTF-8. A surrogate pair becomes one four-byte sequence; a lone surrogate, which
// no UTF-8 text can hold, becomes U+FFFD (EF BF BD).
std::string EncodeUtf8(std::u16string_view text);

// Every character above 127 written as percent-encoded UTF-8 ("%E4%B8%AD", upper-case hex); characters up
// to 127, "%" and the space included, stay as they are. Built on EncodeUtf8, so a surrogate pair gives
// four groups and a lone surrogate the three groups of U+FFFD.
std::u16string PercentEncodeUtf8(std::u16string_view text);

}  // namespace vantorix::text
