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

using Corvane::Backend::Fail;
using Corvane::Backend::FailWith;

namespace {

constexpr DWORD kNotImplemented = ERROR_CALL_NOT_IMPLEMENTED;

// The tail of a function that answers with an error code.
DWORD NotImplementedCode() {
    return FailWith(kNotImplemented, kNotImplemented);
}

}  // namespace

// Data transfer on request and file handles.
DWORD WINAPI InternetSetFilePointer(HINTERNET, LONG, PLONG, DWORD, DWORD_PTR) {
    return FailWith(kNotImplemented, INVALID_SET_FILE_POINTER);
}

// Dial-up.
DWORD WINAPI InternetDialW(HWND, LPWSTR, DWORD, DWORD_PTR*, DWORD) {
    return NotImplementedCode();
}
DWORD WINAPI InternetHangUp(DWORD_PTR, DWORD) {
    return NotImplementedCode();
}
BOOL WINAPI InternetAutodial(DWORD, HWND) {
    return Fail(kNotImplemented);
}
BOOL WINAPI InternetAutodialHangup(DWORD) {
    return Fail(kNotImplemented);
}
