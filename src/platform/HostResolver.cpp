#include "platform/HostResolver.h"

#include <atomic>

namespace tav {
namespace {
std::atomic<ResolveFunction> installed{nullptr};
}

int ResolveHost(const char* host, const char* service, const addrinfo* hints, addrinfo** result) {
  ResolveFunction resolver = installed.load();
  return resolver != nullptr ? resolver(host, service, hints, result) : ::getaddrinfo(host, service, hints, result);
}

void SetResolverForTesting(ResolveFunction resolver) { installed.store(resolver); }

}  // namespace tav
