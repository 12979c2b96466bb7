#pragma once
#include "net/RouteResult.h"

namespace tav {

// Answers a dat request through the board's official API: obtains a session
// id, asks the API for the thread with a signed POST and passes its answer
// (status line, headers, body as received) on to the reader.
//
// Answered when an answer was written; otherwise the code is -1 for
// missing keys or profile, a failed login, a request without "/dat/", an
// over-long text or an answer without a body; -2 for a missing thread with
// no If-Modified-Since to answer; the PastLog status for an archived
// thread; 33037 when the API request failed, 33039 for a short gzip answer
// that cannot be decoded, 33041 when the API refused the session twice.
RouteResult GetDatByApi(CGateway& ctx, const Request& request, const RouteOptions& options);
}  // namespace tav
