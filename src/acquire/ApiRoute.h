#pragma once
#include <cstdint>
#include <string_view>

namespace tav {
struct CGateway;

// Answers a dat request through the board's official API: obtains a session
// id, asks the API for the thread with a signed POST and passes its answer
// (status line, headers, body as received) on to the reader.
//
// Returns 0 when an answer was written (`bytesSent` is its length), -1 for
// missing keys or profile, a failed login, a request without "/dat/", an
// over-long text or an answer without a body; -2 for a missing thread with
// no If-Modified-Since to answer; -999 (kStatusPastLog) for an archived
// thread; 33037 when the API request failed, 33039 for a short gzip answer
// that cannot be decoded, 33041 when the API refused the session twice.
int GetDatByApi(CGateway& ctx, std::string_view request, std::int64_t& bytesSent);
}  // namespace tav
