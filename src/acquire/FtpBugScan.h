#pragma once
// Finds the posts that break a thread's read.cgi page. The board answers
// "520 Origin Error" for every page that holds such a post, so the thread is
// asked for two posts at a time, and post by post where a pair fails. The
// posts found go into the FTPBug list, around which the HTML route then
// reads the thread.
//
// One scan runs at a time, on a worker thread of its own (Start) or on the
// calling thread (Run). Progress is reported through IFtpBugScanListener,
// from the thread the scan runs on.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tav {

class CSetting;

// The thread to examine, as the board's URLs name it (narrow CP932 texts).
struct FtpBugScanInput {
  std::string server;  // server label, the host up to the board domain
  std::string board;
  std::string thread;  // thread key
};

enum class FtpBugScanEnd {
  kFinished,       // every post up to the thread's count was examined
  kStopped,        // Stop() ended it before the count was reached
  kMissingInput,   // server, board or thread empty; nothing was asked
  kMissingThread,  // the board says the thread does not exist
  kFailed,         // a request failed or had no header end
};

struct FtpBugScanResult {
  FtpBugScanEnd end = FtpBugScanEnd::kFinished;
  std::vector<std::int32_t> posts;  // the posts that break the page, ascending
  std::u16string status;            // the last status text
};

class IFtpBugScanListener {
 public:
  virtual ~IFtpBugScanListener() = default;
  // The whole status text, each time it changes.
  virtual void ScanStatusChanged(const std::u16string& status) = 0;
  // Every post found so far, each time one is added (and empty at the start).
  virtual void ScanPostsChanged(const std::vector<std::int32_t>& posts) = 0;
  // The scan has ended; Running() is false from now on.
  virtual void ScanFinished(const FtpBugScanResult& result) = 0;
};

struct FtpBugScanOptions {
  std::chrono::milliseconds pause{100};  // between one request and the next
};

class FtpBugScan {
 public:
  // The settings are read once per scan, when it starts.
  FtpBugScan(CSetting& setting, IFtpBugScanListener& listener, FtpBugScanOptions options = {});
  // Ends a running scan at once (its request is abandoned) and waits for it.
  ~FtpBugScan();
  FtpBugScan(const FtpBugScan&) = delete;
  FtpBugScan& operator=(const FtpBugScan&) = delete;

  // Starts a scan on a worker thread; false (and nothing done) while one runs.
  bool Start(FtpBugScanInput input);
  // Runs a scan on the calling thread; kFailed without running while
  // another one runs.
  FtpBugScanResult Run(const FtpBugScanInput& input);
  // Asks a running scan to end; it finishes the pair of posts in hand first.
  void Stop();
  bool Running() const { return running_.load(); }
  // Waits until the worker started last has ended.
  void Wait();

 private:
  class Pass;

  bool Claim();
  FtpBugScanResult RunClaimed(const FtpBugScanInput& input);

  CSetting& setting_;
  IFtpBugScanListener& listener_;
  FtpBugScanOptions options_;
  std::atomic<bool> running_{false};
  std::atomic<bool> stop_{false};
  std::atomic<bool> abort_{false};  // the object is going away
  std::mutex pauseMutex_;
  std::condition_variable pauseWake_;
  std::mutex threadMutex_;  // guards worker_
  std::thread worker_;
};

}  // namespace tav
