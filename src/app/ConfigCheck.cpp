#include "app/ConfigCheck.h"

#include <arpa/inet.h>
#include <netdb.h>

#include <cstdlib>
#include <filesystem>
#include <string_view>
#include <vector>

#include "config/AllowList.h"
#include "config/CSetting.h"
#include "platform/CBregOnig.h"
#include "platform/HostResolver.h"
#include "platform/TextCodec.h"

namespace tav {
namespace {

// What each DatMode does with a thread-data request.
const char* RouteOfMode(int mode) {
  switch (mode) {
    case 0:
    case 5:
      return "pass-through";
    case 1:
      return "board API";
    case 2:
      return "read.cgi page";
    case 3:
      return "second reader instance, not available on Linux";
    case 4:
      return "JSON endpoint";
    case 6:
      return "by AutoRule";
    default:
      return "unknown mode: pass-through";
  }
}

std::string ModeLine(int mode) {
  return std::to_string(mode) + " " + Utf16ToUtf8(ModeName(mode)) + " (" + RouteOfMode(mode) + ")";
}

class Report {
 public:
  explicit Report(std::FILE* out) : out_(out) {}

  void Line(const std::string& text) { std::fprintf(out_, "%s\n", text.c_str()); }
  void Warning(const std::string& text) {
    ++warnings_;
    Line("warning: " + text);
  }
  void Error(const std::string& text) {
    ++errors_;
    Line("error: " + text);
  }
  int Errors() const { return errors_; }
  int Warnings() const { return warnings_; }

 private:
  std::FILE* out_;
  int errors_ = 0;
  int warnings_ = 0;
};

bool LooksLikeHostName(std::string_view host) {
  if (host.empty() || host.size() > 253) return false;
  for (char c : host) {
    bool ok =
        (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '.';
    if (!ok) return false;
  }
  return true;
}

// The listener binds an IPv4 literal, or the first IPv4 address of a name.
void CheckListenAddress(const SettingValues& v, Report& report) {
  const std::string host = v.GatewayHost.Narrow();
  const std::string where = host + ":" + std::to_string(v.GatewayPort);
  std::string address;
  in_addr literal{};
  if (::inet_pton(AF_INET, host.c_str(), &literal) == 1) {
    address = host;
  } else if (LooksLikeHostName(host)) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* result = nullptr;
    if (ResolveHost(host.c_str(), nullptr, &hints, &result) == 0 && result != nullptr) {
      char text[INET_ADDRSTRLEN] = {};
      ::inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(result->ai_addr)->sin_addr, text, sizeof text);
      address = text;
      ::freeaddrinfo(result);
    } else {
      report.Error("[Setting] GatewayHost=" + host + ": the name has no IPv4 address");
    }
  } else {
    report.Error("[Setting] GatewayHost=" + host + ": not an IPv4 address or a host name");
  }
  report.Line("Listen address: " + where + (address.empty() || address == host ? "" : " (" + address + ")"));
  if (v.GatewayPort < 0 || v.GatewayPort > 65535) {
    report.Error("[Setting] GatewayPort=" + std::to_string(v.GatewayPort) + ": not a port number");
  }
  report.Line("Readers allowed to connect (AllowFrom): " + v.AllowFrom.Narrow());
  if (!address.empty() && !IsLoopbackAddress(address)) {
    report.Warning("the listen address " + address + " is reachable from other machines; readers from " +
                   v.AllowFrom.Narrow() + " may use the proxy");
  }
}

void ShowModes(const SettingValues& v, Report& report) {
  report.Line("Mode (DatMode): " + ModeLine(v.DatMode));
  if (v.DatMode < 0 || v.DatMode > 6)
    report.Warning("[Setting] DatMode=" + std::to_string(v.DatMode) + " is unknown");
  if (v.DatMode == 3)
    report.Warning("DatMode 3 (Style) is not available on Linux: thread data requests fail");
  report.Line(std::string("AutoRule") + (v.DatMode == 6 ? ":" : " (used in mode 6):"));
  for (std::size_t i = 0; i < v.AutoRules.size(); ++i) {
    const CAutoRule& rule = v.AutoRules[i];
    report.Line("  " + std::to_string(i + 1) + ". \"" + Utf16ToUtf8(rule.rule) + "\" -> " +
                ModeLine(rule.mode));
    if (rule.mode == 3 || rule.mode < 0 || rule.mode > 5) {
      report.Warning("[AutoRule] Mode" + std::to_string(i) + "=" + std::to_string(rule.mode) +
                     ": requests of this rule are not answered by a dat route");
    }
  }
  if (v.DatMode == 6 && v.AutoRules.empty())
    report.Warning("mode 6 without any AutoRule passes every request through");
  if (v.DatMode == 1) {
    const C2chAPIInfo* profile = v.CurrentProfile();
    if (profile == nullptr) {
      report.Warning("[2chAPI] Current=" + std::to_string(v.Current) + " names no API profile");
    } else if (profile->HMKey.Empty() || profile->AppKey.Empty()) {
      report.Warning("API profile \"" + Utf16ToUtf8(profile->Name.Wide()) + "\" has no HMKey or AppKey");
    }
  }
}

void ShowDomains(const SettingValues& v, Report& report) {
  const BoardDomains& d = v.Domains;
  std::string aliases;
  for (const std::string& alias : d.Aliases) aliases += (aliases.empty() ? "" : ", ") + alias;
  report.Line("Board domains: " + d.Primary + (aliases.empty() ? "" : ", " + aliases) + " -> " + d.Secondary +
              "; adult " + d.Adult);
}

void ShowUpstreamProxy(const SettingValues& v, Report& report) {
  switch (v.ProxyMode) {
    case 1: {
      std::string set;
      for (const char* name :
           {"https_proxy", "HTTPS_PROXY", "http_proxy", "HTTP_PROXY", "all_proxy", "no_proxy"}) {
        if (const char* value = std::getenv(name); value != nullptr && *value != '\0') {
          set += std::string(set.empty() ? "" : ", ") + name + "=" + value;
        }
      }
      report.Line("Upstream proxy (ProxyMode 1): from the environment: " + (set.empty() ? "none set" : set));
      break;
    }
    case 2:
      report.Line("Upstream proxy (ProxyMode 2): " + (v.Proxy.Empty() ? "none" : v.Proxy.Narrow()));
      if (v.Proxy.Empty()) report.Warning("[Network] ProxyMode=2 without a Proxy: requests go out directly");
      break;
    default:
      report.Line("Upstream proxy (ProxyMode " + std::to_string(v.ProxyMode) +
                  "): none, direct connections (proxy variables of the environment are ignored)");
      break;
  }
}

void CheckPatternSets(const SettingValues& v, const CBregOnig& engine, Report& report) {
  report.Line(std::string("Pattern sets (Bregexp Mode ") + std::to_string(v.BregexpMode) +
              (v.BregexpMode != 0 ? ", in use):" : ", not used):"));
  const char empty[] = "";
  for (const CRegexpPatternInfo& set : v.PatternSets) {
    const std::string label = Utf16ToUtf8(set.label);
    report.Line("  " + label);
    const std::pair<const char*, const CDoubleString*> fields[] = {{"Title", &set.title},
                                                                   {"Res", &set.res},
                                                                   {"BE", &set.be},
                                                                   {"Name", &set.name},
                                                                   {"MailName", &set.mailName}};
    for (const auto& [key, pattern] : fields) {
      if (pattern->Empty()) continue;
      char message[kBregMessageSize] = {};
      BRegexpHolder handle(engine);
      if (engine.BMatch(pattern->Narrow(), empty, empty, handle.Out(), message) < 0) {
        report.Error("pattern set \"" + label + "\", " + key + " " + Cp932ToUtf8(pattern->Narrow()) +
                     ": does not compile (" + message + ")");
      }
    }
  }
}

}  // namespace

ConfigCheckResult CheckConfig(const std::string& iniPath, std::FILE* out) {
  Report report(out);
  CSetting setting;
  if (setting.Load(iniPath) != 0) {
    report.Error(iniPath + ": no settings file (write one with tavrilox --init)");
    return ConfigCheckResult::kNoFile;
  }
  report.Line("Settings file: " + std::filesystem::absolute(iniPath).string());
  for (const std::u16string& refused : setting.LoadWarnings()) report.Error(Utf16ToUtf8(refused));
  const auto values = setting.Snapshot();
  CheckListenAddress(*values, report);
  ShowModes(*values, report);
  ShowDomains(*values, report);
  ShowUpstreamProxy(*values, report);
  const CBregOnig engine(true);
  CheckPatternSets(*values, engine, report);
  report.Line(std::to_string(report.Errors()) + " errors, " + std::to_string(report.Warnings()) +
              " warnings");
  return report.Errors() == 0 ? ConfigCheckResult::kOk : ConfigCheckResult::kErrors;
}

}  // namespace tav
