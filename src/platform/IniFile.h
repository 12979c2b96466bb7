#pragma once
// An INI file with the semantics of the Windows private-profile functions:
// "[Section]" lines and "key=value" lines, section and key names compared
// without regard to ASCII case, names and values trimmed of spaces and tabs,
// lines starting with ';' ignored, and the first occurrence of a key winning
// (a section that appears twice is read as one).
//
// Text is held as UTF-16. A file is read from UTF-16 (with a byte-order
// mark), UTF-8 (with or without one) or CP932 (no mark and not valid UTF-8),
// and always written as UTF-16LE with a byte-order mark and CRLF line ends.
// Saving never puts the old file at risk: the new text goes to a temporary
// file beside it, is flushed to disk and only then renamed over the old one.

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace tav {

class IniFile {
 public:
  // Results of LoadFile and SaveFile.
  static constexpr int kOk = 0;
  static constexpr int kMissing = -1;     // the file does not exist
  static constexpr int kUnreadable = -2;  // exists but cannot be read, or is absurdly large
  static constexpr int kWriteFailed = -3;

  // Larger files are refused rather than read into memory.
  static constexpr std::size_t kMaxFileBytes = 32u << 20;

  enum class Encoding { Utf16Le, Utf16Be, Utf8WithBom, Utf8, Cp932 };

  // The steps of SaveFile, for tests that make one of them fail.
  enum class SaveStep { CreateTemp, Write, Sync, Rename };
  // Returns true to make the step fail. Applies to saves on the calling thread.
  using SaveFaultHook = std::function<bool(SaveStep)>;
  static void SetSaveFaultHookForTesting(SaveFaultHook hook);

  IniFile() = default;

  // Never fails: whatever cannot be understood is skipped or replaced by U+FFFD.
  static IniFile Parse(std::string_view bytes);
  static Encoding DetectEncoding(std::string_view bytes);
  // Reads and parses `path` into `out`; kOk, kMissing or kUnreadable. With
  // kUnreadable, `reason` (when given) receives why, in words.
  static int LoadFile(const std::string& path, IniFile& out, std::string* reason = nullptr);

  // Renames the file at `path` to the first free name of `path` + `suffix`,
  // then `path` + `suffix` + ".1", ".2", ... An existing file is never
  // replaced. Returns the new name, or nothing when the rename failed.
  static std::optional<std::string> MoveAside(const std::string& path, const std::string& suffix);

  // The value of the first `key` in `section`, or nothing when absent.
  std::optional<std::u16string> GetString(std::u16string_view section, std::u16string_view key) const;
  // The private-profile integer reader: an absent or empty value gives
  // `fallback`; otherwise an optional '-' and the leading decimal digits
  // (saturated to the int range), 0 when there are none.
  int GetInt(std::u16string_view section, std::u16string_view key, int fallback) const;
  static int ParseInt(std::u16string_view text);

  // Replaces the value in place or appends the key (and its section) at the
  // end. Line breaks and NULs in the value become spaces, so a value can
  // never add lines of its own to the file.
  void SetString(std::u16string_view section, std::u16string_view key, std::u16string_view value);
  void SetInt(std::u16string_view section, std::u16string_view key, int value);

  // Section names in file order.
  std::vector<std::u16string> SectionNames() const;
  // Key names of a section in file order (empty when there is no such section).
  std::vector<std::u16string> KeyNames(std::u16string_view section) const;

  // The file image: UTF-16LE with BOM, CRLF line ends.
  std::string Serialize() const;
  // Writes the file image to `path` through a temporary file in the same
  // folder; kOk or kWriteFailed (the old file is then untouched).
  int SaveFile(const std::string& path) const;

 private:
  struct Entry {
    std::u16string key;
    std::u16string value;
  };
  struct Section {
    std::u16string name;
    std::vector<Entry> entries;
    std::unordered_map<std::u16string, std::size_t> index;  // folded key -> entry
  };

  static std::u16string Decode(std::string_view bytes);
  void ParseText(std::u16string_view text);
  // `current` is the index of the section that the following keys belong to.
  void ParseLine(std::u16string_view line, std::size_t& current);

  const Section* FindSection(std::u16string_view name) const;
  std::size_t SectionIndexFor(std::u16string_view name);  // appends when absent

  std::vector<Section> sections_;
  std::unordered_map<std::u16string, std::size_t> sectionIndex_;  // folded name -> section
};

}  // namespace tav
