#include "shell/SettingsPages.h"

#include <algorithm>
#include <climits>

#include "platform/TextCodec.h"

namespace tav {
namespace {

std::u16string Number(long long value) {
  std::string digits = std::to_string(value);
  return std::u16string(digits.begin(), digits.end());
}

int Flag(bool checked) { return checked ? 1 : 0; }

std::u16string_view TrimmedSpaces(std::u16string_view text) {
  while (!text.empty() && text.front() == u' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == u' ') text.remove_suffix(1);
  return text;
}

// A domain suffix without its leading dot, for a label.
std::u16string BareDomain(const std::string& domain) {
  std::u16string text = Cp932ToUtf16(domain);
  if (!text.empty() && text.front() == u'.') text.erase(0, 1);
  return text;
}

}  // namespace

int ParseDecimalEntry(std::u16string_view text) {
  text = TrimmedSpaces(text);
  if (text.empty()) return 0;
  long long value = 0;
  for (char16_t c : text) {
    if (c < u'0' || c > u'9') return 0;
    value = std::min<long long>(value * 10 + (c - u'0'), INT_MAX);
  }
  return static_cast<int>(value);
}

std::u16string NumberedLabel(int position, std::u16string_view name) {
  return Number(position) + u". " + std::u16string(name);
}

std::optional<HostPort> SplitHostPort(std::u16string_view text) {
  const std::size_t colon = text.find(u':');
  if (colon == std::u16string_view::npos) return std::nullopt;
  return HostPort{std::u16string(text.substr(0, colon)), ParseDecimalEntry(text.substr(colon + 1))};
}

// --- 基本 ---

void BasicPage::Load(const SettingValues& v) {
  hostPort = v.GatewayHost.Wide() + u":" + Number(v.GatewayPort);
  datMode = v.DatMode;
  enableFakeUA = v.EnableFakeUA != 0;
  fakeUA = v.FakeUA.Wide();
  htmlSSL = v.HtmlSSL != 0;
  subjectSubback = v.SubjectSubback != 0;
  kakoLogHtml = v.KakoLogHtml != 0;
  writeUrlencoded = v.WriteUrlencoded != 0;
  writeAcceptHeader = v.WriteAcceptHeader != 0;
  windowMinimize = v.WindowMinimize != 0;
  noExitDialog = v.ExitDialog == 0;
}

void BasicPage::Store(SettingValues& v) const {
  if (std::optional<HostPort> split = SplitHostPort(hostPort)) {
    v.GatewayHost.SetWide(split->host);
    v.GatewayPort = split->port;
  }
  // "直接" is stored as chosen: the boards serve dat files to readers again.
  v.DatMode = datMode;
  v.EnableFakeUA = Flag(enableFakeUA);
  v.FakeUA.SetWide(fakeUA);
  v.HtmlSSL = Flag(htmlSSL);
  v.SubjectSubback = Flag(subjectSubback);
  v.KakoLogHtml = Flag(kakoLogHtml);
  v.WriteUrlencoded = Flag(writeUrlencoded);
  v.WriteAcceptHeader = Flag(writeAcceptHeader);
  v.WindowMinimize = Flag(windowMinimize);
  v.ExitDialog = noExitDialog ? 0 : 1;
}

// --- 通信 ---

void NetworkPage::Load(const SettingValues& v) {
  connectTimeOut = Number(v.ConnectTimeOut);
  receiveTimeOut = Number(v.ReceiveTimeOut);
  proxyMode = v.ProxyMode;
  proxy = v.Proxy.Wide();
  bufferKB = Number(v.RecvBufferSize / 1024);
  multiReadThread = v.MultiReadThread != 0;
  closeConnection = v.CloseConnection != 0;
  allowFrom = v.AllowFrom.Wide();
}

void NetworkPage::Store(SettingValues& v) const {
  // The time-outs are stored as typed; loading raises them to 1000 again.
  v.ConnectTimeOut = ParseDecimalEntry(connectTimeOut);
  v.ReceiveTimeOut = ParseDecimalEntry(receiveTimeOut);
  v.ProxyMode = proxyMode;
  v.Proxy.SetWide(proxy);
  // At least 1 KB; an entry too large for the byte count is capped.
  const int kb = std::clamp(ParseDecimalEntry(bufferKB), 1, INT_MAX / 1024);
  v.RecvBufferSize = kb * 1024;
  v.MultiReadThread = Flag(multiReadThread);
  v.CloseConnection = Flag(closeConnection);
  v.AllowFrom.SetWide(allowFrom);
}

// --- ログビュー ---

void LogViewPage::Load(const SettingValues& v) {
  std::array<int, 8> sorted = v.ColumnOrder;
  std::sort(sorted.begin(), sorted.end());
  // The window hands over the order it shows; anything else lists 0-7.
  const bool permutation = sorted == kDefaultColumnOrder;
  const std::array<int, 8>& order = permutation ? v.ColumnOrder : kDefaultColumnOrder;
  columns.Replace(std::vector<int>(order.begin(), order.end()), -1);
  logMax = v.LogMax;
}

void LogViewPage::Store(SettingValues& v) const {
  for (std::size_t i = 0; i < v.ColumnOrder.size(); ++i) v.ColumnOrder[i] = columns.Items()[i];
  v.LogMax = logMax;
}

void LogViewPage::ResetColumns() {
  columns.Replace(std::vector<int>(kDefaultColumnOrder.begin(), kDefaultColumnOrder.end()),
                  columns.Selected());
}

// --- JaneStyle ---

void JaneStylePage::Load(const SettingValues& v) {
  path = v.JaneStylePath.Wide();
  logsPath = v.LogsPath.Wide();
}

void JaneStylePage::Store(SettingValues& v) const {
  v.JaneStylePath.SetWide(TruncatedText(path, kPathTextMax));
  v.LogsPath.SetWide(TruncatedText(logsPath, kPathTextMax));
}

// --- HTML ---

void HtmlPage::Load(const SettingValues& v) {
  diffMode = v.DiffMode;
  datCacheCount = v.DatCacheCount;
  userAgent = v.HtmlUserAgent.Wide();
  applyAllUA = v.ApplyAllUA != 0;
  removeHalfSpace = v.HtmlRemoveHalfSpace != 0;
  fixBRBR = v.FixBRBR != 0;
  fixFTPBug = v.FixFTPBug != 0;
}

void HtmlPage::Store(SettingValues& v) const {
  v.DiffMode = diffMode;
  v.DatCacheCount = std::max(datCacheCount, 1);
  v.HtmlUserAgent.SetWide(userAgent);
  v.ApplyAllUA = Flag(applyAllUA);
  v.HtmlRemoveHalfSpace = Flag(removeHalfSpace);
  v.FixBRBR = Flag(fixBRBR);
  v.FixFTPBug = Flag(fixFTPBug);
}

// --- Ronin ---

void RoninPage::Load(const SettingValues& v) {
  loginAPI = v.LoginAPI != 0;
  id = v.RoninID.Wide();
  pass = v.RoninPass.Wide();
}

void RoninPage::Store(SettingValues& v) const {
  v.LoginAPI = Flag(loginAPI);
  v.RoninID.SetWide(id);
  v.RoninPass.SetWide(pass);
}

// --- JSON ---

void JsonPage::Load(const SettingValues& v) {
  useHtmlUA = v.UseHtmlUA != 0;
  userAgent = v.JsonUserAgent.Wide();
  removeHalfSpace = v.JsonRemoveHalfSpace != 0;
}

void JsonPage::Store(SettingValues& v) const {
  v.UseHtmlUA = Flag(useHtmlUA);
  v.JsonUserAgent.SetWide(userAgent);
  v.JsonRemoveHalfSpace = Flag(removeHalfSpace);
}

// --- 5ch ---

void FiveChPage::Load(const SettingValues& v) {
  use5ch = v.Use5ch != 0;
  networkReplace = v.NetworkReplace != 0;
}

void FiveChPage::Store(SettingValues& v) const {
  v.Use5ch = Flag(use5ch);
  v.NetworkReplace = Flag(networkReplace);
}

std::u16string FiveChPage::NetworkReplaceLabel(const BoardDomains& domains) {
  return BareDomain(domains.Primary) + u"への通信をすべて" + BareDomain(domains.Secondary) + u"に送る";
}

}  // namespace tav
