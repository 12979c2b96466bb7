// InflateBody on arbitrary bytes: it must never write past the area it is
// given, and on success report a length within that area.
//
// Input layout: the first two bytes choose the capacity of the output area
// (0..65535), the rest is the data handed over as gzip. An area of exactly
// that size is allocated, so AddressSanitizer sees any overrun.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

#include "net/UpstreamClient.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const std::int64_t area = static_cast<std::int64_t>(data[0]) << 8 | data[1];
  const std::unique_ptr<char[]> out(new char[static_cast<std::size_t>(area)]);  // not null, even when empty
  std::int64_t capacity = area;
  const int result = tav::InflateBody(nullptr, out.get(), capacity, reinterpret_cast<const char*>(data + 2),
                                      static_cast<std::int64_t>(size - 2));
  if (result == 0 && (capacity < 0 || capacity > area)) std::abort();
  if (result != 0 && capacity != area) std::abort();  // a failure leaves the capacity alone
  return 0;
}
