#pragma once
// What every page converter is given besides the page, and the results it
// can return.

#include <cstddef>
#include <string>

namespace tav {

struct SettingValues;

// Settings the converters read, taken from the request's settings snapshot.
struct HtmlConvertOptions {
  bool removeHalfSpace = true;               // HTML/RemoveHalfSpace
  bool fixBrBr = true;                       // HTML/FixBRBR
  std::string bePrimaryHost = "be.2ch.net";  // BE profile host of the primary board domain
  std::string beSecondaryHost = "be.5ch.net";

  static HtmlConvertOptions FromSettings(const SettingValues& cfg);
};

// The per-call numbering inputs.
struct ConvertCall {
  // M: posts the dat cache already holds (-1: none). The converter then
  // leaves out the posts the reader already has.
  int cachedCount = -1;
  // Number of the first post after post 1 that the page is expected to hold
  // (a segment of a range fetch: the page holds post 1 and then the posts
  // from here on). No deleted-post lines are added for the numbers between.
  int firstExpected = 1;
  // When given, receives the number of the last post examined.
  int* lastPost = nullptr;
};

// Results besides the number of lines counted.
inline constexpr int kConvertNoTitleEnd = -1;      // "<title>" without "</title>"; title pattern without match
inline constexpr int kConvertNoDd = -2;            // dl layout: name part not followed by "<dd>"
inline constexpr int kConvertNoBold = -3;          // dl layout: name without "<b>"
inline constexpr int kConvertNoDateOrMessage = -4;
inline constexpr int kConvertOutputFull = -5;      // output would outgrow page length + 65,535 bytes
inline constexpr int kConvertNoPost = -6;          // a page from which no post was read (see PageConversion.h)
inline constexpr int kConvertOverload = -11;       // title "もうずっと人大杉"
inline constexpr int kConvertBadGroups = -555;     // post pattern with other than 4 or 5 groups

// Longest field, title or post block a converter works with; longer ones are cut.
inline constexpr std::size_t kMaxFieldLength = 65534;
// Room the output is given beyond the page's length.
inline constexpr std::size_t kOutputHeadroom = 65535;

}  // namespace tav
