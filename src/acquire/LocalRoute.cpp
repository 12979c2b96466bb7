#include "acquire/LocalRoute.h"

namespace tav {

// The driven-reader route is not built on Linux yet: it fails without
// writing anything, and the log says "失敗".
RouteResult GetDatByReader(CGateway&, const Request&, const RouteOptions&) { return RouteResult::Failure(kCodeFailed); }

}  // namespace tav
