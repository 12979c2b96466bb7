#pragma once
// Runs a program in a network namespace of its own in which only the
// loopback interface is up, so that nothing the program does can leave the
// machine, nor reach the servers on the machine's own loopback address.
// Before the program starts, the test is handed a listening TCP socket on
// 127.0.0.1 inside that namespace; a TcpRelay on it is the program's only
// way out.
//
//   LoopbackOnlyProcess process({{"/bin/sh", "-c", script}, {"PATH=/usr/bin:/bin"}, logPath});
//   if (!process.Prepared()) GTEST_SKIP() << process.WhyNot();
//   int port = process.ListenerPort();   // e.g. written into the program's settings
//   TcpRelay relay(process.TakeListener(), proxy.Port());
//   process.Start();
//   ...
//   process.Stop();                       // also done by the destructor
//
// A network namespace needs root (CAP_SYS_ADMIN); where it cannot be made,
// Prepared() is false and WhyNot() says why.
//
// The program runs as the leader of a process group of its own and gets
// SIGKILL when the thread that created this object ends (so also when the
// test process dies). Stop() sends it SIGTERM, gives it time to end, and then
// kills whatever is left of its process group.

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

namespace tav::test {

class LoopbackOnlyProcess {
 public:
  struct Command {
    std::vector<std::string> argv;         // argv[0] is the program's path
    std::vector<std::string> environment;  // "NAME=value": exactly these
    std::string outputPath;                // standard output and error go to this file
  };

  explicit LoopbackOnlyProcess(Command command);
  ~LoopbackOnlyProcess();
  LoopbackOnlyProcess(const LoopbackOnlyProcess&) = delete;
  LoopbackOnlyProcess& operator=(const LoopbackOnlyProcess&) = delete;

  // True when the namespace and its listener exist and the program waits
  // for Start().
  bool Prepared() const { return prepared_; }
  const std::string& WhyNot() const { return whyNot_; }

  // Port of the listener on 127.0.0.1 inside the namespace.
  int ListenerPort() const { return listenerPort_; }
  // Hands over the listener (the caller closes it); -1 when there is none.
  int TakeListener();

  // Lets the program run; false when it was not prepared or has ended.
  bool Start();
  // True while the program has not ended.
  bool Running() const;
  // Ends the program: SIGTERM, up to `grace` to end, then SIGKILL to its
  // whole process group. Returns the wait status, or -1 when there was no
  // program.
  int Stop(std::chrono::milliseconds grace = std::chrono::seconds(5));

 private:
  void Prepare();
  void Fail(const std::string& reason);

  Command command_;
  pid_t pid_ = -1;
  int channel_ = -1;  // to the waiting child: one byte starts the program
  int listener_ = -1;
  int listenerPort_ = 0;
  bool prepared_ = false;
  bool started_ = false;
  std::string whyNot_;
};

}  // namespace tav::test
