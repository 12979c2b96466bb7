#pragma once
#include "net/RouteResult.h"

namespace tav {

// Rebuilds a request that is not intercepted, with its rewrites, and streams
// the server's answer to the reader. A request that cannot be rebuilt fails
// with code -1 and nothing is sent. A fetch that fails before the answer
// started is answered with 502 (504 when the server did not answer in time);
// its code is the string id of the cause. Every failure closes the
// connection. Bytes behind the request's body are not sent: they belong to a
// next request, and the connection is closed after this answer.
RouteResult HandlePassThrough(CGateway& ctx, const Request& request, const RouteOptions& options);

}  // namespace tav
