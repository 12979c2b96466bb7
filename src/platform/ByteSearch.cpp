#include "platform/ByteSearch.h"

#include <cstdint>
#include <cstring>

#if defined(__x86_64__) || defined(__SSE2__)
#include <immintrin.h>
#endif

namespace tav {

// Candidates are the positions whose byte equals the needle's first byte and
// whose byte needle-length-1 further on equals its last byte; a block of
// positions is tested at once, and only the candidates are compared in full.
// In markup, a tag's "<" and ">" a fixed distance apart are far rarer than
// either byte alone, and a search costs no set-up, which matters when most
// searches end within a few hundred bytes.
namespace {

// Whether the `n` bytes at a and b are the same. Short compares are done
// inline with two overlapping loads instead of a call.
inline bool SameBytes(const char* a, const char* b, std::size_t n) {
  if (n >= 8 && n <= 16) {
    std::uint64_t a0, a1, b0, b1;
    memcpy(&a0, a, 8);
    memcpy(&b0, b, 8);
    memcpy(&a1, a + n - 8, 8);
    memcpy(&b1, b + n - 8, 8);
    return ((a0 ^ b0) | (a1 ^ b1)) == 0;
  }
#if defined(__SSE2__)
  if (n > 16 && n <= 32) {
    const __m128i x = _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(a)),
                                     _mm_loadu_si128(reinterpret_cast<const __m128i*>(b)));
    const __m128i y = _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(a + n - 16)),
                                     _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + n - 16)));
    return _mm_movemask_epi8(_mm_and_si128(x, y)) == 0xFFFF;
  }
#endif
  return memcmp(a, b, n) == 0;
}

// The first match starting in [p, last], or null; `n` is at least 2.
const char* FindFrom(const char* p, const char* last, const char* needle, std::size_t n) {
  const char first = needle[0];
  const char lastByte = needle[n - 1];
  for (; p <= last; ++p) {
    if (*p == first && p[n - 1] == lastByte && SameBytes(p + 1, needle + 1, n - 2)) return p;
  }
  return nullptr;
}

const char* FindNarrow(const char* p, const char* last, const char* needle, std::size_t n) {
#if defined(__SSE2__)
  const __m128i firstSet = _mm_set1_epi8(needle[0]);
  const __m128i lastSet = _mm_set1_epi8(needle[n - 1]);
  while (last - p >= 15) {
    const __m128i head = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i tail = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + n - 1));
    auto mask = static_cast<unsigned>(
        _mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi8(head, firstSet), _mm_cmpeq_epi8(tail, lastSet))));
    while (mask != 0) {
      const auto bit = static_cast<std::size_t>(__builtin_ctz(mask));
      if (SameBytes(p + bit + 1, needle + 1, n - 2)) return p + bit;
      mask &= mask - 1;
    }
    p += 16;
  }
#endif
  return FindFrom(p, last, needle, n);
}

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define TAV_FIND_AVX2 1
__attribute__((target("avx2"))) const char* FindWide(const char* p, const char* last, const char* needle,
                                                     std::size_t n) {
  const __m256i firstSet = _mm256_set1_epi8(needle[0]);
  const __m256i lastSet = _mm256_set1_epi8(needle[n - 1]);
  // Thirty-two starts p..p+31 are tested while all of them may hold a
  // match: the block read from p+n-1 then ends within the text.
  while (last - p >= 31) {
    const __m256i head = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
    const __m256i tail = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + n - 1));
    auto mask = static_cast<unsigned>(_mm256_movemask_epi8(
        _mm256_and_si256(_mm256_cmpeq_epi8(head, firstSet), _mm256_cmpeq_epi8(tail, lastSet))));
    while (mask != 0) {
      const auto bit = static_cast<std::size_t>(__builtin_ctz(mask));
      if (SameBytes(p + bit + 1, needle + 1, n - 2)) return p + bit;
      mask &= mask - 1;
    }
    p += 32;
  }
  // Fewer than thirty-two starts left: sixteen at a time, then one by one.
  return FindNarrow(p, last, needle, n);
}
#endif

using FindFunction = const char* (*)(const char*, const char*, const char*, std::size_t);

FindFunction ChooseFind() {
#if defined(TAV_FIND_AVX2)
  __builtin_cpu_init();
  if (__builtin_cpu_supports("avx2")) return &FindWide;
#endif
  return &FindNarrow;
}

}  // namespace

std::size_t FindBytes(std::string_view hay, std::string_view needle, std::size_t from) {
  if (from > hay.size() || needle.size() > hay.size() - from) return std::string_view::npos;
  if (needle.empty()) return from;
  const char* const base = hay.data();
  if (needle.size() == 1) {
    const void* hit = memchr(base + from, needle[0], hay.size() - from);
    return hit == nullptr ? std::string_view::npos : static_cast<std::size_t>(static_cast<const char*>(hit) - base);
  }
  // The last position a match can start at.
  const char* const last = base + (hay.size() - needle.size());
  static const FindFunction find = ChooseFind();
  const char* const hit = find(base + from, last, needle.data(), needle.size());
  return hit == nullptr ? std::string_view::npos : static_cast<std::size_t>(hit - base);
}

}  // namespace tav
