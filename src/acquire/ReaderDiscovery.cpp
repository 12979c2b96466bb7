#include "acquire/ReaderDiscovery.h"

#include <algorithm>

namespace tav {
namespace {

constexpr std::u16string_view kMainClass = u"TMainWnd";
constexpr std::u16string_view kUtilityClass = u"TPUtilWindow";
constexpr std::u16string_view kMainTitleMark = u"Jane Style";
constexpr std::u16string_view kComboClass = u"TOleComboBox";
constexpr std::u16string_view kToolBarClass = u"TToolBar";
constexpr std::u16string_view kPageViewClass = u"Internet Explorer_Server";

char16_t Folded(char16_t c) {
  if (c >= u'A' && c <= u'Z') return static_cast<char16_t>(c - u'A' + u'a');
  if (c >= u'Ａ' && c <= u'Ｚ') return static_cast<char16_t>(c - u'Ａ' + u'ａ');
  return c;
}

bool SamePath(std::u16string_view a, std::u16string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                            [](char16_t x, char16_t y) { return Folded(x) == Folded(y); });
}

}  // namespace

void FindReaderWindows(ReaderWindows& windows, std::u16string_view readerPath, ReaderWindowSet& found) {
  if (readerPath.empty()) return;
  for (const TopLevelWindow& window : windows.TopLevelWindows()) {
    const bool utility = window.className == kUtilityClass;
    const bool main = window.className == kMainClass;
    if (!utility && !main) continue;
    if (!window.imagePath || !SamePath(*window.imagePath, readerPath)) continue;
    if (utility) {
      found.utilities.push_back(window.handle);
    } else if (window.title.find(kMainTitleMark) != std::u16string::npos) {
      found.main = window.handle;
      found.mainFound = true;
    }
  }
}

void FindAddressBox(ReaderWindows& windows, ReaderWindowSet& found) {
  if (!found.mainFound) return;
  for (const ChildWindow& child : windows.Descendants(found.main)) {
    if (child.className == kPageViewClass) windows.Close(child.handle);
    if (!found.addressFound && child.className == kComboClass && child.parentClassName == kToolBarClass) {
      found.addressBox = child.topmostChild;
      found.addressFound = true;
    }
  }
}

}  // namespace tav
