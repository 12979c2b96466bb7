// Every test program resolves names with this resolver: numeric addresses
// and "localhost" resolve as usual, every other name fails at once, so that
// no test ever sends a query to the machine's name server.

#include <netdb.h>

#include <cstring>
#include <string_view>

#include "platform/HostResolver.h"

namespace tav::test {
namespace {

int LoopbackOnly(const char* host, const char* service, const addrinfo* hints, addrinfo** result) {
  addrinfo numeric{};
  if (hints != nullptr) numeric = *hints;
  numeric.ai_flags |= AI_NUMERICHOST;
  if (host != nullptr && std::string_view(host) == "localhost") host = "127.0.0.1";
  return ::getaddrinfo(host, service, &numeric, result);
}

struct InstallAtStart {
  InstallAtStart() { SetResolverForTesting(&LoopbackOnly); }
} installAtStart;

}  // namespace
}  // namespace tav::test
