#include "common/download/validator.h"

#include <cstdint>
#include <initializer_list>

namespace vantorix::download {
namespace {

// Reads one HTTP-date form from the front of the text, piece by piece.
class DateReader {
public:
    explicit DateReader(std::string_view text) : text_(text) {}
    bool Literal(std::string_view s) {
        if (text_.substr(pos_, s.size()) != s) return false;
        pos_ += s.size();
        return true;
    }
    // One of the names; exact case, as the grammar has them.
    bool OneOf(std::initializer_list<std::string_view> names) {
        for (std::string_view name : names)
            if (Literal(name)) return true;
        return false;
    }
    // `count` digits whose value lies in [low, high].
    bool Number(std::size_t count, int low, int high) {
        int value = 0;
        for (std::size_t i = 0; i < count; ++i, ++pos_) {
            if (pos_ >= text_.size() || text_[pos_] < '0' || text_[pos_] > '9') return false;
            value = value * 10 + (text_[pos_] - '0');
        }
        return value >= low && value <= high;
    }
    bool Time() { return Number(2, 0, 23) && Literal(":") && Number(2, 0, 59) && Literal(":") && Number(2, 0, 60); }
    bool AtEnd() const { return pos_ == text_.size(); }

private:
    std::string_view text_;
    std::size_t pos_ = 0;
};

const std::initializer_list<std::string_view> kDays = {"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};
const std::initializer_list<std::string_view> kLongDays = {"Monday", "Tuesday", "Wednesday", "Thursday",
                                                           "Friday", "Saturday", "Sunday"};
const std::initializer_list<std::string_view> kMonths = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

bool IsImfFixdate(std::string_view t) {  // Sun, 06 Nov 1994 08:49:37 GMT
    DateReader r(t);
    return r.OneOf(kDays) && r.Literal(", ") && r.Number(2, 1, 31) && r.Literal(" ") && r.OneOf(kMonths) &&
           r.Literal(" ") && r.Number(4, 0, 9999) && r.Literal(" ") && r.Time() && r.Literal(" GMT") && r.AtEnd();
}

bool IsRfc850Date(std::string_view t) {  // Sunday, 06-Nov-94 08:49:37 GMT
    DateReader r(t);
    return r.OneOf(kLongDays) && r.Literal(", ") && r.Number(2, 1, 31) && r.Literal("-") && r.OneOf(kMonths) &&
           r.Literal("-") && r.Number(2, 0, 99) && r.Literal(" ") && r.Time() && r.Literal(" GMT") && r.AtEnd();
}

bool IsAsctimeDate(std::string_view t) {  // Sun Nov  6 08:49:37 1994
    DateReader r(t);
    if (!(r.OneOf(kDays) && r.Literal(" ") && r.OneOf(kMonths) && r.Literal(" "))) return false;
    if (!(r.Literal(" ") ? r.Number(1, 1, 9) : r.Number(2, 10, 31))) return false;
    return r.Literal(" ") && r.Time() && r.Literal(" ") && r.Number(4, 0, 9999) && r.AtEnd();
}

bool IsStrongEntityTag(std::string_view t) {
    if (t.size() < 2 || t.size() > kMaxValidatorLength || t.front() != '"' || t.back() != '"') return false;
    for (std::size_t i = 1; i + 1 < t.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(t[i]);
        if (c < 0x21 || c > 0x7E || c == '"') return false;
    }
    return true;
}

}  // namespace

bool IsIfRangeValidator(std::string_view text) {
    return IsStrongEntityTag(text) || IsImfFixdate(text) || IsRfc850Date(text) || IsAsctimeDate(text);
}

std::optional<std::string> ParseValidatorTag(std::wstring_view file_text) {
    if (file_text.size() > kMaxValidatorLength) return std::nullopt;
    std::string text;
    for (wchar_t c : file_text) {
        if (c > 0x7E) return std::nullopt;
        text += static_cast<char>(c);
    }
    if (!IsIfRangeValidator(text)) return std::nullopt;
    return text;
}

std::string RangeRequestHeaders(std::uint64_t from, std::string_view validator) {
    if (from == 0) return {};
    std::string headers = "Range: bytes=" + std::to_string(from) + "-";
    if (IsIfRangeValidator(validator)) headers += "\r\nIf-Range: " + std::string(validator);
    return headers;
}

}  // namespace vantorix::download
