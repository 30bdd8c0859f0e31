#pragma once
// UTF-8 clean-up for fetched text: a decoder's view of arbitrary bytes.
#include <string>
#include <string_view>

namespace vantorix::manifest {

// Drops a leading UTF-8 byte order mark and replaces every malformed sequence (stray continuation bytes,
// overlong forms, surrogates, code points above U+10FFFF, truncated sequences) by U+FFFD, so the result
// is always valid UTF-8.
std::string CleanUtf8(std::string_view bytes);

}  // namespace vantorix::manifest
