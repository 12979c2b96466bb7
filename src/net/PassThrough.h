#pragma once
#include "net/RouteResult.h"

namespace tav {

// Rebuilds a request that is not intercepted, with its rewrites, and streams
// the server's answer to the reader.
RouteResult HandlePassThrough(CGateway& ctx, const Request& request, const RouteOptions& options);

}  // namespace tav
