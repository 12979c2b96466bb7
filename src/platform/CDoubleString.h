#pragma once
// A string kept both as narrow text (CP932, the wire's code page) and as wide
// UTF-16 text. Assigning either form recomputes the other.

#include <string>
#include <string_view>

namespace tav {

class CDoubleString {
 public:
  CDoubleString() = default;
  static CDoubleString FromNarrow(std::string_view narrow);
  static CDoubleString FromWide(std::u16string_view wide);
  static CDoubleString FromUtf8(std::string_view utf8);

  void SetNarrow(std::string_view narrow);
  void SetWide(std::u16string_view wide);
  void AppendNarrow(std::string_view narrow);
  void AppendWide(std::u16string_view wide);
  void Clear();

  const std::string& Narrow() const { return narrow_; }
  const std::u16string& Wide() const { return wide_; }
  std::string Utf8() const;
  bool Empty() const { return narrow_.empty(); }

  bool operator==(const CDoubleString& other) const { return narrow_ == other.narrow_; }

 private:
  std::string narrow_;
  std::u16string wide_;
};

}  // namespace tav
