#include "config/FtpBugList.h"

#include "platform/IniFile.h"

namespace tav {

std::vector<std::int32_t> ParsePostNumbers(std::u16string_view text) {
  std::vector<std::int32_t> posts;
  if (text.empty()) return posts;
  for (;;) {
    std::size_t comma = text.find(u',');
    posts.push_back(IniFile::ParseInt(text.substr(0, comma)));
    if (comma == std::u16string_view::npos) return posts;
    text.remove_prefix(comma + 1);
  }
}

std::u16string JoinPostNumbers(const std::vector<std::int32_t>& posts, std::size_t maxLength) {
  std::u16string joined;
  for (std::int32_t post : posts) {
    std::string digits = std::to_string(post);
    std::u16string piece(digits.begin(), digits.end());
    if (!joined.empty()) piece.insert(piece.begin(), u',');
    if (joined.size() + piece.size() > maxLength) break;  // whole numbers only
    joined += piece;
  }
  return joined;
}

FtpBugRegister RegisterFtpBugEntry(std::vector<FtpBugEntry>& list, std::u16string_view board,
                                   std::u16string_view thread, std::u16string_view postsText) {
  if (list.size() >= kFtpBugListMax) return FtpBugRegister::kListFull;
  std::vector<std::int32_t> posts = ParsePostNumbers(postsText);
  if (board.empty() || thread.empty() || posts.empty()) return FtpBugRegister::kMissingInput;
  for (FtpBugEntry& entry : list) {
    if (entry.board == board && entry.thread == thread) {
      entry.posts = std::move(posts);
      return FtpBugRegister::kStored;
    }
  }
  list.push_back(FtpBugEntry{std::u16string(board.substr(0, kFtpBugFieldMax)),
                             std::u16string(thread.substr(0, kFtpBugFieldMax)), std::move(posts)});
  return FtpBugRegister::kStored;
}

}  // namespace tav
