#pragma once
// Watches a folder and all its subfolders (also those made while watching)
// for files that are added or whose contents or times change, with inotify.
// Changes come in batches, as the kernel has them at the time of a wait.

#include <chrono>
#include <map>
#include <string>
#include <vector>

namespace tav {

enum class FileAction {
  kAdded = 1,     // created, or moved in
  kModified = 3,  // written to, or its times changed
};

struct FileChange {
  FileAction action = FileAction::kAdded;
  std::string name;  // relative to the watched folder, "/" between folders
};

enum class WatchWait {
  kChanges,   // the batch holds at least one change
  kTimedOut,  // nothing happened within the wait
  kFailed,    // the watch is broken (also: the kernel dropped changes)
};

// Whether a file could be read whole, and why not.
enum class FileRead {
  kRead,
  kHeldByWriter,  // another program still has it open for writing
  kFailed,
};

class DirectoryWatcher {
 public:
  DirectoryWatcher() = default;
  ~DirectoryWatcher();
  DirectoryWatcher(const DirectoryWatcher&) = delete;
  DirectoryWatcher& operator=(const DirectoryWatcher&) = delete;

  // Starts watching `root` and every folder below it. False when `root`
  // cannot be watched.
  bool Open(const std::string& root);

  // Waits at most `timeout` for changes and fills `batch` with them.
  WatchWait Wait(std::chrono::milliseconds timeout, std::vector<FileChange>& batch);

  // Reads a whole file unless a program still holds it open for writing
  // (the file is then not read). Where the file system cannot tell (no
  // leases, a file of another user), the file is read.
  static FileRead ReadUnlessWritten(const std::string& path, std::string& bytes);

 private:
  // Adds watches for `relative` (below the root) and its subfolders; with
  // `report`, the files found there are added to `batch`: they may have
  // appeared before their folder was watched.
  bool AddTree(const std::string& relative, std::vector<FileChange>* report);

  int fd_ = -1;
  std::string root_;
  std::map<int, std::string> folders_;  // watch descriptor -> folder below the root ("" for the root)
};

}  // namespace tav
