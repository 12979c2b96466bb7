#pragma once
// Requests that concern a board rather than one thread, served from the
// board's own HTML pages: the thread list (subject.txt) made from the
// board's subback.html, and the dat requests of a headline board, whose
// keys only the headline board's index.html ties to a real server and board.

#include "net/RouteResult.h"

namespace tav {

// Answers a subject.txt request with the list made from the board's subback
// page: always a full 200 answer (a Range is not honoured). When nothing is
// sent the code is -1 (reply without header end, or a list link whose key
// has no "/"), -2 (a list link without ": "), 33031 (the board refused the
// page), 33037 (fetch failed) or 33039 (gzip body too large or damaged).
RouteResult FetchSubjectFromSubback(CGateway& ctx, const Request& request, const RouteOptions& options);

// Rewrites a headline dat request to the thread's real server label, board
// and key, found in the headline board's index page; the domain stays. 0
// when rewritten or when no link names the key; -1 (reply without header
// end, or a malformed link), 33037 or 33039 leave the request unchanged.
int ResolveHeadlineDat(CGateway& ctx, Request& request);

}  // namespace tav
