// Fuzzes the JSON endpoint answer converter.
//
// The first byte chooses the options: bit 0 RemoveHalfSpace, bit 1 whether
// the rest is used as it is or placed in the "comments" array of an answer
// of the expected shape (so that the post conversion is reached quickly),
// bit 2 whether the dat is bounded at twice the JSON's length as the JSON
// route bounds it.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "acquire/JsonToDat.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const bool removeHalfSpace = (data[0] & 1) != 0;
  const bool wrap = (data[0] & 2) != 0;
  const bool bounded = (data[0] & 4) != 0;
  const std::string_view rest(reinterpret_cast<const char*>(data + 1), size - 1);

  std::string json;
  if (wrap) {
    json = R"({"total_count":1000,"thread":[0,0,0,0,0,"title"],"comments":[)";
    json.append(rest);
    json.append("]}");
  } else {
    json.assign(rest);
  }

  std::string dat = "stale";
  const std::size_t bound = bounded ? 2 * json.size() : static_cast<std::size_t>(-1);
  const int result = tav::JsonToDat(json, dat, removeHalfSpace, bound);
  if (dat.size() > bound) std::abort();                        // never beyond the bound
  if (result <= 0 && !dat.empty()) std::abort();              // nothing is written on refusal
  if (dat.find('\0') != std::string::npos) std::abort();      // a dat never holds a NUL
  if (!dat.empty() && dat.back() != '\n') std::abort();       // every line is ended
  return 0;
}
