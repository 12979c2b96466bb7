#include "support/ProxyHarness.h"

#include "support/LoopbackClient.h"

namespace tav::test {

ProxyHarness::ProxyHarness(const Configure& configure, bool start) : shell_(setting_) {
  setting_.Update([&](SettingValues& values) {
    values.GatewayPort = 0;
    values.ProxyMode = 2;
    values.Proxy = CDoubleString::FromUtf8(sink_.Authority());
    if (configure) configure(values);
  });
  server_ = std::make_unique<ProxyServer>(setting_, shell_, &datCache_);
  if (start) Start();
}

ProxyHarness::~ProxyHarness() { server_->Stop(); }

int ProxyHarness::Start() { return server_->CreateListener(); }

std::string ProxyHarness::Ask(const std::string& request, int idleMs) {
  LoopbackClient reader(Port());
  reader.Send(request);
  return reader.ReadAll(idleMs);
}

}  // namespace tav::test
