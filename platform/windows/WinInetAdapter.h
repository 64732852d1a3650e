// The InternetApi of the Windows build: wininet.dll and kernel32, with the
// conversions that make the system DLL keep the contract of
// <Platform/WinInet.h> that the components are written against.
//
// Most functions already agree and are forwarded unchanged by
// ForwardingInternetApi. Where wininet.dll's conventions differ, the adapter
// converts, so that component code is the same on both platforms and no
// buffer is ever described to the DLL as larger than it is:
//  - InternetGetLastResponseInfoW: the DLL counts characters (and some
//    implementations never report the size needed at all); the contract
//    counts bytes and fails with ERROR_INSUFFICIENT_BUFFER when there is no
//    buffer or it is too small.
//  - InternetQueryOptionW on a text option: on success the DLL reports the
//    characters copied; the contract, the bytes copied (terminator excluded).
//  - InternetCreateUrlW: some implementations accept a buffer with no room
//    for the terminator and write it past the end; the contract refuses such
//    a buffer with ERROR_INSUFFICIENT_BUFFER and the bytes needed.
//  - InternetCanonicalizeUrlW: some implementations report the buffer's size
//    instead of the text's (an empty URL, for one); the contract reports the
//    characters written, terminator excluded.
//  - FtpGetCurrentDirectoryW: the DLL counts characters (and some
//    implementations never report the size needed); the contract counts
//    bytes, as for the last response.
//  - The FTP functions and InternetConnectW for FTP: some implementations
//    send a name or command holding CR or LF on as it stands, so that its
//    second line reaches the server as a command of its own (a name
//    "a\r\nDELE b" deletes b), and send names in the ANSI code page with
//    best-fit substitutes ("sub\uFF0Ff" goes out as "sub/f", a character
//    without one as "?", a wildcard to many servers). The contract refuses a
//    remote name, command, user name or password with ERROR_INVALID_PARAMETER
//    before anything is sent unless it goes out as it is: one line, every
//    character in the ANSI code page, and no 0xFF byte (a Telnet command on
//    the control connection). An empty search string is passed as none,
//    which the documentation gives the same meaning and which some
//    implementations match against no name at all. A command that fails
//    without saying why fails with ERROR_NOT_SUPPORTED. Local file names
//    are not checked: they never reach the server.
//  - InternetTimeToSystemTimeW: some implementations take garbage and the
//    empty text for the current time, take hours and days out of range as
//    they stand, and misread asctime dates, RFC 850's two-digit years and
//    dates without a weekday. The adapter reads the date with the parser the
//    portable backend uses (src/InternetTime.h) and fails with
//    ERROR_INVALID_PARAMETER where it finds no date. The DLL is not called at
//    all: a date the parser accepts fixes every field of the record, so the
//    DLL could only disagree with it, never add to it, and both builds read
//    dates alike.
//  - InternetTimeFromSystemTimeW: some implementations print whatever the
//    record holds (month 13, hour 24, February 31, a five-digit year, the
//    weekday field as given, out of its table when it is 7 or more) and fail
//    a missing record or buffer without an error. The adapter refuses those
//    and an unknown format with ERROR_INVALID_PARAMETER, and a buffer of
//    fewer bytes than the text and terminator with ERROR_INSUFFICIENT_BUFFER,
//    before the DLL is called; the DLL gets the record with the date's own
//    weekday and writes into the adapter's buffer of exactly the text's size,
//    which is copied out.
//  - InternetGetCookieW: the DLL ignores the cookie's name and always gives
//    every cookie of the URL; on success it counts characters. The contract
//    gives only the named cookie, as "name=value" (ERROR_NO_MORE_ITEMS when
//    the URL has none of that name), and counts bytes.
//  - InternetSetCookieW: the DLL takes an empty name as a cookie named "",
//    and some refusals fail without an error code. The contract reads an
//    empty name as "the data is name=value" and gives every failure a code.
//
// This header is private to the platform layer (and its tests): it declares
// nothing from <windows.h>.
#pragma once

#include <Platform/InternetApi.h>

#include <string>
#include <string_view>

namespace Corvane {

namespace WinInetConventions {

/// The signature of wininet.dll's InternetGetLastResponseInfoW.
using LastResponseInfoFunction = BOOL(WINAPI*)(LPDWORD lpdwError, LPWSTR lpszBuffer,
                                               LPDWORD lpdwBufferLength);

/// InternetGetLastResponseInfoW with the contract's sizes, on top of `Dll`,
/// which counts characters. The whole text is read from `Dll` into a buffer
/// of the adapter's own first (growing it while `Dll` says it is too small or
/// fills it to the end); then, sizes in bytes: without a response, TRUE and
/// 0; without a buffer or with one smaller than text and terminator,
/// ERROR_INSUFFICIENT_BUFFER and the size needed (terminator included),
/// nothing written; else the text with its terminator and the bytes copied
/// (terminator excluded). A failure of `Dll` other than a short buffer is
/// passed on with its error. On success the caller's last error is kept.
BOOL LastResponseInfoInBytes(LastResponseInfoFunction dll, LPDWORD lpdwError, LPWSTR lpszBuffer,
                             LPDWORD lpdwBufferLength);

/// The signature of wininet.dll's InternetCreateUrlW.
using CreateUrlFunction = BOOL(WINAPI*)(LPURL_COMPONENTSW lpUrlComponents, DWORD dwFlags, LPWSTR lpszUrl,
                                        LPDWORD lpdwUrlLength);

/// InternetCreateUrlW on top of `Dll` that never lets `Dll` see a buffer too
/// small for the URL and its terminator: the size needed is asked for first
/// (without a buffer), and a buffer of fewer characters is refused here with
/// ERROR_INSUFFICIENT_BUFFER and that size in bytes, nothing written. Other
/// failures of `Dll` pass through with its error and the length untouched.
/// On success the caller's last error is kept.
BOOL CreateUrlWithinBuffer(CreateUrlFunction dll, LPURL_COMPONENTSW lpUrlComponents, DWORD dwFlags,
                           LPWSTR lpszUrl, LPDWORD lpdwUrlLength);

/// The signature of wininet.dll's FtpGetCurrentDirectoryW.
using CurrentDirectoryFunction = BOOL(WINAPI*)(HINTERNET hConnect, LPWSTR lpszCurrentDirectory,
                                               LPDWORD lpdwCurrentDirectory);

/// FtpGetCurrentDirectoryW with the contract's sizes, on top of `Dll`, which
/// counts characters. The directory is read from `Dll` into a buffer of the
/// adapter's own first, growing it while `Dll` says it is too small (with or
/// without the size it needs); then, sizes in bytes: without a buffer or
/// with one smaller than text and terminator, ERROR_INSUFFICIENT_BUFFER and
/// the size needed (terminator included), nothing written; else the text
/// with its terminator and the bytes copied (terminator excluded). Other
/// failures of `Dll` pass through with its error.
BOOL CurrentDirectoryInBytes(CurrentDirectoryFunction dll, HINTERNET hConnect, LPWSTR lpszCurrentDirectory,
                             LPDWORD lpdwCurrentDirectory);

/// Whether `Text` (zero-terminated, or null) goes to an FTP server as it is:
/// no CR or LF, every character in the ANSI code page without a best-fit
/// substitute, and no 0xFF byte once converted.
bool IsSafeFtpText(LPCWSTR text);

/// The characters of the zero-terminated text in `Buffer`, looking at no more
/// than `Capacity` characters.
DWORD TextLength(const WCHAR* buffer, DWORD capacity);

/// Whether InternetQueryOptionW answers `Option` with a zero-terminated text.
bool IsTextOption(DWORD option);

/// After a successful query of a text option into `Buffer` (described to the
/// DLL as `DescribedBytes` long): the bytes of the text it holds, terminator
/// excluded, measured in the buffer itself so that whatever unit the DLL
/// reported in, the answer never exceeds the buffer.
DWORD TextOptionBytes(LPCVOID buffer, DWORD describedBytes);

// --- Cookies ---------------------------------------------------------------

/// The signatures of wininet.dll's InternetGetCookieW and InternetSetCookieW.
using GetCookieFunction = BOOL(WINAPI*)(LPCWSTR lpszUrl, LPCWSTR lpszCookieName, LPWSTR lpszCookieData,
                                        LPDWORD lpdwSize);
using SetCookieFunction = BOOL(WINAPI*)(LPCWSTR lpszUrl, LPCWSTR lpszCookieName, LPCWSTR lpszCookieData);

/// Of a cookie list as the DLL gives it ("a=1; b=2", a cookie with an empty
/// value possibly as its bare name), the first cookie named exactly `Name`,
/// as "name=value"; the empty text when none is.
std::wstring CookieNamed(std::wstring_view list, std::wstring_view name);

/// InternetGetCookieW with the contract's names and sizes, on top of `Dll`,
/// which ignores the name. Every cookie of the URL is read from `Dll` into a
/// buffer of the adapter's own first; a non-empty `Name` then picks its
/// cookie (ERROR_NO_MORE_ITEMS when there is none). Sizes in bytes,
/// terminator included: without a buffer, TRUE and the size needed; with one
/// of fewer characters than text and terminator, ERROR_INSUFFICIENT_BUFFER
/// and the size needed, nothing written; else the text with its terminator
/// and its size. `Dll`'s failures (no cookie, a URL it refuses) pass through
/// with its error. On success the caller's last error is kept.
BOOL CookieWithContractSizes(GetCookieFunction dll, LPCWSTR lpszUrl, LPCWSTR lpszCookieName,
                             LPWSTR lpszCookieData, LPDWORD lpdwSize);

/// InternetSetCookieW on top of `Dll`: an empty name goes to `Dll` as null,
/// so the data names its cookie; a failure without an error code gets
/// ERROR_INVALID_PARAMETER (the cookie was refused). On success the caller's
/// last error is kept.
BOOL SetCookieByContract(SetCookieFunction dll, LPCWSTR lpszUrl, LPCWSTR lpszCookieName,
                         LPCWSTR lpszCookieData);

}  // namespace WinInetConventions

/// The default InternetApi on Windows (see the top of this file).
class WinInetAdapter : public ForwardingInternetApi {
public:
    BOOL InternetGetLastResponseInfoW(LPDWORD lpdwError, LPWSTR lpszBuffer,
                                      LPDWORD lpdwBufferLength) override;
    BOOL InternetQueryOptionW(HINTERNET hInternet, DWORD dwOption, LPVOID lpBuffer,
                              LPDWORD lpdwBufferLength) override;
    BOOL InternetCreateUrlW(LPURL_COMPONENTSW lpUrlComponents, DWORD dwFlags, LPWSTR lpszUrl,
                            LPDWORD lpdwUrlLength) override;
    BOOL InternetCanonicalizeUrlW(LPCWSTR lpszUrl, LPWSTR lpszBuffer, LPDWORD lpdwBufferLength,
                                  DWORD dwFlags) override;
    BOOL FtpGetCurrentDirectoryW(HINTERNET hConnect, LPWSTR lpszCurrentDirectory,
                                 LPDWORD lpdwCurrentDirectory) override;
    BOOL InternetTimeToSystemTimeW(LPCWSTR lpszTime, SYSTEMTIME* pst, DWORD dwReserved) override;
    BOOL InternetTimeFromSystemTimeW(const SYSTEMTIME* pst, DWORD dwRFC, LPWSTR lpszTime,
                                     DWORD cbTime) override;

    HINTERNET InternetConnectW(HINTERNET hInternet, LPCWSTR lpszServerName, INTERNET_PORT nServerPort,
                               LPCWSTR lpszUserName, LPCWSTR lpszPassword, DWORD dwService, DWORD dwFlags,
                               DWORD_PTR dwContext) override;
    BOOL FtpCommandW(HINTERNET hConnect, BOOL fExpectResponse, DWORD dwFlags, LPCWSTR lpszCommand,
                     DWORD_PTR dwContext, HINTERNET* phFtpCommand) override;
    BOOL FtpCreateDirectoryW(HINTERNET hConnect, LPCWSTR lpszDirectory) override;
    BOOL FtpDeleteFileW(HINTERNET hConnect, LPCWSTR lpszFileName) override;
    HINTERNET FtpFindFirstFileW(HINTERNET hConnect, LPCWSTR lpszSearchFile, LPWIN32_FIND_DATAW lpFindFileData,
                                DWORD dwFlags, DWORD_PTR dwContext) override;
    BOOL FtpGetFileW(HINTERNET hConnect, LPCWSTR lpszRemoteFile, LPCWSTR lpszNewFile, BOOL fFailIfExists,
                     DWORD dwFlagsAndAttributes, DWORD dwFlags, DWORD_PTR dwContext) override;
    HINTERNET FtpOpenFileW(HINTERNET hConnect, LPCWSTR lpszFileName, DWORD dwAccess, DWORD dwFlags,
                           DWORD_PTR dwContext) override;
    BOOL FtpPutFileW(HINTERNET hConnect, LPCWSTR lpszLocalFile, LPCWSTR lpszNewRemoteFile, DWORD dwFlags,
                     DWORD_PTR dwContext) override;
    BOOL FtpRemoveDirectoryW(HINTERNET hConnect, LPCWSTR lpszDirectory) override;
    BOOL FtpRenameFileW(HINTERNET hConnect, LPCWSTR lpszExisting, LPCWSTR lpszNew) override;
    BOOL FtpSetCurrentDirectoryW(HINTERNET hConnect, LPCWSTR lpszDirectory) override;

    // Cookies.
    BOOL InternetGetCookieW(LPCWSTR lpszUrl, LPCWSTR lpszCookieName, LPWSTR lpszCookieData,
                            LPDWORD lpdwSize) override;
    BOOL InternetSetCookieW(LPCWSTR lpszUrl, LPCWSTR lpszCookieName, LPCWSTR lpszCookieData) override;
};

}  // namespace Corvane
