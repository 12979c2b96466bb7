#pragma once
// The front end without a window: finished log rows on stdout, everything
// the user would see in a box or the status bar on stderr.

#include <mutex>

#include "shell/CoreShell.h"

namespace tav {

class HeadlessShell : public CoreShell {
 public:
  HeadlessShell(CSetting& setting, std::FILE* out = stdout, std::FILE* err = stderr);

  void OpenFtpBugDialog(const std::string& server, const std::string& board, const std::string& thread) override;

 protected:
  void PresentTrayState(int) override {}
  void PresentStatus(const std::u16string& text) override;
  void PresentWarning(const std::u16string& text) override;
  void PresentMessage(const std::u16string& caption, const std::u16string& text) override;
  void PresentBalloon(const std::u16string& text) override;
  void OnRowFinished(const LogRow& row) override;

 private:
  void ErrorLine(const std::u16string& text);

  std::FILE* out_;
  std::FILE* err_;
  std::mutex outputMutex_;
};

}  // namespace tav
