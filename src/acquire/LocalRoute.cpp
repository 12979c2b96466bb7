#include "acquire/LocalRoute.h"

#include <algorithm>
#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "acquire/DatAnswer.h"
#include "acquire/ReaderDiscovery.h"
#include "acquire/DrivenReader.h"
#include "config/StringTable.h"
#include "net/CGateway.h"
#include "net/IShell.h"
#include "net/Request.h"
#include "net/ReaderSocket.h"
#include "platform/DirectoryWatcher.h"
#include "platform/TextCodec.h"

namespace tav {
namespace {

using std::chrono::milliseconds;

constexpr int kNotConfigured = 33033;    // "JaneStyleの設定がされていません"
constexpr int kReaderNotFound = 33034;   // "JaneStyleの補足に失敗しました"
constexpr int kAddressNotFound = 33038;  // "JaneStyle小ウィンドウの補足に失敗しました"
constexpr int kUtilityCommand = 724;
constexpr milliseconds kWindowWait{1000};
constexpr int kAddressBoxRetries = 6;
constexpr milliseconds kWatchStep{500};
constexpr std::size_t kAddressPartLimit = 255;
// Names longer than the platform's change record holds are skipped.
constexpr std::size_t kMaxRecordNameUnits = 998;

int Warn(CGateway& ctx, int code) {
  if (ctx.shell != nullptr) ctx.shell->ShowWarning(code);
  return code;
}

// The automation cannot reach the reader at all: says what is missing.
int ReaderUnreachable(CGateway& ctx, const std::string& reason) {
  if (ctx.shell != nullptr)
    ctx.shell->ShowMessage(kProgramTitle, u"JaneStyleを操作できません: " + Utf8ToUtf16(reason));
  return kReaderNotFound;
}

bool IsLocalForm(const CDoubleString& path) { return path.Wide().starts_with(u"/"); }

// `Path` as the reader's window system names it.
std::optional<std::u16string> ReaderFormOf(ReaderWindows& windows, const CDoubleString& path) {
  if (!IsLocalForm(path)) return path.Wide();
  return windows.ReaderPath(path.Utf8());
}

// `LogsPath` as a folder of this machine.
std::optional<std::string> LocalFormOf(ReaderWindows& windows, const CDoubleString& path) {
  if (IsLocalForm(path)) return path.Utf8();
  return windows.LocalPath(path.Wide());
}

// The thread's read.cgi address under the board domain of the request.
std::u16string ThreadUrl(const SettingValues& cfg, const Request& request, const ThreadRef& thread) {
  const BoardDomains& domains = cfg.Domains;
  const bool adult = !domains.Adult.empty() && request.host.find(domains.Adult) != std::string::npos;
  const std::string& domain = adult ? domains.Adult : cfg.Use5ch != 0 ? domains.Secondary : domains.Primary;
  return Cp932ToUtf16("http://" + thread.server + domain + "/test/read.cgi/" + thread.board + "/" +
                      thread.key + "/");
}

void SendUtilityCommand(ReaderWindows& windows, const ReaderWindowSet& found) {
  for (WindowHandle utility : found.utilities) windows.SendCommand(utility, kUtilityCommand);
}

// Watches the log folder until a dat file is added or changed, or until the
// waits without news add up to more than `timeout`. The text of
// "<key>.dat" when it was added and could be read in time, NULs as "*".
std::optional<std::string> WatchForDat(DirectoryWatcher& watcher, const std::string& logs,
                                       const std::string& key, milliseconds timeout) {
  const std::string wanted = key + ".dat";
  // A folder that keeps changing must not keep the worker either: the
  // watch also ends once that much time has passed in all.
  const auto deadline = std::chrono::steady_clock::now() + timeout + kWatchStep;
  milliseconds waited{0};
  std::optional<std::string> text;
  std::vector<FileChange> batch;
  while (std::chrono::steady_clock::now() < deadline) {
    const WatchWait outcome = watcher.Wait(kWatchStep, batch);
    if (outcome == WatchWait::kFailed) break;
    if (outcome == WatchWait::kTimedOut) {
      waited += kWatchStep;
      if (waited > timeout) break;
      continue;
    }
    bool final = false;
    for (const FileChange& change : batch) {
      if (Utf8ToUtf16(change.name).size() > kMaxRecordNameUnits) continue;
      if (change.name.find(".dat") == std::string::npos) continue;
      final = true;
      if (change.action != FileAction::kAdded || text || change.name.find(wanted) == std::string::npos)
        continue;
      // A file its writer still holds is tried again every 500 ms while
      // the watch has time left.
      std::string bytes;
      FileRead read;
      while ((read = DirectoryWatcher::ReadUnlessWritten(logs + "/" + change.name, bytes)) ==
                 FileRead::kHeldByWriter &&
             waited + kWatchStep <= timeout && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(kWatchStep);
        waited += kWatchStep;
      }
      if (read != FileRead::kRead) continue;
      for (char& c : bytes) {
        if (c == '\0') c = '*';
      }
      text = std::move(bytes);
    }
    if (final) break;
  }
  return text;
}

int AnswerFromReader(CGateway& ctx, const Request& request, std::int64_t& bytesSent) {
  if (!ctx.cfg || ctx.drivenReader == nullptr) return -1;
  const SettingValues& cfg = *ctx.cfg;

  // Finding the driven reader.
  if (cfg.JaneStylePath.Empty() || cfg.LogsPath.Empty()) return Warn(ctx, kNotConfigured);
  DrivenReader& driven = *ctx.drivenReader;
  const std::shared_ptr<ReaderWindows> windowsHolder = driven.Windows();
  ReaderWindows& windows = *windowsHolder;
  if (const std::string missing = windows.Unavailable(); !missing.empty())
    return ReaderUnreachable(ctx, missing);
  const std::optional<std::u16string> readerPath = ReaderFormOf(windows, cfg.JaneStylePath);
  if (!readerPath) return ReaderUnreachable(ctx, "winepath could not convert " + cfg.JaneStylePath.Utf8());

  ReaderWindowSet found;
  FindReaderWindows(windows, *readerPath, found);
  if (!found.mainFound) {
    // A reader under Wine takes seconds to show its window: after the first
    // wait it is looked for again every second while ReceiveTimeOut lasts.
    const bool started = windows.StartProgram(*readerPath);
    milliseconds waited{0};
    do {
      driven.Wait(kWindowWait);
      waited += kWindowWait;
      found.utilities.clear();
      found.mainFound = false;
      FindReaderWindows(windows, *readerPath, found);
    } while (!found.mainFound && started && waited < milliseconds(cfg.ReceiveTimeOut));
    if (!found.mainFound) return Warn(ctx, kReaderNotFound);
    windows.BringToFront(found.main, kWindowWait);
  }

  found.addressFound = false;
  FindAddressBox(windows, found);
  for (int retry = 0; !found.addressFound && retry < kAddressBoxRetries; ++retry) {
    driven.Wait(kWindowWait);
    FindAddressBox(windows, found);
  }
  if (!found.addressFound) return Warn(ctx, kAddressNotFound);

  windows.Minimise(found.main);
  driven.RecordMainWindow(found.main);

  // Fetching through the driven reader.
  if (request.target.find("/dat/") == std::string::npos || request.thread.kind == ThreadKind::None) return -1;
  ThreadRef thread = request.thread;
  for (std::string* part : {&thread.server, &thread.board, &thread.key})
    part->resize(std::min(part->size(), kAddressPartLimit));

  const std::optional<std::string> logs = LocalFormOf(windows, cfg.LogsPath);
  DirectoryWatcher watcher;
  if (!logs || !watcher.Open(*logs)) return -1;

  SendUtilityCommand(windows, found);
  windows.SetText(found.addressBox, ThreadUrl(cfg, request, thread));
  windows.PressEnter(found.addressBox);

  const std::optional<std::string> text =
      WatchForDat(watcher, *logs, thread.key, milliseconds(cfg.ReceiveTimeOut));

  found.addressFound = false;
  FindAddressBox(windows, found);
  SendUtilityCommand(windows, found);
  if (!text) return -1;

  // Answer.
  const std::string answer = BuildReaderFileAnswer(*text, request.rangeStart);
  std::int64_t length = static_cast<std::int64_t>(answer.size());
  SendToReader(ctx, ctx.readerSocket, answer.data(), length);
  bytesSent = length;
  return 0;
}

}  // namespace

RouteResult GetDatByReader(CGateway& ctx, const Request& request, const RouteOptions&) {
  std::int64_t bytesSent = 0;
  const int status = AnswerFromReader(ctx, request, bytesSent);
  return RouteResult::FromCode(status, bytesSent);
}

}  // namespace tav
