#pragma once
// An in-process desktop standing in for the reader's windows: tests build
// windows on it, script what the reader does when it is started or when
// Enter is pressed in its address box, and read back every call the code
// under test made, in order, as short texts:
//   "start <program>", "pause <ms>", "front <w> <ms>", "minimise <w>",
//   "close <w>", "text <w> <text>", "enter <w>", "command <w> <id>",
//   "postclose <w>"
// where <w> is the window's name given when it was built.
//
// Paths: a local "/a/b" is "Z:\a\b" in the reader's form, and back.

#include <algorithm>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/ReaderWindows.h"
#include "platform/TextCodec.h"

namespace tav::test {

class FakeReaderWindows : public ReaderWindows {
 public:
  struct Reader {
    WindowHandle main, utilityA, utilityB, toolBar, combo, edit, pageView;
  };

  WindowHandle AddTop(const std::string& name, std::u16string className, std::u16string title,
                      std::optional<std::u16string> image) {
    std::lock_guard lock(mutex_);
    return Add(name, WindowHandle::kNone, std::move(className), std::move(title), std::move(image));
  }
  WindowHandle AddChild(const std::string& name, WindowHandle parent, std::u16string className) {
    std::lock_guard lock(mutex_);
    return Add(name, parent, std::move(className), u"", std::nullopt);
  }

  // The windows of one reader instance of `image`: two utility windows, the
  // main window (titled `title`) with a toolbar combo box and its edit
  // field, and an embedded page view.
  Reader AddReader(const std::u16string& image, const std::u16string& title = u"スレッド - Jane Style") {
    Reader r;
    r.utilityA = AddTop("utilityA", u"TPUtilWindow", u"", image);
    r.main = AddTop("main", u"TMainWnd", title, image);
    r.utilityB = AddTop("utilityB", u"TPUtilWindow", u"", image);
    r.toolBar = AddChild("toolbar", r.main, u"TToolBar");
    r.combo = AddChild("combo", r.toolBar, u"TOleComboBox");
    r.edit = AddChild("edit", r.combo, u"Edit");
    r.pageView =
        AddChild("pageview", AddChild("embedding", r.main, u"Shell Embedding"), u"Internet Explorer_Server");
    return r;
  }

  // What the reader does when started through the shell, and when Enter is
  // pressed in a window (given that window's text). Both run on the calling
  // worker, while no lock of the fake is held.
  std::function<void(const std::u16string& program)> onStart;
  std::function<void(WindowHandle window, const std::u16string& text)> onEnter;
  std::string unavailable;

  std::vector<std::string> Calls() const {
    std::lock_guard lock(mutex_);
    return calls_;
  }
  std::size_t CountCalls(const std::string& prefix) const {
    const auto calls = Calls();
    return static_cast<std::size_t>(std::count_if(
        calls.begin(), calls.end(), [&](const std::string& c) { return c.starts_with(prefix); }));
  }
  std::string NameOf(WindowHandle window) const {
    std::lock_guard lock(mutex_);
    const auto found = windows_.find(window);
    return found == windows_.end() ? std::string() : found->second.name;
  }
  bool Alive(WindowHandle window) const {
    std::lock_guard lock(mutex_);
    return windows_.at(window).alive;
  }
  void Record(const std::string& call) {
    std::lock_guard lock(mutex_);
    calls_.push_back(call);
  }

  std::string Unavailable() override { return unavailable; }

  std::vector<TopLevelWindow> TopLevelWindows() override {
    std::lock_guard lock(mutex_);
    std::vector<TopLevelWindow> list;
    for (const auto& [handle, w] : windows_) {
      if (w.alive && w.parent == WindowHandle::kNone) list.push_back({handle, w.className, w.title, w.image});
    }
    return list;
  }

  std::vector<ChildWindow> Descendants(WindowHandle parent) override {
    std::lock_guard lock(mutex_);
    std::vector<ChildWindow> list;
    AppendDescendants(parent, list);
    return list;
  }

  bool Close(WindowHandle window) override {
    return Act("close", window, [&](Window& w) { Destroy(w); });
  }
  bool SetText(WindowHandle window, std::u16string_view text) override {
    return Act(
        "text", window, [&](Window& w) { w.title = text; }, " " + Utf16ToUtf8(text));
  }
  bool PressEnter(WindowHandle window) override {
    std::u16string text;
    if (!Act("enter", window, [&](Window& w) { text = w.title; })) return false;
    if (onEnter) onEnter(window, text);
    return true;
  }
  bool SendCommand(WindowHandle window, int command) override {
    return Act(
        "command", window, [](Window&) {}, " " + std::to_string(command));
  }
  bool Minimise(WindowHandle window) override {
    return Act("minimise", window, [](Window&) {});
  }
  bool BringToFront(WindowHandle window, std::chrono::milliseconds hold) override {
    return Act(
        "front", window, [](Window&) {}, " " + std::to_string(hold.count()));
  }
  bool StartProgram(std::u16string_view program) override {
    Record("start " + Utf16ToUtf8(program));
    if (onStart) onStart(std::u16string(program));
    return true;
  }
  bool PostClose(WindowHandle window) override {
    return Act("postclose", window, [](Window&) {});
  }

  std::optional<std::u16string> ReaderPath(const std::string& localPath) override {
    std::u16string path = u"Z:" + Utf8ToUtf16(localPath);
    std::replace(path.begin(), path.end(), u'/', u'\\');
    return path;
  }
  std::optional<std::string> LocalPath(std::u16string_view readerPath) override {
    if (!readerPath.starts_with(u"Z:")) return std::nullopt;
    std::string path = Utf16ToUtf8(readerPath.substr(2));
    std::replace(path.begin(), path.end(), '\\', '/');
    return path;
  }

 private:
  struct Window {
    std::string name;
    WindowHandle parent;
    std::u16string className;
    std::u16string title;
    std::optional<std::u16string> image;
    std::vector<WindowHandle> children;
    bool alive = true;
  };

  WindowHandle Add(const std::string& name, WindowHandle parent, std::u16string className,
                   std::u16string title, std::optional<std::u16string> image) {
    const auto handle = static_cast<WindowHandle>(++last_);
    windows_[handle] =
        Window{name, parent, std::move(className), std::move(title), std::move(image), {}, true};
    if (parent != WindowHandle::kNone) windows_[parent].children.push_back(handle);
    return handle;
  }

  void AppendDescendants(WindowHandle parent, std::vector<ChildWindow>& list) const {
    for (WindowHandle child : windows_.at(parent).children) {
      const Window& w = windows_.at(child);
      if (!w.alive) continue;
      const auto first = std::find_if(w.children.begin(), w.children.end(),
                                      [&](WindowHandle c) { return windows_.at(c).alive; });
      list.push_back({child, w.className, windows_.at(parent).className,
                      first == w.children.end() ? WindowHandle::kNone : *first});
      AppendDescendants(child, list);
    }
  }

  void Destroy(Window& w) {
    w.alive = false;
    for (WindowHandle child : w.children) Destroy(windows_.at(child));
  }

  template <typename Change>
  bool Act(const std::string& verb, WindowHandle window, Change change, const std::string& detail = {}) {
    std::lock_guard lock(mutex_);
    const auto found = windows_.find(window);
    if (found == windows_.end() || !found->second.alive) {
      calls_.push_back(verb + " <no window>");
      return false;
    }
    calls_.push_back(verb + " " + found->second.name + detail);
    change(found->second);
    return true;
  }

  mutable std::mutex mutex_;
  std::map<WindowHandle, Window> windows_;
  std::uint64_t last_ = 0;
  std::vector<std::string> calls_;
};

}  // namespace tav::test
