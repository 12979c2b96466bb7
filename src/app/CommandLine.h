#pragma once
#include <optional>
#include <string>
#include <vector>

#include "app/FtpBugScanCommand.h"
#include "platform/ProgramFolder.h"

namespace tav {

struct CommandLine {
  bool headless = false;
  bool help = false;
  bool version = false;
  bool init = false;              // write a default settings file when there is none, then exit
  bool checkConfig = false;       // report what the settings file would do, then exit
  std::optional<std::string> iniPath;
  std::optional<std::string> convertPage;  // --convert: a saved read.cgi page to print as dat
  int cachedCount = -1;                    // --cached: posts the reader already holds
  std::optional<FtpBugScanCommand> ftpBugScan;  // --ftpbug-scan SERVER BOARD KEY [--register]
  std::string error;              // non-empty when the arguments could not be used

  static CommandLine Parse(const std::vector<std::string>& args);
  static std::string Usage();
};

// --ini when given; for an installed program (one that lives in a folder
// named "bin") or one whose folder is not writable,
// $XDG_CONFIG_HOME/tavrilox/Tavrilox.ini (~/.config/...); else Tavrilox.ini
// beside the program, as in a build folder.
std::string ResolveIniPath(const CommandLine& options);
// The same choice for a program in `programFolder` (with a trailing "/").
std::string ResolveIniPath(const CommandLine& options, const std::string& programFolder);

}  // namespace tav
