#pragma once
// Both ends of one loopback TCP connection standing in for a reader's
// connection to the proxy: ProxySide() is handed to the code under test as
// the reader socket (non-blocking, as the proxy's workers keep it), while
// the test plays the reader on ReaderSide().
//
//   ReaderSocketPair pair;
//   pair.StartCollecting();                  // read the reader's side in the background
//   ... code under test writes to pair.ProxySide() ...
//   pair.CloseProxySide();                   // the proxy is done
//   std::string got = pair.WaitForEnd(1s);   // everything the reader received

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

namespace tav::test {

class ReaderSocketPair {
 public:
  ReaderSocketPair();
  ~ReaderSocketPair();
  ReaderSocketPair(const ReaderSocketPair&) = delete;
  ReaderSocketPair& operator=(const ReaderSocketPair&) = delete;

  int ProxySide() const { return proxySide_; }
  int ReaderSide() const { return readerSide_; }

  // Writes bytes as the reader (blocking).
  void SendFromReader(std::string_view bytes);
  // Ends the reader's sending direction (the proxy then reads the end).
  void ShutdownReaderSending();
  // Closes the proxy's end: the reader sees the end of the stream.
  void CloseProxySide();

  // Reads the reader's side on a thread of its own, keeping every byte.
  void StartCollecting();
  std::string Collected() const;
  // True when at least `count` bytes arrived within `timeout`.
  bool WaitForBytes(std::size_t count, std::chrono::milliseconds timeout) const;
  // True when `text` appeared in the collected bytes within `timeout`.
  bool WaitForText(std::string_view text, std::chrono::milliseconds timeout) const;
  // Waits for the end of the stream (or the timeout); returns what arrived.
  std::string WaitForEnd(std::chrono::milliseconds timeout) const;
  bool Ended() const;

 private:
  void Collect();

  int proxySide_ = -1;
  int readerSide_ = -1;
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::string collected_;
  bool ended_ = false;
  std::thread collector_;
};

}  // namespace tav::test
