#include "core/PassThrough.h"

#include "core/CGateway.h"

namespace tav {

int HandlePassThrough(CGateway&, std::string_view, std::int64_t&) { return kStatusFailed; }

}  // namespace tav
