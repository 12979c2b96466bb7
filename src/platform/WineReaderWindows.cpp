#include "platform/WineReaderWindows.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <sstream>
#include <thread>

#include "platform/BridgeProtocol.h"
#include "platform/ProgramFolder.h"
#include "platform/TextCodec.h"

extern char** environ;

namespace tav {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr milliseconds kPollStep{200};
constexpr milliseconds kExitGrace{2000};
constexpr milliseconds kWinepathTimeout{60000};

// The environment of this process with Wine's debug output off unless the
// user asked for it, and `extra` ("NAME=value") added.
std::vector<std::string> ChildEnvironment(const std::vector<std::string>& extra) {
  std::vector<std::string> variables;
  bool debugSet = false;
  for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
    std::string variable(*entry);
    bool replaced = false;
    for (const std::string& added : extra) {
      if (variable.compare(0, added.find('=') + 1, added, 0, added.find('=') + 1) == 0) replaced = true;
    }
    if (replaced) continue;
    if (variable.starts_with("WINEDEBUG=")) debugSet = true;
    variables.push_back(std::move(variable));
  }
  if (!debugSet) variables.emplace_back("WINEDEBUG=-all");
  variables.insert(variables.end(), extra.begin(), extra.end());
  return variables;
}

std::vector<char*> Pointers(std::vector<std::string>& texts) {
  std::vector<char*> pointers;
  for (std::string& text : texts) pointers.push_back(text.data());
  pointers.push_back(nullptr);
  return pointers;
}

// Starts `argv` with its standard input and output on new pipes (either may
// be left out) and its standard error on /dev/null, closing every other
// descriptor in the child. -1 on failure.
pid_t Spawn(std::vector<std::string> argv, const std::vector<std::string>& extraEnvironment, int* childInput,
            int* childOutput) {
  int in[2] = {-1, -1};
  int out[2] = {-1, -1};
  auto closeAll = [&] {
    for (int fd : {in[0], in[1], out[0], out[1]}) {
      if (fd >= 0) ::close(fd);
    }
  };
  if ((childInput != nullptr && ::pipe2(in, O_CLOEXEC) != 0) ||
      (childOutput != nullptr && ::pipe2(out, O_CLOEXEC) != 0)) {
    closeAll();
    return -1;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (childInput != nullptr) {
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
  } else {
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  }
  if (childOutput != nullptr) {
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  } else {
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  }
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addclosefrom_np(&actions, 3);
  // A process group of its own: a terminal's Ctrl+C reaches the proxy,
  // which then ends the bridge itself.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
  posix_spawnattr_setpgroup(&attributes, 0);

  std::vector<std::string> environment = ChildEnvironment(extraEnvironment);
  std::vector<char*> args = Pointers(argv);
  std::vector<char*> env = Pointers(environment);
  pid_t pid = -1;
  const int failed = ::posix_spawn(&pid, argv[0].c_str(), &actions, &attributes, args.data(), env.data());
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  if (failed != 0) {
    closeAll();
    return -1;
  }
  if (childInput != nullptr) {
    ::close(in[0]);
    *childInput = in[1];
  }
  if (childOutput != nullptr) {
    ::close(out[1]);
    *childOutput = out[0];
  }
  return pid;
}

// Waits for `pid` to end, at most `grace`; then kills it. True when it
// ended by itself with status 0.
bool EndProcess(pid_t pid, milliseconds grace) {
  const auto deadline = Clock::now() + grace;
  int status = 0;
  while (Clock::now() < deadline) {
    if (const pid_t ended = ::waitpid(pid, &status, WNOHANG); ended != 0) {
      return ended == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }
    std::this_thread::sleep_for(milliseconds(20));
  }
  ::kill(pid, SIGKILL);
  ::waitpid(pid, nullptr, 0);
  return false;
}

// Writes to a pipe whose reader may be gone. SIGPIPE is held back on this
// thread meanwhile (and taken away when the write raised it), so that a dead
// bridge is a failed write and not the end of the program.
bool WriteAll(int fd, const std::string& bytes) {
  sigset_t pipeSignal;
  sigset_t previous;
  sigemptyset(&pipeSignal);
  sigaddset(&pipeSignal, SIGPIPE);
  sigset_t pending;
  sigpending(&pending);
  const bool alreadyPending = sigismember(&pending, SIGPIPE) == 1;
  pthread_sigmask(SIG_BLOCK, &pipeSignal, &previous);
  std::size_t done = 0;
  bool broken = false;
  while (done < bytes.size()) {
    const ssize_t wrote = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) {
      broken = wrote < 0 && errno == EPIPE;
      break;
    }
    done += static_cast<std::size_t>(wrote);
  }
  if (broken && !alreadyPending) {
    const timespec none{0, 0};
    while (sigtimedwait(&pipeSignal, nullptr, &none) < 0 && errno == EINTR) {
    }
  }
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  return done == bytes.size();
}

std::string HandleText(WindowHandle window) { return std::to_string(static_cast<std::uint64_t>(window)); }

WindowHandle HandleOf(const std::string& text) {
  return static_cast<WindowHandle>(std::strtoull(text.c_str(), nullptr, 10));
}

}  // namespace

WineBridgeOptions WineBridgeOptions::FromEnvironment() {
  WineBridgeOptions options;
  if (const char* wine = std::getenv("TAVRILOX_WINE"); wine != nullptr && *wine != '\0') {
    std::stringstream words(wine);
    options.wineCommand.clear();
    for (std::string word; words >> word;) options.wineCommand.push_back(word);
  }
  const char* bridge = std::getenv("TAVRILOX_WINEBRIDGE");
  options.bridgeProgram =
      bridge != nullptr && *bridge != '\0' ? std::string(bridge) : ProgramFolder() + kWineBridgeProgramName;
  return options;
}

WineReaderWindows::WineReaderWindows(WineBridgeOptions options) : options_(std::move(options)) {}

WineReaderWindows::~WineReaderWindows() {
  std::lock_guard lock(mutex_);
  StopBridge();
}

pid_t WineReaderWindows::BridgePid() const {
  std::lock_guard lock(mutex_);
  return pid_;
}

bool WineReaderWindows::StartBridge() {
  if (pid_ > 0) return true;
  const std::string wine =
      options_.wineCommand.empty() ? std::string() : FindExecutable(options_.wineCommand[0]);
  if (wine.empty()) {
    problem_ =
        "wine was not found (TAVRILOX_WINE names the command; Debian's packages wine and wine64 provide it)";
    return false;
  }
  if (::access(options_.bridgeProgram.c_str(), R_OK) != 0) {
    problem_ = "the Wine bridge " + options_.bridgeProgram +
               " is missing (it is built only where Debian's g++-mingw-w64-x86-64 is installed)";
    return false;
  }
  std::vector<std::string> argv = options_.wineCommand;
  argv[0] = wine;
  argv.push_back(options_.bridgeProgram);
  pending_.clear();
  pid_ = Spawn(argv, {}, &toBridge_, &fromBridge_);
  if (pid_ < 0) {
    problem_ = "wine could not be started (" + wine + ")";
    return false;
  }
  std::string line;
  const ReadOutcome outcome = ReadLine(line, options_.startTimeout);
  if (outcome != ReadOutcome::kLine || line != bridge::kReady) {
    StopBridge();
    problem_ = outcome == ReadOutcome::kTimedOut
                   ? "the Wine bridge did not start in time"
                   : "the Wine bridge ended at its start (is WINEPREFIX usable?)";
    return false;
  }
  problem_.clear();
  return true;
}

void WineReaderWindows::StopBridge() {
  if (toBridge_ >= 0) ::close(toBridge_);  // the bridge ends at the end of its input
  if (fromBridge_ >= 0) ::close(fromBridge_);
  toBridge_ = fromBridge_ = -1;
  if (pid_ > 0) EndProcess(pid_, kExitGrace);
  pid_ = -1;
  pending_.clear();
}

WineReaderWindows::ReadOutcome WineReaderWindows::ReadLine(std::string& line, milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  for (;;) {
    if (const auto end = pending_.find('\n'); end != std::string::npos) {
      line = pending_.substr(0, end);
      pending_.erase(0, end + 1);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      return ReadOutcome::kLine;
    }
    // Programs the bridge started may hold its output open after it died,
    // so its end is also looked for by its process.
    if (::waitpid(pid_, nullptr, WNOHANG) != 0) {
      pid_ = -1;
      return ReadOutcome::kDied;
    }
    const auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) return ReadOutcome::kTimedOut;
    pollfd watched{fromBridge_, POLLIN, 0};
    const int ready = ::poll(&watched, 1, static_cast<int>(std::min(left, kPollStep).count()));
    if (ready < 0 && errno != EINTR) return ReadOutcome::kDied;
    if (ready <= 0) continue;
    char chunk[4096];
    const ssize_t got = ::read(fromBridge_, chunk, sizeof chunk);
    if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (got <= 0) return ReadOutcome::kDied;
    pending_.append(chunk, static_cast<std::size_t>(got));
  }
}

bool WineReaderWindows::Exchange(const std::vector<std::string>& request, Lines* listed) {
  std::lock_guard lock(mutex_);
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (!StartBridge()) return false;
    if (listed != nullptr) listed->clear();
    bool died = !WriteAll(toBridge_, bridge::JoinFields(request));
    while (!died) {
      std::string line;
      const ReadOutcome outcome = ReadLine(line, options_.answerTimeout);
      if (outcome == ReadOutcome::kTimedOut) {
        // Asking again would wait as long once more: the next request gets
        // a new bridge instead.
        StopBridge();
        return false;
      }
      if (outcome == ReadOutcome::kDied) break;
      std::vector<std::string> fields = bridge::SplitFields(line);
      if (fields[0] == bridge::kOk) return true;
      if (fields[0] == bridge::kError) return false;
      if (listed != nullptr) listed->push_back(std::move(fields));
    }
    StopBridge();  // it died: once more with a new one
  }
  return false;
}

bool WineReaderWindows::Simple(std::string_view verb, WindowHandle window, const std::string& argument) {
  std::vector<std::string> request = {std::string(verb), HandleText(window)};
  if (!argument.empty()) request.push_back(argument);
  return Exchange(request);
}

std::string WineReaderWindows::Unavailable() {
  std::lock_guard lock(mutex_);
  return StartBridge() ? std::string() : problem_;
}

std::vector<TopLevelWindow> WineReaderWindows::TopLevelWindows() {
  Lines lines;
  std::vector<TopLevelWindow> windows;
  if (!Exchange({std::string(bridge::kTopLevel)}, &lines)) return windows;
  for (const auto& fields : lines) {
    if (fields.size() < 6 || fields[0] != bridge::kWindowLine) continue;
    TopLevelWindow window;
    window.handle = HandleOf(fields[1]);
    window.className = Utf8ToUtf16(fields[2]);
    window.title = Utf8ToUtf16(fields[3]);
    if (fields[4] == "1") window.imagePath = Utf8ToUtf16(fields[5]);
    windows.push_back(std::move(window));
  }
  return windows;
}

std::vector<ChildWindow> WineReaderWindows::Descendants(WindowHandle parent) {
  Lines lines;
  std::vector<ChildWindow> windows;
  if (!Exchange({std::string(bridge::kDescendants), HandleText(parent)}, &lines)) return windows;
  for (const auto& fields : lines) {
    if (fields.size() < 5 || fields[0] != bridge::kChildLine) continue;
    windows.push_back(ChildWindow{HandleOf(fields[1]), Utf8ToUtf16(fields[2]), Utf8ToUtf16(fields[3]),
                                  HandleOf(fields[4])});
  }
  return windows;
}

bool WineReaderWindows::Close(WindowHandle window) { return Simple(bridge::kClose, window); }

bool WineReaderWindows::SetText(WindowHandle window, std::u16string_view text) {
  return Exchange({std::string(bridge::kSetText), HandleText(window), Utf16ToUtf8(text)});
}

bool WineReaderWindows::PressEnter(WindowHandle window) { return Simple(bridge::kEnter, window); }

bool WineReaderWindows::SendCommand(WindowHandle window, int command) {
  return Simple(bridge::kCommand, window, std::to_string(command));
}

bool WineReaderWindows::Minimise(WindowHandle window) { return Simple(bridge::kMinimise, window); }

bool WineReaderWindows::BringToFront(WindowHandle window, milliseconds hold) {
  return Simple(bridge::kForeground, window, std::to_string(hold.count()));
}

bool WineReaderWindows::StartProgram(std::u16string_view program) {
  return Exchange({std::string(bridge::kStart), Utf16ToUtf8(program)});
}

bool WineReaderWindows::PostClose(WindowHandle window) { return Simple(bridge::kPostClose, window); }

std::optional<std::string> WineReaderWindows::RunWinepath(const std::string& direction,
                                                          const std::string& path) {
  {
    std::lock_guard lock(pathMutex_);
    if (auto found = pathCache_.find(direction + path); found != pathCache_.end()) return found->second;
  }
  const std::string wine =
      options_.wineCommand.empty() ? std::string() : FindExecutable(options_.wineCommand[0]);
  if (wine.empty()) return std::nullopt;
  std::vector<std::string> argv = options_.wineCommand;
  argv[0] = wine;
  argv.insert(argv.end(), {"winepath", direction, path});
  int output = -1;
  // winepath writes Windows paths in the locale's character set.
  const pid_t pid = Spawn(argv, {"LC_ALL=C.UTF-8"}, nullptr, &output);
  if (pid < 0) return std::nullopt;
  // Only the first line is needed: the Wine server that winepath may have
  // started can hold its output open long after it ended.
  std::string text;
  const auto deadline = Clock::now() + kWinepathTimeout;
  while (text.find('\n') == std::string::npos) {
    const auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now());
    pollfd watched{output, POLLIN, 0};
    if (left.count() <= 0 || ::poll(&watched, 1, static_cast<int>(left.count())) <= 0) break;
    char chunk[4096];
    const ssize_t got = ::read(output, chunk, sizeof chunk);
    if (got <= 0) break;
    text.append(chunk, static_cast<std::size_t>(got));
  }
  ::close(output);
  const bool succeeded = EndProcess(pid, kExitGrace);
  text = text.substr(0, text.find('\n'));
  if (!text.empty() && text.back() == '\r') text.pop_back();
  if (!succeeded || text.empty()) return std::nullopt;
  std::lock_guard lock(pathMutex_);
  pathCache_[direction + path] = text;
  return text;
}

std::optional<std::u16string> WineReaderWindows::ReaderPath(const std::string& localPath) {
  auto converted = RunWinepath("-w", localPath);
  if (!converted) return std::nullopt;
  return Utf8ToUtf16(*converted);
}

std::optional<std::string> WineReaderWindows::LocalPath(std::u16string_view readerPath) {
  return RunWinepath("-u", Utf16ToUtf8(readerPath));
}

}  // namespace tav
