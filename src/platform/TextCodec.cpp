#include "platform/TextCodec.h"

#include <iconv.h>

#include <cerrno>
#include <cstring>
#include <string>

namespace tav {
namespace {

// One iconv descriptor per direction and thread: opening one costs far more
// than converting a short header value.
class Converter {
 public:
  Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
  ~Converter() {
    if (cd_ != reinterpret_cast<iconv_t>(-1)) iconv_close(cd_);
  }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;

  // Converts in to out. On a sequence the target cannot take or the source
  // does not form, `onBad` is called with the offending input position and
  // returns how many input bytes to skip after appending its replacement.
  template <typename OnBad>
  void Run(const char* in, std::size_t inLen, std::string& out, OnBad onBad) {
    out.clear();
    if (cd_ == reinterpret_cast<iconv_t>(-1)) return;
    iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    char buffer[4096];
    char* src = const_cast<char*>(in);
    std::size_t srcLeft = inLen;
    while (srcLeft > 0) {
      char* dst = buffer;
      std::size_t dstLeft = sizeof buffer;
      std::size_t rc = iconv(cd_, &src, &srcLeft, &dst, &dstLeft);
      int err = errno;
      out.append(buffer, static_cast<std::size_t>(dst - buffer));
      if (rc != static_cast<std::size_t>(-1)) break;
      if (err == E2BIG) continue;
      // EILSEQ or EINVAL (truncated input): replace and skip.
      std::size_t skip = onBad(src, srcLeft, out);
      if (skip > srcLeft) skip = srcLeft;
      src += skip;
      srcLeft -= skip;
      iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    }
  }

 private:
  iconv_t cd_;
};

Converter& Sjis2Utf16() {
  thread_local Converter c("UTF-16LE", "CP932");
  return c;
}
Converter& Utf16ToSjis() {
  thread_local Converter c("CP932", "UTF-16LE");
  return c;
}
Converter& Utf8ToU16() {
  thread_local Converter c("UTF-16LE", "UTF-8");
  return c;
}
Converter& U16ToUtf8() {
  thread_local Converter c("UTF-8", "UTF-16LE");
  return c;
}

void AppendUnit(std::string& out, char16_t unit) {
  out.push_back(static_cast<char>(unit & 0xFF));
  out.push_back(static_cast<char>(unit >> 8));
}

std::u16string FromLeBytes(const std::string& bytes) {
  std::u16string result(bytes.size() / 2, u'\0');
  for (std::size_t i = 0; i < result.size(); ++i) {
    result[i] = static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                      (static_cast<unsigned char>(bytes[2 * i + 1]) << 8));
  }
  return result;
}

std::string ToLeBytes(std::u16string_view wide) {
  std::string bytes;
  bytes.reserve(wide.size() * 2);
  for (char16_t unit : wide) AppendUnit(bytes, unit);
  return bytes;
}

// Number of UTF-16 units of the character at `src` (little-endian bytes).
std::size_t Utf16UnitsAt(const char* src, std::size_t left) {
  if (left < 2) return left;
  auto unit = static_cast<char16_t>(static_cast<unsigned char>(src[0]) |
                                    (static_cast<unsigned char>(src[1]) << 8));
  if (unit >= 0xD800 && unit <= 0xDBFF && left >= 4) {
    auto low = static_cast<char16_t>(static_cast<unsigned char>(src[2]) |
                                     (static_cast<unsigned char>(src[3]) << 8));
    if (low >= 0xDC00 && low <= 0xDFFF) return 4;  // a lone high half takes only itself
  }
  return 2;
}

char32_t CodePointAt(const char* src, std::size_t left) {
  if (left < 2) return 0xFFFD;
  auto unit = static_cast<char32_t>(static_cast<unsigned char>(src[0]) |
                                    (static_cast<unsigned char>(src[1]) << 8));
  if (unit >= 0xD800 && unit <= 0xDBFF && left >= 4) {
    auto low = static_cast<char32_t>(static_cast<unsigned char>(src[2]) |
                                     (static_cast<unsigned char>(src[3]) << 8));
    if (low >= 0xDC00 && low <= 0xDFFF) return 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
  }
  return unit;
}

std::string Utf16ToCp932Impl(std::u16string_view wide, bool references) {
  std::string bytes = ToLeBytes(wide);
  std::string out;
  Utf16ToSjis().Run(bytes.data(), bytes.size(), out,
                    [references](const char* src, std::size_t left, std::string& o) {
                      if (references) {
                        o += "&#" + std::to_string(static_cast<unsigned long>(CodePointAt(src, left))) + ";";
                      } else {
                        o.push_back('?');
                      }
                      return Utf16UnitsAt(src, left);
                    });
  return out;
}

}  // namespace

std::u16string Cp932ToUtf16(std::string_view sjis) {
  std::string out;
  Sjis2Utf16().Run(sjis.data(), sjis.size(), out, [](const char*, std::size_t, std::string& o) {
    AppendUnit(o, u'\uFFFD');
    return std::size_t{1};
  });
  return FromLeBytes(out);
}

std::string Utf16ToCp932(std::u16string_view wide) { return Utf16ToCp932Impl(wide, false); }

std::string Utf16ToCp932WithReferences(std::u16string_view wide) {
  return Utf16ToCp932Impl(wide, true);
}

std::u16string Utf8ToUtf16(std::string_view utf8) {
  std::string out;
  Utf8ToU16().Run(utf8.data(), utf8.size(), out, [](const char*, std::size_t, std::string& o) {
    AppendUnit(o, u'\uFFFD');
    return std::size_t{1};
  });
  return FromLeBytes(out);
}

std::string Utf16ToUtf8(std::u16string_view wide) {
  std::string bytes = ToLeBytes(wide);
  std::string out;
  U16ToUtf8().Run(bytes.data(), bytes.size(), out, [](const char* src, std::size_t left, std::string& o) {
    o += "\xEF\xBF\xBD";  // U+FFFD for a lone surrogate
    return Utf16UnitsAt(src, left) == 4 ? std::size_t{2} : Utf16UnitsAt(src, left);
  });
  return out;
}

std::string Cp932ToUtf8(std::string_view sjis) { return Utf16ToUtf8(Cp932ToUtf16(sjis)); }
std::string Utf8ToCp932(std::string_view utf8) { return Utf16ToCp932(Utf8ToUtf16(utf8)); }

}  // namespace tav
