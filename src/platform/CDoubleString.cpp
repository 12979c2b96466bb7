#include "platform/CDoubleString.h"

#include "platform/TextCodec.h"

namespace tav {

CDoubleString CDoubleString::FromNarrow(std::string_view narrow) {
  CDoubleString s;
  s.SetNarrow(narrow);
  return s;
}

CDoubleString CDoubleString::FromWide(std::u16string_view wide) {
  CDoubleString s;
  s.SetWide(wide);
  return s;
}

CDoubleString CDoubleString::FromUtf8(std::string_view utf8) { return FromWide(Utf8ToUtf16(utf8)); }

void CDoubleString::SetNarrow(std::string_view narrow) {
  narrow_.assign(narrow);
  wide_ = Cp932ToUtf16(narrow_);
}

void CDoubleString::SetWide(std::u16string_view wide) {
  wide_.assign(wide);
  narrow_ = Utf16ToCp932(wide_);
}

void CDoubleString::AppendNarrow(std::string_view narrow) { SetNarrow(narrow_ + std::string(narrow)); }

void CDoubleString::AppendWide(std::u16string_view wide) { SetWide(wide_ + std::u16string(wide)); }

void CDoubleString::Clear() {
  narrow_.clear();
  wide_.clear();
}

std::string CDoubleString::Utf8() const { return Utf16ToUtf8(wide_); }

}  // namespace tav
