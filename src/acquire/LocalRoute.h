#pragma once
// Answers a dat request through a second reader instance: the route finds
// (or starts) it, types the thread's read.cgi address into its address box,
// watches its log folder until it has saved the thread's dat file, and
// answers the reader from that file.

#include "net/RouteResult.h"

namespace tav {

// Answered when an answer was written; otherwise the code is -1 when the
// path has no "/dat/", the log folder cannot be watched or no dat file could
// be read in time; 33033 (settings missing), 33034 (no reader window, also
// when the reader's windows cannot be reached at all) or 33038 (no address
// box), each after a warning.
RouteResult GetDatByReader(CGateway& ctx, const Request& request, const RouteOptions& options);

}  // namespace tav
