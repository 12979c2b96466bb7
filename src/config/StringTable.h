#pragma once
#include <string>

namespace tav {

// Ids of the program's string table that code refers to by name.
enum StringId : int {
  kStrRunning = 1,             // "動作中..."
  kStrIniMissing = 3,
  kStrSocketFailed = 10,
  kStrResolveFailed = 11,      // no text
  kStrPortInUse = 12,
  kStrListenFailed = 13,
  kStrSelectFailed = 14,
  kStrAcceptFailed = 15,
  kStrFailed = 32768,
  kStrProxyError = 32769,          // "プロキシエラー"
  kStrProxyConnectError = 32770,   // "プロキシ接続エラー"
  kStrReceiveTimeout = 32772,      // "受信タイムアウト"
  kStrHostNotFound = 32774,        // "gethostbyname() 失敗"
  kStrConnectFailed = 32775,       // "connect() 失敗"
  kStrOverload = 33028,        // "人大杉"
  kStrApiKeyMissing = 33032,
  kStrSendFailed = 33037,      // "SendHttpRequest失敗"
  kStrGzipError = 33039,
  kStrNoMemory = 33040,
  kStrSessionExpired = 33041,  // "SID期限切れ"
};

// The text of string `id`; empty for an id without text.
std::u16string LoadString(int id);
// Whether `id` names an entry of the table.
bool HasString(int id);

// The main window's title, also the caption of every message box.
inline constexpr const char16_t* kProgramTitle = u"Tavrilox v0.17α";

}  // namespace tav
