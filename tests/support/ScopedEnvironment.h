#pragma once
// Sets or removes environment variables for the lifetime of the object and
// restores the previous values afterwards. Tests use it for the proxy
// variables (http_proxy, no_proxy, ...) and SSL_CERT_FILE.

#include <cstdlib>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tav::test {

class ScopedEnvironment {
 public:
  ScopedEnvironment() = default;
  ScopedEnvironment(const ScopedEnvironment&) = delete;
  ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;
  ~ScopedEnvironment() {
    for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) Apply(it->first, it->second);
  }

  // `value` empty (nullopt): the variable is removed.
  void Set(const std::string& name, std::optional<std::string> value) {
    const char* old = std::getenv(name.c_str());
    saved_.emplace_back(name, old != nullptr ? std::optional<std::string>(old) : std::nullopt);
    Apply(name, value);
  }
  void Remove(const std::string& name) { Set(name, std::nullopt); }

  // Removes every variable that points libcurl at a proxy or a CA bundle.
  void ClearProxyAndCaVariables() {
    for (const char* name : {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY",
                             "no_proxy", "NO_PROXY", "SSL_CERT_FILE", "CURL_CA_BUNDLE"}) {
      Remove(name);
    }
  }

 private:
  static void Apply(const std::string& name, const std::optional<std::string>& value) {
    if (value) {
      ::setenv(name.c_str(), value->c_str(), 1);
    } else {
      ::unsetenv(name.c_str());
    }
  }

  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

}  // namespace tav::test
