#pragma once
#include "net/RouteResult.h"

namespace tav {

// Answers a dat request from a second reader instance's saved file.
RouteResult GetDatByReader(CGateway& ctx, const Request& request, const RouteOptions& options);

}  // namespace tav
