// How the downloader reads an answer to its request. Input, one field a line: status, Content-Length,
// Content-Range, ETag, Last-Modified, Content-Encoding, the resume offset, the validator kept with the
// bytes ("-" for an absent header). Checks that a parsed Content-Range is one and reads back the same,
// that the plan only takes bytes that join the kept ones, and that the request headers hold no line
// but Range and If-Range.
#include <string>

#include "common/download/response_plan.h"
#include "common/download/validator.h"
#include "fuzz_support.h"

using namespace vantorix::download;

namespace {

std::optional<std::string> Header(const std::vector<std::string_view>& fields, std::size_t i) {
    if (i >= fields.size() || fields[i] == "-") return std::nullopt;
    return std::string(fields[i]);
}

std::optional<std::uint64_t> Number(const std::optional<std::string>& text) {
    if (!text || text->empty() || text->size() > 19) return std::nullopt;
    std::uint64_t value = 0;
    for (char c : *text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    return value;
}

void CheckContentRange(const std::string& value) {
    const std::optional<ContentRange> range = ParseContentRange(value);
    if (!range) return;
    std::string written = "bytes ";
    if (range->unsatisfied) {
        FUZZ_CHECK(range->total.has_value());
        written += "*";
    } else {
        FUZZ_CHECK(range->first <= range->last);
        if (range->total) FUZZ_CHECK(range->last < *range->total);
        written += std::to_string(range->first) + "-" + std::to_string(range->last);
    }
    written += "/" + (range->total ? std::to_string(*range->total) : std::string("*"));
    const std::optional<ContentRange> again = ParseContentRange(written);
    FUZZ_CHECK(again && again->unsatisfied == range->unsatisfied && again->first == range->first &&
               again->last == range->last && again->total == range->total);
}

void CheckRequestHeaders(std::uint64_t from, const std::string& validator) {
    const std::string headers = RangeRequestHeaders(from, validator);
    if (from == 0) return FUZZ_CHECK(headers.empty());
    const std::string range = "Range: bytes=" + std::to_string(from) + "-";
    const bool sendsValidator = IsIfRangeValidator(validator);
    FUZZ_CHECK(headers == (sendsValidator ? range + "\r\nIf-Range: " + validator : range));
    if (!sendsValidator) return;
    FUZZ_CHECK(validator.size() <= kMaxValidatorLength);
    for (char c : validator) FUZZ_CHECK(c >= 0x20 && c < 0x7F);  // no line break, no control character
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto fields = fuzz_support::Fields(fuzz_support::Text(data, size), 8);
    ResponseHead head;
    head.status = static_cast<int>(Number(Header(fields, 0)).value_or(0) % 1000);
    head.contentLength = Number(Header(fields, 1));
    head.contentRange = Header(fields, 2);
    head.etag = Header(fields, 3);
    head.lastModified = Header(fields, 4);
    head.contentEncoding = Header(fields, 5);
    const std::uint64_t offset = Number(Header(fields, 6)).value_or(0);
    const std::string validator = Header(fields, 7).value_or("");

    if (head.contentRange) CheckContentRange(*head.contentRange);
    const std::string named = ValidatorOf(head);
    FUZZ_CHECK(named.empty() || IsIfRangeValidator(named));
    CheckRequestHeaders(offset, validator);

    const ResponsePlan plan = PlanResponse(head, offset, validator);
    const std::optional<ContentRange> range = head.contentRange ? ParseContentRange(*head.contentRange) : std::nullopt;
    switch (plan.kind) {
        case ResponsePlan::Accept:
            FUZZ_CHECK(head.status == 200 || head.status == 206);
            if (head.status == 200) {
                FUZZ_CHECK(plan.writeFrom == 0 && plan.bodyLength == head.contentLength);
            } else {
                // A partial answer is taken only where the kept bytes end, and only as long as it says.
                FUZZ_CHECK(range && !range->unsatisfied && range->first == offset && plan.writeFrom == offset);
                FUZZ_CHECK(plan.bodyLength && *plan.bodyLength == range->last - range->first + 1);
                FUZZ_CHECK(plan.remoteSize == range->total);
            }
            break;
        case ResponsePlan::Complete:
            FUZZ_CHECK(head.status == 416 && range && range->unsatisfied && range->total == offset);
            break;
        case ResponsePlan::StartOver:
            FUZZ_CHECK(head.status == 416 || offset > 0);
            break;
        case ResponsePlan::Refuse:
            FUZZ_CHECK(head.status != 416);
            break;
    }
    return 0;
}
