/*
 * The Windows Internet API (WinINet) as Corvane uses it.
 *
 * On Windows this header takes the system's own declarations of the types,
 * constants and functions of wininet.dll and the kernel functions beside it.
 * Everywhere else it is Corvane's declaration of the same C API, at global
 * scope and with C linkage, implemented by the portable backend
 * (libCorvanePlatform): the types keep their Windows names and sizes (DWORD is
 * 32 bits, DWORD_PTR pointer-sized, WCHAR a UTF-16 code unit = char16_t), the
 * constants their Windows values, and every function its Windows signature.
 *
 * Only plain C is used here, so C code can include it too.
 *
 * Conventions that callers rely on (beyond what the names say):
 *  - A FALSE or NULL result means failure; the reason is the calling thread's
 *    last error (GetLastError). On an asynchronous session ERROR_IO_PENDING
 *    means the operation goes on and completes through the status callback.
 *  - Called without a buffer, InternetGetLastResponseInfoW,
 *    InternetQueryOptionW (text options), HttpQueryInfoW,
 *    FtpGetCurrentDirectoryW and InternetGetCookieW report the size they need
 *    in bytes, terminating zero included; all but the last fail with
 *    ERROR_INSUFFICIENT_BUFFER while doing so. FtpGetCurrentDirectoryW, like
 *    InternetGetLastResponseInfoW, takes its buffer's size in bytes and
 *    reports the bytes written without the terminator. InternetGetCookieW
 *    takes its buffer's room in characters (as the platform documents it)
 *    and leaves the size in bytes with the terminator on success too.
 *  - InternetDialW, InternetHangUp, InternetAttemptConnect and
 *    InternetConfirmZoneCrossing return 0 on success, else an error code.
 *  - InternetConfirmZoneCrossing alone takes 8-bit texts.
 */
#ifndef CORVANE_PLATFORM_WININET_H
#define CORVANE_PLATFORM_WININET_H

#if defined(_WIN32)

/* The system's declarations. <windows.h> and <winbase.h> are avoided on
 * purpose: their A/W macros (CreateDirectory, DeleteFile, FindFirstFile, ...)
 * would rename the components' methods. The pieces needed are taken from the
 * narrower headers, with NOMINMAX so that min and max stay names (std::max,
 * numeric_limits<T>::max) for whoever includes this header. What only
 * <winbase.h> or <fileapi.h> declares (FormatMessageW and its flags, the file
 * pointer moves) is declared here with the system's values and signature, so
 * a source that includes <windows.h> as well sees identical declarations. */
#ifndef NOMINMAX
#define NOMINMAX
#define CORVANE_WININET_DEFINED_NOMINMAX
#endif
#include <stdarg.h>
#include <windef.h>
#include <minwinbase.h>
#include <errhandlingapi.h>
#include <libloaderapi.h>
#include <winerror.h>
#include <wininet.h>
#ifdef CORVANE_WININET_DEFINED_NOMINMAX
#undef NOMINMAX
#undef CORVANE_WININET_DEFINED_NOMINMAX
#endif

/* With UNICODE defined the system header turns these two into their W forms.
 * The contract means the plain exports: InternetConfirmZoneCrossing takes
 * 8-bit texts, and InternetSetStatusCallback is a seam method's name. */
#undef InternetSetStatusCallback
#undef InternetConfirmZoneCrossing

#ifdef __cplusplus
extern "C" {
#endif

__declspec(dllimport) DWORD WINAPI FormatMessageW(DWORD dwFlags, LPCVOID lpSource,
                                                  DWORD dwMessageId, DWORD dwLanguageId,
                                                  LPWSTR lpBuffer, DWORD nSize,
                                                  va_list* Arguments);
__declspec(dllimport) INTERNET_STATUS_CALLBACK WINAPI InternetSetStatusCallback(
    HINTERNET hInternet, INTERNET_STATUS_CALLBACK lpfnInternetCallback);
__declspec(dllimport) DWORD WINAPI InternetConfirmZoneCrossing(HWND hWnd, LPSTR szUrlPrev,
                                                               LPSTR szUrlNew, BOOL bPost);

/* INTERNET_OPTION_PROXY as the W entry points read and write it: the
 * system headers only declare the record with the build's text type. */
typedef struct {
    DWORD dwAccessType;
    LPCWSTR lpszProxy;
    LPCWSTR lpszProxyBypass;
} INTERNET_PROXY_INFOW, *LPINTERNET_PROXY_INFOW;

#ifdef __cplusplus
}
#endif

#ifndef FORMAT_MESSAGE_ALLOCATE_BUFFER
#define FORMAT_MESSAGE_ALLOCATE_BUFFER 0x00000100
#endif
#ifndef FORMAT_MESSAGE_IGNORE_INSERTS
#define FORMAT_MESSAGE_IGNORE_INSERTS 0x00000200
#define FORMAT_MESSAGE_FROM_STRING 0x00000400
#define FORMAT_MESSAGE_FROM_HMODULE 0x00000800
#define FORMAT_MESSAGE_FROM_SYSTEM 0x00001000
#define FORMAT_MESSAGE_ARGUMENT_ARRAY 0x00002000
#define FORMAT_MESSAGE_MAX_WIDTH_MASK 0x000000FF
#endif
#ifndef FILE_BEGIN
#define FILE_BEGIN 0
#define FILE_CURRENT 1
#define FILE_END 2
#endif
#ifndef INVALID_SET_FILE_POINTER
#define INVALID_SET_FILE_POINTER ((DWORD)-1)
#endif
#ifndef INVALID_FILE_SIZE
#define INVALID_FILE_SIZE ((DWORD)0xffffffff)
#endif

/* Constants newer than the system headers of the cross toolchain (values as
 * the platform defines them). */
#ifndef INTERNET_SERVICE_URL
#define INTERNET_SERVICE_URL 0
#endif
#ifndef INTERNET_OPTION_REQUEST_ANNOTATION
#define INTERNET_OPTION_REQUEST_ANNOTATION 193
#endif
#ifndef INTERENT_GOONLINE_NOPROMPT
#define INTERENT_GOONLINE_NOPROMPT 0x00000002
#endif
#ifndef HTTP_ADDREQ_FLAG_RESPONSE_HEADERS
#define HTTP_ADDREQ_FLAG_RESPONSE_HEADERS 0x02000000
#endif
#ifndef HTTP_ADDREQ_FLAG_ALLOW_EMPTY_VALUES
#define HTTP_ADDREQ_FLAG_ALLOW_EMPTY_VALUES 0x04000000
#endif
#ifndef ERROR_INTERNET_SOURCE_PORT_IN_USE
#define ERROR_INTERNET_NO_NEW_CONTAINERS              (INTERNET_ERROR_BASE + 51)
#define ERROR_INTERNET_SOURCE_PORT_IN_USE             (INTERNET_ERROR_BASE + 58)
#define ERROR_INTERNET_INSECURE_FALLBACK_REQUIRED     (INTERNET_ERROR_BASE + 59)
#define ERROR_HTTP_HSTS_REDIRECT_REQUIRED             (INTERNET_ERROR_BASE + 60)
#define ERROR_INTERNET_PROXY_ALERT                    (INTERNET_ERROR_BASE + 61)
#define ERROR_INTERNET_SEC_CERT_WEAK_SIGNATURE        (INTERNET_ERROR_BASE + 62)
#define ERROR_INTERNET_NO_CM_CONNECTION               (INTERNET_ERROR_BASE + 80)
#define ERROR_HTTP_PUSH_STATUS_CODE_NOT_SUPPORTED     (INTERNET_ERROR_BASE + 147)
#define ERROR_HTTP_PUSH_RETRY_NOT_SUPPORTED           (INTERNET_ERROR_BASE + 148)
#define ERROR_HTTP_PUSH_ENABLE_FAILED                 (INTERNET_ERROR_BASE + 149)
#define ERROR_INTERNET_CLIENT_AUTH_CERT_NEEDED_PROXY  (INTERNET_ERROR_BASE + 187)
#define ERROR_INTERNET_SECURE_FAILURE_PROXY           (INTERNET_ERROR_BASE + 188)
#define ERROR_INTERNET_DISALLOW_INPRIVATE             (INTERNET_ERROR_BASE + 189)
#define ERROR_INTERNET_HTTP_PROTOCOL_MISMATCH         (INTERNET_ERROR_BASE + 190)
#define ERROR_INTERNET_GLOBAL_CALLBACK_FAILED         (INTERNET_ERROR_BASE + 191)
#define ERROR_INTERNET_FEATURE_DISABLED               (INTERNET_ERROR_BASE + 192)
#endif
#ifndef ERROR_INTERNET_DECODING_FAILED
#define ERROR_INTERNET_DECODING_FAILED (INTERNET_ERROR_BASE + 175)
#endif
#ifndef ERROR_INTERNET_OFFLINE
#define ERROR_INTERNET_OFFLINE ERROR_INTERNET_DISCONNECTED
#endif

#else /* !_WIN32: Corvane's own declaration of the API */

#include <stdarg.h>
#include <stddef.h>
#include <stdint.h>
#ifndef __cplusplus
#include <uchar.h>
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---------------------------------------------------------------------------
 * Basic types
 * ------------------------------------------------------------------------- */

#define WINAPI
#define CALLBACK

typedef int BOOL;
typedef BOOL* LPBOOL;
typedef uint8_t BYTE;
typedef BYTE* LPBYTE;
typedef uint16_t WORD;
typedef WORD* LPWORD;
typedef uint32_t DWORD;
typedef DWORD* LPDWORD;
typedef DWORD* PDWORD;
typedef int32_t LONG;
typedef LONG* PLONG;
typedef int INT;
typedef unsigned int UINT;
typedef int64_t LONGLONG;
typedef uint64_t ULONGLONG;
typedef uintptr_t DWORD_PTR;
typedef uintptr_t ULONG_PTR;
typedef intptr_t LONG_PTR;
typedef DWORD_PTR* PDWORD_PTR;
typedef void VOID;
typedef void* LPVOID;
typedef void* PVOID;
typedef const void* LPCVOID;
typedef char CHAR;
typedef CHAR* LPSTR;
typedef const CHAR* LPCSTR;
typedef char16_t WCHAR;
typedef WCHAR* LPWSTR;
typedef WCHAR* PWSTR;
typedef const WCHAR* LPCWSTR;
typedef const WCHAR* PCWSTR;
typedef void* HANDLE;
typedef HANDLE* LPHANDLE;
typedef void* HMODULE;
typedef void* HINSTANCE;
typedef void* HWND;

#ifndef FALSE
#define FALSE 0
#endif
#ifndef TRUE
#define TRUE 1
#endif

#define MAX_PATH 260

/* An Internet handle: opaque and pointer-sized; NULL means none. */
typedef LPVOID HINTERNET;
typedef HINTERNET* LPHINTERNET;

typedef WORD INTERNET_PORT;
typedef INTERNET_PORT* LPINTERNET_PORT;

/* ---------------------------------------------------------------------------
 * Kernel records
 * ------------------------------------------------------------------------- */

typedef struct _SYSTEMTIME {
    WORD wYear;
    WORD wMonth;
    WORD wDayOfWeek;
    WORD wDay;
    WORD wHour;
    WORD wMinute;
    WORD wSecond;
    WORD wMilliseconds;
} SYSTEMTIME, *PSYSTEMTIME, *LPSYSTEMTIME;

typedef struct _FILETIME {
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
} FILETIME, *PFILETIME, *LPFILETIME;

typedef struct _WIN32_FIND_DATAW {
    DWORD dwFileAttributes;
    FILETIME ftCreationTime;
    FILETIME ftLastAccessTime;
    FILETIME ftLastWriteTime;
    DWORD nFileSizeHigh;
    DWORD nFileSizeLow;
    DWORD dwReserved0;
    DWORD dwReserved1;
    WCHAR cFileName[MAX_PATH];
    WCHAR cAlternateFileName[14];
} WIN32_FIND_DATAW, *PWIN32_FIND_DATAW, *LPWIN32_FIND_DATAW;

/* File attributes (WIN32_FIND_DATAW.dwFileAttributes). */
#define FILE_ATTRIBUTE_READONLY            0x00000001
#define FILE_ATTRIBUTE_HIDDEN              0x00000002
#define FILE_ATTRIBUTE_SYSTEM              0x00000004
#define FILE_ATTRIBUTE_DIRECTORY           0x00000010
#define FILE_ATTRIBUTE_ARCHIVE             0x00000020
#define FILE_ATTRIBUTE_DEVICE              0x00000040
#define FILE_ATTRIBUTE_NORMAL              0x00000080
#define FILE_ATTRIBUTE_TEMPORARY           0x00000100
#define FILE_ATTRIBUTE_SPARSE_FILE         0x00000200
#define FILE_ATTRIBUTE_REPARSE_POINT       0x00000400
#define FILE_ATTRIBUTE_COMPRESSED          0x00000800
#define FILE_ATTRIBUTE_OFFLINE             0x00001000
#define FILE_ATTRIBUTE_NOT_CONTENT_INDEXED 0x00002000
#define FILE_ATTRIBUTE_ENCRYPTED           0x00004000

/* Access rights (FtpOpenFileW), move methods (InternetSetFilePointer) and the
 * failure results of InternetSetFilePointer and FtpGetFileSize. */
#define GENERIC_READ    0x80000000
#define GENERIC_WRITE   0x40000000
#define GENERIC_EXECUTE 0x20000000
#define GENERIC_ALL     0x10000000
#define FILE_BEGIN   0
#define FILE_CURRENT 1
#define FILE_END     2
#define INVALID_SET_FILE_POINTER ((DWORD)-1)
#define INVALID_FILE_SIZE ((DWORD)0xffffffff)

/* FormatMessageW flags. */
#define FORMAT_MESSAGE_ALLOCATE_BUFFER 0x00000100
#define FORMAT_MESSAGE_IGNORE_INSERTS  0x00000200
#define FORMAT_MESSAGE_FROM_STRING     0x00000400
#define FORMAT_MESSAGE_FROM_HMODULE    0x00000800
#define FORMAT_MESSAGE_FROM_SYSTEM     0x00001000
#define FORMAT_MESSAGE_ARGUMENT_ARRAY  0x00002000
#define FORMAT_MESSAGE_MAX_WIDTH_MASK  0x000000FF

#define LANG_NEUTRAL    0x00
#define SUBLANG_DEFAULT 0x01

/* ---------------------------------------------------------------------------
 * Win32 error codes used by the library and the backend
 * ------------------------------------------------------------------------- */

#define NO_ERROR                      0
#define ERROR_SUCCESS                 0
#define ERROR_INVALID_FUNCTION        1
#define ERROR_FILE_NOT_FOUND          2
#define ERROR_PATH_NOT_FOUND          3
#define ERROR_TOO_MANY_OPEN_FILES     4
#define ERROR_ACCESS_DENIED           5
#define ERROR_INVALID_HANDLE          6
#define ERROR_NOT_ENOUGH_MEMORY       8
#define ERROR_INVALID_DATA            13
#define ERROR_OUTOFMEMORY             14
#define ERROR_NO_MORE_FILES           18
#define ERROR_WRITE_FAULT             29
#define ERROR_READ_FAULT              30
#define ERROR_HANDLE_EOF              38
#define ERROR_NOT_SUPPORTED           50
#define ERROR_FILE_EXISTS             80
#define ERROR_INVALID_PARAMETER       87
#define ERROR_BROKEN_PIPE             109
#define ERROR_BUFFER_OVERFLOW         111
#define ERROR_DISK_FULL               112
#define ERROR_CALL_NOT_IMPLEMENTED    120
#define ERROR_INSUFFICIENT_BUFFER     122
#define ERROR_INVALID_NAME            123
#define ERROR_MOD_NOT_FOUND           126
#define ERROR_PROC_NOT_FOUND          127
#define ERROR_NEGATIVE_SEEK           131
#define ERROR_BAD_ARGUMENTS           160
#define ERROR_ALREADY_EXISTS          183
#define ERROR_MORE_DATA               234
#define WAIT_TIMEOUT                  258
#define ERROR_NO_MORE_ITEMS           259
#define ERROR_MR_MID_NOT_FOUND        317
#define ERROR_INVALID_ADDRESS         487
/* The dial-up codes the connection functions answer (raserror.h on Windows). */
#define ERROR_CANNOT_FIND_PHONEBOOK_ENTRY 623
#define ERROR_DISCONNECTION               628
#define ERROR_PORT_NOT_AVAILABLE          633
#define ERROR_REQUEST_TIMEOUT             638
#define ERROR_INTERACTIVE_MODE            703
#define ERROR_RASMAN_CANNOT_INITIALIZE    711
#define ERROR_OPERATION_ABORTED       995
#define ERROR_IO_INCOMPLETE           996
#define ERROR_IO_PENDING              997
#define ERROR_NOACCESS                998
#define ERROR_INVALID_FLAGS           1004
#define ERROR_NOT_FOUND               1168
#define ERROR_CANCELLED               1223
#define ERROR_TIMEOUT                 1460
#define ERROR_RESOURCE_TYPE_NOT_FOUND 1813
#define ERROR_RESOURCE_LANG_NOT_FOUND 1815
#define ERROR_NOT_CONNECTED           2250
#define ERROR_INVALID_OPERATION       4317

/* ---------------------------------------------------------------------------
 * WinINet error codes
 * ------------------------------------------------------------------------- */

#define INTERNET_ERROR_BASE 12000

#define ERROR_INTERNET_OUT_OF_HANDLES                    (INTERNET_ERROR_BASE + 1)
#define ERROR_INTERNET_TIMEOUT                           (INTERNET_ERROR_BASE + 2)
#define ERROR_INTERNET_EXTENDED_ERROR                    (INTERNET_ERROR_BASE + 3)
#define ERROR_INTERNET_INTERNAL_ERROR                    (INTERNET_ERROR_BASE + 4)
#define ERROR_INTERNET_INVALID_URL                       (INTERNET_ERROR_BASE + 5)
#define ERROR_INTERNET_UNRECOGNIZED_SCHEME               (INTERNET_ERROR_BASE + 6)
#define ERROR_INTERNET_NAME_NOT_RESOLVED                 (INTERNET_ERROR_BASE + 7)
#define ERROR_INTERNET_PROTOCOL_NOT_FOUND                (INTERNET_ERROR_BASE + 8)
#define ERROR_INTERNET_INVALID_OPTION                    (INTERNET_ERROR_BASE + 9)
#define ERROR_INTERNET_BAD_OPTION_LENGTH                 (INTERNET_ERROR_BASE + 10)
#define ERROR_INTERNET_OPTION_NOT_SETTABLE               (INTERNET_ERROR_BASE + 11)
#define ERROR_INTERNET_SHUTDOWN                          (INTERNET_ERROR_BASE + 12)
#define ERROR_INTERNET_INCORRECT_USER_NAME               (INTERNET_ERROR_BASE + 13)
#define ERROR_INTERNET_INCORRECT_PASSWORD                (INTERNET_ERROR_BASE + 14)
#define ERROR_INTERNET_LOGIN_FAILURE                     (INTERNET_ERROR_BASE + 15)
#define ERROR_INTERNET_INVALID_OPERATION                 (INTERNET_ERROR_BASE + 16)
#define ERROR_INTERNET_OPERATION_CANCELLED               (INTERNET_ERROR_BASE + 17)
#define ERROR_INTERNET_INCORRECT_HANDLE_TYPE             (INTERNET_ERROR_BASE + 18)
#define ERROR_INTERNET_INCORRECT_HANDLE_STATE            (INTERNET_ERROR_BASE + 19)
#define ERROR_INTERNET_NOT_PROXY_REQUEST                 (INTERNET_ERROR_BASE + 20)
#define ERROR_INTERNET_REGISTRY_VALUE_NOT_FOUND          (INTERNET_ERROR_BASE + 21)
#define ERROR_INTERNET_BAD_REGISTRY_PARAMETER            (INTERNET_ERROR_BASE + 22)
#define ERROR_INTERNET_NO_DIRECT_ACCESS                  (INTERNET_ERROR_BASE + 23)
#define ERROR_INTERNET_NO_CONTEXT                        (INTERNET_ERROR_BASE + 24)
#define ERROR_INTERNET_NO_CALLBACK                       (INTERNET_ERROR_BASE + 25)
#define ERROR_INTERNET_REQUEST_PENDING                   (INTERNET_ERROR_BASE + 26)
#define ERROR_INTERNET_INCORRECT_FORMAT                  (INTERNET_ERROR_BASE + 27)
#define ERROR_INTERNET_ITEM_NOT_FOUND                    (INTERNET_ERROR_BASE + 28)
#define ERROR_INTERNET_CANNOT_CONNECT                    (INTERNET_ERROR_BASE + 29)
#define ERROR_INTERNET_CONNECTION_ABORTED                (INTERNET_ERROR_BASE + 30)
#define ERROR_INTERNET_CONNECTION_RESET                  (INTERNET_ERROR_BASE + 31)
#define ERROR_INTERNET_FORCE_RETRY                       (INTERNET_ERROR_BASE + 32)
#define ERROR_INTERNET_INVALID_PROXY_REQUEST             (INTERNET_ERROR_BASE + 33)
#define ERROR_INTERNET_NEED_UI                           (INTERNET_ERROR_BASE + 34)
#define ERROR_INTERNET_HANDLE_EXISTS                     (INTERNET_ERROR_BASE + 36)
#define ERROR_INTERNET_SEC_CERT_DATE_INVALID             (INTERNET_ERROR_BASE + 37)
#define ERROR_INTERNET_SEC_CERT_CN_INVALID               (INTERNET_ERROR_BASE + 38)
#define ERROR_INTERNET_HTTP_TO_HTTPS_ON_REDIR            (INTERNET_ERROR_BASE + 39)
#define ERROR_INTERNET_HTTPS_TO_HTTP_ON_REDIR            (INTERNET_ERROR_BASE + 40)
#define ERROR_INTERNET_MIXED_SECURITY                    (INTERNET_ERROR_BASE + 41)
#define ERROR_INTERNET_CHG_POST_IS_NON_SECURE            (INTERNET_ERROR_BASE + 42)
#define ERROR_INTERNET_POST_IS_NON_SECURE                (INTERNET_ERROR_BASE + 43)
#define ERROR_INTERNET_CLIENT_AUTH_CERT_NEEDED           (INTERNET_ERROR_BASE + 44)
#define ERROR_INTERNET_INVALID_CA                        (INTERNET_ERROR_BASE + 45)
#define ERROR_INTERNET_CLIENT_AUTH_NOT_SETUP             (INTERNET_ERROR_BASE + 46)
#define ERROR_INTERNET_ASYNC_THREAD_FAILED               (INTERNET_ERROR_BASE + 47)
#define ERROR_INTERNET_REDIRECT_SCHEME_CHANGE            (INTERNET_ERROR_BASE + 48)
#define ERROR_INTERNET_DIALOG_PENDING                    (INTERNET_ERROR_BASE + 49)
#define ERROR_INTERNET_RETRY_DIALOG                      (INTERNET_ERROR_BASE + 50)
#define ERROR_INTERNET_NO_NEW_CONTAINERS                 (INTERNET_ERROR_BASE + 51)
#define ERROR_INTERNET_HTTPS_HTTP_SUBMIT_REDIR           (INTERNET_ERROR_BASE + 52)
#define ERROR_INTERNET_INSERT_CDROM                      (INTERNET_ERROR_BASE + 53)
#define ERROR_INTERNET_FORTEZZA_LOGIN_NEEDED             (INTERNET_ERROR_BASE + 54)
#define ERROR_INTERNET_SEC_CERT_ERRORS                   (INTERNET_ERROR_BASE + 55)
#define ERROR_INTERNET_SEC_CERT_NO_REV                   (INTERNET_ERROR_BASE + 56)
#define ERROR_INTERNET_SEC_CERT_REV_FAILED               (INTERNET_ERROR_BASE + 57)
#define ERROR_INTERNET_SOURCE_PORT_IN_USE                (INTERNET_ERROR_BASE + 58)
#define ERROR_INTERNET_INSECURE_FALLBACK_REQUIRED        (INTERNET_ERROR_BASE + 59)
#define ERROR_HTTP_HSTS_REDIRECT_REQUIRED                (INTERNET_ERROR_BASE + 60)
#define ERROR_INTERNET_PROXY_ALERT                       (INTERNET_ERROR_BASE + 61)
#define ERROR_INTERNET_SEC_CERT_WEAK_SIGNATURE           (INTERNET_ERROR_BASE + 62)
#define ERROR_INTERNET_NO_CM_CONNECTION                  (INTERNET_ERROR_BASE + 80)
#define ERROR_FTP_TRANSFER_IN_PROGRESS                   (INTERNET_ERROR_BASE + 110)
#define ERROR_FTP_DROPPED                                (INTERNET_ERROR_BASE + 111)
#define ERROR_FTP_NO_PASSIVE_MODE                        (INTERNET_ERROR_BASE + 112)
#define ERROR_GOPHER_PROTOCOL_ERROR                      (INTERNET_ERROR_BASE + 130)
#define ERROR_GOPHER_NOT_FILE                            (INTERNET_ERROR_BASE + 131)
#define ERROR_GOPHER_DATA_ERROR                          (INTERNET_ERROR_BASE + 132)
#define ERROR_GOPHER_END_OF_DATA                         (INTERNET_ERROR_BASE + 133)
#define ERROR_GOPHER_INVALID_LOCATOR                     (INTERNET_ERROR_BASE + 134)
#define ERROR_GOPHER_INCORRECT_LOCATOR_TYPE              (INTERNET_ERROR_BASE + 135)
#define ERROR_GOPHER_NOT_GOPHER_PLUS                     (INTERNET_ERROR_BASE + 136)
#define ERROR_GOPHER_ATTRIBUTE_NOT_FOUND                 (INTERNET_ERROR_BASE + 137)
#define ERROR_GOPHER_UNKNOWN_LOCATOR                     (INTERNET_ERROR_BASE + 138)
#define ERROR_HTTP_PUSH_STATUS_CODE_NOT_SUPPORTED        (INTERNET_ERROR_BASE + 147)
#define ERROR_HTTP_PUSH_RETRY_NOT_SUPPORTED              (INTERNET_ERROR_BASE + 148)
#define ERROR_HTTP_PUSH_ENABLE_FAILED                    (INTERNET_ERROR_BASE + 149)
#define ERROR_HTTP_HEADER_NOT_FOUND                      (INTERNET_ERROR_BASE + 150)
#define ERROR_HTTP_DOWNLEVEL_SERVER                      (INTERNET_ERROR_BASE + 151)
#define ERROR_HTTP_INVALID_SERVER_RESPONSE               (INTERNET_ERROR_BASE + 152)
#define ERROR_HTTP_INVALID_HEADER                        (INTERNET_ERROR_BASE + 153)
#define ERROR_HTTP_INVALID_QUERY_REQUEST                 (INTERNET_ERROR_BASE + 154)
#define ERROR_HTTP_HEADER_ALREADY_EXISTS                 (INTERNET_ERROR_BASE + 155)
#define ERROR_HTTP_REDIRECT_FAILED                       (INTERNET_ERROR_BASE + 156)
#define ERROR_INTERNET_SECURITY_CHANNEL_ERROR            (INTERNET_ERROR_BASE + 157)
#define ERROR_INTERNET_UNABLE_TO_CACHE_FILE              (INTERNET_ERROR_BASE + 158)
#define ERROR_INTERNET_TCPIP_NOT_INSTALLED               (INTERNET_ERROR_BASE + 159)
#define ERROR_HTTP_NOT_REDIRECTED                        (INTERNET_ERROR_BASE + 160)
#define ERROR_HTTP_COOKIE_NEEDS_CONFIRMATION             (INTERNET_ERROR_BASE + 161)
#define ERROR_HTTP_COOKIE_DECLINED                       (INTERNET_ERROR_BASE + 162)
#define ERROR_INTERNET_DISCONNECTED                      (INTERNET_ERROR_BASE + 163)
#define ERROR_INTERNET_SERVER_UNREACHABLE                (INTERNET_ERROR_BASE + 164)
#define ERROR_INTERNET_PROXY_SERVER_UNREACHABLE          (INTERNET_ERROR_BASE + 165)
#define ERROR_INTERNET_BAD_AUTO_PROXY_SCRIPT             (INTERNET_ERROR_BASE + 166)
#define ERROR_INTERNET_UNABLE_TO_DOWNLOAD_SCRIPT         (INTERNET_ERROR_BASE + 167)
#define ERROR_HTTP_REDIRECT_NEEDS_CONFIRMATION           (INTERNET_ERROR_BASE + 168)
#define ERROR_INTERNET_SEC_INVALID_CERT                  (INTERNET_ERROR_BASE + 169)
#define ERROR_INTERNET_SEC_CERT_REVOKED                  (INTERNET_ERROR_BASE + 170)
#define ERROR_INTERNET_FAILED_DUETOSECURITYCHECK         (INTERNET_ERROR_BASE + 171)
#define ERROR_INTERNET_NOT_INITIALIZED                   (INTERNET_ERROR_BASE + 172)
#define ERROR_INTERNET_NEED_MSN_SSPI_PKG                 (INTERNET_ERROR_BASE + 173)
#define ERROR_INTERNET_LOGIN_FAILURE_DISPLAY_ENTITY_BODY (INTERNET_ERROR_BASE + 174)
#define ERROR_INTERNET_DECODING_FAILED                   (INTERNET_ERROR_BASE + 175)
#define ERROR_INTERNET_CLIENT_AUTH_CERT_NEEDED_PROXY     (INTERNET_ERROR_BASE + 187)
#define ERROR_INTERNET_SECURE_FAILURE_PROXY              (INTERNET_ERROR_BASE + 188)
#define ERROR_INTERNET_DISALLOW_INPRIVATE                (INTERNET_ERROR_BASE + 189)
#define ERROR_INTERNET_HTTP_PROTOCOL_MISMATCH            (INTERNET_ERROR_BASE + 190)
#define ERROR_INTERNET_GLOBAL_CALLBACK_FAILED            (INTERNET_ERROR_BASE + 191)
#define ERROR_INTERNET_FEATURE_DISABLED                  (INTERNET_ERROR_BASE + 192)
#define ERROR_INTERNET_OFFLINE                           ERROR_INTERNET_DISCONNECTED
#define INTERNET_ERROR_LAST                              ERROR_INTERNET_FEATURE_DISABLED

/* ---------------------------------------------------------------------------
 * Ports, lengths, schemes
 * ------------------------------------------------------------------------- */

#define INTERNET_INVALID_PORT_NUMBER    0
#define INTERNET_DEFAULT_FTP_PORT       21
#define INTERNET_DEFAULT_GOPHER_PORT    70
#define INTERNET_DEFAULT_HTTP_PORT      80
#define INTERNET_DEFAULT_HTTPS_PORT     443
#define INTERNET_DEFAULT_SOCKS_PORT     1080

#define INTERNET_MAX_HOST_NAME_LENGTH   256
#define INTERNET_MAX_USER_NAME_LENGTH   128
#define INTERNET_MAX_PASSWORD_LENGTH    128
#define INTERNET_MAX_PORT_NUMBER_LENGTH 5
#define INTERNET_MAX_PORT_NUMBER_VALUE  65535
#define INTERNET_MAX_PATH_LENGTH        2048
#define INTERNET_MAX_SCHEME_LENGTH      32
#define INTERNET_MAX_URL_LENGTH         (INTERNET_MAX_SCHEME_LENGTH + sizeof("://") + INTERNET_MAX_PATH_LENGTH)

#define INTERNET_KEEP_ALIVE_UNKNOWN     ((DWORD)-1)
#define INTERNET_KEEP_ALIVE_ENABLED     1
#define INTERNET_KEEP_ALIVE_DISABLED    0

typedef enum {
    INTERNET_SCHEME_PARTIAL = -2,
    INTERNET_SCHEME_UNKNOWN = -1,
    INTERNET_SCHEME_DEFAULT = 0,
    INTERNET_SCHEME_FTP,
    INTERNET_SCHEME_GOPHER,
    INTERNET_SCHEME_HTTP,
    INTERNET_SCHEME_HTTPS,
    INTERNET_SCHEME_FILE,
    INTERNET_SCHEME_NEWS,
    INTERNET_SCHEME_MAILTO,
    INTERNET_SCHEME_SOCKS,
    INTERNET_SCHEME_JAVASCRIPT,
    INTERNET_SCHEME_VBSCRIPT,
    INTERNET_SCHEME_RES,
    INTERNET_SCHEME_FIRST = INTERNET_SCHEME_FTP,
    INTERNET_SCHEME_LAST = INTERNET_SCHEME_RES
} INTERNET_SCHEME, *LPINTERNET_SCHEME;

/* ---------------------------------------------------------------------------
 * Request, session and cache flags (InternetOpenW, InternetConnectW,
 * HttpOpenRequestW, FtpOpenFileW, ...)
 * ------------------------------------------------------------------------- */

#define INTERNET_FLAG_RELOAD                   0x80000000
#define INTERNET_FLAG_RAW_DATA                 0x40000000
#define INTERNET_FLAG_EXISTING_CONNECT         0x20000000
#define INTERNET_FLAG_ASYNC                    0x10000000
#define INTERNET_FLAG_PASSIVE                  0x08000000
#define INTERNET_FLAG_NO_CACHE_WRITE           0x04000000
#define INTERNET_FLAG_DONT_CACHE               INTERNET_FLAG_NO_CACHE_WRITE
#define INTERNET_FLAG_MAKE_PERSISTENT          0x02000000
#define INTERNET_FLAG_FROM_CACHE               0x01000000
#define INTERNET_FLAG_OFFLINE                  INTERNET_FLAG_FROM_CACHE
#define INTERNET_FLAG_SECURE                   0x00800000
#define INTERNET_FLAG_KEEP_CONNECTION          0x00400000
#define INTERNET_FLAG_NO_AUTO_REDIRECT         0x00200000
#define INTERNET_FLAG_READ_PREFETCH            0x00100000
#define INTERNET_FLAG_NO_COOKIES               0x00080000
#define INTERNET_FLAG_NO_AUTH                  0x00040000
#define INTERNET_FLAG_RESTRICTED_ZONE          0x00020000
#define INTERNET_FLAG_CACHE_IF_NET_FAIL        0x00010000
#define INTERNET_FLAG_IGNORE_REDIRECT_TO_HTTP  0x00008000
#define INTERNET_FLAG_IGNORE_REDIRECT_TO_HTTPS 0x00004000
#define INTERNET_FLAG_IGNORE_CERT_DATE_INVALID 0x00002000
#define INTERNET_FLAG_IGNORE_CERT_CN_INVALID   0x00001000
#define INTERNET_FLAG_RESYNCHRONIZE            0x00000800
#define INTERNET_FLAG_HYPERLINK                0x00000400
#define INTERNET_FLAG_NO_UI                    0x00000200
#define INTERNET_FLAG_PRAGMA_NOCACHE           0x00000100
#define INTERNET_FLAG_CACHE_ASYNC              0x00000080
#define INTERNET_FLAG_FORMS_SUBMIT             0x00000040
#define INTERNET_FLAG_FWD_BACK                 0x00000020
#define INTERNET_FLAG_NEED_FILE                0x00000010
#define INTERNET_FLAG_MUST_CACHE_REQUEST       INTERNET_FLAG_NEED_FILE
#define INTERNET_FLAG_TRANSFER_ASCII           FTP_TRANSFER_TYPE_ASCII
#define INTERNET_FLAG_TRANSFER_BINARY          FTP_TRANSFER_TYPE_BINARY

/* Values of INTERNET_OPTION_IDN (they share bits with the flags above). */
#define INTERNET_FLAG_IDN_DIRECT               0x00000001
#define INTERNET_FLAG_IDN_PROXY                0x00000002

#define SECURITY_INTERNET_MASK (INTERNET_FLAG_IGNORE_CERT_CN_INVALID | \
                                INTERNET_FLAG_IGNORE_CERT_DATE_INVALID | \
                                INTERNET_FLAG_IGNORE_REDIRECT_TO_HTTPS | \
                                INTERNET_FLAG_IGNORE_REDIRECT_TO_HTTP)

#define INTERNET_FLAGS_MASK (INTERNET_FLAG_RELOAD | INTERNET_FLAG_RAW_DATA | \
                             INTERNET_FLAG_EXISTING_CONNECT | INTERNET_FLAG_ASYNC | \
                             INTERNET_FLAG_PASSIVE | INTERNET_FLAG_NO_CACHE_WRITE | \
                             INTERNET_FLAG_MAKE_PERSISTENT | INTERNET_FLAG_FROM_CACHE | \
                             INTERNET_FLAG_SECURE | INTERNET_FLAG_KEEP_CONNECTION | \
                             INTERNET_FLAG_NO_AUTO_REDIRECT | INTERNET_FLAG_READ_PREFETCH | \
                             INTERNET_FLAG_NO_COOKIES | INTERNET_FLAG_NO_AUTH | \
                             INTERNET_FLAG_CACHE_IF_NET_FAIL | SECURITY_INTERNET_MASK | \
                             INTERNET_FLAG_RESYNCHRONIZE | INTERNET_FLAG_HYPERLINK | \
                             INTERNET_FLAG_NO_UI | INTERNET_FLAG_PRAGMA_NOCACHE | \
                             INTERNET_FLAG_CACHE_ASYNC | INTERNET_FLAG_FORMS_SUBMIT | \
                             INTERNET_FLAG_NEED_FILE | INTERNET_FLAG_RESTRICTED_ZONE | \
                             INTERNET_FLAG_TRANSFER_BINARY | INTERNET_FLAG_TRANSFER_ASCII | \
                             INTERNET_FLAG_FWD_BACK)
#define INTERNET_OPTIONS_MASK (~INTERNET_FLAGS_MASK)

#define WININET_API_FLAG_ASYNC       0x00000001
#define WININET_API_FLAG_SYNC        0x00000004
#define WININET_API_FLAG_USE_CONTEXT 0x00000008
#define INTERNET_NO_CALLBACK         0

#define IRF_ASYNC       WININET_API_FLAG_ASYNC
#define IRF_SYNC        WININET_API_FLAG_SYNC
#define IRF_USE_CONTEXT WININET_API_FLAG_USE_CONTEXT
#define IRF_NO_WAIT     0x00000008

/* Access types (InternetOpenW, INTERNET_PROXY_INFO). */
#define INTERNET_OPEN_TYPE_PRECONFIG                   0
#define INTERNET_OPEN_TYPE_DIRECT                      1
#define INTERNET_OPEN_TYPE_PROXY                       3
#define INTERNET_OPEN_TYPE_PRECONFIG_WITH_NO_AUTOPROXY 4
#define PRE_CONFIG_INTERNET_ACCESS                     INTERNET_OPEN_TYPE_PRECONFIG
#define LOCAL_INTERNET_ACCESS                          INTERNET_OPEN_TYPE_DIRECT
#define CERN_PROXY_INTERNET_ACCESS                     INTERNET_OPEN_TYPE_PROXY

/* Services (InternetConnectW). */
#define INTERNET_SERVICE_URL    0
#define INTERNET_SERVICE_FTP    1
#define INTERNET_SERVICE_GOPHER 2
#define INTERNET_SERVICE_HTTP   3

/* FTP transfer types. */
#define FTP_TRANSFER_TYPE_UNKNOWN 0x00000000
#define FTP_TRANSFER_TYPE_ASCII   0x00000001
#define FTP_TRANSFER_TYPE_BINARY  0x00000002
#define FTP_TRANSFER_TYPE_MASK    (FTP_TRANSFER_TYPE_ASCII | FTP_TRANSFER_TYPE_BINARY)

/* ---------------------------------------------------------------------------
 * Options (InternetQueryOptionW, InternetSetOptionW)
 * ------------------------------------------------------------------------- */

#define INTERNET_OPTION_CALLBACK                     1
#define INTERNET_OPTION_CONNECT_TIMEOUT              2
#define INTERNET_OPTION_CONNECT_RETRIES              3
#define INTERNET_OPTION_CONNECT_BACKOFF              4
#define INTERNET_OPTION_SEND_TIMEOUT                 5
#define INTERNET_OPTION_CONTROL_SEND_TIMEOUT         INTERNET_OPTION_SEND_TIMEOUT
#define INTERNET_OPTION_RECEIVE_TIMEOUT              6
#define INTERNET_OPTION_CONTROL_RECEIVE_TIMEOUT      INTERNET_OPTION_RECEIVE_TIMEOUT
#define INTERNET_OPTION_DATA_SEND_TIMEOUT            7
#define INTERNET_OPTION_DATA_RECEIVE_TIMEOUT         8
#define INTERNET_OPTION_HANDLE_TYPE                  9
#define INTERNET_OPTION_LISTEN_TIMEOUT               11
#define INTERNET_OPTION_READ_BUFFER_SIZE             12
#define INTERNET_OPTION_WRITE_BUFFER_SIZE            13
#define INTERNET_OPTION_ASYNC_ID                     15
#define INTERNET_OPTION_ASYNC_PRIORITY               16
#define INTERNET_OPTION_PARENT_HANDLE                21
#define INTERNET_OPTION_KEEP_CONNECTION              22
#define INTERNET_OPTION_REQUEST_FLAGS                23
#define INTERNET_OPTION_EXTENDED_ERROR               24
#define INTERNET_OPTION_OFFLINE_MODE                 26
#define INTERNET_OPTION_CACHE_STREAM_HANDLE          27
#define INTERNET_OPTION_USERNAME                     28
#define INTERNET_OPTION_PASSWORD                     29
#define INTERNET_OPTION_ASYNC                        30
#define INTERNET_OPTION_SECURITY_FLAGS               31
#define INTERNET_OPTION_SECURITY_CERTIFICATE_STRUCT  32
#define INTERNET_OPTION_DATAFILE_NAME                33
#define INTERNET_OPTION_URL                          34
#define INTERNET_OPTION_SECURITY_CERTIFICATE         35
#define INTERNET_OPTION_SECURITY_KEY_BITNESS         36
#define INTERNET_OPTION_REFRESH                      37
#define INTERNET_OPTION_PROXY                        38
#define INTERNET_OPTION_SETTINGS_CHANGED             39
#define INTERNET_OPTION_VERSION                      40
#define INTERNET_OPTION_USER_AGENT                   41
#define INTERNET_OPTION_END_BROWSER_SESSION          42
#define INTERNET_OPTION_PROXY_USERNAME               43
#define INTERNET_OPTION_PROXY_PASSWORD               44
#define INTERNET_OPTION_CONTEXT_VALUE                45
#define INTERNET_OPTION_CONNECT_LIMIT                46
#define INTERNET_OPTION_SECURITY_SELECT_CLIENT_CERT  47
#define INTERNET_OPTION_POLICY                       48
#define INTERNET_OPTION_DISCONNECTED_TIMEOUT         49
#define INTERNET_OPTION_CONNECTED_STATE              50
#define INTERNET_OPTION_IDLE_STATE                   51
#define INTERNET_OPTION_OFFLINE_SEMANTICS            52
#define INTERNET_OPTION_SECONDARY_CACHE_KEY          53
#define INTERNET_OPTION_CALLBACK_FILTER              54
#define INTERNET_OPTION_CONNECT_TIME                 55
#define INTERNET_OPTION_SEND_THROUGHPUT              56
#define INTERNET_OPTION_RECEIVE_THROUGHPUT           57
#define INTERNET_OPTION_REQUEST_PRIORITY             58
#define INTERNET_OPTION_HTTP_VERSION                 59
#define INTERNET_OPTION_RESET_URLCACHE_SESSION       60
#define INTERNET_OPTION_ERROR_MASK                   62
#define INTERNET_OPTION_FROM_CACHE_TIMEOUT           63
#define INTERNET_OPTION_BYPASS_EDITED_ENTRY          64
#define INTERNET_OPTION_HTTP_DECODING                65
#define INTERNET_OPTION_DIAGNOSTIC_SOCKET_INFO       67
#define INTERNET_OPTION_CODEPAGE                     68
#define INTERNET_OPTION_CACHE_TIMESTAMPS             69
#define INTERNET_OPTION_DISABLE_AUTODIAL             70
#define INTERNET_OPTION_MAX_CONNS_PER_SERVER         73
#define INTERNET_OPTION_MAX_CONNS_PER_1_0_SERVER     74
#define INTERNET_OPTION_PER_CONNECTION_OPTION        75
#define INTERNET_OPTION_DIGEST_AUTH_UNLOAD           76
#define INTERNET_OPTION_IGNORE_OFFLINE               77
#define INTERNET_OPTION_IDENTITY                     78
#define INTERNET_OPTION_REMOVE_IDENTITY              79
#define INTERNET_OPTION_ALTER_IDENTITY               80
#define INTERNET_OPTION_SUPPRESS_BEHAVIOR            81
#define INTERNET_OPTION_AUTODIAL_MODE                82
#define INTERNET_OPTION_AUTODIAL_CONNECTION          83
#define INTERNET_OPTION_CLIENT_CERT_CONTEXT          84
#define INTERNET_OPTION_AUTH_FLAGS                   85
#define INTERNET_OPTION_COOKIES_3RD_PARTY            86
#define INTERNET_OPTION_DISABLE_PASSPORT_AUTH        87
#define INTERNET_OPTION_SEND_UTF8_SERVERNAME_TO_PROXY 88
#define INTERNET_OPTION_EXEMPT_CONNECTION_LIMIT      89
#define INTERNET_OPTION_ENABLE_PASSPORT_AUTH         90
#define INTERNET_OPTION_HIBERNATE_INACTIVE_WORKER_THREADS 91
#define INTERNET_OPTION_ACTIVATE_WORKER_THREADS      92
#define INTERNET_OPTION_RESTORE_WORKER_THREAD_DEFAULTS 93
#define INTERNET_OPTION_SOCKET_SEND_BUFFER_LENGTH    94
#define INTERNET_OPTION_PROXY_SETTINGS_CHANGED       95
#define INTERNET_OPTION_DATAFILE_EXT                 96
#define INTERNET_OPTION_CODEPAGE_PATH                100
#define INTERNET_OPTION_CODEPAGE_EXTRA               101
#define INTERNET_OPTION_IDN                          102
#define INTERNET_OPTION_MAX_CONNS_PER_PROXY          103
#define INTERNET_OPTION_SUPPRESS_SERVER_AUTH         104
#define INTERNET_OPTION_SERVER_CERT_CHAIN_CONTEXT    105
#define INTERNET_OPTION_ENABLE_REDIRECT_CACHE_READ   122
#define INTERNET_OPTION_COMPRESSED_CONTENT_LENGTH    147
#define INTERNET_OPTION_ENABLE_HTTP_PROTOCOL         148
#define INTERNET_OPTION_HTTP_PROTOCOL_USED           149
#define INTERNET_OPTION_ENCODE_EXTRA                 155
#define INTERNET_OPTION_HSTS                         157
#define INTERNET_OPTION_ENTERPRISE_CONTEXT           159
#define INTERNET_OPTION_CONNECTION_FILTER            162
#define INTERNET_OPTION_REFERER_TOKEN_BINDING_HOSTNAME 163
#define INTERNET_OPTION_TOKEN_BINDING_PUBLIC_KEY     181
#define INTERNET_OPTION_COOKIES_SAME_SITE_LEVEL      187
#define INTERNET_OPTION_REQUEST_ANNOTATION           193
#define INTERNET_FIRST_OPTION                        INTERNET_OPTION_CALLBACK
#define INTERNET_LAST_OPTION                         INTERNET_OPTION_REQUEST_ANNOTATION

#define INTERNET_PRIORITY_FOREGROUND 1000

/* Answers of INTERNET_OPTION_HANDLE_TYPE. */
#define INTERNET_HANDLE_TYPE_INTERNET         1
#define INTERNET_HANDLE_TYPE_CONNECT_FTP      2
#define INTERNET_HANDLE_TYPE_CONNECT_GOPHER   3
#define INTERNET_HANDLE_TYPE_CONNECT_HTTP     4
#define INTERNET_HANDLE_TYPE_FTP_FIND         5
#define INTERNET_HANDLE_TYPE_FTP_FIND_HTML    6
#define INTERNET_HANDLE_TYPE_FTP_FILE         7
#define INTERNET_HANDLE_TYPE_FTP_FILE_HTML    8
#define INTERNET_HANDLE_TYPE_GOPHER_FIND      9
#define INTERNET_HANDLE_TYPE_GOPHER_FIND_HTML 10
#define INTERNET_HANDLE_TYPE_GOPHER_FILE      11
#define INTERNET_HANDLE_TYPE_GOPHER_FILE_HTML 12
#define INTERNET_HANDLE_TYPE_HTTP_REQUEST     13
#define INTERNET_HANDLE_TYPE_FILE_REQUEST     14

/* INTERNET_OPTION_SECURITY_FLAGS. */
#define SECURITY_FLAG_SECURE                   0x00000001
#define SECURITY_FLAG_SSL                      0x00000002
#define SECURITY_FLAG_SSL3                     0x00000004
#define SECURITY_FLAG_PCT                      0x00000008
#define SECURITY_FLAG_PCT4                     0x00000010
#define SECURITY_FLAG_IETFSSL4                 0x00000020
#define SECURITY_FLAG_IGNORE_REVOCATION        0x00000080
#define SECURITY_FLAG_IGNORE_UNKNOWN_CA        0x00000100
#define SECURITY_FLAG_IGNORE_WRONG_USAGE       0x00000200
#define SECURITY_FLAG_IGNORE_CERT_CN_INVALID   INTERNET_FLAG_IGNORE_CERT_CN_INVALID
#define SECURITY_FLAG_IGNORE_CERT_DATE_INVALID INTERNET_FLAG_IGNORE_CERT_DATE_INVALID
#define SECURITY_FLAG_IGNORE_REDIRECT_TO_HTTPS INTERNET_FLAG_IGNORE_REDIRECT_TO_HTTPS
#define SECURITY_FLAG_IGNORE_REDIRECT_TO_HTTP  INTERNET_FLAG_IGNORE_REDIRECT_TO_HTTP
#define SECURITY_FLAG_IGNORE_WEAK_SIGNATURE    0x00010000
#define SECURITY_FLAG_OPT_IN_WEAK_SIGNATURE    0x00020000
#define SECURITY_FLAG_FORTEZZA                 0x08000000
#define SECURITY_FLAG_STRENGTH_WEAK            0x10000000
#define SECURITY_FLAG_STRENGTH_STRONG          0x20000000
#define SECURITY_FLAG_STRENGTH_MEDIUM          0x40000000
#define SECURITY_FLAG_UNKNOWNBIT               0x80000000
#define SECURITY_FLAG_NORMALBITNESS            SECURITY_FLAG_STRENGTH_WEAK
#define SECURITY_FLAG_40BIT                    SECURITY_FLAG_STRENGTH_WEAK
#define SECURITY_FLAG_56BIT                    SECURITY_FLAG_STRENGTH_MEDIUM
#define SECURITY_FLAG_128BIT                   SECURITY_FLAG_STRENGTH_STRONG
#define SECURITY_SET_MASK (SECURITY_FLAG_IGNORE_REVOCATION | SECURITY_FLAG_IGNORE_UNKNOWN_CA | \
                           SECURITY_FLAG_IGNORE_CERT_CN_INVALID | \
                           SECURITY_FLAG_IGNORE_CERT_DATE_INVALID | \
                           SECURITY_FLAG_IGNORE_WRONG_USAGE | SECURITY_FLAG_IGNORE_WEAK_SIGNATURE)

/* ---------------------------------------------------------------------------
 * Records
 * ------------------------------------------------------------------------- */

/* Status data of INTERNET_STATUS_HANDLE_CREATED and REQUEST_COMPLETE. */
typedef struct {
    DWORD_PTR dwResult;
    DWORD dwError;
} INTERNET_ASYNC_RESULT, *LPINTERNET_ASYNC_RESULT;

/* INTERNET_OPTION_PROXY. A query answers with the two texts placed in the
 * same buffer after the record. */
typedef struct {
    DWORD dwAccessType;
    LPCWSTR lpszProxy;
    LPCWSTR lpszProxyBypass;
} INTERNET_PROXY_INFOW, *LPINTERNET_PROXY_INFOW;
typedef INTERNET_PROXY_INFOW INTERNET_PROXY_INFO;
typedef LPINTERNET_PROXY_INFOW LPINTERNET_PROXY_INFO;

/* INTERNET_OPTION_VERSION. */
typedef struct {
    DWORD dwMajorVersion;
    DWORD dwMinorVersion;
} INTERNET_VERSION_INFO, *LPINTERNET_VERSION_INFO;

/* INTERNET_OPTION_HTTP_VERSION. */
typedef struct {
    DWORD dwMajorVersion;
    DWORD dwMinorVersion;
} HTTP_VERSION_INFO, *LPHTTP_VERSION_INFO;

/* INTERNET_OPTION_CONNECTED_STATE. */
typedef struct {
    DWORD dwConnectedState;
    DWORD dwFlags;
} INTERNET_CONNECTED_INFO, *LPINTERNET_CONNECTED_INFO;

/* InternetCrackUrlW / InternetCreateUrlW. */
typedef struct {
    DWORD dwStructSize;
    LPWSTR lpszScheme;
    DWORD dwSchemeLength;
    INTERNET_SCHEME nScheme;
    LPWSTR lpszHostName;
    DWORD dwHostNameLength;
    INTERNET_PORT nPort;
    LPWSTR lpszUserName;
    DWORD dwUserNameLength;
    LPWSTR lpszPassword;
    DWORD dwPasswordLength;
    LPWSTR lpszUrlPath;
    DWORD dwUrlPathLength;
    LPWSTR lpszExtraInfo;
    DWORD dwExtraInfoLength;
} URL_COMPONENTSW, *LPURL_COMPONENTSW;
typedef URL_COMPONENTSW URL_COMPONENTS;
typedef LPURL_COMPONENTSW LPURL_COMPONENTS;

/* ---------------------------------------------------------------------------
 * Status callback
 * ------------------------------------------------------------------------- */

typedef void (CALLBACK *INTERNET_STATUS_CALLBACK)(HINTERNET hInternet, DWORD_PTR dwContext,
                                                  DWORD dwInternetStatus,
                                                  LPVOID lpvStatusInformation,
                                                  DWORD dwStatusInformationLength);
typedef INTERNET_STATUS_CALLBACK* LPINTERNET_STATUS_CALLBACK;

/* What InternetSetStatusCallback returns for a handle it cannot use. */
#define INTERNET_INVALID_STATUS_CALLBACK ((INTERNET_STATUS_CALLBACK)(-1L))

#define INTERNET_STATUS_RESOLVING_NAME        10
#define INTERNET_STATUS_NAME_RESOLVED         11
#define INTERNET_STATUS_CONNECTING_TO_SERVER  20
#define INTERNET_STATUS_CONNECTED_TO_SERVER   21
#define INTERNET_STATUS_SENDING_REQUEST       30
#define INTERNET_STATUS_REQUEST_SENT          31
#define INTERNET_STATUS_RECEIVING_RESPONSE    40
#define INTERNET_STATUS_RESPONSE_RECEIVED     41
#define INTERNET_STATUS_CTL_RESPONSE_RECEIVED 42
#define INTERNET_STATUS_PREFETCH              43
#define INTERNET_STATUS_CLOSING_CONNECTION    50
#define INTERNET_STATUS_CONNECTION_CLOSED     51
#define INTERNET_STATUS_HANDLE_CREATED        60
#define INTERNET_STATUS_HANDLE_CLOSING        70
#define INTERNET_STATUS_DETECTING_PROXY       80
#define INTERNET_STATUS_REQUEST_COMPLETE      100
#define INTERNET_STATUS_REDIRECT              110
#define INTERNET_STATUS_INTERMEDIATE_RESPONSE 120
#define INTERNET_STATUS_USER_INPUT_REQUIRED   140
#define INTERNET_STATUS_STATE_CHANGE          200
#define INTERNET_STATUS_COOKIE_SENT           320
#define INTERNET_STATUS_COOKIE_RECEIVED       321
#define INTERNET_STATUS_PRIVACY_IMPACTED      324
#define INTERNET_STATUS_P3P_HEADER            325
#define INTERNET_STATUS_P3P_POLICYREF         326
#define INTERNET_STATUS_COOKIE_HISTORY        327

#define INTERNET_STATE_CONNECTED            0x00000001
#define INTERNET_STATE_DISCONNECTED         0x00000002
#define INTERNET_STATE_DISCONNECTED_BY_USER 0x00000010
#define INTERNET_STATE_IDLE                 0x00000100
#define INTERNET_STATE_BUSY                 0x00000200

/* ---------------------------------------------------------------------------
 * HTTP
 * ------------------------------------------------------------------------- */

/* HttpQueryInfoW levels. */
#define HTTP_QUERY_MIME_VERSION                 0
#define HTTP_QUERY_CONTENT_TYPE                 1
#define HTTP_QUERY_CONTENT_TRANSFER_ENCODING    2
#define HTTP_QUERY_CONTENT_ID                   3
#define HTTP_QUERY_CONTENT_DESCRIPTION          4
#define HTTP_QUERY_CONTENT_LENGTH               5
#define HTTP_QUERY_CONTENT_LANGUAGE             6
#define HTTP_QUERY_ALLOW                        7
#define HTTP_QUERY_PUBLIC                       8
#define HTTP_QUERY_DATE                         9
#define HTTP_QUERY_EXPIRES                      10
#define HTTP_QUERY_LAST_MODIFIED                11
#define HTTP_QUERY_MESSAGE_ID                   12
#define HTTP_QUERY_URI                          13
#define HTTP_QUERY_DERIVED_FROM                 14
#define HTTP_QUERY_COST                         15
#define HTTP_QUERY_LINK                         16
#define HTTP_QUERY_PRAGMA                       17
#define HTTP_QUERY_VERSION                      18
#define HTTP_QUERY_STATUS_CODE                  19
#define HTTP_QUERY_STATUS_TEXT                  20
#define HTTP_QUERY_RAW_HEADERS                  21
#define HTTP_QUERY_RAW_HEADERS_CRLF             22
#define HTTP_QUERY_CONNECTION                   23
#define HTTP_QUERY_ACCEPT                       24
#define HTTP_QUERY_ACCEPT_CHARSET               25
#define HTTP_QUERY_ACCEPT_ENCODING              26
#define HTTP_QUERY_ACCEPT_LANGUAGE              27
#define HTTP_QUERY_AUTHORIZATION                28
#define HTTP_QUERY_CONTENT_ENCODING             29
#define HTTP_QUERY_FORWARDED                    30
#define HTTP_QUERY_FROM                         31
#define HTTP_QUERY_IF_MODIFIED_SINCE            32
#define HTTP_QUERY_LOCATION                     33
#define HTTP_QUERY_ORIG_URI                     34
#define HTTP_QUERY_REFERER                      35
#define HTTP_QUERY_RETRY_AFTER                  36
#define HTTP_QUERY_SERVER                       37
#define HTTP_QUERY_TITLE                        38
#define HTTP_QUERY_USER_AGENT                   39
#define HTTP_QUERY_WWW_AUTHENTICATE             40
#define HTTP_QUERY_PROXY_AUTHENTICATE           41
#define HTTP_QUERY_ACCEPT_RANGES                42
#define HTTP_QUERY_SET_COOKIE                   43
#define HTTP_QUERY_COOKIE                       44
#define HTTP_QUERY_REQUEST_METHOD               45
#define HTTP_QUERY_REFRESH                      46
#define HTTP_QUERY_CONTENT_DISPOSITION          47
#define HTTP_QUERY_AGE                          48
#define HTTP_QUERY_CACHE_CONTROL                49
#define HTTP_QUERY_CONTENT_BASE                 50
#define HTTP_QUERY_CONTENT_LOCATION             51
#define HTTP_QUERY_CONTENT_MD5                  52
#define HTTP_QUERY_CONTENT_RANGE                53
#define HTTP_QUERY_ETAG                         54
#define HTTP_QUERY_HOST                         55
#define HTTP_QUERY_IF_MATCH                     56
#define HTTP_QUERY_IF_NONE_MATCH                57
#define HTTP_QUERY_IF_RANGE                     58
#define HTTP_QUERY_IF_UNMODIFIED_SINCE          59
#define HTTP_QUERY_MAX_FORWARDS                 60
#define HTTP_QUERY_PROXY_AUTHORIZATION          61
#define HTTP_QUERY_RANGE                        62
#define HTTP_QUERY_TRANSFER_ENCODING            63
#define HTTP_QUERY_UPGRADE                      64
#define HTTP_QUERY_VARY                         65
#define HTTP_QUERY_VIA                          66
#define HTTP_QUERY_WARNING                      67
#define HTTP_QUERY_EXPECT                       68
#define HTTP_QUERY_PROXY_CONNECTION             69
#define HTTP_QUERY_UNLESS_MODIFIED_SINCE        70
#define HTTP_QUERY_ECHO_REQUEST                 71
#define HTTP_QUERY_ECHO_REPLY                   72
#define HTTP_QUERY_ECHO_HEADERS                 73
#define HTTP_QUERY_ECHO_HEADERS_CRLF            74
#define HTTP_QUERY_PROXY_SUPPORT                75
#define HTTP_QUERY_AUTHENTICATION_INFO          76
#define HTTP_QUERY_PASSPORT_URLS                77
#define HTTP_QUERY_PASSPORT_CONFIG              78
#define HTTP_QUERY_X_CONTENT_TYPE_OPTIONS       79
#define HTTP_QUERY_P3P                          80
#define HTTP_QUERY_X_P2P_PEERDIST               81
#define HTTP_QUERY_TRANSLATE                    82
#define HTTP_QUERY_X_UA_COMPATIBLE              83
#define HTTP_QUERY_DEFAULT_STYLE                84
#define HTTP_QUERY_X_FRAME_OPTIONS              85
#define HTTP_QUERY_X_XSS_PROTECTION             86
#define HTTP_QUERY_SET_COOKIE2                  87
#define HTTP_QUERY_DO_NOT_TRACK                 88
#define HTTP_QUERY_KEEP_ALIVE                   89
#define HTTP_QUERY_HTTP2_SETTINGS               90
#define HTTP_QUERY_STRICT_TRANSPORT_SECURITY    91
#define HTTP_QUERY_TOKEN_BINDING                92
#define HTTP_QUERY_INCLUDE_REFERRED_TOKEN_BINDING_ID 93
#define HTTP_QUERY_INCLUDE_REFERER_TOKEN_BINDING_ID  93
#define HTTP_QUERY_PUBLIC_KEY_PINS              94
#define HTTP_QUERY_PUBLIC_KEY_PINS_REPORT_ONLY  95
#define HTTP_QUERY_MAX                          95
#define HTTP_QUERY_CUSTOM                       65535

/* HttpQueryInfoW modifiers, or-ed into the level. */
#define HTTP_QUERY_FLAG_REQUEST_HEADERS         0x80000000
#define HTTP_QUERY_FLAG_SYSTEMTIME              0x40000000
#define HTTP_QUERY_FLAG_NUMBER                  0x20000000
#define HTTP_QUERY_FLAG_COALESCE                0x10000000
#define HTTP_QUERY_FLAG_NUMBER64                0x08000000
#define HTTP_QUERY_FLAG_COALESCE_WITH_COMMA     0x04000000
#define HTTP_QUERY_MODIFIER_FLAGS_MASK (HTTP_QUERY_FLAG_REQUEST_HEADERS | HTTP_QUERY_FLAG_SYSTEMTIME | \
                                        HTTP_QUERY_FLAG_NUMBER | HTTP_QUERY_FLAG_COALESCE | \
                                        HTTP_QUERY_FLAG_NUMBER64 | HTTP_QUERY_FLAG_COALESCE_WITH_COMMA)
#define HTTP_QUERY_HEADER_MASK (~HTTP_QUERY_MODIFIER_FLAGS_MASK)

/* HttpAddRequestHeadersW modifiers. */
#define HTTP_ADDREQ_INDEX_MASK                   0x0000FFFF
#define HTTP_ADDREQ_FLAGS_MASK                   0xFFFF0000
#define HTTP_ADDREQ_FLAG_ADD_IF_NEW              0x10000000
#define HTTP_ADDREQ_FLAG_ADD                     0x20000000
#define HTTP_ADDREQ_FLAG_COALESCE_WITH_COMMA     0x40000000
#define HTTP_ADDREQ_FLAG_COALESCE_WITH_SEMICOLON 0x01000000
#define HTTP_ADDREQ_FLAG_COALESCE                HTTP_ADDREQ_FLAG_COALESCE_WITH_COMMA
#define HTTP_ADDREQ_FLAG_REPLACE                 0x80000000
#define HTTP_ADDREQ_FLAG_RESPONSE_HEADERS        0x02000000
#define HTTP_ADDREQ_FLAG_ALLOW_EMPTY_VALUES      0x04000000

#define HTTP_MAJOR_VERSION 1
#define HTTP_MINOR_VERSION 0

#define HTTP_STATUS_CONTINUE           100
#define HTTP_STATUS_SWITCH_PROTOCOLS   101
#define HTTP_STATUS_OK                 200
#define HTTP_STATUS_CREATED            201
#define HTTP_STATUS_ACCEPTED           202
#define HTTP_STATUS_PARTIAL            203
#define HTTP_STATUS_NO_CONTENT         204
#define HTTP_STATUS_RESET_CONTENT      205
#define HTTP_STATUS_PARTIAL_CONTENT    206
#define HTTP_STATUS_AMBIGUOUS          300
#define HTTP_STATUS_MOVED              301
#define HTTP_STATUS_REDIRECT           302
#define HTTP_STATUS_REDIRECT_METHOD    303
#define HTTP_STATUS_NOT_MODIFIED       304
#define HTTP_STATUS_USE_PROXY          305
#define HTTP_STATUS_REDIRECT_KEEP_VERB 307
#define HTTP_STATUS_PERMANENT_REDIRECT 308
#define HTTP_STATUS_BAD_REQUEST        400
#define HTTP_STATUS_DENIED             401
#define HTTP_STATUS_PAYMENT_REQ        402
#define HTTP_STATUS_FORBIDDEN          403
#define HTTP_STATUS_NOT_FOUND          404
#define HTTP_STATUS_BAD_METHOD         405
#define HTTP_STATUS_NONE_ACCEPTABLE    406
#define HTTP_STATUS_PROXY_AUTH_REQ     407
#define HTTP_STATUS_REQUEST_TIMEOUT    408
#define HTTP_STATUS_CONFLICT           409
#define HTTP_STATUS_GONE               410
#define HTTP_STATUS_LENGTH_REQUIRED    411
#define HTTP_STATUS_PRECOND_FAILED     412
#define HTTP_STATUS_REQUEST_TOO_LARGE  413
#define HTTP_STATUS_URI_TOO_LONG       414
#define HTTP_STATUS_UNSUPPORTED_MEDIA  415
#define HTTP_STATUS_RETRY_WITH         449
#define HTTP_STATUS_SERVER_ERROR       500
#define HTTP_STATUS_NOT_SUPPORTED      501
#define HTTP_STATUS_BAD_GATEWAY        502
#define HTTP_STATUS_SERVICE_UNAVAIL    503
#define HTTP_STATUS_GATEWAY_TIMEOUT    504
#define HTTP_STATUS_VERSION_NOT_SUP    505
#define HTTP_STATUS_FIRST              HTTP_STATUS_CONTINUE
#define HTTP_STATUS_LAST               HTTP_STATUS_VERSION_NOT_SUP

/* ---------------------------------------------------------------------------
 * URLs and dates
 * ------------------------------------------------------------------------- */

#define ICU_ESCAPE             0x80000000
#define ICU_USERNAME           0x40000000
#define ICU_NO_ENCODE          0x20000000
#define ICU_DECODE             0x10000000
#define ICU_NO_META            0x08000000
#define ICU_ENCODE_SPACES_ONLY 0x04000000
#define ICU_BROWSER_MODE       0x02000000
#define ICU_ENCODE_PERCENT     0x00001000

#define INTERNET_RFC1123_FORMAT  0
#define INTERNET_RFC1123_BUFSIZE 30

/* ---------------------------------------------------------------------------
 * Connection state and dial-up
 * ------------------------------------------------------------------------- */

#define INTERNET_CONNECTION_MODEM      0x01
#define INTERNET_CONNECTION_LAN        0x02
#define INTERNET_CONNECTION_PROXY      0x04
#define INTERNET_CONNECTION_MODEM_BUSY 0x08
#define INTERNET_RAS_INSTALLED         0x10
#define INTERNET_CONNECTION_OFFLINE    0x20
#define INTERNET_CONNECTION_CONFIGURED 0x40

#define INTERNET_DIAL_FORCE_PROMPT 0x2000
#define INTERNET_DIAL_SHOW_OFFLINE 0x4000
#define INTERNET_DIAL_UNATTENDED   0x8000

#define INTERNET_AUTODIAL_FORCE_ONLINE         1
#define INTERNET_AUTODIAL_FORCE_UNATTENDED     2
#define INTERNET_AUTODIAL_FAILIFSECURITYCHECK  4
#define INTERNET_AUTODIAL_OVERRIDE_NET_PRESENT 8
#define INTERNET_AUTODIAL_FLAGS_MASK (INTERNET_AUTODIAL_FORCE_ONLINE | INTERNET_AUTODIAL_FORCE_UNATTENDED | \
                                      INTERNET_AUTODIAL_FAILIFSECURITYCHECK | \
                                      INTERNET_AUTODIAL_OVERRIDE_NET_PRESENT)

/* InternetGoOnline flags (the platform spells them this way). */
#define INTERENT_GOONLINE_REFRESH  0x00000001
#define INTERENT_GOONLINE_NOPROMPT 0x00000002
#define INTERENT_GOONLINE_MASK     0x00000003

#define FLAG_ICC_FORCE_CONNECTION 0x00000001

#define ISO_FORCE_DISCONNECTED 0x00000001

/* ---------------------------------------------------------------------------
 * Kernel functions
 * ------------------------------------------------------------------------- */

/* The functions below are the portable backend's part of the platform
 * layer's public API: its shared library exports them, whatever the
 * visibility it is compiled with. */
#if defined(__GNUC__)
#pragma GCC visibility push(default)
#endif

DWORD WINAPI GetLastError(void);
void WINAPI SetLastError(DWORD dwErrCode);
DWORD WINAPI FormatMessageW(DWORD dwFlags, LPCVOID lpSource, DWORD dwMessageId, DWORD dwLanguageId,
                            LPWSTR lpBuffer, DWORD nSize, va_list* Arguments);
HMODULE WINAPI GetModuleHandleW(LPCWSTR lpModuleName);

/* ---------------------------------------------------------------------------
 * WinINet functions
 * ------------------------------------------------------------------------- */

/* Sessions, connections, handles, options. */
HINTERNET WINAPI InternetOpenW(LPCWSTR lpszAgent, DWORD dwAccessType, LPCWSTR lpszProxy,
                               LPCWSTR lpszProxyBypass, DWORD dwFlags);
HINTERNET WINAPI InternetConnectW(HINTERNET hInternet, LPCWSTR lpszServerName,
                                  INTERNET_PORT nServerPort, LPCWSTR lpszUserName,
                                  LPCWSTR lpszPassword, DWORD dwService, DWORD dwFlags,
                                  DWORD_PTR dwContext);
BOOL WINAPI InternetCloseHandle(HINTERNET hInternet);
INTERNET_STATUS_CALLBACK WINAPI InternetSetStatusCallbackW(HINTERNET hInternet,
                                                           INTERNET_STATUS_CALLBACK lpfnInternetCallback);
INTERNET_STATUS_CALLBACK WINAPI InternetSetStatusCallback(HINTERNET hInternet,
                                                          INTERNET_STATUS_CALLBACK lpfnInternetCallback);
BOOL WINAPI InternetQueryOptionW(HINTERNET hInternet, DWORD dwOption, LPVOID lpBuffer,
                                 LPDWORD lpdwBufferLength);
BOOL WINAPI InternetSetOptionW(HINTERNET hInternet, DWORD dwOption, LPVOID lpBuffer,
                               DWORD dwBufferLength);
BOOL WINAPI InternetGetLastResponseInfoW(LPDWORD lpdwError, LPWSTR lpszBuffer,
                                         LPDWORD lpdwBufferLength);

/* Data transfer on request, file and command handles. */
BOOL WINAPI InternetReadFile(HINTERNET hFile, LPVOID lpBuffer, DWORD dwNumberOfBytesToRead,
                             LPDWORD lpdwNumberOfBytesRead);
BOOL WINAPI InternetWriteFile(HINTERNET hFile, LPCVOID lpBuffer, DWORD dwNumberOfBytesToWrite,
                              LPDWORD lpdwNumberOfBytesWritten);
BOOL WINAPI InternetQueryDataAvailable(HINTERNET hFile, LPDWORD lpdwNumberOfBytesAvailable,
                                       DWORD dwFlags, DWORD_PTR dwContext);
DWORD WINAPI InternetSetFilePointer(HINTERNET hFile, LONG lDistanceToMove,
                                    PLONG lpDistanceToMoveHigh, DWORD dwMoveMethod,
                                    DWORD_PTR dwContext);
BOOL WINAPI InternetFindNextFileW(HINTERNET hFind, LPVOID lpvFindData);
BOOL WINAPI InternetLockRequestFile(HINTERNET hInternet, HANDLE* lphLockRequestInfo);
BOOL WINAPI InternetUnlockRequestFile(HANDLE hLockRequestInfo);

/* HTTP. */
HINTERNET WINAPI HttpOpenRequestW(HINTERNET hConnect, LPCWSTR lpszVerb, LPCWSTR lpszObjectName,
                                  LPCWSTR lpszVersion, LPCWSTR lpszReferrer,
                                  LPCWSTR* lplpszAcceptTypes, DWORD dwFlags, DWORD_PTR dwContext);
BOOL WINAPI HttpAddRequestHeadersW(HINTERNET hRequest, LPCWSTR lpszHeaders, DWORD dwHeadersLength,
                                   DWORD dwModifiers);
BOOL WINAPI HttpSendRequestW(HINTERNET hRequest, LPCWSTR lpszHeaders, DWORD dwHeadersLength,
                             LPVOID lpOptional, DWORD dwOptionalLength);
BOOL WINAPI HttpQueryInfoW(HINTERNET hRequest, DWORD dwInfoLevel, LPVOID lpBuffer,
                           LPDWORD lpdwBufferLength, LPDWORD lpdwIndex);

/* FTP. */
BOOL WINAPI FtpCommandW(HINTERNET hConnect, BOOL fExpectResponse, DWORD dwFlags,
                        LPCWSTR lpszCommand, DWORD_PTR dwContext, HINTERNET* phFtpCommand);
BOOL WINAPI FtpCreateDirectoryW(HINTERNET hConnect, LPCWSTR lpszDirectory);
BOOL WINAPI FtpDeleteFileW(HINTERNET hConnect, LPCWSTR lpszFileName);
HINTERNET WINAPI FtpFindFirstFileW(HINTERNET hConnect, LPCWSTR lpszSearchFile,
                                   LPWIN32_FIND_DATAW lpFindFileData, DWORD dwFlags,
                                   DWORD_PTR dwContext);
BOOL WINAPI FtpGetCurrentDirectoryW(HINTERNET hConnect, LPWSTR lpszCurrentDirectory,
                                    LPDWORD lpdwCurrentDirectory);
BOOL WINAPI FtpGetFileW(HINTERNET hConnect, LPCWSTR lpszRemoteFile, LPCWSTR lpszNewFile,
                        BOOL fFailIfExists, DWORD dwFlagsAndAttributes, DWORD dwFlags,
                        DWORD_PTR dwContext);
DWORD WINAPI FtpGetFileSize(HINTERNET hFile, LPDWORD lpdwFileSizeHigh);
HINTERNET WINAPI FtpOpenFileW(HINTERNET hConnect, LPCWSTR lpszFileName, DWORD dwAccess,
                              DWORD dwFlags, DWORD_PTR dwContext);
BOOL WINAPI FtpPutFileW(HINTERNET hConnect, LPCWSTR lpszLocalFile, LPCWSTR lpszNewRemoteFile,
                        DWORD dwFlags, DWORD_PTR dwContext);
BOOL WINAPI FtpRemoveDirectoryW(HINTERNET hConnect, LPCWSTR lpszDirectory);
BOOL WINAPI FtpRenameFileW(HINTERNET hConnect, LPCWSTR lpszExisting, LPCWSTR lpszNew);
BOOL WINAPI FtpSetCurrentDirectoryW(HINTERNET hConnect, LPCWSTR lpszDirectory);

/* URLs. */
BOOL WINAPI InternetCrackUrlW(LPCWSTR lpszUrl, DWORD dwUrlLength, DWORD dwFlags,
                              LPURL_COMPONENTSW lpUrlComponents);
BOOL WINAPI InternetCreateUrlW(LPURL_COMPONENTSW lpUrlComponents, DWORD dwFlags, LPWSTR lpszUrl,
                               LPDWORD lpdwUrlLength);
BOOL WINAPI InternetCanonicalizeUrlW(LPCWSTR lpszUrl, LPWSTR lpszBuffer, LPDWORD lpdwBufferLength,
                                     DWORD dwFlags);

/* Cookies and dates. */
BOOL WINAPI InternetGetCookieW(LPCWSTR lpszUrl, LPCWSTR lpszCookieName, LPWSTR lpszCookieData,
                               LPDWORD lpdwSize);
BOOL WINAPI InternetSetCookieW(LPCWSTR lpszUrl, LPCWSTR lpszCookieName, LPCWSTR lpszCookieData);
BOOL WINAPI InternetTimeFromSystemTimeW(const SYSTEMTIME* pst, DWORD dwRFC, LPWSTR lpszTime,
                                        DWORD cbTime);
BOOL WINAPI InternetTimeToSystemTimeW(LPCWSTR lpszTime, SYSTEMTIME* pst, DWORD dwReserved);

/* Connection state and dial-up. */
BOOL WINAPI InternetGetConnectedState(LPDWORD lpdwFlags, DWORD dwReserved);
BOOL WINAPI InternetGetConnectedStateExW(LPDWORD lpdwFlags, LPWSTR lpszConnectionName,
                                         DWORD cchNameLen, DWORD dwReserved);
DWORD WINAPI InternetDialW(HWND hwndParent, LPWSTR lpszConnectoid, DWORD dwFlags,
                           DWORD_PTR* lpdwConnection, DWORD dwReserved);
DWORD WINAPI InternetHangUp(DWORD_PTR dwConnection, DWORD dwReserved);
BOOL WINAPI InternetAutodial(DWORD dwFlags, HWND hwndParent);
BOOL WINAPI InternetAutodialHangup(DWORD dwReserved);
DWORD WINAPI InternetAttemptConnect(DWORD dwReserved);
BOOL WINAPI InternetCheckConnectionW(LPCWSTR lpszUrl, DWORD dwFlags, DWORD dwReserved);
BOOL WINAPI InternetGoOnlineW(LPCWSTR lpszURL, HWND hwndParent, DWORD dwFlags);
DWORD WINAPI InternetConfirmZoneCrossing(HWND hWnd, LPSTR szUrlPrev, LPSTR szUrlNew, BOOL bPost);
DWORD WINAPI InternetConfirmZoneCrossingA(HWND hWnd, LPSTR szUrlPrev, LPSTR szUrlNew, BOOL bPost);

#if defined(__GNUC__)
#pragma GCC visibility pop
#endif

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif /* _WIN32 */

#endif /* CORVANE_PLATFORM_WININET_H */
