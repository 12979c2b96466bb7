#include "platform/MemoryReuse.h"

#include <mutex>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace tav {
namespace {

// Buffers below this size come from the arenas, not from a mapping of their
// own that is unmapped again when freed.
constexpr int kLargestReusedBuffer = 4 * 1024 * 1024;
// Free memory at the top of an arena is handed back only beyond this much.
constexpr int kKeptFreeMemory = 4 * 1024 * 1024;

}  // namespace

void KeepFreedMemoryForReuse() {
#if defined(__GLIBC__)
  static std::once_flag once;
  std::call_once(once, [] {
    mallopt(M_MMAP_THRESHOLD, kLargestReusedBuffer);
    mallopt(M_TRIM_THRESHOLD, kKeptFreeMemory);
  });
#endif
}

}  // namespace tav
