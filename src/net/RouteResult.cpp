#include "net/RouteResult.h"

namespace tav {
namespace {
constexpr int kFtpBugCode = -99;
constexpr int kPastLogCode = -999;
}  // namespace

RouteResult RouteResult::FromCode(int code, std::int64_t bytesSent) {
  if (code == 0) return Answered(bytesSent);
  RouteResult result = Failure(code);
  if (code == kFtpBugCode) result.status = RouteStatus::FtpBug;
  if (code == kPastLogCode) result.status = RouteStatus::PastLog;
  return result;
}

}  // namespace tav
