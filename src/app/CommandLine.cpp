#include "app/CommandLine.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

namespace tav {

CommandLine CommandLine::Parse(const std::vector<std::string>& args) {
  CommandLine options;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--headless") {
      options.headless = true;
    } else if (arg == "--help" || arg == "-h") {
      options.help = true;
    } else if (arg == "--version") {
      options.version = true;
    } else if (arg == "--init") {
      options.init = true;
    } else if (arg == "--ini") {
      if (i + 1 >= args.size()) {
        options.error = "--ini needs a file path";
        return options;
      }
      options.iniPath = args[++i];
    } else if (arg.rfind("--ini=", 0) == 0) {
      options.iniPath = arg.substr(6);
    } else {
      options.error = "unknown argument: " + arg;
      return options;
    }
  }
  return options;
}

std::string CommandLine::Usage() {
  return "Usage: tavrilox [--headless] [--ini PATH] [--init] [--help] [--version]\n"
         "\n"
         "A local HTTP proxy for 2ch-family board readers (default 127.0.0.1:8822).\n"
         "\n"
         "  --headless   run without a window: one line per request on stdout,\n"
         "               warnings and status on stderr; stop with Ctrl+C or SIGTERM\n"
         "  --ini PATH   settings file to use (default: Tavrilox.ini beside the\n"
         "               program, or ~/.config/tavrilox/Tavrilox.ini when that\n"
         "               folder is not writable)\n"
         "  --init       write a settings file with every default when there is\n"
         "               none yet, then exit\n"
         "  --help       show this text\n"
         "  --version    show the version\n";
}

std::string ResolveIniPath(const CommandLine& options) {
  if (options.iniPath) return *options.iniPath;
  std::string folder = ProgramFolder();
  if (::access(folder.c_str(), W_OK) == 0) return folder + "Tavrilox.ini";
  std::filesystem::path config;
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg != nullptr && *xdg != '\0') {
    config = xdg;
  } else if (const char* home = std::getenv("HOME"); home != nullptr) {
    config = std::filesystem::path(home) / ".config";
  } else {
    config = ".";
  }
  config /= "tavrilox";
  std::error_code error;
  std::filesystem::create_directories(config, error);
  return (config / "Tavrilox.ini").string();
}

}  // namespace tav
