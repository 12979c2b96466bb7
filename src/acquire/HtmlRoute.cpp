#include "acquire/HtmlRoute.h"

#include "core/CGateway.h"

namespace tav {

int FetchThreadHtml(CGateway&, std::string_view, std::int64_t&, CHttpHeaderInfo&, int, int,
                    const std::vector<std::int32_t>*, int) {
  return kStatusFailed;
}

}  // namespace tav
