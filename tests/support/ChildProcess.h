#pragma once
// Runs a program with its standard output and error captured, for tests of
// the executable itself.

#include <string>
#include <sys/types.h>
#include <vector>

namespace tav::test {

class ChildProcess {
 public:
  explicit ChildProcess(const std::vector<std::string>& argv);
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Reads standard output until it holds `count` lines or `timeoutMs` passes.
  std::vector<std::string> StdoutLines(std::size_t count, int timeoutMs);
  // Reads standard error until it contains `text` or `timeoutMs` passes.
  bool WaitForStderr(const std::string& text, int timeoutMs);
  const std::string& Stderr() const { return err_; }

  void Signal(int signal);
  // Waits for the exit; the exit code, or -1 on time-out or abnormal end.
  int Wait(int timeoutMs);

 private:
  void Pump(int timeoutMs);

  pid_t pid_ = -1;
  int outFd_ = -1;
  int errFd_ = -1;
  std::string out_;
  std::string err_;
};

// A loopback port that was free a moment ago.
int FreeLoopbackPort();

}  // namespace tav::test
