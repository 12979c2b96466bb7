#include "acquire/JsonToDat.h"

#include <picojson.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <exception>

#include "platform/TextCodec.h"

namespace tav {
namespace {

// picojson parses recursively and does not count nested objects against its
// own depth limit; deeper answers are refused before it sees them. The
// endpoint's answers nest three levels.
constexpr int kMaxNesting = 100;

// The post elements, by index in a post's array.
enum PostElement { kName = 1, kMail = 2, kTime = 3, kId = 4, kBe = 5, kMessage = 6 };
constexpr std::size_t kTitleElement = 5;

// True when no array or object in `json` is nested deeper than the limit.
// Brackets inside strings do not count; a backslash escapes the next byte.
bool NestingWithinLimit(std::string_view json) {
  int depth = 0;
  bool inString = false;
  for (std::size_t i = 0; i < json.size(); ++i) {
    const char c = json[i];
    if (inString) {
      if (c == '\\') {
        ++i;
      } else if (c == '"') {
        inString = false;
      }
    } else if (c == '"') {
      inString = true;
    } else if (c == '[' || c == '{') {
      if (++depth > kMaxNesting) return false;
    } else if (c == ']' || c == '}') {
      --depth;
    }
  }
  return true;
}

// Parses the whole text; false for invalid JSON (including numbers picojson
// cannot hold, which it reports by throwing).
bool ParseJson(std::string_view json, picojson::value& root) {
  if (!NestingWithinLimit(json)) return false;
  std::string error;
  try {
    picojson::parse(root, json.begin(), json.end(), &error);
  } catch (const std::exception&) {
    return false;
  }
  return error.empty();
}

// ---------------------------------------------------------------------------
// Text conversion

bool IsUtf8Continuation(unsigned char c) { return (c & 0xC0) == 0x80; }

// A prefix of `utf8` that still yields more than `room` UTF-16 units (every
// three bytes give at least one unit), so that a huge value is not converted
// whole only to be cut; it ends before a character, never inside one.
std::string_view EnoughUtf8For(std::string_view utf8, std::size_t room) {
  const std::size_t enough = room * 3 + 3;
  if (utf8.size() <= enough) return utf8;
  std::size_t end = enough;
  for (int step = 0; step < 3 && IsUtf8Continuation(static_cast<unsigned char>(utf8[end])); ++step) --end;
  return utf8.substr(0, end);
}

bool IsHighSurrogate(char16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }

// Cuts `wide` to at most `room` units without splitting a surrogate pair.
void CutToUnits(std::u16string& wide, std::size_t room) {
  if (wide.size() <= room) return;
  std::size_t end = room;
  if (end > 0 && IsHighSurrogate(wide[end - 1])) --end;
  wide.resize(end);
}

// Length of the character that starts at `pos` of converted CP932 text: a
// numeric character reference made by the conversion, a double-byte
// character, or a single byte.
std::size_t Cp932CharLength(std::string_view text, std::size_t pos) {
  const auto c = static_cast<unsigned char>(text[pos]);
  if (c == '&' && pos + 1 < text.size() && text[pos + 1] == '#') {
    std::size_t end = pos + 2;
    while (end < text.size() && text[end] >= '0' && text[end] <= '9') ++end;
    if (end > pos + 2 && end < text.size() && text[end] == ';') return end + 1 - pos;
  }
  const bool lead = (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
  return lead && pos + 1 < text.size() ? 2 : 1;
}

// Cuts `text` to at most `limit` bytes between two characters.
void CutToBytes(std::string& text, std::size_t limit) {
  if (text.size() <= limit) return;
  std::size_t end = 0;
  while (end < text.size()) {
    const std::size_t next = end + Cp932CharLength(text, end);
    if (next > limit) break;
    end = next;
  }
  text.resize(end);
}

// Shrinks every run of spaces to one space. 0x20 is never the trail byte of
// a double-byte character, so the bytes can be scanned as they are.
void CollapseSpaces(std::string& text) {
  std::size_t out = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == ' ' && out > 0 && text[out - 1] == ' ') continue;
    text[out++] = text[i];
  }
  text.resize(out);
}

// One JSON text value as CP932 for the dat: at most `room` UTF-16 units and
// kJsonFieldByteLimit bytes. NUL characters are dropped: a dat never holds
// one, and readers take it for the end of the text.
std::string ConvertField(std::string_view utf8, std::size_t room, bool collapseSpaces) {
  std::u16string wide = Utf8ToUtf16(EnoughUtf8For(utf8, room));
  CutToUnits(wide, room);
  std::erase(wide, u'\0');
  std::string text = Utf16ToCp932WithReferences(wide);
  if (collapseSpaces) CollapseSpaces(text);
  CutToBytes(text, kJsonFieldByteLimit);
  return text;
}

// ---------------------------------------------------------------------------
// Reading the answer

const picojson::value* Member(const picojson::object& object, const char* name) {
  const auto it = object.find(name);
  return it != object.end() ? &it->second : nullptr;
}

// Element `index` of `post`, or null when the post is not an array or too
// short.
const picojson::value* Element(const picojson::value& post, std::size_t index) {
  if (!post.is<picojson::array>()) return nullptr;
  const picojson::array& elements = post.get<picojson::array>();
  return index < elements.size() ? &elements[index] : nullptr;
}

std::string_view TextOf(const picojson::value* value) {
  if (value == nullptr || !value->is<std::string>()) return {};
  return value->get<std::string>();
}

// Truncates toward zero; values outside the target range are clamped.
std::int64_t TruncateToInt64(double number) {
  constexpr double kLimit = 9.0e18;
  if (number >= kLimit) return static_cast<std::int64_t>(kLimit);
  if (number <= -kLimit) return -static_cast<std::int64_t>(kLimit);
  return static_cast<std::int64_t>(number);
}

int TruncateToInt(double number) {
  if (number >= static_cast<double>(INT_MAX)) return INT_MAX;
  if (number <= static_cast<double>(INT_MIN)) return INT_MIN;
  return static_cast<int>(number);
}

// Seconds since 1970 from a number (truncated) or a string starting with a
// decimal integer; anything else is 0.
std::int64_t PostTime(const picojson::value* value) {
  if (value == nullptr) return 0;
  if (value->is<double>()) return TruncateToInt64(value->get<double>());
  if (!value->is<std::string>()) return 0;
  const std::string& text = value->get<std::string>();
  return static_cast<std::int64_t>(std::strtoll(text.c_str(), nullptr, 10));
}

// "YYYY/MM/DD(曜) hh:mm:ss.00 ID:<id>" and " BE:<be>" when there is a BE
// value. A time the local calendar cannot hold is shown as time 0.
std::string DateField(std::int64_t seconds, std::string_view id, std::string_view be) {
  static const std::string kWeekdays[7] = {Sjis("日"), Sjis("月"), Sjis("火"), Sjis("水"),
                                           Sjis("木"), Sjis("金"), Sjis("土")};
  auto time = static_cast<std::time_t>(seconds);
  std::tm local{};
  if (localtime_r(&time, &local) == nullptr) {
    time = 0;
    localtime_r(&time, &local);
  }
  const int weekday = local.tm_wday >= 0 && local.tm_wday < 7 ? local.tm_wday : 0;
  char date[96];
  std::snprintf(date, sizeof date, "%04d/%02d/%02d(%s) %02d:%02d:%02d.%02d ID:", local.tm_year + 1900,
                local.tm_mon + 1, local.tm_mday, kWeekdays[weekday].c_str(), local.tm_hour, local.tm_min,
                local.tm_sec, 0);
  std::string field = date;
  field.append(id);
  if (!be.empty()) field.append(" BE:").append(be);
  return field;
}

void AppendPost(std::string& dat, const picojson::value& post, const std::string& title, bool removeHalfSpace) {
  const std::string name = ConvertField(TextOf(Element(post, kName)), kJsonShortFieldRoom, removeHalfSpace);
  const std::string mail = ConvertField(TextOf(Element(post, kMail)), kJsonShortFieldRoom, removeHalfSpace);
  const std::int64_t time = PostTime(Element(post, kTime));
  const std::string id = ConvertField(TextOf(Element(post, kId)), kJsonShortFieldRoom, false);
  const std::string be = ConvertField(TextOf(Element(post, kBe)), kJsonShortFieldRoom, false);
  const std::string message = ConvertField(TextOf(Element(post, kMessage)), kJsonMessageRoom, removeHalfSpace);

  dat.append(name).append("<>");
  dat.append(mail).append("<>");
  dat.append(DateField(time, id, be)).append("<>");
  dat.append(message).append("<>");
  dat.append(title).append("\n");
}

// The parts of an answer of the expected shape.
struct ThreadAnswer {
  int totalCount = 0;
  const picojson::array* comments = nullptr;
  std::string_view title;
};

bool ReadShape(const picojson::value& root, ThreadAnswer& answer) {
  if (!root.is<picojson::object>()) return false;
  const picojson::object& object = root.get<picojson::object>();
  const picojson::value* thread = Member(object, "thread");
  const picojson::value* comments = Member(object, "comments");
  const picojson::value* totalCount = Member(object, "total_count");
  if (thread == nullptr || comments == nullptr || totalCount == nullptr) return false;

  if (!thread->is<picojson::array>()) return false;
  const picojson::array& threadElements = thread->get<picojson::array>();
  if (threadElements.size() <= kTitleElement || !threadElements[kTitleElement].is<std::string>()) return false;
  if (!comments->is<picojson::array>() || !totalCount->is<double>()) return false;

  answer.totalCount = TruncateToInt(totalCount->get<double>());
  answer.comments = &comments->get<picojson::array>();
  answer.title = threadElements[kTitleElement].get<std::string>();
  return true;
}

}  // namespace

int JsonToDat(std::string_view json, std::string& dat, bool removeHalfSpace, std::size_t maxDatBytes) {
  dat.clear();
  picojson::value root;
  ThreadAnswer answer;
  if (!ParseJson(json, root) || !ReadShape(root, answer)) return -1;
  if (answer.totalCount <= 0) return answer.totalCount;

  const std::size_t posts = std::min(static_cast<std::size_t>(answer.totalCount), answer.comments->size());
  std::string title = ConvertField(answer.title, kJsonShortFieldRoom, false);
  for (std::size_t i = 0; i < posts; ++i) {
    AppendPost(dat, (*answer.comments)[i], title, removeHalfSpace);
    title.clear();  // the title belongs to the first line only
    if (dat.size() > maxDatBytes) {
      dat.clear();
      return kJsonDatTooLong;
    }
  }
  return answer.totalCount;
}

}  // namespace tav
