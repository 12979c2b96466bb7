#pragma once
// End-to-end setting of the API tests: a reader on a loopback socket, the
// proxy in API mode (DatMode 1), and a fake API answering over TLS. The proxy
// reaches the API hosts (api.5ch.net, api.2ch.net) through the fake server
// acting as its upstream CONNECT proxy, so the real host names, the https
// URLs and the certificate check are all exercised and no byte leaves the
// loopback interface. Time comes from a clock the test moves.

#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <atomic>
#include <cstdio>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Clock.h"
#include "config/CSetting.h"
#include "support/FakeHttpServer.h"
#include "support/LoopbackClient.h"
#include "support/ProxyHarness.h"
#include "support/ScopedEnvironment.h"
#include "support/TestCertificateAuthority.h"

namespace tav::test {

// A clock that stands still until the test moves it.
class FixedClock : public Clock {
 public:
  explicit FixedClock(std::int64_t now) : now_(now) {}
  std::int64_t UnixSeconds() const override { return now_.load(); }
  void Set(std::int64_t now) { now_.store(now); }

 private:
  std::atomic<std::int64_t> now_;
};

inline constexpr std::int64_t kStartTime = 1'700'000'000;
inline constexpr const char* kAppKey = "AppKeyForTests0123";
inline constexpr const char* kHmKey = "HmKey-for-tests-4567";
inline constexpr const char* kAuthAgent = "DOLIB/1.00";
inline constexpr const char* kDatAgent = "Monazilla/1.00 (TestReader/1.0)";
inline constexpr const char* kBoardHost = "egg.5ch.net";
inline constexpr const char* kDatPath = "/software/dat/1234567890.dat";
inline constexpr const char* kSessionPrefix = "SESSION-ID=Monazilla/1.00:";

// HMAC-SHA256 straight from OpenSSL, as lowercase hex: the tests' own
// computation of the values the proxy sends.
inline std::string ExpectedHmac(std::string_view key, std::string_view message) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  HMAC(EVP_sha256(), key.data(), static_cast<int>(key.size()),
       reinterpret_cast<const unsigned char*>(message.data()), message.size(), digest, &length);
  std::string hex;
  char byte[3];
  for (unsigned int i = 0; i < length; ++i) {
    std::snprintf(byte, sizeof byte, "%02x", digest[i]);
    hex += byte;
  }
  return hex;
}

// Splits a "name=value&..." body into its values by name (no decoding: the
// proxy sends the values as they are).
inline std::string FormValue(std::string_view body, std::string_view name) {
  const std::string wanted = std::string(name) + "=";
  std::size_t start = 0;
  while (start <= body.size()) {
    std::size_t end = body.find('&', start);
    if (end == std::string_view::npos) end = body.size();
    const std::string_view pair = body.substr(start, end - start);
    if (pair.starts_with(wanted)) return std::string(pair.substr(wanted.size()));
    start = end + 1;
  }
  return "<missing>";
}

class ApiEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    env_.ClearProxyAndCaVariables();
    env_.Set("SSL_CERT_FILE", TestCertificateAuthority::Instance().CaFile());
    api_.SetHandler([this](const ReceivedRequest& request) { return Answer(request); });
  }
  void TearDown() override {
    proxy_.reset();
    api_.Stop();  // before the answer queues go
  }

  // The proxy in API mode with a complete test profile; `configure` may
  // change anything afterwards.
  void StartProxy(const ProxyHarness::Configure& configure = {}) {
    const std::string upstream = api_.Authority();
    proxy_ = std::make_unique<ProxyHarness>(
        [&](SettingValues& values) {
          values.DatMode = 1;
          values.ProxyMode = 2;
          values.Proxy = CDoubleString::FromUtf8(upstream);
          values.SIDTime = 720;
          C2chAPIInfo& profile = values.ApiProfiles.at(0);
          profile.AppKey = CDoubleString::FromUtf8(kAppKey);
          profile.HMKey = CDoubleString::FromUtf8(kHmKey);
          profile.UserAgentAuth = CDoubleString::FromUtf8(kAuthAgent);
          profile.UserAgent = CDoubleString::FromUtf8(kDatAgent);
          if (configure) configure(values);
        },
        false);
    proxy_->Server().SetClock(clock_);
    ASSERT_EQ(proxy_->Start(), 0);
  }

  // Answers of the fake API for the next logins and dat requests. A login
  // without a queued answer gets a fresh id "SID1", "SID2", ...; a dat
  // request without one gets a small dat.
  void QueueLogin(ScriptedResponse answer) {
    std::lock_guard lock(mutex_);
    logins_.push_back(std::move(answer));
  }
  void QueueDat(ScriptedResponse answer) {
    std::lock_guard lock(mutex_);
    dats_.push_back(std::move(answer));
  }

  // The reader's dat request (absolute target, as a reader talks to its proxy).
  static std::string DatRequest(std::string_view extraLines = {}, std::string_view host = kBoardHost,
                                std::string_view path = kDatPath) {
    return "GET http://" + std::string(host) + std::string(path) + " HTTP/1.1\r\nHost: " + std::string(host) +
           "\r\nUser-Agent: Monazilla/1.00 (JaneStyle/3.83)\r\n" + std::string(extraLines) + "\r\n";
  }

  // Sends one request as the reader, reads until the proxy closes, and waits
  // until the request's log row has its outcome.
  std::string Exchange(const std::string& request) {
    const std::size_t rowsBefore = proxy_->Shell().FinishedRows().size();
    LoopbackClient reader(proxy_->Port());
    EXPECT_TRUE(reader.Connected());
    EXPECT_TRUE(reader.Send(request));
    std::string answer = reader.ReadAll(10000);
    EXPECT_TRUE(proxy_->Shell().WaitForFinishedRows(rowsBefore + 1, 10000));
    return answer;
  }

  LogRow LastRow() const {
    const auto rows = proxy_->Shell().FinishedRows();
    return rows.empty() ? LogRow{} : rows.back();
  }
  std::u16string LastStatus() const { return LastRow().cells[5]; }

  std::vector<ReceivedRequest> Requests(std::string_view target) const {
    std::vector<ReceivedRequest> found;
    for (const auto& request : api_.Requests()) {
      if (request.method == "CONNECT") continue;
      const bool isLogin = request.target == "/v1/auth/";
      if ((target == "/v1/auth/") == isLogin) found.push_back(request);
    }
    return found;
  }
  std::vector<ReceivedRequest> Logins() const { return Requests("/v1/auth/"); }
  std::vector<ReceivedRequest> DatRequests() const { return Requests("dat"); }
  std::vector<std::string> ConnectTargets() const {
    std::vector<std::string> targets;
    for (const auto& request : api_.Requests()) {
      if (request.method == "CONNECT") targets.push_back(request.target);
    }
    return targets;
  }

  std::string CachedSessionId() {
    ApiSessionCache& session = proxy_->Server().ApiSession();
    std::lock_guard lock(session.mutex);
    return session.sessionId;
  }
  std::int64_t CachedSessionTime() {
    ApiSessionCache& session = proxy_->Server().ApiSession();
    std::lock_guard lock(session.mutex);
    return session.sessionTime;
  }

  static std::string SmallDat() { return "name<>sage<>2024/01/01<> body <>title\n"; }

  FakeHttpServer api_{FakeHttpServer::Options{.tls = false, .acceptConnect = true}};
  ScopedEnvironment env_;
  FixedClock clock_{kStartTime};
  std::unique_ptr<ProxyHarness> proxy_;

 private:
  ScriptedResponse Answer(const ReceivedRequest& request) {
    std::lock_guard lock(mutex_);
    std::deque<ScriptedResponse>& queue = request.target == "/v1/auth/" ? logins_ : dats_;
    if (!queue.empty()) {
      ScriptedResponse next = std::move(queue.front());
      queue.pop_front();
      return next;
    }
    if (request.target == "/v1/auth/")
      return ScriptedResponse::Ok(kSessionPrefix + ("SID" + std::to_string(++issued_)));
    return ScriptedResponse::Ok(SmallDat());
  }

  std::mutex mutex_;
  std::deque<ScriptedResponse> logins_;
  std::deque<ScriptedResponse> dats_;
  int issued_ = 0;
};

}  // namespace tav::test
