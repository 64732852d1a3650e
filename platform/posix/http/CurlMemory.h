// libcurl's global initialisation with the backend's memory functions, so
// that fault injection (posix/errors/FaultInjection.h) can make libcurl's
// allocations fail.
#pragma once

namespace Corvane::Backend {

/// Initialises libcurl once per process; later calls do nothing.
void EnsureCurl();

}  // namespace Corvane::Backend
