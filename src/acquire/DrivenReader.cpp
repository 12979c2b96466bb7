#include "acquire/DrivenReader.h"

#include <thread>

#include "platform/WineReaderWindows.h"

namespace tav {

DrivenReader::DrivenReader(Factory factory) : factory_(std::move(factory)) {
  if (!factory_) {
    factory_ = [] { return std::make_shared<WineReaderWindows>(WineBridgeOptions::FromEnvironment()); };
  }
}

DrivenReader::~DrivenReader() {
  if (windows_ && mainWindow_ != WindowHandle::kNone) windows_->PostClose(mainWindow_);
}

std::shared_ptr<ReaderWindows> DrivenReader::Windows() {
  std::lock_guard lock(mutex_);
  if (!windows_) windows_ = factory_();
  return windows_;
}

void DrivenReader::Use(std::shared_ptr<ReaderWindows> windows) {
  std::lock_guard lock(mutex_);
  windows_ = std::move(windows);
  mainWindow_ = WindowHandle::kNone;
}

void DrivenReader::RecordMainWindow(WindowHandle window) {
  std::lock_guard lock(mutex_);
  mainWindow_ = window;
}

WindowHandle DrivenReader::MainWindow() const {
  std::lock_guard lock(mutex_);
  return mainWindow_;
}

void DrivenReader::Wait(std::chrono::milliseconds duration) const {
  Pause pause;
  {
    std::lock_guard lock(mutex_);
    pause = pause_;
  }
  if (pause) {
    pause(duration);
  } else {
    std::this_thread::sleep_for(duration);
  }
}

void DrivenReader::SetPause(Pause pause) {
  std::lock_guard lock(mutex_);
  pause_ = std::move(pause);
}

}  // namespace tav
