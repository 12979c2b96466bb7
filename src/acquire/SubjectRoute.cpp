#include "acquire/SubjectRoute.h"

#include "core/CGateway.h"

namespace tav {

int FetchSubjectFromSubback(CGateway&, std::string_view, std::int64_t&) { return kStatusFailed; }
int ResolveHeadlineDat(CGateway&, CHttpHeaderInfo&) { return 0; }

}  // namespace tav
