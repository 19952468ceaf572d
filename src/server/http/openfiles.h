#pragma once

#include "httpengine.h"

// Every connection takes a descriptor, and the soft limit systemd and shells
// start with (1,024) is below what the HTTP server alone may hold. Once they
// run out, accept() fails before any bound of the server refuses anyone.
namespace openfiles
{
// The soft limit of open files up to the hard one (nothing on Windows).
void raiseSoftLimit();
// Shrinks the server's bounds to what the soft limit leaves after
// limits.reservedFiles, one address to a quarter of that, and says so in
// the log; unchanged when they fit.
void fit(HttpEngine::Limits &limits);
} // namespace openfiles
