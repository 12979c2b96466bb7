#include "support/LoopbackOnlyProcess.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <thread>
#include <utility>

namespace tav::test {
namespace {

// What the child tells the parent once its namespace is set up (or why it
// could not be).
enum class Step : int { kReady, kUnshare, kLoopbackUp, kListener };

struct ChildReport {
  Step step = Step::kReady;
  int error = 0;
};

const char* StepText(Step step) {
  switch (step) {
    case Step::kReady:
      return "ready";
    case Step::kUnshare:
      return "unshare(CLONE_NEWNET) failed";
    case Step::kLoopbackUp:
      return "bringing up the loopback interface failed";
    case Step::kListener:
      return "listening on 127.0.0.1 in the namespace failed";
  }
  return "?";
}

// --- the child, between fork and exec: system calls only, no allocation ---

void Report(int channel, Step step, int error, int fd) {
  ChildReport report{step, error};
  iovec data{&report, sizeof report};
  msghdr message{};
  message.msg_iov = &data;
  message.msg_iovlen = 1;
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
  if (fd >= 0) {
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    cmsghdr* header = CMSG_FIRSTHDR(&message);
    header->cmsg_level = SOL_SOCKET;
    header->cmsg_type = SCM_RIGHTS;
    header->cmsg_len = CMSG_LEN(sizeof(int));
    std::memcpy(CMSG_DATA(header), &fd, sizeof fd);
  }
  ::sendmsg(channel, &message, MSG_NOSIGNAL);
}

bool BringLoopbackUp() {
  int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  ifreq request{};
  std::memcpy(request.ifr_name, "lo", 3);
  bool up = ::ioctl(fd, SIOCGIFFLAGS, &request) == 0;
  if (up) {
    request.ifr_flags = static_cast<short>(request.ifr_flags | IFF_UP);
    up = ::ioctl(fd, SIOCSIFFLAGS, &request) == 0;
  }
  ::close(fd);
  return up;
}

int ListenOnLoopback() {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(fd, 16) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

[[noreturn]] void RunChild(int channel, pid_t parent, char* const* argv, char* const* envp,
                           const char* outputPath) {
  ::setpgid(0, 0);
  ::prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (::getppid() != parent) ::_exit(1);  // the parent is already gone
  if (::unshare(CLONE_NEWNET) != 0) {
    Report(channel, Step::kUnshare, errno, -1);
    ::_exit(1);
  }
  if (!BringLoopbackUp()) {
    Report(channel, Step::kLoopbackUp, errno, -1);
    ::_exit(1);
  }
  int listener = ListenOnLoopback();
  if (listener < 0) {
    Report(channel, Step::kListener, errno, -1);
    ::_exit(1);
  }
  Report(channel, Step::kReady, 0, listener);
  ::close(listener);

  char go = 0;
  if (::read(channel, &go, 1) != 1) ::_exit(0);  // not started after all
  int output = ::open(outputPath, O_WRONLY | O_CREAT | O_TRUNC, 0644);
  int nothing = ::open("/dev/null", O_RDONLY);
  if (output < 0 || nothing < 0) ::_exit(126);
  ::dup2(nothing, 0);
  ::dup2(output, 1);
  ::dup2(output, 2);
  ::close_range(3, ~0U, 0);  // nothing of the test leaks into the program
  ::execve(argv[0], argv, envp);
  ::_exit(127);
}

std::vector<char*> PointersTo(std::vector<std::string>& texts) {
  std::vector<char*> pointers;
  for (auto& text : texts) pointers.push_back(text.data());
  pointers.push_back(nullptr);
  return pointers;
}

}  // namespace

LoopbackOnlyProcess::LoopbackOnlyProcess(Command command) : command_(std::move(command)) { Prepare(); }

LoopbackOnlyProcess::~LoopbackOnlyProcess() {
  Stop();
  for (int fd : {channel_, listener_}) {
    if (fd >= 0) ::close(fd);
  }
}

void LoopbackOnlyProcess::Prepare() {
  if (command_.argv.empty()) return Fail("no program to run");
  // Everything the child needs is built before the fork: after it, the child
  // of this multi-threaded process may only make system calls.
  std::vector<char*> argv = PointersTo(command_.argv);
  std::vector<char*> envp = PointersTo(command_.environment);
  const char* outputPath = command_.outputPath.empty() ? "/dev/null" : command_.outputPath.c_str();

  int channel[2];
  if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, channel) != 0) {
    return Fail(std::string("socketpair failed: ") + std::strerror(errno));
  }
  const pid_t parent = ::getpid();
  pid_ = ::fork();
  if (pid_ == 0) RunChild(channel[1], parent, argv.data(), envp.data(), outputPath);
  const int forkError = errno;
  ::close(channel[1]);
  channel_ = channel[0];
  if (pid_ < 0) return Fail(std::string("fork failed: ") + std::strerror(forkError));
  ::setpgid(pid_, pid_);  // also done by the child; whichever comes first

  pollfd wait{channel_, POLLIN, 0};
  if (::poll(&wait, 1, 10000) <= 0) return Fail("the child did not report within 10 s");
  ChildReport report;
  iovec data{&report, sizeof report};
  msghdr message{};
  message.msg_iov = &data;
  message.msg_iovlen = 1;
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
  message.msg_control = control;
  message.msg_controllen = sizeof control;
  if (::recvmsg(channel_, &message, MSG_CMSG_CLOEXEC) != static_cast<ssize_t>(sizeof report)) {
    return Fail("the child ended without a report");
  }
  if (cmsghdr* header = CMSG_FIRSTHDR(&message);
      header != nullptr && header->cmsg_level == SOL_SOCKET && header->cmsg_type == SCM_RIGHTS) {
    std::memcpy(&listener_, CMSG_DATA(header), sizeof listener_);
  }
  if (report.step != Step::kReady || listener_ < 0) {
    return Fail(std::string(StepText(report.step)) + ": " + std::strerror(report.error));
  }
  sockaddr_in address{};
  socklen_t length = sizeof address;
  if (::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    return Fail(std::string("getsockname failed: ") + std::strerror(errno));
  }
  listenerPort_ = ntohs(address.sin_port);
  prepared_ = true;
}

void LoopbackOnlyProcess::Fail(const std::string& reason) {
  whyNot_ = reason;
  Stop();
}

int LoopbackOnlyProcess::TakeListener() {
  int fd = listener_;
  listener_ = -1;
  return fd;
}

bool LoopbackOnlyProcess::Start() {
  if (!prepared_ || started_ || channel_ < 0) return false;
  char go = 1;
  started_ = ::write(channel_, &go, 1) == 1;
  ::close(channel_);
  channel_ = -1;
  return started_;
}

bool LoopbackOnlyProcess::Running() const {
  if (pid_ <= 0) return false;
  siginfo_t info{};
  // WNOWAIT: look without reaping, so that the process id stays ours.
  if (::waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT) != 0) return false;
  return info.si_pid == 0;
}

int LoopbackOnlyProcess::Stop(std::chrono::milliseconds grace) {
  if (pid_ <= 0) return -1;
  if (channel_ >= 0) {  // never started: the child ends when the channel closes
    ::close(channel_);
    channel_ = -1;
  } else {
    ::kill(pid_, SIGTERM);
  }
  auto deadline = std::chrono::steady_clock::now() + grace;
  while (Running() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  // The leader is not reaped yet, so the group id cannot have been reused:
  // whatever is left of the group is ours to end.
  ::kill(-pid_, SIGKILL);
  int status = -1;
  ::waitpid(pid_, &status, 0);
  pid_ = -1;
  prepared_ = false;
  return status;
}

}  // namespace tav::test
