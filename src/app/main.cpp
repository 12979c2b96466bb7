// Tavrilox: a local HTTP proxy for 2ch-family board readers.

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "app/CommandLine.h"
#include "acquire/CDatCache.h"
#include "headless/HeadlessShell.h"
#include "server/ProxyServer.h"
#include "config/CSetting.h"
#include "config/StringTable.h"

#ifdef TAVRILOX_HAVE_GUI
#include "desktop/DesktopApp.h"
#endif

namespace tav {
namespace {

// Blocks SIGINT and SIGTERM in every thread started after this call, so that
// only the waiting main thread takes them.
sigset_t BlockStopSignals() {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  return signals;
}

int RunHeadless(const std::string& iniPath, CDatCache& datCache) {
  sigset_t stopSignals = BlockStopSignals();
  CSetting setting;
  HeadlessShell shell(setting);
  ProxyServer server(setting, shell, &datCache);

  int loaded = setting.Load(iniPath);
  for (const std::u16string& warning : setting.LoadWarnings()) shell.ShowMessage(u"Tavrilox.ini", warning);
  if (loaded != 0) {
    shell.StartupFailed(kStrIniMissing);
  } else if (int code = server.CreateListener(); code != 0) {
    shell.StartupFailed(code);
  }

  int received = 0;
  sigwait(&stopSignals, &received);
  server.Stop();
  setting.Save();
  return 0;
}

int WriteDefaultIni(const std::string& iniPath) {
  if (std::filesystem::exists(iniPath)) {
    std::printf("%s already exists\n", iniPath.c_str());
    return 0;
  }
  CSetting setting;
  setting.Load(iniPath);
  if (setting.Save() != 0) {
    std::fprintf(stderr, "cannot write %s\n", iniPath.c_str());
    return 1;
  }
  std::printf("wrote %s\n", iniPath.c_str());
  return 0;
}

}  // namespace
}  // namespace tav

int main(int argc, char** argv) {
  using namespace tav;
  std::signal(SIGPIPE, SIG_IGN);
  CommandLine options = CommandLine::Parse(std::vector<std::string>(argv + 1, argv + argc));
  if (!options.error.empty()) {
    std::fprintf(stderr, "tavrilox: %s\n\n%s", options.error.c_str(), CommandLine::Usage().c_str());
    return 2;
  }
  if (options.help) {
    std::printf("%s", CommandLine::Usage().c_str());
    return 0;
  }
  if (options.version) {
    std::printf("Tavrilox %s\n", TAVRILOX_VERSION);
    return 0;
  }
  std::string iniPath = ResolveIniPath(options);
  if (options.init) return WriteDefaultIni(iniPath);
  // The dat memory cache lives as long as the program, whichever front end runs.
  CDatCache datCache;
  if (options.headless) return RunHeadless(iniPath, datCache);
#ifdef TAVRILOX_HAVE_GUI
  return RunDesktop(argc, argv, iniPath, datCache);
#else
  std::fprintf(stderr, "tavrilox: the desktop window is not built yet; run with --headless\n");
  return 3;
#endif
}
