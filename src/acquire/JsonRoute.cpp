#include "acquire/JsonRoute.h"

#include "core/CGateway.h"

namespace tav {

int GetDatByJson(CGateway&, std::string_view, std::int64_t&, CHttpHeaderInfo&, int) { return kStatusFailed; }

}  // namespace tav
