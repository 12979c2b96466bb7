#include "app/CommandLine.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <exception>
#include <filesystem>

namespace tav {

namespace {

// A whole decimal number from -1 up.
bool ReadCount(const std::string& text, int& count) {
  if (text.empty()) return false;
  std::size_t used = 0;
  try {
    count = std::stoi(text, &used);
  } catch (const std::exception&) {
    return false;
  }
  return used == text.size() && count >= -1;
}

}  // namespace

CommandLine CommandLine::Parse(const std::vector<std::string>& args) {
  CommandLine options;
  bool registerResult = false;
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
    } else if (arg == "--check-config") {
      options.checkConfig = true;
    } else if (arg == "--ini") {
      if (i + 1 >= args.size()) {
        options.error = "--ini needs a file path";
        return options;
      }
      options.iniPath = args[++i];
    } else if (arg == "--ftpbug-scan") {
      if (i + 3 >= args.size()) {
        options.error = "--ftpbug-scan needs a server, a board and a thread key";
        return options;
      }
      options.ftpBugScan = FtpBugScanCommand{args[i + 1], args[i + 2], args[i + 3]};
      i += 3;
    } else if (arg == "--register") {
      registerResult = true;
    } else if (arg.rfind("--ini=", 0) == 0) {
      options.iniPath = arg.substr(6);
    } else if (arg == "--convert") {
      if (i + 1 >= args.size()) {
        options.error = "--convert needs a page file";
        return options;
      }
      options.convertPage = args[++i];
    } else if (arg == "--cached") {
      if (i + 1 >= args.size() || !ReadCount(args[i + 1], options.cachedCount)) {
        options.error = "--cached needs a post count";
        return options;
      }
      ++i;
    } else {
      options.error = "unknown argument: " + arg;
      return options;
    }
  }
  if (registerResult) {
    if (!options.ftpBugScan) {
      options.error = "--register belongs to --ftpbug-scan";
      return options;
    }
    options.ftpBugScan->registerResult = true;
  }
  return options;
}

std::string CommandLine::Usage() {
  return "Usage: tavrilox [--headless] [--ini PATH] [--init] [--check-config] [--help] [--version]\n"
         "       tavrilox --convert PAGE [--cached M] [--ini PATH]\n"
         "       tavrilox --ftpbug-scan SERVER BOARD KEY [--ini PATH] [--register]\n"
         "\n"
         "A local HTTP proxy for 2ch-family board readers (default 127.0.0.1:8822).\n"
         "\n"
         "  --headless   run without a window: one line per request on stdout,\n"
         "               warnings and status on stderr; stop with Ctrl+C or SIGTERM\n"
         "  --ini PATH   settings file to use (default for an installed program:\n"
         "               ~/.config/tavrilox/Tavrilox.ini; in a build folder:\n"
         "               Tavrilox.ini beside the program)\n"
         "  --init       write a settings file with every default when there is\n"
         "               none yet, then exit\n"
         "  --convert PAGE  print the dat made of a saved read.cgi page (Shift_JIS,\n"
         "               as the board sends it) and name the converter on stderr;\n"
         "               --cached M converts as a refresh after M cached posts\n"
         "  --check-config\n"
         "               read the settings file, print what the proxy would do\n"
         "               and every warning; exit 1 when it has an error to fix\n"
         "  --ftpbug-scan SERVER BOARD KEY\n"
         "               find the posts that break the page of thread KEY on\n"
         "               BOARD at SERVER (e.g. egg applism 1517988732): progress\n"
         "               on stderr, the post numbers joined with \",\" on stdout;\n"
         "               exit code 0 when the scan ran to its end\n"
         "  --register   with --ftpbug-scan: store the posts found in the\n"
         "               settings file's FTPBug list\n"
         "  --help       show this text\n"
         "  --version    show the version\n";
}

std::string ResolveIniPath(const CommandLine& options) { return ResolveIniPath(options, ProgramFolder()); }

std::string ResolveIniPath(const CommandLine& options, const std::string& folder) {
  if (options.iniPath) return *options.iniPath;
  const bool installed = std::filesystem::path(folder).parent_path().filename() == "bin";
  if (!installed && ::access(folder.c_str(), W_OK) == 0) return folder + "Tavrilox.ini";
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
