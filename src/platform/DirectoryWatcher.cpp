#include "platform/DirectoryWatcher.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace tav {
namespace {

constexpr std::uint32_t kWatchMask =
    IN_CREATE | IN_MOVED_TO | IN_MODIFY | IN_ATTRIB | IN_ONLYDIR | IN_EXCL_UNLINK;

std::string Joined(const std::string& folder, std::string_view name) {
  return folder.empty() ? std::string(name) : folder + "/" + std::string(name);
}

}  // namespace

DirectoryWatcher::~DirectoryWatcher() {
  if (fd_ >= 0) ::close(fd_);
}

bool DirectoryWatcher::Open(const std::string& root) {
  if (fd_ >= 0) ::close(fd_);
  folders_.clear();
  root_ = root;
  while (root_.size() > 1 && root_.back() == '/') root_.pop_back();
  fd_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (fd_ < 0) return false;
  return AddTree("", nullptr);
}

bool DirectoryWatcher::AddTree(const std::string& relative, std::vector<FileChange>* report) {
  const std::string path = relative.empty() ? root_ : root_ + "/" + relative;
  const int wd = ::inotify_add_watch(fd_, path.c_str(), kWatchMask);
  if (wd < 0) return false;
  folders_[wd] = relative;
  std::error_code error;
  for (std::filesystem::directory_iterator it(path, error), end; !error && it != end; it.increment(error)) {
    const std::string name = Joined(relative, it->path().filename().string());
    std::error_code statusError;
    if (it->is_directory(statusError) && !it->is_symlink(statusError)) {
      AddTree(name, report);
    } else if (report != nullptr) {
      report->push_back(FileChange{FileAction::kAdded, name});
    }
  }
  return true;
}

WatchWait DirectoryWatcher::Wait(std::chrono::milliseconds timeout, std::vector<FileChange>& batch) {
  batch.clear();
  if (fd_ < 0) return WatchWait::kFailed;
  pollfd watched{fd_, POLLIN, 0};
  const int ready = ::poll(&watched, 1, static_cast<int>(timeout.count()));
  if (ready == 0 || (ready < 0 && errno == EINTR)) return WatchWait::kTimedOut;
  if (ready < 0) return WatchWait::kFailed;

  alignas(inotify_event) char buffer[16384];
  for (;;) {
    const ssize_t got = ::read(fd_, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0 && errno == EAGAIN) break;
    if (got <= 0) return WatchWait::kFailed;
    for (ssize_t offset = 0; offset < got;) {
      const auto* event = reinterpret_cast<const inotify_event*>(buffer + offset);
      offset += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
      if ((event->mask & IN_Q_OVERFLOW) != 0) return WatchWait::kFailed;
      const auto folder = folders_.find(event->wd);
      if (folder == folders_.end()) continue;
      if ((event->mask & IN_IGNORED) != 0) {
        folders_.erase(folder);
        continue;
      }
      if (event->len == 0) continue;  // the folder itself
      const std::string name =
          Joined(folder->second, std::string_view(event->name, ::strnlen(event->name, event->len)));
      if ((event->mask & IN_ISDIR) != 0) {
        if ((event->mask & (IN_CREATE | IN_MOVED_TO)) != 0) AddTree(name, &batch);
      } else if ((event->mask & (IN_CREATE | IN_MOVED_TO)) != 0) {
        batch.push_back(FileChange{FileAction::kAdded, name});
      } else if ((event->mask & (IN_MODIFY | IN_ATTRIB)) != 0) {
        batch.push_back(FileChange{FileAction::kModified, name});
      }
    }
  }
  return WatchWait::kChanges;
}

FileRead DirectoryWatcher::ReadUnlessWritten(const std::string& path, std::string& bytes) {
  bytes.clear();
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return errno == EWOULDBLOCK ? FileRead::kHeldByWriter : FileRead::kFailed;
  // A read lease is refused while any program has the file open for
  // writing: the sharing violation of this platform. It is let go at once.
  // Should a writer open the file in between, the kernel tells the lease
  // holder with a signal: SIGURG, which is ignored unless a program asks
  // for it, instead of the default SIGIO, which would end the program.
  if (::fcntl(fd, F_SETSIG, SIGURG) == 0 && ::fcntl(fd, F_SETLEASE, F_RDLCK) == 0) {
    ::fcntl(fd, F_SETLEASE, F_UNLCK);
  } else if (errno == EAGAIN) {
    ::close(fd);
    return FileRead::kHeldByWriter;
  }
  ::fcntl(fd, F_SETFL, 0);  // blocking reads from here on
  char chunk[65536];
  for (;;) {
    const ssize_t got = ::read(fd, chunk, sizeof chunk);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      ::close(fd);
      bytes.clear();
      return FileRead::kFailed;
    }
    if (got == 0) break;
    bytes.append(chunk, static_cast<std::size_t>(got));
  }
  ::close(fd);
  return FileRead::kRead;
}

}  // namespace tav
