// The functions of <Platform/WinInet.h> the portable backend does not carry
// yet. Each fails as the function fails, with ERROR_CALL_NOT_IMPLEMENTED as
// the thread's last error; those whose result is an error code return that
// code. A program that calls one links and runs, and learns at run time that
// the backend cannot do it.
//
// Each concern's work replaces its section with the real functions in its own
// folder (ftp/, cookies/, connection/), and drops their rows from
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
BOOL WINAPI InternetLockRequestFile(HINTERNET, HANDLE*) {
    return Fail(kNotImplemented);
}
BOOL WINAPI InternetUnlockRequestFile(HANDLE) {
    return Fail(kNotImplemented);
}

// FTP.
BOOL WINAPI FtpCommandW(HINTERNET, BOOL, DWORD, LPCWSTR, DWORD_PTR, HINTERNET*) {
    return Fail(kNotImplemented);
}
BOOL WINAPI FtpCreateDirectoryW(HINTERNET, LPCWSTR) {
    return Fail(kNotImplemented);
}
BOOL WINAPI FtpDeleteFileW(HINTERNET, LPCWSTR) {
    return Fail(kNotImplemented);
}
HINTERNET WINAPI FtpFindFirstFileW(HINTERNET, LPCWSTR, LPWIN32_FIND_DATAW, DWORD, DWORD_PTR) {
    return FailWith(kNotImplemented, HINTERNET{});
}
BOOL WINAPI FtpGetCurrentDirectoryW(HINTERNET, LPWSTR, LPDWORD) {
    return Fail(kNotImplemented);
}
BOOL WINAPI FtpGetFileW(HINTERNET, LPCWSTR, LPCWSTR, BOOL, DWORD, DWORD, DWORD_PTR) {
    return Fail(kNotImplemented);
}
DWORD WINAPI FtpGetFileSize(HINTERNET, LPDWORD) {
    return FailWith(kNotImplemented, INVALID_FILE_SIZE);
}
HINTERNET WINAPI FtpOpenFileW(HINTERNET, LPCWSTR, DWORD, DWORD, DWORD_PTR) {
    return FailWith(kNotImplemented, HINTERNET{});
}
BOOL WINAPI FtpPutFileW(HINTERNET, LPCWSTR, LPCWSTR, DWORD, DWORD_PTR) {
    return Fail(kNotImplemented);
}
BOOL WINAPI FtpRemoveDirectoryW(HINTERNET, LPCWSTR) {
    return Fail(kNotImplemented);
}
BOOL WINAPI FtpRenameFileW(HINTERNET, LPCWSTR, LPCWSTR) {
    return Fail(kNotImplemented);
}
BOOL WINAPI FtpSetCurrentDirectoryW(HINTERNET, LPCWSTR) {
    return Fail(kNotImplemented);
}

// Cookies and dates.
BOOL WINAPI InternetGetCookieW(LPCWSTR, LPCWSTR, LPWSTR, LPDWORD) {
    return Fail(kNotImplemented);
}
BOOL WINAPI InternetSetCookieW(LPCWSTR, LPCWSTR, LPCWSTR) {
    return Fail(kNotImplemented);
}
BOOL WINAPI InternetTimeFromSystemTimeW(const SYSTEMTIME*, DWORD, LPWSTR, DWORD) {
    return Fail(kNotImplemented);
}
BOOL WINAPI InternetTimeToSystemTimeW(LPCWSTR, SYSTEMTIME*, DWORD) {
    return Fail(kNotImplemented);
}

// Connection state and dial-up.
BOOL WINAPI InternetGetConnectedState(LPDWORD, DWORD) {
    return Fail(kNotImplemented);
}
BOOL WINAPI InternetGetConnectedStateExW(LPDWORD, LPWSTR, DWORD, DWORD) {
    return Fail(kNotImplemented);
}
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
DWORD WINAPI InternetAttemptConnect(DWORD) {
    return NotImplementedCode();
}
BOOL WINAPI InternetCheckConnectionW(LPCWSTR, DWORD, DWORD) {
    return Fail(kNotImplemented);
}
BOOL WINAPI InternetGoOnlineW(LPCWSTR, HWND, DWORD) {
    return Fail(kNotImplemented);
}
DWORD WINAPI InternetConfirmZoneCrossing(HWND, LPSTR, LPSTR, BOOL) {
    return NotImplementedCode();
}
DWORD WINAPI InternetConfirmZoneCrossingA(HWND, LPSTR, LPSTR, BOOL) {
    return NotImplementedCode();
}
