#include "platform/IniFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>

#include "platform/TextCodec.h"

namespace tav {
namespace {

constexpr std::size_t kNone = static_cast<std::size_t>(-1);

thread_local IniFile::SaveFaultHook tSaveFault;

bool FaultInjected(IniFile::SaveStep step) { return tSaveFault && tSaveFault(step); }

// --- text helpers ---

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t'; }

// A NUL ends a line too: the private-profile functions could never return
// text past one, and a value must not carry one into the rest of the program.
bool IsLineEnd(char16_t c) { return c == u'\r' || c == u'\n' || c == u'\0'; }

std::u16string_view Trim(std::u16string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

// Names are compared without regard to ASCII case.
std::u16string Fold(std::u16string_view name) {
  std::u16string folded(name);
  for (char16_t& c : folded) {
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
  }
  return folded;
}

std::u16string OneLine(std::u16string_view text) {
  std::u16string line(text);
  for (char16_t& c : line) {
    if (IsLineEnd(c)) c = u' ';
  }
  return line;
}

bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

// Unpaired surrogates become U+FFFD so that every later conversion sees
// well-formed UTF-16.
void ReplaceLoneSurrogates(std::u16string& text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (IsHighSurrogate(text[i]) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) {
      ++i;
    } else if (IsHighSurrogate(text[i]) || IsLowSurrogate(text[i])) {
      text[i] = u'\uFFFD';
    }
  }
}

// UTF-16 code units from bytes; an odd last byte is dropped.
std::u16string FromUtf16Bytes(std::string_view bytes, bool bigEndian) {
  std::u16string text(bytes.size() / 2, u'\0');
  for (std::size_t i = 0; i < text.size(); ++i) {
    auto first = static_cast<unsigned char>(bytes[2 * i]);
    auto second = static_cast<unsigned char>(bytes[2 * i + 1]);
    text[i] = bigEndian ? static_cast<char16_t>((first << 8) | second)
                        : static_cast<char16_t>(first | (second << 8));
  }
  ReplaceLoneSurrogates(text);
  return text;
}

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool IsValidUtf8(std::string_view bytes) {
  std::size_t i = 0;
  const std::size_t n = bytes.size();
  while (i < n) {
    auto lead = static_cast<unsigned char>(bytes[i]);
    if (lead < 0x80) {
      ++i;
      continue;
    }
    std::size_t length = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3;
      if (lead == 0xE0) low = 0xA0;
      if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4;
      if (lead == 0xF0) low = 0x90;
      if (lead == 0xF4) high = 0x8F;
    } else {
      return false;
    }
    if (n - i < length) return false;
    auto second = static_cast<unsigned char>(bytes[i + 1]);
    if (second < low || second > high) return false;
    for (std::size_t k = 2; k < length; ++k) {
      auto next = static_cast<unsigned char>(bytes[i + k]);
      if (next < 0x80 || next > 0xBF) return false;
    }
    i += length;
  }
  return true;
}

bool StartsWith(std::string_view bytes, std::string_view prefix) {
  return bytes.substr(0, prefix.size()) == prefix;
}

constexpr std::string_view kBomUtf16Le = "\xFF\xFE";
constexpr std::string_view kBomUtf16Be = "\xFE\xFF";
constexpr std::string_view kBomUtf8 = "\xEF\xBB\xBF";

// --- file helpers ---

std::string FolderOf(const std::string& path) {
  std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string NameOf(const std::string& path) {
  std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The file a save really replaces: through symbolic links, so that a linked
// settings file is updated instead of the link being replaced by a copy.
std::string ResolvedTarget(const std::string& path) {
  char* real = ::realpath(path.c_str(), nullptr);
  if (real == nullptr) return path;
  std::string resolved(real);
  std::free(real);
  return resolved;
}

bool WriteAll(int fd, std::string_view data) {
  while (!data.empty()) {
    ssize_t written = ::write(fd, data.data(), data.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

bool ReadAll(int fd, std::string& out, std::size_t limit) {
  char buffer[65536];
  for (;;) {
    ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (got == 0) return true;
    out.append(buffer, static_cast<std::size_t>(got));
    if (out.size() > limit) return false;
  }
}

// A temporary file beside the target that removes itself unless it has been
// renamed over the target.
class TempFileBeside {
 public:
  explicit TempFileBeside(const std::string& target)
      : path_(FolderOf(target) + "/." + NameOf(target) + ".XXXXXX") {
    if (FaultInjected(IniFile::SaveStep::CreateTemp)) {
      path_.clear();
      return;
    }
    fd_ = ::mkostemp(path_.data(), O_CLOEXEC);
    if (fd_ < 0) path_.clear();
  }
  ~TempFileBeside() {
    CloseQuietly();
    if (!path_.empty()) ::unlink(path_.c_str());
  }
  TempFileBeside(const TempFileBeside&) = delete;
  TempFileBeside& operator=(const TempFileBeside&) = delete;

  bool Created() const { return fd_ >= 0; }

  // Gives the new file the old file's permissions; a new settings file
  // stays private to its owner (it holds the scrambled password).
  void TakeModeOf(const std::string& target) const {
    struct stat old {};
    if (::stat(target.c_str(), &old) == 0 && S_ISREG(old.st_mode)) ::fchmod(fd_, old.st_mode & 07777);
  }

  bool Write(std::string_view data) {
    if (FaultInjected(IniFile::SaveStep::Write)) {
      // As on a full disk: part of the text reaches the file, then it fails.
      WriteAll(fd_, data.substr(0, data.size() / 2));
      return false;
    }
    return WriteAll(fd_, data);
  }

  bool SyncAndClose() {
    if (FaultInjected(IniFile::SaveStep::Sync) || ::fsync(fd_) != 0) return false;
    int fd = std::exchange(fd_, -1);
    return ::close(fd) == 0;
  }

  bool RenameOver(const std::string& target) {
    if (FaultInjected(IniFile::SaveStep::Rename)) return false;
    if (::rename(path_.c_str(), target.c_str()) != 0) return false;
    path_.clear();
    return true;
  }

 private:
  void CloseQuietly() {
    if (fd_ >= 0) ::close(std::exchange(fd_, -1));
  }

  std::string path_;
  int fd_ = -1;
};

// Makes the rename itself durable; a failure here loses nothing that is
// not already on disk, so it is not reported.
void SyncFolder(const std::string& folder) {
  int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

bool ReplaceFileContents(const std::string& path, std::string_view image) {
  const std::string target = ResolvedTarget(path);
  TempFileBeside temp(target);
  if (!temp.Created()) return false;
  temp.TakeModeOf(target);
  if (!temp.Write(image) || !temp.SyncAndClose() || !temp.RenameOver(target)) return false;
  SyncFolder(FolderOf(target));
  return true;
}

}  // namespace

void IniFile::SetSaveFaultHookForTesting(SaveFaultHook hook) { tSaveFault = std::move(hook); }

// --- reading ---

IniFile::Encoding IniFile::DetectEncoding(std::string_view bytes) {
  if (StartsWith(bytes, kBomUtf16Le)) return Encoding::Utf16Le;
  if (StartsWith(bytes, kBomUtf16Be)) return Encoding::Utf16Be;
  if (StartsWith(bytes, kBomUtf8)) return Encoding::Utf8WithBom;
  return IsValidUtf8(bytes) ? Encoding::Utf8 : Encoding::Cp932;
}

std::u16string IniFile::Decode(std::string_view bytes) {
  std::u16string text;
  switch (DetectEncoding(bytes)) {
    case Encoding::Utf16Le:
      return FromUtf16Bytes(bytes.substr(kBomUtf16Le.size()), false);
    case Encoding::Utf16Be:
      return FromUtf16Bytes(bytes.substr(kBomUtf16Be.size()), true);
    case Encoding::Utf8WithBom:
      text = Utf8ToUtf16(bytes.substr(kBomUtf8.size()));
      break;
    case Encoding::Utf8:
      text = Utf8ToUtf16(bytes);
      break;
    case Encoding::Cp932:
      text = Cp932ToUtf16(bytes);
      break;
  }
  ReplaceLoneSurrogates(text);
  return text;
}

IniFile IniFile::Parse(std::string_view bytes) {
  IniFile ini;
  ini.ParseText(Decode(bytes));
  return ini;
}

void IniFile::ParseText(std::u16string_view text) {
  std::size_t current = kNone;
  std::size_t lineStart = 0;
  for (std::size_t i = 0; i <= text.size(); ++i) {
    if (i < text.size() && !IsLineEnd(text[i])) continue;
    if (i > lineStart) ParseLine(text.substr(lineStart, i - lineStart), current);
    lineStart = i + 1;
  }
}

void IniFile::ParseLine(std::u16string_view line, std::size_t& current) {
  line = Trim(line);
  if (line.empty() || line.front() == u';') return;
  if (line.front() == u'[') {
    std::size_t close = line.rfind(u']');
    if (close != std::u16string_view::npos) {
      current = SectionIndexFor(Trim(line.substr(1, close - 1)));
      return;
    }
    // Without its ']' the line is no section header; it may still be a key.
  }
  if (current == kNone) return;  // keys before the first section belong nowhere
  std::size_t equals = line.find(u'=');
  if (equals == std::u16string_view::npos) return;
  std::u16string_view key = Trim(line.substr(0, equals));
  if (key.empty()) return;
  Section& section = sections_[current];
  auto [it, inserted] = section.index.try_emplace(Fold(key), section.entries.size());
  if (!inserted) return;  // the first occurrence wins
  section.entries.push_back(Entry{std::u16string(key), std::u16string(Trim(line.substr(equals + 1)))});
}

int IniFile::LoadFile(const std::string& path, IniFile& out, std::string* reason) {
  auto unreadable = [reason](std::string why) {
    if (reason != nullptr) *reason = std::move(why);
    return kUnreadable;
  };
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    if (errno == ENOENT || errno == ENOTDIR) return kMissing;
    return unreadable(std::strerror(errno));
  }
  std::string bytes;
  struct stat info {};
  std::string why;
  // Only regular files: a FIFO or a device could block or never end.
  if (::fstat(fd, &info) != 0) {
    why = std::strerror(errno);
  } else if (!S_ISREG(info.st_mode)) {
    why = "not a regular file";
  } else if (static_cast<std::uint64_t>(info.st_size) > kMaxFileBytes) {
    why = "larger than " + std::to_string(kMaxFileBytes >> 20) + " MB";
  } else if (!ReadAll(fd, bytes, kMaxFileBytes)) {
    why = bytes.size() > kMaxFileBytes ? "larger than " + std::to_string(kMaxFileBytes >> 20) + " MB"
                                        : std::string(std::strerror(errno));
  }
  ::close(fd);
  if (!why.empty()) return unreadable(why);
  out = Parse(bytes);
  return kOk;
}

std::optional<std::string> IniFile::MoveAside(const std::string& path, const std::string& suffix) {
  for (int n = 0; n < 1000; ++n) {
    std::string aside = path + suffix;
    if (n > 0) aside += "." + std::to_string(n);
    // RENAME_NOREPLACE: the check and the rename are one step, so an
    // earlier file of that name can never be replaced.
    if (::renameat2(AT_FDCWD, path.c_str(), AT_FDCWD, aside.c_str(), RENAME_NOREPLACE) == 0) return aside;
    if (errno == EEXIST) continue;
    if (errno != EINVAL && errno != ENOSYS) return std::nullopt;
    // A file system without that flag: a hard link fails on an existing name
    // just the same, and the old name goes once the link stands.
    if (::link(path.c_str(), aside.c_str()) == 0) {
      if (::unlink(path.c_str()) == 0) return aside;
      ::unlink(aside.c_str());
      return std::nullopt;
    }
    if (errno == EEXIST) continue;
    return std::nullopt;
  }
  return std::nullopt;
}

// --- lookups ---

const IniFile::Section* IniFile::FindSection(std::u16string_view name) const {
  auto it = sectionIndex_.find(Fold(name));
  return it == sectionIndex_.end() ? nullptr : &sections_[it->second];
}

std::size_t IniFile::SectionIndexFor(std::u16string_view name) {
  auto [it, inserted] = sectionIndex_.try_emplace(Fold(name), sections_.size());
  if (inserted) sections_.push_back(Section{std::u16string(name), {}, {}});
  return it->second;
}

std::optional<std::u16string> IniFile::GetString(std::u16string_view section, std::u16string_view key) const {
  const Section* found = FindSection(section);
  if (found == nullptr) return std::nullopt;
  auto it = found->index.find(Fold(key));
  if (it == found->index.end()) return std::nullopt;
  return found->entries[it->second].value;
}

int IniFile::GetInt(std::u16string_view section, std::u16string_view key, int fallback) const {
  std::optional<std::u16string> value = GetString(section, key);
  if (!value || value->empty()) return fallback;
  return ParseInt(*value);
}

int IniFile::ParseInt(std::u16string_view text) {
  text = Trim(text);
  bool negative = !text.empty() && text.front() == u'-';
  if (negative) text.remove_prefix(1);
  // Accumulate in 64 bits and stop growing past the int range: a long digit
  // string saturates instead of overflowing.
  const std::int64_t limit = negative ? -static_cast<std::int64_t>(INT_MIN) : INT_MAX;
  std::int64_t magnitude = 0;
  for (char16_t c : text) {
    if (c < u'0' || c > u'9') break;
    magnitude = magnitude * 10 + (c - u'0');
    if (magnitude > limit) magnitude = limit;
  }
  return static_cast<int>(negative ? -magnitude : magnitude);
}

std::vector<std::u16string> IniFile::SectionNames() const {
  std::vector<std::u16string> names;
  for (const Section& section : sections_) names.push_back(section.name);
  return names;
}

std::vector<std::u16string> IniFile::KeyNames(std::u16string_view section) const {
  std::vector<std::u16string> names;
  if (const Section* found = FindSection(section)) {
    for (const Entry& entry : found->entries) names.push_back(entry.key);
  }
  return names;
}

// --- writing ---

void IniFile::SetString(std::u16string_view section, std::u16string_view key, std::u16string_view value) {
  Section& target = sections_[SectionIndexFor(OneLine(section))];
  std::u16string cleanKey = OneLine(key);
  auto [it, inserted] = target.index.try_emplace(Fold(cleanKey), target.entries.size());
  if (inserted) {
    target.entries.push_back(Entry{std::move(cleanKey), OneLine(value)});
  } else {
    target.entries[it->second].value = OneLine(value);
  }
}

void IniFile::SetInt(std::u16string_view section, std::u16string_view key, int value) {
  std::string digits = std::to_string(value);
  SetString(section, key, std::u16string(digits.begin(), digits.end()));
}

std::string IniFile::Serialize() const {
  std::u16string text;
  for (const Section& section : sections_) {
    text += u'[';
    text += section.name;
    text += u"]\r\n";
    for (const Entry& entry : section.entries) {
      text += entry.key;
      text += u'=';
      text += entry.value;
      text += u"\r\n";
    }
  }
  std::string bytes(kBomUtf16Le);
  bytes.reserve(bytes.size() + text.size() * 2);
  for (char16_t unit : text) {
    bytes.push_back(static_cast<char>(unit & 0xFF));
    bytes.push_back(static_cast<char>(unit >> 8));
  }
  return bytes;
}

int IniFile::SaveFile(const std::string& path) const {
  return ReplaceFileContents(path, Serialize()) ? kOk : kWriteFailed;
}

}  // namespace tav
