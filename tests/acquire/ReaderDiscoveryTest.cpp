// Finding the driven reader's windows, over an in-process fake desktop.

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "acquire/FakeReaderWindows.h"
#include "acquire/ReaderDiscovery.h"

namespace tav::test {
namespace {

constexpr char16_t kImage[] = u"Z:\\opt\\jane\\Jane2ch.exe";

struct FindCase {
  const char* what;
  std::u16string path;
  std::function<void(FakeReaderWindows&)> build;
  std::string main;  // name of the main window found, "" for none
  std::vector<std::string> utilities;
};

TEST(FindReaderWindows, TakesOnlyTheConfiguredReadersWindows) {
  const FindCase cases[] = {
      {"an empty Path matches no window", u"", [](FakeReaderWindows& d) { d.AddReader(kImage); }, "", {}},
      {"two main windows: the one enumerated last",
       kImage,
       [](FakeReaderWindows& d) {
         d.AddTop("first", u"TMainWnd", u"一 - Jane Style", kImage);
         d.AddTop("second", u"TMainWnd", u"二 - Jane Style", kImage);
       },
       "second",
       {}},
      {"a main window without \"Jane Style\" is not taken, its utility windows are",
       kImage,
       [](FakeReaderWindows& d) { d.AddReader(kImage, u"Jane View"); },
       "",
       {"utilityA", "utilityB"}},
      {"other executables, unreadable images and other classes are skipped; case does not matter",
       kImage,
       [](FakeReaderWindows& d) {
         d.AddTop("other", u"TMainWnd", u"Jane Style", u"Z:\\other\\Jane2ch.exe");
         d.AddTop("unreadable", u"TMainWnd", u"Jane Style", std::nullopt);
         d.AddTop("form", u"TForm", u"Jane Style", kImage);
         d.AddTop("otherUtility", u"TPUtilWindow", u"", u"Z:\\other\\Jane2ch.exe");
         d.AddTop("ours", u"TMainWnd", u"x Jane Style", u"z:\\OPT\\JANE\\jane2ch.EXE");
       },
       "ours",
       {}},
  };
  for (const FindCase& c : cases) {
    SCOPED_TRACE(c.what);
    FakeReaderWindows desktop;
    c.build(desktop);
    ReaderWindowSet found;
    FindReaderWindows(desktop, c.path, found);
    EXPECT_EQ(found.mainFound, !c.main.empty());
    EXPECT_EQ(desktop.NameOf(found.main), c.main);
    std::vector<std::string> utilities;
    for (WindowHandle u : found.utilities) utilities.push_back(desktop.NameOf(u));
    EXPECT_EQ(utilities, c.utilities);
  }
}

TEST(FindAddressBox, TakesTheToolbarComboEditAndClosesEveryPageViewOnEverySearch) {
  FakeReaderWindows desktop;
  ReaderWindowSet found;
  found.main = desktop.AddTop("main", u"TMainWnd", u"Jane Style", kImage);
  found.mainFound = true;
  const WindowHandle early = desktop.AddChild("early view", found.main, u"Internet Explorer_Server");
  desktop.AddChild("decoy edit", desktop.AddChild("decoy", found.main, u"TOleComboBox"), u"Edit");
  const WindowHandle combo =
      desktop.AddChild("combo", desktop.AddChild("toolbar", found.main, u"TToolBar"), u"TOleComboBox");
  desktop.AddChild("edit", combo, u"Edit");
  desktop.AddChild("second edit",
                   desktop.AddChild("second combo", desktop.AddChild("toolbar2", found.main, u"TToolBar"),
                                    u"TOleComboBox"),
                   u"Edit");
  const WindowHandle late =
      desktop.AddChild("late view", desktop.AddChild("embedding", found.main, u"Shell Embedding"),
                       u"Internet Explorer_Server");

  FindAddressBox(desktop, found);
  EXPECT_TRUE(found.addressFound);
  EXPECT_EQ(desktop.NameOf(found.addressBox), "edit");
  EXPECT_FALSE(desktop.Alive(early));
  EXPECT_FALSE(desktop.Alive(late)) << "closed also after the address box was found";

  const WindowHandle opened = desktop.AddChild("opened view", found.main, u"Internet Explorer_Server");
  found.addressFound = false;
  FindAddressBox(desktop, found);
  EXPECT_EQ(desktop.NameOf(found.addressBox), "edit");
  EXPECT_FALSE(desktop.Alive(opened));
  EXPECT_EQ(desktop.CountCalls("close"), 3u);
}

TEST(FindAddressBox, NoneWithoutAToolbarCombo) {
  FakeReaderWindows desktop;
  ReaderWindowSet found;
  found.main = desktop.AddTop("main", u"TMainWnd", u"Jane Style", kImage);
  found.mainFound = true;
  desktop.AddChild("edit", desktop.AddChild("combo", found.main, u"TOleComboBox"), u"Edit");
  FindAddressBox(desktop, found);
  EXPECT_FALSE(found.addressFound);
}

}  // namespace
}  // namespace tav::test
