#include "server/RequestAssembler.h"

#include <algorithm>

#include "net/RequestParser.h"

namespace tav {

void RequestAssembler::Append(std::string_view bytes) {
  text_.append(bytes);
  // Only the header is capped: a long post keeps its body.
  std::size_t blank = text_.find("\r\n\r\n");
  bool headerTooLong = blank == std::string::npos ? text_.size() > kHeaderCap : blank + 4 > kHeaderCap;
  if (!headerTooLong) return;
  std::string body = blank == std::string::npos ? std::string() : text_.substr(blank + 4);
  text_.resize(kHeaderCap - 5);
  text_ += "\r\n\r\n";
  text_ += body;
}

RequestAssembler::Verdict RequestAssembler::Check(bool connectPeerClosed) const {
  if (!HasBlankLine()) return Verdict::Incomplete;
  if (text_.compare(0, 4, "POST") == 0) return PostVerdict();
  if (IsConnect() && connectPeerClosed) return PostVerdict();
  return Verdict::Complete;
}

RequestAssembler::Verdict RequestAssembler::PostVerdict() const {
  std::size_t bodyStart = text_.find("\r\n\r\n") + 4;
  std::size_t bodyLength = text_.size() - bodyStart;
  std::size_t field = text_.find("Content-Length:");
  if (field != std::string::npos) {
    std::string_view value = std::string_view(text_).substr(std::min(field + 16, text_.size()));
    value = value.substr(0, std::min<std::size_t>(value.find_first_of("\r\n"), 31));
    std::int32_t declared = ParseHeaderNumber(value);
    if (declared > 0 && static_cast<std::size_t>(declared) > kMaxBody) return Verdict::BodyTooLarge;
    if (declared <= 0 || bodyLength >= static_cast<std::size_t>(declared)) return Verdict::Complete;
    return Verdict::Incomplete;
  }
  if (FindSjisChar(std::string_view(text_).substr(bodyStart), '\n')) return Verdict::Complete;
  return bodyLength > kMaxBody ? Verdict::BodyTooLarge : Verdict::Incomplete;
}

}  // namespace tav
