#pragma once
// The FTP-bug entry list: the text form of its post numbers (the same in
// the INI file and in the tool's field) and how an entry is registered.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "config/SettingValues.h"

namespace tav {

// Most entries the list takes; registering more does nothing.
inline constexpr std::size_t kFtpBugListMax = 99;
// Longest board or thread text of an entry.
inline constexpr std::size_t kFtpBugFieldMax = 259;
// Longest text of the joined post numbers.
inline constexpr std::size_t kFtpBugPostsMax = 4095;

// "12,abc,15" gives 12, 0, 15; an empty text gives no numbers.
std::vector<std::int32_t> ParsePostNumbers(std::u16string_view text);
// The numbers joined with ",", whole numbers only up to `maxLength` units.
std::u16string JoinPostNumbers(const std::vector<std::int32_t>& posts,
                               std::size_t maxLength = kFtpBugPostsMax);

enum class FtpBugRegister {
  kStored,        // the entry of that board and thread was replaced, or one was appended
  kListFull,      // the list already holds kFtpBugListMax entries
  kMissingInput,  // board, thread or post numbers empty
};

// Gives the entry of `board` and `thread` (exact comparison) the post
// numbers of `postsText`, appending an entry when there is none.
FtpBugRegister RegisterFtpBugEntry(std::vector<FtpBugEntry>& list, std::u16string_view board,
                                   std::u16string_view thread, std::u16string_view postsText);

}  // namespace tav
