// How the application decides zone crossings for InternetConfirmZoneCrossing.
//
// The platform asks the user in a dialog when a program moves between a
// secure (https) and an insecure URL; the portable backend has no dialog.
// Its policy: a move that stays secure or stays insecure is allowed; a
// crossing goes to the handler set here, whose answer is the function's
// result (ERROR_SUCCESS allows, ERROR_CANCELLED refuses, any other code is
// an error), and without a handler it is allowed, as the platform does when
// its warnings are off. Both URLs must be URLs (ERROR_INTERNET_INVALID_URL;
// a null one ERROR_INVALID_PARAMETER) before anything is decided.
//
// On Windows wininet.dll shows its own dialog and takes no handler:
// SetHandler fails there with ERROR_NOT_SUPPORTED.
#pragma once

#include <Platform/WinInet.h>
#include "Platform/PlatformExport.h"

namespace Corvane::ZoneCrossing {

/// Decides a crossing from `from` to `to` (the 8-bit URLs as the caller
/// passed them); `post` tells whether data is being posted. May run on any
/// thread that calls InternetConfirmZoneCrossing.
using Handler = DWORD (*)(const char* from, const char* to, bool post, void* context);

/// Sets the process's handler and the context passed to it (a null handler:
/// none, crossings are allowed). It returns once no call of the previous
/// handler is running any more, so the old context may then be freed. Called
/// from inside a handler it cannot wait for that very call (nor for a
/// handler on another thread doing the same): it returns at once, and calls
/// already running finish with the old handler. Do not call it while
/// holding a lock a handler takes. Returns ERROR_SUCCESS, or
/// ERROR_NOT_SUPPORTED where the platform asks the user itself.
CORVANE_PLATFORM_EXPORT DWORD SetHandler(Handler handler, void* context);

}  // namespace Corvane::ZoneCrossing
