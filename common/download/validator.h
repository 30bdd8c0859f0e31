#pragma once
// The validator that names one version of the remote file: kept in the tag side file beside the data
// side file and sent back as "If-Range" when the kept bytes are resumed. The tag file lies in a folder the
// user can write and is read back at the next start, so its text is checked before it goes into a header.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vantorix::download {

// Longer entity tags than this are not kept (servers make them a few dozen characters long).
inline constexpr std::size_t kMaxValidatorLength = 256;

// True for what "If-Range" may carry: a strong entity tag ('"', visible ASCII other than '"', '"'; at
// most kMaxValidatorLength characters in all) or an HTTP date in one of its three forms
// ("Sun, 06 Nov 1994 08:49:37 GMT", "Sunday, 06-Nov-94 08:49:37 GMT", "Sun Nov  6 08:49:37 1994").
// A weak tag, blanks around it, control characters or line breaks, or any other text is none.
bool IsIfRangeValidator(std::string_view text);

// The validator held by a tag side file's text; nullopt when the text is no validator (nothing from it
// may be sent, and the bytes it came with are not resumed).
std::optional<std::string> ParseValidatorTag(std::wstring_view file_text);

// The request headers of a download from byte `from`: none for a download of the whole file, else
// "Range: bytes=<from>-" and, when `validator` is one, "\r\nIf-Range: <validator>".
std::string RangeRequestHeaders(std::uint64_t from, std::string_view validator);

}  // namespace vantorix::download
