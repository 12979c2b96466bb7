#include "acquire/ApiRoute.h"

#include "core/CGateway.h"

namespace tav {

int GetDatByApi(CGateway&, std::string_view, std::int64_t&) { return kStatusFailed; }

}  // namespace tav
