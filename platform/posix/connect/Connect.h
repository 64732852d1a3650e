// InternetConnectW: the protocol-neutral part of opening a connection handle.
// It checks the session and the server name and hands the rest to the
// service's connect function, found in the list of Services.def.
#pragma once

#include "posix/handles/Handle.h"

namespace Corvane::Backend {

/// What a service does for InternetConnectW once the session and the server
/// name were checked: creates and registers its connection handle beneath
/// `session`, or sets the last error and returns null.
using ServiceConnect = HINTERNET (*)(const HandleRef& session, LPCWSTR server, INTERNET_PORT port,
                                     LPCWSTR user, LPCWSTR password, DWORD flags, DWORD_PTR context);

/// The connect function of an INTERNET_SERVICE_ value; null for a service
/// the backend does not offer.
ServiceConnect FindService(DWORD service);

}  // namespace Corvane::Backend
