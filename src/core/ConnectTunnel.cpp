#include "core/ConnectTunnel.h"

#include "core/CGateway.h"

namespace tav {

int HandleConnect(CGateway&, std::string_view, int, std::int64_t&) { return kStatusFailed; }

}  // namespace tav
