#pragma once
// Finding the driven reader's windows among all windows of its desktop: its
// main window, its utility windows and the address box in its toolbar. Only
// windows created by the configured executable are taken, so a reader the
// user runs from another folder is never touched.

#include <string_view>
#include <vector>

#include "platform/ReaderWindows.h"

namespace tav {

// What the searches found; kept for one request.
struct ReaderWindowSet {
  bool mainFound = false;
  WindowHandle main = WindowHandle::kNone;
  std::vector<WindowHandle> utilities;  // in enumeration order
  bool addressFound = false;
  WindowHandle addressBox = WindowHandle::kNone;
};

// Takes, among the top-level windows of the executable `readerPath` (in the
// reader's form, compared without regard to case), the last "TMainWnd" whose
// title holds "Jane Style" as the main window and appends every
// "TPUtilWindow" to the utility list. The caller empties the list and
// clears the flag first. An empty path matches no window.
void FindReaderWindows(ReaderWindows& windows, std::u16string_view readerPath, ReaderWindowSet& found);

// Goes through every descendant of the main window: closes each embedded
// page view ("Internet Explorer_Server") and takes the topmost child of the
// first "TOleComboBox" inside a "TToolBar" as the address box. The caller
// clears the address-box flag first.
void FindAddressBox(ReaderWindows& windows, ReaderWindowSet& found);

}  // namespace tav
