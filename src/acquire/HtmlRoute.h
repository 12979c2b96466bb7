#pragma once
// Answers a dat request from the thread's read.cgi page: the page is
// fetched, converted to dat lines and answered as the board would answer
// the dat (200, 206 or 304).

#include "net/RouteResult.h"

namespace tav {

// Answers a dat request (or an archived thread's) from the thread's
// read.cgi page. A thread with an FTPBug entry is read in segments around
// its broken posts. When a compressed page cannot be used, the page is
// asked for once more without compression.
RouteResult FetchThreadHtml(CGateway& ctx, const Request& request, const RouteOptions& options);

}  // namespace tav
