#pragma once
// Text conversions between the wire's Shift_JIS (CP932), UTF-16 and UTF-8.
// Invalid or truncated input never fails: each bad sequence becomes one
// replacement character ("?" in CP932, U+FFFD in Unicode forms).

#include <string>
#include <string_view>

namespace tav {

std::u16string Cp932ToUtf16(std::string_view sjis);
std::string Utf16ToCp932(std::u16string_view wide);
// Like Utf16ToCp932, but a character CP932 cannot hold becomes an HTML
// numeric character reference ("&#128512;") instead of "?".
std::string Utf16ToCp932WithReferences(std::u16string_view wide);

std::u16string Utf8ToUtf16(std::string_view utf8);
std::string Utf16ToUtf8(std::u16string_view wide);

std::string Cp932ToUtf8(std::string_view sjis);
std::string Utf8ToCp932(std::string_view utf8);

// Shift_JIS bytes of a UTF-8 literal, for building wire and page texts from
// source code (the source files are UTF-8, the wire is CP932).
inline std::string Sjis(std::string_view utf8) { return Utf8ToCp932(utf8); }

}  // namespace tav
