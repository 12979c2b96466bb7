#pragma once
#include "net/RouteResult.h"

namespace tav {

// Answers a dat request from the board's JSON endpoint. A failure carries
// its code: -1 (no thread in the path, no header end), a negative code of
// the conversion, 33037 (fetch failed) or 33039 (gzip body unusable).
RouteResult GetDatByJson(CGateway& ctx, const Request& request, const RouteOptions& options);

}  // namespace tav
