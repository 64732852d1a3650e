// The functions of <Platform/WinInet.h> the portable backend does not carry
// yet. Each fails as the function fails, with ERROR_CALL_NOT_IMPLEMENTED as
// the thread's last error; those whose result is an error code return that
// code. A program that calls one links and runs, and learns at run time that
// the backend cannot do it.
//
// Each concern's work replaces its section with the real functions in its own
// folder (cookies/, connection/), and drops their rows from
// tests/unit/platform/ContractTests.cpp.
#include "posix/errors/LastError.h"

using Corvane::Backend::FailWith;

namespace {

constexpr DWORD kNotImplemented = ERROR_CALL_NOT_IMPLEMENTED;

}  // namespace

// Data transfer on request and file handles.
DWORD WINAPI InternetSetFilePointer(HINTERNET, LONG, PLONG, DWORD, DWORD_PTR) {
    return FailWith(kNotImplemented, INVALID_SET_FILE_POINTER);
}
