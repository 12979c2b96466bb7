#pragma once
// The windows of a second reader instance that the local dat route drives,
// reached through whatever window automation the platform offers (on Linux:
// a helper program inside the reader's Wine prefix). Exactly what the
// discovery and the route need: listing windows, a few synchronous window
// messages, starting the reader, and converting paths between the reader's
// form and the local file system's.
//
// Every call may come from any worker thread.

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tav {

// A window of the reader's window system; kNone is no window.
enum class WindowHandle : std::uint64_t { kNone = 0 };

struct TopLevelWindow {
  WindowHandle handle = WindowHandle::kNone;
  std::u16string className;  // at most 259 characters
  std::u16string title;      // at most 1023 characters
  // Full path of the module that created the window, in the reader's form;
  // empty when the owning process could not be opened or read.
  std::optional<std::u16string> imagePath;
};

struct ChildWindow {
  WindowHandle handle = WindowHandle::kNone;
  std::u16string className;
  std::u16string parentClassName;
  WindowHandle topmostChild = WindowHandle::kNone;  // its first child, if any
};

class ReaderWindows {
 public:
  virtual ~ReaderWindows() = default;

  // Empty when the windows can be reached; otherwise what is missing, in
  // words for the user ("wine was not found", ...).
  virtual std::string Unavailable() = 0;

  // Top-level windows in the order the window system enumerates them.
  virtual std::vector<TopLevelWindow> TopLevelWindows() = 0;
  // Every descendant of `parent`, depth first, in enumeration order.
  virtual std::vector<ChildWindow> Descendants(WindowHandle parent) = 0;

  // Synchronous window messages: each returns when the window's thread has
  // handled it. False when the message could not be delivered.
  virtual bool Close(WindowHandle window) = 0;                              // WM_CLOSE
  virtual bool SetText(WindowHandle window, std::u16string_view text) = 0;  // WM_SETTEXT
  virtual bool PressEnter(WindowHandle window) = 0;                         // WM_KEYDOWN VK_RETURN
  virtual bool SendCommand(WindowHandle window, int command) = 0;           // WM_COMMAND
  virtual bool Minimise(WindowHandle window) = 0;
  // Attaches the caller's input to the window's thread, brings the window to
  // the foreground with the focus, holds that for `hold`, then detaches.
  virtual bool BringToFront(WindowHandle window, std::chrono::milliseconds hold) = 0;
  // Starts a program through the shell (default verb, no parameters, shown
  // normally). `program` is in the reader's form.
  virtual bool StartProgram(std::u16string_view program) = 0;
  // Posts WM_CLOSE without waiting for it: the close at program exit.
  virtual bool PostClose(WindowHandle window) = 0;

  // A local path in the reader's form ("/a/b.exe" -> "Z:\a\b.exe").
  virtual std::optional<std::u16string> ReaderPath(const std::string& localPath) = 0;
  // A path in the reader's form as a local path ("C:\x" -> "/home/u/.wine/...").
  virtual std::optional<std::string> LocalPath(std::u16string_view readerPath) = 0;
};

}  // namespace tav
