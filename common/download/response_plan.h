#pragma once
// How the downloader judges a response to "Range: bytes=N-": which statuses it takes, where the body
// belongs in the data side file, and what the body must add up to for the result to be whole.
#include <cstdint>
#include <optional>
#include <string>

namespace vantorix::download {

// "Content-Range: bytes FIRST-LAST/TOTAL" or, in a 416 answer, "bytes */TOTAL". TOTAL may be "*".
struct ContentRange {
    bool unsatisfied = false;            // the "*/TOTAL" form
    std::uint64_t first = 0, last = 0;   // when not unsatisfied
    std::optional<std::uint64_t> total;  // absent when "*"
};
std::optional<ContentRange> ParseContentRange(const std::string& value);

// The parts of a response head the decision needs.
struct ResponseHead {
    int status = 0;
    std::optional<std::uint64_t> contentLength{};
    std::optional<std::string> contentRange{};  // the header's value when present
    std::optional<std::string> etag{}, lastModified{}, contentEncoding{};
    std::optional<std::string> retryAfter{}, date{};  // for the caller's retry wait; the plan does not use them
    std::optional<std::string> contentType{};
};

// The validator that names this version of the remote file, for "If-Range" on a later resume: a strong
// ETag, else Last-Modified; "" when the answer carries neither as IsIfRangeValidator takes it (a weak
// ETag cannot serve If-Range).
std::string ValidatorOf(const ResponseHead& head);

struct ResponsePlan {
    enum Kind {
        Refuse,     // not usable: end the run (state 7), keep the side files
        Accept,     // write the body from `writeFrom` on
        Complete,   // 416 and the data side file already holds the whole remote file
        StartOver,  // 416 that does not prove the file complete: ask again from byte 0
    } kind = Refuse;
    std::uint64_t writeFrom = 0;               // Accept: offset in the data side file of the first byte
    double totalSize = 1;                      // Accept: size reported to the host
    std::optional<std::uint64_t> bodyLength;   // Accept: bytes the body must bring (when announced)
    std::optional<std::uint64_t> remoteSize;   // Accept: size of the whole remote file (when announced)
};

// resumeOffset: bytes already in the data side file, asked for with "bytes=resumeOffset-";
// resumedValidator: the validator stored with those bytes ("" when none).
//  200 - the whole file: written from 0 even when resuming (a server that ignores Range, or whose file
//        changed: If-Range made it send everything).
//  206 - only when Content-Range starts exactly at resumeOffset, agrees with Content-Length, and the
//        answer's validator (when it names one of the stored kind) equals the stored one. A resume
//        answered otherwise is StartOver: the bytes kept may belong to another version, or the server
//        cannot resume; one fresh download from 0 serves either way.
//  416 - Complete when "bytes */TOTAL" equals resumeOffset, otherwise StartOver.
//  a Content-Encoding other than identity: the body is not the file's bytes; StartOver on a resume.
//  any other status (also a redirect that was not followed) - Refuse.
ResponsePlan PlanResponse(const ResponseHead& head, std::uint64_t resumeOffset,
                          const std::string& resumedValidator = {});

// Why an accepted answer cannot be the file its publisher announced, "" when it may be. A web page is
// never the file (a captive portal's login page or a proxy's notice, answered with 200); nor is a whole
// file the answer announces smaller than the published size (a larger one is refused as oversized before
// this is asked). published: the size the publisher announced, when known.
std::string NotThePublishedFile(const ResponseHead& head, const ResponsePlan& plan,
                                std::optional<std::uint64_t> published);

}  // namespace vantorix::download
