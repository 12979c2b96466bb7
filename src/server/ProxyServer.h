#pragma once
// The listener and the connection workers. The server owns every
// connection and can end them all.

#include <atomic>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "acquire/ApiSessionCache.h"
#include "acquire/DrivenReader.h"

namespace tav {

class Clock;
class CBregOnig;
class CSetting;
class CDatCache;
class IShell;
struct CBrowserSocket;

// Listener status codes (string-table ids).
enum ListenerStatus : int {
  kListenerReady = 0,
  kSocketFailed = 10,
  kResolveFailed = 11,
  kBindFailed = 12,
  kListenFailed = 13,
  kSelectFailed = 14,
};

class ProxyServer {
 public:
  ProxyServer(CSetting& setting, IShell& shell, CDatCache* datCache = nullptr);
  ~ProxyServer();
  ProxyServer(const ProxyServer&) = delete;
  ProxyServer& operator=(const ProxyServer&) = delete;

  // Binds GatewayHost:GatewayPort and starts accepting. 0 or a code 10-14;
  // the caller reports a code to the user.
  int CreateListener();
  // The port actually bound (useful with GatewayPort 0).
  int Port() const { return port_; }

  // Closes the listener, ends every worker still serving (its socket shut
  // down, its thread joined) and releases the records. Idempotent.
  void Stop();

  // Connections whose worker has not finished yet.
  std::size_t ActiveConnections() const;

  // The board API's session, shared by every request of this server.
  ApiSessionCache& ApiSession() { return apiSession_; }
  // The pattern engine of the converters.
  const CBregOnig& Regex() const { return *regex_; }
  // The reader instance the local route drives; its main window is sent a
  // close message when the server goes.
  DrivenReader& Reader() { return drivenReader_; }

  // The clock handed to every request (tests move time with their own).
  // Call before CreateListener().
  void SetClock(const Clock& clock) { clock_ = &clock; }

 private:
  void AcceptLoop();
  void OnAccept();
  // A complete access-log row for a connection refused by AllowFrom.
  void LogRefused(const std::string& peer);
  void ServeConnection(CBrowserSocket& record);
  void ServeRequests(CBrowserSocket& record);
  void ReapFinished();

  CSetting& setting_;
  IShell& shell_;
  std::recursive_mutex dispatchLock_;  // serialises requests when MultiReadThread is 0
  ApiSessionCache apiSession_;
  DrivenReader drivenReader_;
  std::unique_ptr<CBregOnig> regex_;
  CDatCache* datCache_;
  const Clock* clock_;
  int listenSocket_ = -1;
  int wakePipe_[2] = {-1, -1};
  int port_ = 0;
  std::atomic<bool> stopping_{false};
  std::thread acceptThread_;
  mutable std::mutex connectionsMutex_;
  std::list<std::unique_ptr<CBrowserSocket>> connections_;
};

}  // namespace tav
