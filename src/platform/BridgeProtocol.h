#pragma once
// The line protocol between the proxy and its window helper, a small Windows
// program that runs inside the reader's Wine prefix (src/winbridge). Shared
// by both sides, so it is plain standard C++ that MinGW also compiles.
//
// Every line is a list of UTF-8 fields separated by tabs and ended by "\n";
// inside a field a backslash, tab, carriage return or line feed is written
// as "\\", "\t", "\r" or "\n". Window handles are decimal numbers.
//
// The helper writes "READY" once it has started. Then, for each request line
// (a verb and its arguments), it answers either "OK" (after any "WIN" or
// "KID" lines the verb lists) or "ERR" and a reason.
//
//   TOP                  -> WIN handle class title imageKnown(0|1) image ... OK
//   KIDS handle          -> KID handle class parentClass topmostChild ... OK
//   CLOSE handle         -> OK        (SendMessage WM_CLOSE)
//   TEXT handle text     -> OK        (SendMessage WM_SETTEXT)
//   ENTER handle         -> OK        (SendMessage WM_KEYDOWN VK_RETURN)
//   COMMAND handle id    -> OK        (SendMessage WM_COMMAND)
//   MINIMIZE handle      -> OK        (ShowWindow SW_MINIMIZE)
//   FRONT handle ms      -> OK        (attach input, foreground, focus, hold ms, detach)
//   START program        -> OK        (ShellExecute, default verb)
//   POSTCLOSE handle     -> OK        (PostMessage WM_CLOSE)

#include <string>
#include <string_view>
#include <vector>

namespace tav::bridge {

inline constexpr std::string_view kReady = "READY";
inline constexpr std::string_view kOk = "OK";
inline constexpr std::string_view kError = "ERR";
inline constexpr std::string_view kWindowLine = "WIN";
inline constexpr std::string_view kChildLine = "KID";

inline constexpr std::string_view kTopLevel = "TOP";
inline constexpr std::string_view kDescendants = "KIDS";
inline constexpr std::string_view kClose = "CLOSE";
inline constexpr std::string_view kSetText = "TEXT";
inline constexpr std::string_view kEnter = "ENTER";
inline constexpr std::string_view kCommand = "COMMAND";
inline constexpr std::string_view kMinimise = "MINIMIZE";
inline constexpr std::string_view kForeground = "FRONT";
inline constexpr std::string_view kStart = "START";
inline constexpr std::string_view kPostClose = "POSTCLOSE";

// One line: the fields escaped, joined by tabs, ended by "\n".
inline std::string JoinFields(const std::vector<std::string>& fields) {
  std::string line;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (i != 0) line += '\t';
    for (char c : fields[i]) {
      switch (c) {
        case '\\':
          line += "\\\\";
          break;
        case '\t':
          line += "\\t";
          break;
        case '\r':
          line += "\\r";
          break;
        case '\n':
          line += "\\n";
          break;
        default:
          line += c;
      }
    }
  }
  line += '\n';
  return line;
}

// The fields of one line (without its "\n"), unescaped. An unknown escape
// keeps the escaped character.
inline std::vector<std::string> SplitFields(std::string_view line) {
  std::vector<std::string> fields(1);
  for (std::size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (c == '\t') {
      fields.emplace_back();
    } else if (c == '\\' && i + 1 < line.size()) {
      const char next = line[++i];
      fields.back() += next == 't' ? '\t' : next == 'r' ? '\r' : next == 'n' ? '\n' : next;
    } else {
      fields.back() += c;
    }
  }
  return fields;
}

}  // namespace tav::bridge
