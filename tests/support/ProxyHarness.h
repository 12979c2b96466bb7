#pragma once
// A proxy on an ephemeral loopback port with a recording shell, for end-to-end
// tests: a test's reader connects to Port().

#include <functional>
#include <memory>

#include "core/ProxyServer.h"
#include "shell/CSetting.h"
#include "support/RecordingShell.h"

namespace tav::test {

// A loopback address where nothing listens: the harness's default upstream
// proxy, and a CONNECT target that fails at once without a name lookup.
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
  ProxyServer& Server() { return *server_; }
  void Stop() { server_->Stop(); }

 private:
  CSetting setting_;
  RecordingShell shell_;
  std::unique_ptr<ProxyServer> server_;
};

}  // namespace tav::test
