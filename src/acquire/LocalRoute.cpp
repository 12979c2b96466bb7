#include "acquire/LocalRoute.h"

#include "net/CGateway.h"

namespace tav {

// The driven-reader route is not built on Linux yet: it fails without
// writing anything, and the dispatcher logs "失敗".
int GetDatByReader(CGateway&, std::string_view, std::int64_t&, CHttpHeaderInfo&) { return kStatusFailed; }

}  // namespace tav
