#include "acquire/ApiAuth.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <cstdio>
#include <cstring>
#include <mutex>
#include <optional>

#include "net/CGateway.h"
#include "net/IShell.h"
#include "net/UpstreamClient.h"
#include "platform/TextCodec.h"
#include "acquire/ApiSessionCache.h"
#include "config/CSetting.h"

namespace tav {
namespace {

constexpr std::size_t kSha256Length = 32;
constexpr std::string_view kSessionMarker = "SESSION-ID=Monazilla/1.00:";
constexpr std::size_t kLoginHeaderLimit = 1024;

void FillRecord(const unsigned char (&digest)[kSha256Length], DigestRecord& record) {
  for (std::size_t i = 0; i < 8; ++i) {
    record.words[i] = static_cast<std::uint32_t>(digest[4 * i]) << 24 |
                      static_cast<std::uint32_t>(digest[4 * i + 1]) << 16 |
                      static_cast<std::uint32_t>(digest[4 * i + 2]) << 8 |
                      static_cast<std::uint32_t>(digest[4 * i + 3]);
  }
  const std::uint32_t* w = record.words;
  std::snprintf(record.hex, sizeof record.hex, "%08x%08x%08x%08x%08x%08x%08x%08x", w[0], w[1], w[2], w[3],
                w[4], w[5], w[6], w[7]);
}

// Everything the login sends, built before the session cache is consulted.
struct LoginRequest {
  std::string url;
  std::string headerLines;
  std::string body;
};

std::string ApiHost(const SettingValues& cfg) {
  return cfg.Use5ch != 0 ? cfg.Domains.ApiSecondary : cfg.Domains.ApiPrimary;
}

// nullopt when a text would exceed its limit.
std::optional<LoginRequest> BuildLoginRequest(const SettingValues& cfg, const C2chAPIInfo& profile,
                                              std::string_view loginId, std::string_view password,
                                              std::string_view appKey, std::string_view ct,
                                              std::string_view hmKey) {
  const std::string message = std::string(appKey) + std::string(ct);
  if (message.size() > kApiTextLimit) return std::nullopt;
  DigestRecord hm;
  if (!HmacSha256Hex(message.c_str(), std::string(hmKey).c_str(), &hm)) return std::nullopt;

  LoginRequest login;
  login.body = "ID=" + std::string(loginId) + "&PW=" + std::string(password) + "&KY=" + std::string(appKey) +
               "&CT=" + std::string(ct) + "&HM=" + hm.hex;
  if (login.body.size() > kApiTextLimit) return std::nullopt;
  login.headerLines =
      "X-2ch-UA: " + profile.XUserAgent.Narrow() + "\r\nContent-Type: application/x-www-form-urlencoded\r\n";
  if (login.headerLines.size() > kLoginHeaderLimit) return std::nullopt;
  login.url = "https://" + ApiHost(cfg) + "/v1/auth/";
  return login;
}

// The reuse rule: SIDTime -1 keeps a session for ever, 0 never reuses it,
// otherwise it lives SIDTime minutes from the last login attempt.
bool SessionReusable(const ApiSessionCache& session, int sidTimeMinutes, std::int64_t now) {
  if (session.sessionId.empty()) return false;
  if (sidTimeMinutes == -1) return true;
  if (sidTimeMinutes == 0) return false;
  return now - session.sessionTime < static_cast<std::int64_t>(sidTimeMinutes) * 60;
}

int SendLogin(CGateway& ctx, const C2chAPIInfo& profile, const LoginRequest& login, std::string& sessionId) {
  FetchRequest request;
  request.method = "POST";
  request.url = login.url;
  request.agent = profile.UserAgentAuth.Narrow();
  request.headerLines = login.headerLines;
  request.body = login.body;
  request.acceptType = "Accept: */*";
  request.logFlag = true;

  FetchResponse response;
  if (!FetchUrl(ctx, request, &response, nullptr)) return -1;
  if (response.headers.find("\r\n\r\n") == std::string::npos) return 0;  // no body: an empty id

  const std::size_t marker = response.body.find(kSessionMarker);
  if (marker == std::string::npos) {
    if (ctx.shell != nullptr) ctx.shell->ShowMessage(u"API認証エラー", Cp932ToUtf16(response.body));
    return -1;
  }
  std::string_view id = std::string_view(response.body).substr(marker + kSessionMarker.size());
  if (id.size() > kApiTextLimit) return -1;
  sessionId.assign(id);
  return 0;
}

}  // namespace

bool Sha256Hex(const void* data, std::size_t length, DigestRecord* record) {
  if (record == nullptr) return false;
  const char* bytes = data != nullptr ? static_cast<const char*>(data) : "";
  if (length == 0) length = std::strlen(bytes);
  unsigned char digest[kSha256Length];
  unsigned int digestLength = 0;
  if (EVP_Digest(bytes, length, digest, &digestLength, EVP_sha256(), nullptr) != 1 ||
      digestLength != kSha256Length) {
    return false;
  }
  FillRecord(digest, *record);
  return true;
}

bool HmacSha256Hex(const char* message, const char* key, DigestRecord* record) {
  if (record == nullptr) return false;
  if (message == nullptr) message = "";
  if (key == nullptr) key = "";
  unsigned char digest[kSha256Length];
  unsigned int digestLength = 0;
  // OpenSSL applies the RFC 2104 rules itself: a key longer than the 64-byte
  // block is first replaced by its SHA-256 digest.
  const unsigned char* done =
      HMAC(EVP_sha256(), key, static_cast<int>(std::strlen(key)),
           reinterpret_cast<const unsigned char*>(message), std::strlen(message), digest, &digestLength);
  if (done == nullptr || digestLength != kSha256Length) return false;
  FillRecord(digest, *record);
  return true;
}

int Authenticate(CGateway& ctx, std::string_view loginId, std::string_view password, std::string_view appKey,
                 std::string_view ct, std::string_view hmKey, std::string& sessionId) {
  sessionId.clear();
  const C2chAPIInfo* profile = ctx.cfg ? ctx.cfg->CurrentProfile() : nullptr;
  if (profile == nullptr || ctx.apiSession == nullptr) return -1;
  const std::optional<LoginRequest> login =
      BuildLoginRequest(*ctx.cfg, *profile, loginId, password, appKey, ct, hmKey);

  ApiSessionCache& session = *ctx.apiSession;
  {
    // The reuse test and the time stamp of a new attempt happen under one
    // hold of the lock; the login itself runs without it, so two workers
    // that both find the session stale may both log in.
    std::lock_guard lock(session.mutex);
    const std::int64_t now = ctx.clock->UnixSeconds();
    if (SessionReusable(session, ctx.cfg->SIDTime, now)) {
      sessionId = session.sessionId;
      return 0;
    }
    if (!login) return -1;
    session.sessionTime = now;
  }
  return SendLogin(ctx, *profile, *login, sessionId);
}

}  // namespace tav
