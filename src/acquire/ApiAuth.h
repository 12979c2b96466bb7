#pragma once
// Login at the board API and the process-wide session id it yields, plus the
// SHA-256 / HMAC-SHA256 digests that both the login and the signed dat
// requests need.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace tav {

struct CGateway;

// A SHA-256 result: the eight state words and their lowercase hex text
// ("%08x" eight times: 64 characters and the terminating NUL).
struct DigestRecord {
  std::uint32_t words[8] = {};
  char hex[72] = {};
};

// Longest text the API exchange works with (login body, HMAC message,
// session id, signature text, dat request body). Longer texts are refused,
// never shortened: nothing is signed or sent over a cut text.
inline constexpr std::size_t kApiTextLimit = 1023;

// SHA-256 of `length` bytes of `data` (0: the string length of `data`).
// False when no record is given or the digest could not be computed.
bool Sha256Hex(const void* data, std::size_t length, DigestRecord* record);

// HMAC-SHA256 of the NUL-terminated `message` under the NUL-terminated `key`.
// False when no record is given or the digest could not be computed.
bool HmacSha256Hex(const char* message, const char* key, DigestRecord* record);

// Gives the session id to use for the API: the cached one while its lifetime
// (SIDTime) lasts, otherwise a new one from a login at "/v1/auth/" of the API
// host. 0 with `sessionId` filled (it may be empty), -1 when the login failed
// or a text was too long. The caller stores the id into the session cache.
//
// An answer without a session id shows the server's text in the message box
// "API認証エラー" and gives -1. Reads the current profile of ctx.cfg.
int Authenticate(CGateway& ctx, std::string_view loginId, std::string_view password, std::string_view appKey,
                 std::string_view ct, std::string_view hmKey, std::string& sessionId);

}  // namespace tav
