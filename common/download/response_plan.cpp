#include "common/download/response_plan.h"

#include "common/download/validator.h"
#include "common/text/ascii.h"

namespace vantorix::download {
namespace {

class Cursor {
public:
    explicit Cursor(const std::string& text) : text_(text) {}
    void SkipSpaces() {
        while (pos_ < text_.size() && (text_[pos_] == ' ' || text_[pos_] == '\t')) ++pos_;
    }
    bool Take(char c) {
        SkipSpaces();
        if (pos_ < text_.size() && text_[pos_] == c) return ++pos_, true;
        return false;
    }
    bool TakeWordNoCase(const char* word) {
        SkipSpaces();
        std::size_t i = 0;
        for (; word[i]; ++i)
            if (pos_ + i >= text_.size() ||
                AsciiLowerChar(text_[pos_ + i]) != word[i])
                return false;
        pos_ += i;
        return true;
    }
    std::optional<std::uint64_t> Number() {
        SkipSpaces();
        std::uint64_t value = 0;
        std::size_t digits = 0;
        while (pos_ < text_.size() && text_[pos_] >= '0' && text_[pos_] <= '9') {
            const unsigned d = static_cast<unsigned>(text_[pos_] - '0');
            if (value > (UINT64_MAX - d) / 10) return std::nullopt;  // does not fit: not a usable range
            value = value * 10 + d;
            ++pos_, ++digits;
        }
        if (digits == 0) return std::nullopt;
        return value;
    }
    bool AtEnd() {
        SkipSpaces();
        return pos_ == text_.size();
    }

private:
    const std::string& text_;
    std::size_t pos_ = 0;
};

}  // namespace

std::optional<ContentRange> ParseContentRange(const std::string& value) {
    Cursor in(value);
    if (!in.TakeWordNoCase("bytes")) return std::nullopt;
    ContentRange range;
    if (in.Take('*')) {
        range.unsatisfied = true;
    } else {
        auto first = in.Number();
        if (!first || !in.Take('-')) return std::nullopt;
        auto last = in.Number();
        if (!last || *last < *first) return std::nullopt;
        range.first = *first;
        range.last = *last;
    }
    if (!in.Take('/')) return std::nullopt;
    if (!in.Take('*')) {
        range.total = in.Number();
        if (!range.total) return std::nullopt;
        if (!range.unsatisfied && range.last >= *range.total) return std::nullopt;
    } else if (range.unsatisfied) {
        return std::nullopt;  // "*/*" says nothing
    }
    if (!in.AtEnd()) return std::nullopt;
    return range;
}

std::string ValidatorOf(const ResponseHead& head) {
    // Only what may go back into a request header is kept.
    if (head.etag && IsIfRangeValidator(*head.etag)) return *head.etag;
    if (head.lastModified && IsIfRangeValidator(*head.lastModified)) return *head.lastModified;
    return "";
}

namespace {

bool IdentityEncoding(const ResponseHead& head) {
    if (!head.contentEncoding) return true;
    std::string value;
    for (char c : *head.contentEncoding)
        if (c != ' ' && c != '\t') value += AsciiLowerChar(c);
    return value.empty() || value == "identity";
}

// The answer names another version than the one the kept bytes came from.
bool OtherVersion(const ResponseHead& head, const std::string& stored) {
    if (stored.empty()) return false;
    const bool stored_is_etag = stored.front() == '"';
    const std::optional<std::string>& answered = stored_is_etag ? head.etag : head.lastModified;
    return answered && *answered != stored;
}

}  // namespace

ResponsePlan PlanResponse(const ResponseHead& head, std::uint64_t resumeOffset, const std::string& resumedValidator) {
    ResponsePlan plan;
    // A resume answered in a way that cannot be joined to the kept bytes: start once from 0 instead.
    const auto unusable = [&] {
        if (resumeOffset > 0) plan.kind = ResponsePlan::StartOver;
        return plan;
    };
    if (!IdentityEncoding(head) && (head.status == 200 || head.status == 206)) return unusable();
    // Assigned rather than initialised from a conditional expression, which GCC 12 (-O2, i686) takes for a
    // read of an uninitialised range in the 416 case below.
    std::optional<ContentRange> range;
    if (head.contentRange) range = ParseContentRange(*head.contentRange);
    switch (head.status) {
    case 200:
        plan.kind = ResponsePlan::Accept;
        plan.writeFrom = 0;
        plan.bodyLength = head.contentLength;
        plan.totalSize = head.contentLength ? static_cast<double>(*head.contentLength) : 1.0;
        return plan;
    case 206:
        if (!range || range->unsatisfied || range->first != resumeOffset) return unusable();
        if (head.contentLength && *head.contentLength != range->last - range->first + 1) return unusable();
        if (OtherVersion(head, resumedValidator)) return unusable();
        plan.kind = ResponsePlan::Accept;
        plan.writeFrom = resumeOffset;
        plan.bodyLength = head.contentLength ? head.contentLength : range->last - range->first + 1;
        plan.remoteSize = range->total;
        // The size shown follows Content-Length alone (1 when absent), as for a 200 answer.
        plan.totalSize = (head.contentLength ? static_cast<double>(*head.contentLength) : 1.0) +
                         static_cast<double>(resumeOffset);
        return plan;
    case 416:
        plan.kind = range && range->unsatisfied && range->total && *range->total == resumeOffset
                        ? ResponsePlan::Complete
                        : ResponsePlan::StartOver;
        return plan;
    default:
        return plan;
    }
}

namespace {

// The media type without parameters, lower-cased: "text/html; charset=utf-8" gives "text/html".
std::string MediaType(const std::string& value) {
    std::string type;
    for (char c : value) {
        if (c == ';') break;
        if (c != ' ' && c != '\t') type += AsciiLowerChar(c);
    }
    return type;
}

}  // namespace

std::string NotThePublishedFile(const ResponseHead& head, const ResponsePlan& plan,
                                std::optional<std::uint64_t> published) {
    if (plan.kind != ResponsePlan::Accept) return "";
    if (head.contentType) {
        const std::string type = MediaType(*head.contentType);
        if (type == "text/html" || type == "application/xhtml+xml") return "a web page (" + type + ")";
    }
    if (!published) return "";
    const std::optional<std::uint64_t> whole =
        plan.remoteSize ? plan.remoteSize
                        : plan.bodyLength ? std::optional<std::uint64_t>(plan.writeFrom + *plan.bodyLength) : std::nullopt;
    if (whole && *whole < *published)
        return std::to_string(*whole) + " bytes, " + std::to_string(*published) + " published";
    return "";
}

}  // namespace vantorix::download
