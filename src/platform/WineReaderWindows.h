#pragma once
// ReaderWindows for a reader running under Wine. The window work is done by
// tavrilox-winebridge.exe, a small Windows program of ours started with
// `wine` inside the reader's prefix (WINEPREFIX of this process), spoken to
// over its standard input and output (platform/BridgeProtocol.h). One bridge
// serves every request, one request at a time; a bridge that dies is started
// again. Paths are converted with Wine's winepath.

#include <sys/types.h>

#include <chrono>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/ReaderWindows.h"

namespace tav {

struct WineBridgeOptions {
  // The command that runs a Windows program: TAVRILOX_WINE, split at spaces;
  // "wine" when unset.
  std::vector<std::string> wineCommand = {"wine"};
  // The bridge program: TAVRILOX_WINEBRIDGE; else tavrilox-winebridge.exe in
  // the program folder.
  std::string bridgeProgram;
  // From the bridge's start to its "READY" (the first start in a new Wine
  // prefix creates the prefix, which takes tens of seconds).
  std::chrono::milliseconds startTimeout{60000};
  // From a request to its answer. A bridge that takes longer (a reader that
  // does not handle its messages) is ended and started again for the next
  // request.
  std::chrono::milliseconds answerTimeout{60000};

  static WineBridgeOptions FromEnvironment();
};

inline constexpr const char* kWineBridgeProgramName = "tavrilox-winebridge.exe";

class WineReaderWindows : public ReaderWindows {
 public:
  explicit WineReaderWindows(WineBridgeOptions options);
  ~WineReaderWindows() override;
  WineReaderWindows(const WineReaderWindows&) = delete;
  WineReaderWindows& operator=(const WineReaderWindows&) = delete;

  std::string Unavailable() override;
  std::vector<TopLevelWindow> TopLevelWindows() override;
  std::vector<ChildWindow> Descendants(WindowHandle parent) override;
  bool Close(WindowHandle window) override;
  bool SetText(WindowHandle window, std::u16string_view text) override;
  bool PressEnter(WindowHandle window) override;
  bool SendCommand(WindowHandle window, int command) override;
  bool Minimise(WindowHandle window) override;
  bool BringToFront(WindowHandle window, std::chrono::milliseconds hold) override;
  bool StartProgram(std::u16string_view program) override;
  bool PostClose(WindowHandle window) override;
  std::optional<std::u16string> ReaderPath(const std::string& localPath) override;
  std::optional<std::string> LocalPath(std::u16string_view readerPath) override;

  // The bridge's process id, -1 when none runs (tests end it to see it
  // started again).
  pid_t BridgePid() const;

 private:
  using Lines = std::vector<std::vector<std::string>>;
  // One request and its answer lines before "OK". False on "ERR" or when the
  // bridge could not be reached; a bridge that died is started once more.
  bool Exchange(const std::vector<std::string>& request, Lines* listed = nullptr);
  bool Simple(std::string_view verb, WindowHandle window, const std::string& argument = {});
  // Both with mutex_ held.
  bool StartBridge();
  void StopBridge();
  enum class ReadOutcome { kLine, kDied, kTimedOut };
  ReadOutcome ReadLine(std::string& line, std::chrono::milliseconds timeout);
  std::optional<std::string> RunWinepath(const std::string& direction, const std::string& path);

  const WineBridgeOptions options_;
  mutable std::mutex mutex_;
  pid_t pid_ = -1;
  int toBridge_ = -1;
  int fromBridge_ = -1;
  std::string pending_;
  std::string problem_;
  std::mutex pathMutex_;
  std::map<std::string, std::string> pathCache_;
};

}  // namespace tav
