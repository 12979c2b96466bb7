#pragma once
#include "net/RouteResult.h"

namespace tav {

// Serves a CONNECT request: connects to the target and relays bytes both
// ways until one second passes without traffic or a side closes. Bytes sent
// count what went to the server, bytes received what came back.
RouteResult HandleConnect(CGateway& ctx, const Request& request, const RouteOptions& options);

}  // namespace tav
