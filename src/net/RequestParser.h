#pragma once
// Request parsing: bytes in, header record out. Never touches a socket.

#include <cstdint>
#include <optional>
#include <string_view>

#include "net/CHttpHeaderInfo.h"

namespace tav {

// The header number rule: skip spaces and tabs, an optional sign, "0x" for
// hexadecimal, then digits up to the first other character.
std::int32_t ParseHeaderNumber(std::string_view text);

// The range start of a "Range: bytes=" value: the number before its first
// "-", only when a "-" follows; -1 without one, or when the start does not
// fit a non-negative 32-bit number.
std::int32_t ParseRangeStart(std::string_view value);

// Position of the first (or last) `wanted` byte in `text` up to its first
// NUL, never comparing the trail byte of a Shift_JIS character.
std::optional<std::size_t> FindSjisChar(std::string_view text, char wanted, bool last = false);

// True for a Shift_JIS lead byte (0x81-0x9F, 0xE0-0xFC).
inline bool IsSjisLeadByte(unsigned char c) { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC); }

// Parses one request. 0 on success, -1 when the text is not a request we can
// serve. In absolute-URL mode an "http://" (or "https://") target becomes its
// path, and an explicit port never reaches the target.
int ParseRequestHeader(std::string_view text, CHttpHeaderInfo& header, bool absoluteUrlMode);

// The request's first line up to CR, LF or NUL, at most `maxBytes` bytes.
std::string_view FirstLine(std::string_view text, std::size_t maxBytes);

}  // namespace tav
