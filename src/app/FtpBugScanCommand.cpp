#include "app/FtpBugScanCommand.h"

#include <cstdio>
#include <limits>

#include "acquire/FtpBugScan.h"
#include "config/CSetting.h"
#include "config/FtpBugList.h"
#include "platform/TextCodec.h"

namespace tav {
namespace {

class StderrListener : public IFtpBugScanListener {
 public:
  void ScanStatusChanged(const std::u16string& status) override {
    std::fprintf(stderr, "%s\n", Utf16ToUtf8(status).c_str());
    std::fflush(stderr);
  }
  void ScanPostsChanged(const std::vector<std::int32_t>&) override {}
  void ScanFinished(const FtpBugScanResult&) override {}
};

void Complain(const std::string& text) { std::fprintf(stderr, "tavrilox: %s\n", text.c_str()); }

}  // namespace

int RunFtpBugScanCommand(const FtpBugScanCommand& command, const std::string& iniPath) {
  CSetting setting;
  if (setting.Load(iniPath) != 0) Complain(iniPath + " not found; scanning with the built-in settings");
  for (const std::u16string& warning : setting.LoadWarnings()) Complain(Utf16ToUtf8(warning));

  StderrListener listener;
  FtpBugScan scan(setting, listener);
  FtpBugScanResult result =
      scan.Run({Utf8ToCp932(command.server), Utf8ToCp932(command.board), Utf8ToCp932(command.thread)});
  const std::u16string posts = JoinPostNumbers(result.posts, std::numeric_limits<std::size_t>::max());
  std::printf("%s\n", Utf16ToUtf8(posts).c_str());
  std::fflush(stdout);
  if (result.end != FtpBugScanEnd::kFinished) return 1;
  if (!command.registerResult) return 0;

  if (result.posts.empty()) {
    Complain("no broken post found; the FTPBug list is left as it is");
    return 0;
  }
  FtpBugRegister stored = FtpBugRegister::kStored;
  setting.Update([&](SettingValues& v) {
    stored =
        RegisterFtpBugEntry(v.FtpBugEntries, Utf8ToUtf16(command.board), Utf8ToUtf16(command.thread), posts);
  });
  if (stored == FtpBugRegister::kListFull) {
    Complain("the FTPBug list already holds " + std::to_string(kFtpBugListMax) +
             " entries; nothing registered");
    return 1;
  }
  if (setting.Save() != 0) {
    Complain("cannot write " + iniPath);
    return 1;
  }
  return 0;
}

}  // namespace tav
