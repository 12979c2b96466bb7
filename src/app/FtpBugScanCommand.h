#pragma once
// The FTP-bug scan from the command line, for users without the dialog:
//   tavrilox --ftpbug-scan SERVER BOARD KEY [--ini PATH] [--register]

#include <string>

namespace tav {

struct FtpBugScanCommand {
  std::string server;  // as given (UTF-8)
  std::string board;
  std::string thread;
  bool registerResult = false;  // store the posts found in the INI file's FTPBug list
};

// Scans with the board domain and network settings of the INI file at
// `iniPath`: each status text to stderr as it changes, the posts found
// joined with "," on stdout at the end (an empty line when none). Returns
// 0 when the scan ran to its end (and, with registerResult, the posts were
// stored), 1 otherwise.
int RunFtpBugScanCommand(const FtpBugScanCommand& command, const std::string& iniPath);

}  // namespace tav
