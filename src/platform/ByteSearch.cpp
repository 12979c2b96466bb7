#include "platform/ByteSearch.h"

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

// True when the middle bytes of the candidate at `p` (all but the first and
// the last, which the caller compared) equal the needle's. Needles are
// short, and a loop of its own keeps the block loops free of calls.
inline bool MiddleMatches(const char* p, const char* needle, std::size_t n) {
  for (std::size_t i = 1; i + 1 < n; ++i) {
    if (p[i] != needle[i]) return false;
  }
  return true;
}

// The first match starting in [p, last], or null; `n` is at least 2.
const char* FindFrom(const char* p, const char* last, const char* needle, std::size_t n) {
  const char first = needle[0];
  const char lastByte = needle[n - 1];
  for (; p <= last; ++p) {
    if (*p == first && p[n - 1] == lastByte && MiddleMatches(p, needle, n)) return p;
  }
  return nullptr;
}

// Each block loop below tests the starts [p, last] a block at a time. The
// starts left over at the end, fewer than a block, are tested as one more
// block that ends at `last` and so begins before p (its earlier starts are
// masked off), when the text from `base` on is long enough for it.

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define TAV_FIND_AVX2 1
// One bit for each of the 32 starts from `at` whose first and last bytes match.
__attribute__((target("avx2"))) inline unsigned WideCandidates(const char* at, std::size_t n, __m256i firstSet,
                                                               __m256i lastSet) {
  const __m256i head = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at));
  const __m256i tail = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at + n - 1));
  return static_cast<unsigned>(
      _mm256_movemask_epi8(_mm256_and_si256(_mm256_cmpeq_epi8(head, firstSet), _mm256_cmpeq_epi8(tail, lastSet))));
}

__attribute__((target("avx2"))) const char* FindWide(const char* base, const char* p, const char* last,
                                                     const char* needle, std::size_t n) {
  const __m256i firstSet = _mm256_set1_epi8(needle[0]);
  const __m256i lastSet = _mm256_set1_epi8(needle[n - 1]);
  // Thirty-two starts p..p+31 are tested while all of them may hold a
  // match: the block read from p+n-1 then ends within the text.
  while (last - p >= 31) {
    for (unsigned mask = WideCandidates(p, n, firstSet, lastSet); mask != 0; mask &= mask - 1) {
      const auto bit = static_cast<std::size_t>(__builtin_ctz(mask));
      if (MiddleMatches(p + bit, needle, n)) return p + bit;
    }
    p += 32;
  }
  if (p <= last && last - base >= 31) {
    const char* const block = last - 31;
    const unsigned all = WideCandidates(block, n, firstSet, lastSet);
    for (unsigned mask = all & (~0u << (p - block)); mask != 0; mask &= mask - 1) {
      const auto bit = static_cast<std::size_t>(__builtin_ctz(mask));
      if (MiddleMatches(block + bit, needle, n)) return block + bit;
    }
    return nullptr;
  }
  return FindFrom(p, last, needle, n);
}
#endif

const char* FindNarrow(const char* base, const char* p, const char* last, const char* needle, std::size_t n) {
#if defined(__SSE2__)
  const __m128i firstSet = _mm_set1_epi8(needle[0]);
  const __m128i lastSet = _mm_set1_epi8(needle[n - 1]);
  const auto candidates = [&](const char* at) {
    const __m128i head = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
    const __m128i tail = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at + n - 1));
    return static_cast<unsigned>(
        _mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi8(head, firstSet), _mm_cmpeq_epi8(tail, lastSet))));
  };
  while (last - p >= 15) {
    for (unsigned mask = candidates(p); mask != 0; mask &= mask - 1) {
      const auto bit = static_cast<std::size_t>(__builtin_ctz(mask));
      if (MiddleMatches(p + bit, needle, n)) return p + bit;
    }
    p += 16;
  }
  if (p <= last && last - base >= 15) {
    const char* const block = last - 15;
    for (unsigned mask = candidates(block) & (~0u << (p - block)); mask != 0; mask &= mask - 1) {
      const auto bit = static_cast<std::size_t>(__builtin_ctz(mask));
      if (MiddleMatches(block + bit, needle, n)) return block + bit;
    }
    return nullptr;
  }
#else
  (void)base;
#endif
  return FindFrom(p, last, needle, n);
}

using FindFunction = const char* (*)(const char*, const char*, const char*, const char*, std::size_t);

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
  const char* const hit = find(base, base + from, last, needle.data(), needle.size());
  return hit == nullptr ? std::string_view::npos : static_cast<std::size_t>(hit - base);
}

}  // namespace tav
