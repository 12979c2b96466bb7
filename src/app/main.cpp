// Tavrilox: a local HTTP proxy for 2ch-family board readers.

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "app/CommandLine.h"
#include "app/ConvertCommand.h"
#include "app/ConfigCheck.h"
#include "acquire/CDatCache.h"
#include "headless/HeadlessShell.h"
#include "server/ProxyServer.h"
#include "config/CSetting.h"
#include "config/StringTable.h"
#include "platform/CBregOnig.h"

#ifdef TAVRILOX_HAVE_GUI
#include "desktop/DesktopApp.h"
#endif

namespace tav {
namespace {

// Blocks SIGINT and SIGTERM in every thread started after this call, so that
// only the waiting main thread takes them.
// Exit code of a headless start whose listener cannot start.
constexpr int kListenerFailedExit = 1;

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
    // A service manager must see that there is no proxy: end with a failure
    // and leave the settings file as it was.
    shell.StartupFailed(code);
    auto cfg = setting.Snapshot();
    std::fprintf(stderr, "tavrilox: cannot listen on %s:%d; stopping\n", cfg->GatewayHost.Narrow().c_str(),
                 cfg->GatewayPort);
    return kListenerFailedExit;
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

// Prints the dat of a saved page, converted with the settings of the INI
// file (its pattern sets and regex mode) when there is one.
int ConvertSavedPage(const CommandLine& options, const std::string& iniPath) {
  CSetting setting;
  setting.Load(iniPath);
  const CBregOnig engine(true);
  const ConvertCommandOutput output =
      RunConvertCommand(*options.convertPage, options.cachedCount, *setting.Snapshot(), engine);
  std::fwrite(output.dat.data(), 1, output.dat.size(), stdout);
  std::fflush(stdout);
  std::fputs(output.report.c_str(), stderr);
  return output.exitCode;
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
  if (options.convertPage) return ConvertSavedPage(options, iniPath);
  if (options.checkConfig) return static_cast<int>(CheckConfig(iniPath, stdout));
  if (options.ftpBugScan) return RunFtpBugScanCommand(*options.ftpBugScan, iniPath);
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
