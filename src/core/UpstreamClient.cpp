#include "core/UpstreamClient.h"

#include "core/CGateway.h"
#include "platform/TextCodec.h"

namespace tav {

std::string FetchResponse::NarrowHeaders() const { return Utf16ToCp932(headers); }

bool FetchUrl(CGateway&, const FetchRequest&, FetchResponse* response, std::int64_t* size) {
  if (response != nullptr) *response = FetchResponse{};
  if (size != nullptr) *size = 0;
  return false;
}

int InflateBody(const CGateway*, char*, std::int64_t&, const char*, std::int64_t) { return -3; }

}  // namespace tav
