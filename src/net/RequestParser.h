#pragma once
// Request parsing: bytes in, header record out. Never touches a socket.

#include <cstdint>
#include <optional>
#include <string_view>

#include "net/Request.h"

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
// serve. A header that cannot be framed safely is refused too: a bare CR in
// it, or a Transfer-Encoding field next to a Content-Length field. In absolute-URL mode an "http://" (or "https://") target becomes its
// path, and an explicit port never reaches the target.
// The thread reference is read from the path alone; whether the host is a
// board host is the dispatcher's question.
int ParseRequestHeader(std::string_view text, Request& request, bool absoluteUrlMode);

// Header lines ("Name: value"). Field names compare without regard to
// (ASCII) case.
bool EqualsIgnoringCase(std::string_view a, std::string_view b);
// The field name of a header line, or empty when it has no colon.
std::string_view FieldName(std::string_view line);
// `text` without leading and trailing spaces and tabs.
std::string_view TrimBlanks(std::string_view text);

// The request's first line up to CR, LF or NUL, at most `maxBytes` bytes.
std::string_view FirstLine(std::string_view text, std::size_t maxBytes);

}  // namespace tav
