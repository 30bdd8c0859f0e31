#include "common/update_flow/http_time.h"

#include <cstdio>

#include <array>
#include <string>

namespace vantorix::update_flow {
namespace {

constexpr std::array<std::string_view, 12> kMonths = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                      "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
constexpr std::array<std::string_view, 7> kDays = {"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};
constexpr std::array<std::string_view, 7> kLongDays = {"Monday", "Tuesday", "Wednesday", "Thursday",
                                                       "Friday", "Saturday", "Sunday"};

// Reads a text left to right; any mismatch makes it fail for good.
class Cursor {
public:
    explicit Cursor(std::string_view text) : rest_(text) {}
    bool ok() const { return ok_; }
    bool AtEnd() const { return ok_ && rest_.empty(); }
    void Expect(std::string_view literal) {
        if (ok_ && rest_.substr(0, literal.size()) == literal) rest_.remove_prefix(literal.size());
        else ok_ = false;
    }
    // Exactly `digits` decimal digits; a leading space stands for a zero when space_padded.
    int Number(size_t digits, bool space_padded = false) {
        int value = 0;
        for (size_t i = 0; i < digits; ++i) {
            const char c = ok_ && !rest_.empty() ? rest_.front() : 'x';
            if (c >= '0' && c <= '9') value = value * 10 + (c - '0');
            else if (!(space_padded && i == 0 && c == ' ')) ok_ = false;
            if (ok_) rest_.remove_prefix(1);
        }
        return value;
    }
    // The index of the word of the list the text starts with.
    template <size_t N>
    int OneOf(const std::array<std::string_view, N>& words) {
        for (size_t i = 0; ok_ && i < N; ++i)
            if (rest_.substr(0, words[i].size()) == words[i]) {
                rest_.remove_prefix(words[i].size());
                return static_cast<int>(i);
            }
        ok_ = false;
        return 0;
    }

private:
    std::string_view rest_;
    bool ok_ = true;
};

bool IsLeap(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

// Days from 1970-01-01 to the civil date (proleptic Gregorian calendar).
int64_t DaysFromCivil(int year, int month, int day) {
    const int y = year - (month <= 2);
    const int era = (y >= 0 ? y : y - 399) / 400;
    const int year_of_era = y - era * 400;
    const int day_of_year = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const int day_of_era = year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
    return static_cast<int64_t>(era) * 146097 + day_of_era - 719468;
}

std::optional<int64_t> Seconds(const Cursor& c, int year, int month /* 1..12 */, int day, int hour, int minute, int second) {
    static constexpr int kMonthDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (!c.AtEnd() || month < 1 || month > 12 || day < 1 || hour > 23 || minute > 59 || second > 60) return std::nullopt;
    if (day > kMonthDays[month - 1] + (month == 2 && IsLeap(year))) return std::nullopt;
    return DaysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second;
}

struct Clock {
    int hour = 0, minute = 0, second = 0;
};

Clock ReadClock(Cursor& c) {
    Clock t;
    t.hour = c.Number(2);
    c.Expect(":");
    t.minute = c.Number(2);
    c.Expect(":");
    t.second = c.Number(2);
    return t;
}

// "<weekday>, DD<sep>Mon<sep>YYYY HH:MM:SS GMT", the year of two digits in the obsolete form.
template <size_t N>
std::optional<int64_t> DayFirstDate(std::string_view text, const std::array<std::string_view, N>& weekdays,
                                    std::string_view separator, bool two_digit_year) {
    Cursor c(text);
    c.OneOf(weekdays);
    c.Expect(", ");
    const int day = c.Number(2);
    c.Expect(separator);
    const int month = c.OneOf(kMonths) + 1;
    c.Expect(separator);
    int year = c.Number(two_digit_year ? 2 : 4);
    if (two_digit_year) year += year >= 70 ? 1900 : 2000;
    c.Expect(" ");
    const Clock t = ReadClock(c);
    c.Expect(" GMT");
    if (!c.ok()) return std::nullopt;
    return Seconds(c, year, month, day, t.hour, t.minute, t.second);
}

}  // namespace

std::optional<int64_t> ParseHttpDate(std::string_view text) {
    if (auto t = DayFirstDate(text, kDays, " ", false)) return t;      // Sun, 06 Nov 1994 08:49:37 GMT
    if (auto t = DayFirstDate(text, kLongDays, "-", true)) return t;  // Sunday, 06-Nov-94 08:49:37 GMT
    // Sun Nov  6 08:49:37 1994
    Cursor c(text);
    c.OneOf(kDays);
    c.Expect(" ");
    const int month = c.OneOf(kMonths) + 1;
    c.Expect(" ");
    const int day = c.Number(2, true);
    c.Expect(" ");
    const Clock t = ReadClock(c);
    c.Expect(" ");
    const int year = c.Number(4);
    if (!c.ok()) return std::nullopt;
    return Seconds(c, year, month, day, t.hour, t.minute, t.second);
}

std::optional<int64_t> ParseUtcTime(std::string_view text) {
    Cursor c(text);
    const int year = c.Number(4);
    c.Expect("-");
    const int month = c.Number(2);
    c.Expect("-");
    const int day = c.Number(2);
    c.Expect("T");
    const Clock t = ReadClock(c);
    c.Expect("Z");
    // No leap second and nothing before 1970: the manifest's times are written by the release tool.
    if (!c.ok() || year < 1970 || t.second > 59) return std::nullopt;
    return Seconds(c, year, month, day, t.hour, t.minute, t.second);
}

std::string UtcTimeText(int64_t seconds) {
    // The inverse of DaysFromCivil.
    int64_t days = seconds >= 0 ? seconds / 86400 : (seconds - 86399) / 86400;
    const int64_t in_day = seconds - days * 86400;
    days += 719468;
    const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const unsigned day_of_era = static_cast<unsigned>(days - era * 146097);
    const unsigned year_of_era = (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
    const unsigned day_of_year = day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
    const unsigned mp = (5 * day_of_year + 2) / 153;
    const unsigned day = day_of_year - (153 * mp + 2) / 5 + 1;
    const unsigned month = mp < 10 ? mp + 3 : mp - 9;
    const int64_t year = static_cast<int64_t>(year_of_era) + era * 400 + (month <= 2);
    // Sized for any value of the arguments' types, which is what GCC's -Wformat-truncation measures; the
    // arithmetic above keeps the text below 32 characters.
    char buffer[80];
    std::snprintf(buffer, sizeof buffer, "%04lld-%02u-%02uT%02u:%02u:%02uZ", static_cast<long long>(year), month, day,
                  static_cast<unsigned>(in_day / 3600), static_cast<unsigned>(in_day / 60 % 60),
                  static_cast<unsigned>(in_day % 60));
    return buffer;
}

}  // namespace vantorix::update_flow
