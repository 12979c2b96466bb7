#include "acquire/CDatCache.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace tav {
namespace {

TEST(DatCache, StoresAndLooksUpCountAndTextCopy) {
  CDatCache cache;
  std::string text;
  EXPECT_EQ(cache.Lookup("egg", "1234567890", &text), -1);
  ASSERT_EQ(cache.Store("egg", "1234567890", 3, "a\nb\nc\n", false, 50), 0);
  EXPECT_EQ(cache.Lookup("egg", "1234567890"), 3);
  EXPECT_EQ(cache.Lookup("egg", "1234567890", &text), 3);
  EXPECT_EQ(text, "a\nb\nc\n");
  text[0] = 'X';  // a copy: the entry is not touched
  std::string again;
  cache.Lookup("egg", "1234567890", &again);
  EXPECT_EQ(again, "a\nb\nc\n");
}

TEST(DatCache, ComparesServerExactlyAndKeyByItsLeadingDigits) {
  CDatCache cache;
  ASSERT_EQ(cache.Store("egg", "1234567890", 1, "x\n", false, 50), 0);
  EXPECT_EQ(cache.Lookup("egg", "1234567890.dat"), 1);
  EXPECT_EQ(cache.Lookup("Egg", "1234567890"), -1);
  EXPECT_EQ(cache.Lookup("eggs", "1234567890"), -1);
  EXPECT_EQ(cache.Lookup("egg", "1234567891"), -1);
}

TEST(DatCache, KeepsLongServerLabelsCutButStillFindsThem) {
  CDatCache cache;
  const std::string label(60, 's');
  ASSERT_EQ(cache.Store(label, "1", 1, "x\n", false, 50), 0);
  ASSERT_EQ(cache.Store(label, "1", 2, "y\n", true, 50), 0);
  EXPECT_EQ(cache.Size(), 1u);
  EXPECT_EQ(cache.Lookup(label, "1"), 2);
}

TEST(DatCache, ReplaceAndAppendKeepTheEntryInPlace) {
  CDatCache cache;
  ASSERT_EQ(cache.Store("a", "1", 2, "1\n2\n", false, 50), 0);
  ASSERT_EQ(cache.Store("a", "1", 4, "3\n4\n", true, 50), 0);
  std::string text;
  EXPECT_EQ(cache.Lookup("a", "1", &text), 4);
  EXPECT_EQ(text, "1\n2\n3\n4\n");
  ASSERT_EQ(cache.Store("a", "1", 1, "new\n", false, 50), 0);
  EXPECT_EQ(cache.Lookup("a", "1", &text), 1);
  EXPECT_EQ(text, "new\n");
  EXPECT_EQ(cache.Size(), 1u);
}

TEST(DatCache, StoreHandsBackTheWholeTextAfterIt) {
  CDatCache cache;
  std::string after;
  ASSERT_EQ(cache.Store("a", "1", 1, "1\n", false, 50, &after), 0);
  EXPECT_EQ(after, "1\n");
  ASSERT_EQ(cache.Store("a", "1", 2, "2\n", true, 50, &after), 0);
  EXPECT_EQ(after, "1\n2\n");
}

TEST(DatCache, EvictsTheOldestWhenFull) {
  CDatCache cache;
  ASSERT_EQ(cache.Store("s", "1", 1, "one\n", false, 2), 0);
  ASSERT_EQ(cache.Store("s", "2", 1, "two\n", false, 2), 0);
  // A store to an existing entry does not make it the newest.
  ASSERT_EQ(cache.Store("s", "1", 2, "more\n", true, 2), 0);
  ASSERT_EQ(cache.Store("s", "3", 1, "three\n", false, 2), 0);
  EXPECT_EQ(cache.Size(), 2u);
  EXPECT_EQ(cache.Lookup("s", "1"), -1);
  EXPECT_EQ(cache.Lookup("s", "2"), 1);
  EXPECT_EQ(cache.Lookup("s", "3"), 1);
}

TEST(DatCache, ACountBelowOneKeepsOneEntry) {
  CDatCache cache;
  ASSERT_EQ(cache.Store("s", "1", 1, "one\n", false, 0), 0);
  ASSERT_EQ(cache.Store("s", "2", 1, "two\n", false, -5), 0);
  EXPECT_EQ(cache.Size(), 1u);
  EXPECT_EQ(cache.Lookup("s", "2"), 1);
}

TEST(DatCache, ALoweredCountTakesEffectAtTheNextNewEntry) {
  CDatCache cache;
  for (int i = 0; i < 5; ++i) ASSERT_EQ(cache.Store("s", std::to_string(i), 1, "x\n", false, 50), 0);
  ASSERT_EQ(cache.Store("s", "9", 1, "x\n", false, 2), 0);
  EXPECT_EQ(cache.Size(), 2u);
  EXPECT_EQ(cache.Lookup("s", "4"), 1);
  EXPECT_EQ(cache.Lookup("s", "9"), 1);
}

TEST(DatCache, StoresFromSeveralThreadsAtOnce) {
  CDatCache cache;
  constexpr int kThreads = 6;
  constexpr int kAppends = 200;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&cache, t] {
      const std::string key = std::to_string(1000 + t);
      cache.Store("srv", key, 0, "", false, kThreads);
      for (int i = 1; i <= kAppends; ++i) {
        cache.Store("srv", key, i, "line\n", true, kThreads);
        std::string copy;
        const int count = cache.Lookup("srv", key, &copy);
        // Every copy is a consistent state: count lines of text.
        if (static_cast<int>(copy.size()) != count * 5) ADD_FAILURE() << "torn entry for " << key;
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(cache.Size(), static_cast<std::size_t>(kThreads));
  for (int t = 0; t < kThreads; ++t) {
    std::string text;
    EXPECT_EQ(cache.Lookup("srv", std::to_string(1000 + t), &text), kAppends);
    EXPECT_EQ(text.size(), static_cast<std::size_t>(kAppends) * 5);
  }
}

TEST(DatCache, EvictionUnderConcurrentStoresNeverExceedsTheLimit) {
  CDatCache cache;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&cache, t] {
      for (int i = 0; i < 300; ++i) {
        cache.Store("srv", std::to_string(t * 1000 + i), 1, "x\n", false, 3);
        std::string copy;
        cache.Lookup("srv", std::to_string(t * 1000 + i), &copy);
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(cache.Size(), 3u);
}

}  // namespace
}  // namespace tav
