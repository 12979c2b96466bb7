#pragma once
// Numbering, parsing, classifying and routing one complete request, and the
// access-log row that records it.

#include <cstdint>
#include <string>
#include <string_view>

namespace tav {

struct CGateway;
struct BoardDomains;

enum RequestClass : int {
  ClassPassThrough = 0,
  ClassSubject = 2,
  ClassKakoHtml = 9,
  ClassDat = 11,
  ClassHeadlineDat = 12,
};

// Whether `host` names a server under one of the board domains.
bool IsBoardHost(const BoardDomains& domains, std::string_view host);

RequestClass ClassifyRequest(const CGateway& ctx);

// The effective DatMode for the request: DatMode, or with mode 6 the mode of
// the first matching AutoRule (6 when none matches).
int EffectiveMode(const CGateway& ctx);

// Result of a dispatch that was ended by a fault (anything thrown while
// serving the request): its row shows "失敗" and the connection is closed.
inline constexpr int kDispatchFault = -3;

// Dispatches one request whose context the worker has filled (settings,
// shell, reader socket). 0 normally, 1 after an archived-thread HTML route,
// -2 for a request that does not parse, kDispatchFault after a fault.
int DispatchRequest(CGateway& ctx, std::string_view request);

// Logs a request the proxy refuses to serve with a complete failure row.
void LogBadRequest(CGateway& ctx, std::string_view request);

// The access-log text for a route status.
std::u16string StatusText(int status, std::uint32_t errorDetail, bool overload);

// Local time as "%04d/%02d/%02d %02d:%02d:%02d".
std::u16string LocalTimeText();

}  // namespace tav
