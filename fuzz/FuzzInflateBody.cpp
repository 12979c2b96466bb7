// InflateBody on arbitrary bytes: it must never write past the area it is
// given, on success report a length within that area, and decode exactly
// what zlib's inflate decodes: the same bytes on success, a failure where
// zlib fails.
//
// Input layout: the first two bytes choose the capacity of the output area
// (0..65535), the rest is the data handed over as gzip. An area of exactly
// that size is allocated, so AddressSanitizer sees any overrun.

#include <zlib.h>

#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "net/UpstreamClient.h"

namespace {

// zlib's verdict on the same data: the decoded bytes, or nothing.
bool InflateWithZlib(const std::uint8_t* data, std::size_t size, std::int64_t area, std::string& decoded) {
  decoded.assign(static_cast<std::size_t>(area), '\0');
  z_stream stream{};
  stream.next_in = const_cast<Bytef*>(data);
  stream.avail_in = static_cast<uInt>(size);
  stream.next_out = reinterpret_cast<Bytef*>(decoded.data());
  stream.avail_out = static_cast<uInt>(area);
  if (inflateInit2(&stream, 15 + 16) != Z_OK) return false;
  const int result = inflate(&stream, Z_FINISH);
  decoded.resize(stream.total_out);
  inflateEnd(&stream);
  return result == Z_STREAM_END;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const std::int64_t area = static_cast<std::int64_t>(data[0]) << 8 | data[1];
  const std::unique_ptr<char[]> out(new char[static_cast<std::size_t>(area)]);  // not null, even when empty
  std::int64_t capacity = area;
  const int result = tav::InflateBody(nullptr, out.get(), capacity, reinterpret_cast<const char*>(data + 2),
                                      static_cast<std::int64_t>(size - 2));
  if (result == 0 && (capacity < 0 || capacity > area)) std::abort();
  if (result != 0 && capacity != area) std::abort();  // a failure leaves the capacity alone

  std::string expected;
  const bool zlibDecodes = InflateWithZlib(data + 2, size - 2, area, expected);
  if (zlibDecodes != (result == 0)) std::abort();
  if (zlibDecodes && (static_cast<std::size_t>(capacity) != expected.size() ||
                      std::memcmp(out.get(), expected.data(), expected.size()) != 0)) {
    std::abort();
  }
  return 0;
}
