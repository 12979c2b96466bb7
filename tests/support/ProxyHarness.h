#pragma once
// A proxy on an ephemeral loopback port with a recording shell, for end-to-end
// tests: a test's reader connects to Port().
//
// Unless a test configures otherwise, every upstream request of the proxy
// goes to Sink(), a local fake server acting as the upstream proxy, so that
// no test ever reaches a real host, whatever name its request carries.

#include <functional>
#include <memory>
#include <string>

#include "acquire/CDatCache.h"
#include "server/ProxyServer.h"
#include "config/CSetting.h"
#include "support/FakeHttpServer.h"
#include "support/RecordingShell.h"

namespace tav::test {

// A loopback address where nothing listens: a CONNECT target that fails at
// once without a name lookup.
inline constexpr const char* kRefusingProxy = "127.0.0.1:1";

class ProxyHarness {
 public:
  using Configure = std::function<void(SettingValues&)>;
  explicit ProxyHarness(const Configure& configure = {}, bool start = true);
  ~ProxyHarness();

  int Start();  // 0 or the listener's code
  int Port() const { return server_->Port(); }
  CSetting& Setting() { return setting_; }
  RecordingShell& Shell() { return shell_; }
  CDatCache& DatCache() { return datCache_; }
  ProxyServer& Server() { return *server_; }
  FakeHttpServer& Sink() { return sink_; }
  void Stop() { server_->Stop(); }

  // Sends one reader request on a new connection and returns everything the
  // proxy answers until it closes (or stays silent for `idleMs`).
  std::string Ask(const std::string& request, int idleMs = 3000);

 private:
  FakeHttpServer sink_;
  CSetting setting_;
  RecordingShell shell_;
  CDatCache datCache_;
  std::unique_ptr<ProxyServer> server_;
};

}  // namespace tav::test
