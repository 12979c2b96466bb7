#include "acquire/CDatCache.h"

#include <limits>
#include <new>

namespace tav {
namespace {

std::string_view KeptServer(std::string_view server) { return server.substr(0, CDatCache::kMaxServerLength); }

}  // namespace

std::int64_t CDatCache::KeyNumber(std::string_view key) {
  std::int64_t number = 0;
  for (char c : key) {
    if (c < '0' || c > '9') break;
    if (number > (std::numeric_limits<std::int64_t>::max() - 9) / 10) break;  // longer keys compare cut
    number = number * 10 + (c - '0');
  }
  return number;
}

CDatCache::Entry* CDatCache::Find(std::string_view server, std::int64_t key) {
  for (Entry& entry : entries_) {
    if (entry.key == key && entry.server == server) return &entry;
  }
  return nullptr;
}

const CDatCache::Entry* CDatCache::Find(std::string_view server, std::int64_t key) const {
  for (const Entry& entry : entries_) {
    if (entry.key == key && entry.server == server) return &entry;
  }
  return nullptr;
}

int CDatCache::Lookup(std::string_view server, std::string_view key, std::string* text) const {
  std::lock_guard<std::mutex> lock(mutex_);
  const Entry* entry = Find(KeptServer(server), KeyNumber(key));
  if (entry == nullptr) return -1;
  if (text != nullptr) {
    try {
      *text = entry->text;
    } catch (const std::bad_alloc&) {
      // Without a copy the caller cannot use the entry: as if there were none.
      text->clear();
      return -1;
    }
  }
  return entry->count;
}

int CDatCache::Store(std::string_view server, std::string_view key, int count, std::string_view text, bool append,
                     int maxEntries, std::string* textAfter) {
  std::lock_guard<std::mutex> lock(mutex_);
  const std::string_view label = KeptServer(server);
  const std::int64_t number = KeyNumber(key);
  try {
    if (Entry* entry = Find(label, number)) {
      const std::size_t oldSize = entry->text.size();
      std::string previous;
      if (append) {
        entry->text.append(text);  // leaves the text as it was when it throws
      } else {
        previous.assign(text);
        entry->text.swap(previous);
      }
      if (textAfter != nullptr) {
        try {
          *textAfter = entry->text;
        } catch (const std::bad_alloc&) {
          if (append) {
            entry->text.resize(oldSize);
          } else {
            entry->text.swap(previous);
          }
          return -1;
        }
      }
      entry->count = count;
      return 0;
    }

    Entry fresh;
    fresh.server.assign(label);
    fresh.key = number;
    fresh.count = count;
    fresh.text.assign(text);
    std::string after;
    if (textAfter != nullptr) after = fresh.text;
    // The new entry goes in first so that a failure evicts nothing.
    entries_.push_back(std::move(fresh));
    const std::size_t limit = maxEntries < 1 ? 1 : static_cast<std::size_t>(maxEntries);
    while (entries_.size() > limit) entries_.pop_front();
    if (textAfter != nullptr) textAfter->swap(after);
    return 0;
  } catch (const std::bad_alloc&) {
    return -1;
  }
}

std::size_t CDatCache::Size() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return entries_.size();
}

}  // namespace tav
