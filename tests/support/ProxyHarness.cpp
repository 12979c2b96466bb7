#include "support/ProxyHarness.h"

namespace tav::test {

ProxyHarness::ProxyHarness(const Configure& configure, bool start) : shell_(setting_) {
  setting_.Update([&](SettingValues& values) {
    values.GatewayPort = 0;
    // Requests the proxy sends upstream go through a loopback port that
    // refuses them, so that no test ever reaches a real host. Tests that
    // want answers name their own upstream (a FakeHttpServer) as Proxy.
    values.ProxyMode = 2;
    values.Proxy = CDoubleString::FromUtf8(kRefusingProxy);
    if (configure) configure(values);
  });
  server_ = std::make_unique<ProxyServer>(setting_, shell_);
  if (start) Start();
}

ProxyHarness::~ProxyHarness() { server_->Stop(); }

int ProxyHarness::Start() { return server_->CreateListener(); }

}  // namespace tav::test
