#pragma once
// The dat memory cache: the dat text last produced for a thread, so that the
// HTML route can ask the board only for the posts that are new since then.
// Shared by every worker; all access runs under one lock and lookups hand
// out copies, so a concurrent store or eviction never touches text that an
// answer is still sending.

#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <string_view>

namespace tav {

class CDatCache {
 public:
  // Longest server label kept; longer labels are compared and kept cut.
  static constexpr std::size_t kMaxServerLength = 47;

  CDatCache() = default;
  CDatCache(const CDatCache&) = delete;
  CDatCache& operator=(const CDatCache&) = delete;
  virtual ~CDatCache() = default;

  // The post count of the entry for `server` and `key` (decimal text, its
  // leading digits count), or -1 when there is none. With `text` given, it
  // receives a copy of the entry's text (its size is the entry's size).
  int Lookup(std::string_view server, std::string_view key, std::string* text = nullptr) const;

  // Replaces the entry's text (append false) or appends to it (append true)
  // and sets its count; a thread without an entry gets a new newest entry,
  // after the oldest ones have been evicted down to `maxEntries` - 1 (a value
  // below 1 counts as 1). A found entry keeps its place. With `textAfter`
  // given, it receives a copy of the entry's whole text after the store,
  // taken under the same lock. Returns 0, or -1 when no memory was available,
  // in which case the cache is left as it was.
  int Store(std::string_view server, std::string_view key, int count, std::string_view text, bool append,
            int maxEntries, std::string* textAfter = nullptr);

  // Number of entries.
  std::size_t Size() const;

  // Thread key as the cache compares it: the leading decimal digits.
  static std::int64_t KeyNumber(std::string_view key);

 private:
  struct Entry {
    std::string server;
    std::int64_t key = 0;
    int count = 0;
    std::string text;
  };

  Entry* Find(std::string_view server, std::int64_t key);
  const Entry* Find(std::string_view server, std::int64_t key) const;

  mutable std::mutex mutex_;
  std::deque<Entry> entries_;  // oldest first
};

}  // namespace tav
