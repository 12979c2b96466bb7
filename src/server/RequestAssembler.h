#pragma once
// Decides when the bytes a reader has sent form a complete request. Bytes in,
// verdict out; the worker owns the socket.

#include <cstddef>
#include <string>
#include <string_view>

namespace tav {

class RequestAssembler {
 public:
  enum class Verdict { Incomplete, Complete, BodyTooLarge };

  // Header text beyond this is cut; the text then ends in a blank line at
  // offset kHeaderCap - 5.
  static constexpr std::size_t kHeaderCap = 8192;
  // A POST body may be this long at most.
  static constexpr std::size_t kMaxBody = 1024 * 1024;

  // Appends received bytes and applies the header cap.
  void Append(std::string_view bytes);
  // The verdict for the text so far. `connectPeerClosed` reports that the
  // extra receive made for a CONNECT request saw the reader close.
  Verdict Check(bool connectPeerClosed = false) const;
  bool IsConnect() const { return text_.compare(0, 6, "CONNEC") == 0; }
  bool HasBlankLine() const { return text_.find("\r\n\r\n") != std::string::npos; }

  const std::string& Text() const { return text_; }
  void Reset() { text_.clear(); }

 private:
  Verdict PostVerdict() const;

  std::string text_;
};

}  // namespace tav
