#pragma once
// Conversion of the board JSON endpoint's answer into dat text.
//
// The answer is an object with "total_count" (the number of posts),
// "thread" (an array whose element 5 is the title) and "comments" (one array
// per post: number, name, mail, time, ID, BE value, message). Every post
// becomes one dat line
//   name<>mail<>YYYY/MM/DD(曜) hh:mm:ss.00 ID:id[ BE:be]<>message<>title\n
// with the title on the first line only, the time in the machine's local
// time zone, and the UTF-8 texts converted to CP932. A character CP932
// cannot hold becomes a numeric character reference ("&#128512;"), which the
// reader shows as the character itself.

#include <cstddef>
#include <string>
#include <string_view>

namespace tav {

// Conversion room of the title, name, mail, ID and BE value, and of the
// message, in UTF-16 units. Longer texts are cut at a character boundary.
inline constexpr std::size_t kJsonShortFieldRoom = 260;
inline constexpr std::size_t kJsonMessageRoom = 8192;
// Longest converted field in bytes; longer ones are cut between characters.
inline constexpr std::size_t kJsonFieldByteLimit = 65535;

// Converts `json` into dat text in `dat` (replaced). `removeHalfSpace`
// shrinks every run of two or more spaces in names, mails and messages to
// one space.
//
// Returns "total_count" truncated to an integer: 0 leaves `dat` empty, and a
// negative count is returned as it is with `dat` empty, so that the caller
// fails. Returns -1 with `dat` empty when the text is not JSON or not an
// answer of the expected shape: root not an object; "thread", "comments" or
// "total_count" missing; "thread" not an array of at least six elements;
// a title that is not a string, "comments" that is not an array, or a
// "total_count" that is not a number.
//
// A "total_count" larger than "comments" converts the posts that exist. A
// post element that is missing or of another type gives empty text; a time
// that is neither a number nor a string starting with a decimal number is 0.
//
// The dat may grow to `maxDatBytes`; an answer whose dat would be longer
// (posts with little JSON each, such as empty arrays, grow many-fold) gives
// kJsonDatTooLong with `dat` empty.
inline constexpr int kJsonDatTooLong = -1;
int JsonToDat(std::string_view json, std::string& dat, bool removeHalfSpace,
              std::size_t maxDatBytes = static_cast<std::size_t>(-1));

}  // namespace tav
