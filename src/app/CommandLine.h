#pragma once
#include <optional>
#include <string>
#include <vector>

#include "platform/ProgramFolder.h"

namespace tav {

struct CommandLine {
  bool headless = false;
  bool help = false;
  bool version = false;
  bool init = false;              // write a default settings file when there is none, then exit
  std::optional<std::string> iniPath;
  std::string error;              // non-empty when the arguments could not be used

  static CommandLine Parse(const std::vector<std::string>& args);
  static std::string Usage();
};

// --ini when given; else Tavrilox.ini in the program folder; when that folder
// is not writable, $XDG_CONFIG_HOME/tavrilox/Tavrilox.ini (~/.config/...).
std::string ResolveIniPath(const CommandLine& options);

}  // namespace tav
