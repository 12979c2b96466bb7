#pragma once
// The second reader instance that the local dat route drives: the window
// automation it is reached through and its main window once found. Shared
// by every request of the route; owned by the server, and when that goes
// at program exit the main window is sent a close message.

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>

#include "platform/ReaderWindows.h"

namespace tav {

class DrivenReader {
 public:
  using Factory = std::function<std::shared_ptr<ReaderWindows>()>;
  using Pause = std::function<void(std::chrono::milliseconds)>;

  // `factory` makes the automation on first use; by default the Wine bridge
  // configured by the environment.
  explicit DrivenReader(Factory factory = {});
  ~DrivenReader();
  DrivenReader(const DrivenReader&) = delete;
  DrivenReader& operator=(const DrivenReader&) = delete;

  std::shared_ptr<ReaderWindows> Windows();
  // Replaces the automation (tests; a front end with its own).
  void Use(std::shared_ptr<ReaderWindows> windows);

  void RecordMainWindow(WindowHandle window);
  WindowHandle MainWindow() const;

  // The route's fixed waits between window searches go through here, so
  // that tests can count them instead of sleeping.
  void Wait(std::chrono::milliseconds duration) const;
  void SetPause(Pause pause);

 private:
  mutable std::mutex mutex_;
  Factory factory_;
  std::shared_ptr<ReaderWindows> windows_;
  WindowHandle mainWindow_ = WindowHandle::kNone;
  Pause pause_;
};

}  // namespace tav
