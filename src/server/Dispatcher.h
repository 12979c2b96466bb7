#pragma once
// Numbering, parsing, classifying and routing one complete request. The
// access log hears of it through the shell's events.

#include <cstdint>
#include <string_view>

namespace tav {

struct CGateway;
struct Request;
struct SettingValues;

enum RequestClass : int {
  ClassPassThrough = 0,
  ClassSubject = 2,
  ClassKakoHtml = 9,
  ClassDat = 11,
  ClassHeadlineDat = 12,
};

RequestClass ClassifyRequest(const SettingValues& cfg, const Request& request);

// The effective DatMode for the request: DatMode, or with mode 6 the mode of
// the first matching AutoRule (6 when none matches).
int EffectiveMode(const SettingValues& cfg, const Request& request);

enum class DispatchResult {
  Served,          // a route ran (whatever it answered)
  ServedArchived,  // the archived-thread HTML route ran
  Refused,         // the request does not parse; nothing was served
  Fault,           // something thrown while serving ended the request: its
                   // row shows "失敗" and the connection is closed
};

// Dispatches one complete request whose context the worker has filled
// (settings, shell, reader socket). Sets ctx.closeAfter when the reader's
// connection should close after it.
DispatchResult DispatchRequest(CGateway& ctx, std::string_view text);

// Logs a request the proxy refuses to serve with a complete failure row.
void LogBadRequest(CGateway& ctx, std::string_view text);

}  // namespace tav
