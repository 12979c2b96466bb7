#pragma once
// Name resolution for the connections the proxy opens itself. Tests put a
// resolver of their own in its place so that no name they use ever reaches
// the machine's real resolver.

#include <netdb.h>

namespace tav {

using ResolveFunction = int (*)(const char* host, const char* service, const addrinfo* hints, addrinfo** result);

// getaddrinfo, or the function installed for tests.
int ResolveHost(const char* host, const char* service, const addrinfo* hints, addrinfo** result);

// Replaces the resolver (nullptr: back to getaddrinfo). Results must be
// released with freeaddrinfo.
void SetResolverForTesting(ResolveFunction resolver);

}  // namespace tav
