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

// Whether the first and the last sizeof(Word) of the `length` bytes at a and
// b are equal: all of them, for a length of one to two words.
template <typename Word>
inline bool SameEnds(const char* a, const char* b, std::size_t length) {
  Word a0, b0, a1, b1;
  memcpy(&a0, a, sizeof a0);
  memcpy(&b0, b, sizeof b0);
  memcpy(&a1, a + length - sizeof a1, sizeof a1);
  memcpy(&b1, b + length - sizeof b1, sizeof b1);
  return a0 == b0 && a1 == b1;
}

// Whether the `length` bytes at a and b are equal. Markers are short: up to
// sixteen bytes are compared as two overlapping words, without a call.
inline bool SameBytes(const char* a, const char* b, std::size_t length) {
  if (length > 16) return memcmp(a, b, length) == 0;
  if (length >= 8) return SameEnds<std::uint64_t>(a, b, length);
  if (length >= 4) return SameEnds<std::uint32_t>(a, b, length);
  for (std::size_t i = 0; i < length; ++i) {
    if (a[i] != b[i]) return false;
  }
  return true;
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

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define TAV_FIND_AVX2 1
// Bit i set: position q + i starts with the needle's first byte and has its
// last byte n-1 further on. Reads q .. q+n+30.
__attribute__((target("avx2"))) inline unsigned CandidatesAt(const char* q, __m256i firstSet, __m256i lastSet,
                                                              std::size_t n) {
  const __m256i head = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(q));
  const __m256i tail = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(q + n - 1));
  return static_cast<unsigned>(
      _mm256_movemask_epi8(_mm256_and_si256(_mm256_cmpeq_epi8(head, firstSet), _mm256_cmpeq_epi8(tail, lastSet))));
}

// The first candidate of `mask` (positions from q) holding the whole needle.
inline const char* FirstWhole(const char* q, unsigned mask, const char* needle, std::size_t n) {
  while (mask != 0) {
    const auto bit = static_cast<std::size_t>(__builtin_ctz(mask));
    if (SameBytes(q + bit + 1, needle + 1, n - 2)) return q + bit;
    mask &= mask - 1;
  }
  return nullptr;
}

// `base` is the start of the text, at or before p.
__attribute__((target("avx2"))) const char* FindWide(const char* base, const char* p, const char* last,
                                                     const char* needle, std::size_t n) {
  const __m256i firstSet = _mm256_set1_epi8(needle[0]);
  const __m256i lastSet = _mm256_set1_epi8(needle[n - 1]);
  // Thirty-two starts p..p+31 are tested while all of them may hold a
  // match: the block read from p+n-1 then ends within the text.
  while (last - p >= 31) {
    if (const char* hit = FirstWhole(p, CandidatesAt(p, firstSet, lastSet, n), needle, n)) return hit;
    p += 32;
  }
  if (p > last) return nullptr;
  // The starts left are tested with one block that ends at the last start
  // and reaches back over starts already tested, or before `p`, as far as
  // the text allows; the starts before `p` are masked out.
  if (last - base >= 31) {
    const char* const q = last - 31;
    const unsigned mask = CandidatesAt(q, firstSet, lastSet, n) & (~0u << static_cast<unsigned>(p - q));
    return FirstWhole(q, mask, needle, n);
  }
  return FindFrom(p, last, needle, n);
}
#endif

const char* FindNarrow(const char* /*base*/, const char* p, const char* last, const char* needle, std::size_t n) {
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

byte_search::BlockSearch ChooseFind() {
#if defined(TAV_FIND_AVX2)
  __builtin_cpu_init();
  if (__builtin_cpu_supports("avx2")) return &FindWide;
#endif
  return &FindNarrow;
}

const char* ChooseAndFind(const char* base, const char* from, const char* last, const char* needle, std::size_t n) {
  const byte_search::BlockSearch search = ChooseFind();
  byte_search::chosen.store(search, std::memory_order_relaxed);
  return search(base, from, last, needle, n);
}

}  // namespace

// Constant-initialised, so that a search made while other files' statics
// are being set up finds it ready.
constinit std::atomic<byte_search::BlockSearch> byte_search::chosen{&ChooseAndFind};

}  // namespace tav
