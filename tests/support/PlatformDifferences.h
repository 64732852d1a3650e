// Known differences between the implementations of the platform the tests
// run against: the portable backend, Windows' wininet.dll, and Wine's
// wininet.dll (which the Windows build is tested on). Each key is explained
// in docs/PLATFORM-DIFFERENCES.md; a test that meets one says so with
// SKIP_IF_PLATFORM_DIFFERS(key), or checks the other behaviour where
// Reason(key) is not null, so the difference is stated where it shows.
#pragma once

#include <Platform/WinInet.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <string_view>

namespace PlatformDifferences {

/// Whether the tests run on Windows' API (wininet.dll and kernel32, the
/// system's own or Wine's) rather than on the portable backend.
inline bool OnWindowsApi() {
#if defined(_WIN32)
    return true;
#else
    return false;
#endif
}

/// Whether the Windows API in use is Wine's: its ntdll exports
/// wine_get_version.
inline bool OnWine() {
#if defined(_WIN32)
    static const bool wine =
        ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
    return wine;
#else
    return false;
#endif
}

/// Where a difference shows.
enum class Scope {
    Wine,        // Wine's wininet.dll departs from the platform's documented behaviour
    WindowsApi,  // wininet.dll (any) and the portable backend differ
};

struct Difference {
    const char* Key;
    Scope Where;
    const char* Summary;
};

inline constexpr Difference Known[] = {
    {"wine-message-table", Scope::Wine,
     "Wine's wininet.dll has message-table texts for a dozen Internet error codes only"},
    {"wine-session-timeouts", Scope::Wine,
     "Wine refuses the send and receive time-outs on a session handle (12018)"},
    {"wine-crack-empty-url", Scope::Wine,
     "Wine fails InternetCrackUrlW on an empty URL with ERROR_INVALID_PARAMETER, not 12006"},
    {"wine-crack-empty-password", Scope::Wine,
     "Wine reports an empty password after ':' as absent in pointer mode"},
    {"wine-crack-decode-adds-path", Scope::Wine,
     "Wine canonicalizes before cracking with ICU_DECODE, which gives a URL without a path the path '/'"},
    {"wine-crack-escape", Scope::Wine,
     "Wine's InternetCrackUrlW ignores ICU_ESCAPE, which is documented to decode the escape sequences"},
    {"wine-canonicalize-dot-segments", Scope::Wine,
     "Wine keeps a trailing '.' or '..' segment that InternetCanonicalizeUrlW is documented to remove"},
    {"wine-canonicalize-case", Scope::Wine,
     "Wine keeps the case of scheme and host in InternetCanonicalizeUrlW"},
    {"wine-create-url-terminator", Scope::Wine,
     "Wine's InternetCreateUrlW accepts a buffer with no room for the terminator and writes it past the end"},
    {"wine-create-url-escape", Scope::Wine,
     "Wine's InternetCreateUrlW does not escape unsafe characters for ICU_ESCAPE"},
    {"wine-certificate-ip-address", Scope::Wine,
     "Wine matches a server's name only against DNS names of its certificate, never an IP address (12038)"},
    {"wine-certificate-revocation", Scope::Wine,
     "Wine checks the revocation of a certificate whose unknown authority is ignored, and fails (12057)"},
    {"wine-certificate-key-usage", Scope::Wine,
     "Wine's TLS layer refuses a certificate with the wrong key usage in the handshake (12157), whatever the "
     "flags"},
    {"wine-receive-timeout", Scope::Wine,
     "Wine ends a stalled response with 12030 or the socket's 10060, not ERROR_INTERNET_TIMEOUT"},
    {"wine-short-body", Scope::Wine, "Wine ends a body cut short by the server as if it were complete"},
    {"wine-query-request-method", Scope::Wine,
     "Wine answers HTTP_QUERY_REQUEST_METHOD only with HTTP_QUERY_FLAG_REQUEST_HEADERS (12150 without)"},
    {"wine-redirect-307-body", Scope::Wine, "Wine repeats a POST on a 307 redirect without its body"},
    {"wine-cookie-default-path", Scope::Wine,
     "Wine gives a cookie set without Path the request's whole path instead of its directory"},
    {"wine-digest", Scope::Wine, "Wine's wininet.dll does not answer Digest challenges"},
    {"wine-proxy-default-port", Scope::Wine,
     "Wine names the default port in the target it sends to a proxy (http://host:80/path)"},
    {"credential-cache", Scope::WindowsApi,
     "wininet.dll answers a server's challenges with credentials it accepted before, for any request of the "
     "process"},
    {"wine-date-formats", Scope::Wine,
     "Wine's HttpQueryInfoW crashes on a date in the RFC 850 or asctime form asked for as a SYSTEMTIME"},
    {"wine-replace-missing-header", Scope::Wine,
     "Wine accepts HTTP_ADDREQ_FLAG_REPLACE for a header the request lacks instead of failing with 12150"},
    {"wine-redirect-scheme-change", Scope::Wine,
     "Wine follows redirects between HTTP and HTTPS in either direction without the 12039/12040 checks"},
    {"wine-stale-connection", Scope::Wine,
     "Wine sends the next request over a kept-alive connection the server has dropped, and fails (12030)"},
    {"wine-closing-connection-notices", Scope::Wine,
     "Wine reports closing the connection of a request closed mid-body only some of the time"},
    {"wine-handle-reuse", Scope::Wine,
     "Wine gives a closed handle's value to the next handle at once, so it may name a handle of another "
     "type"},
    {"wine-status-reused-connection", Scope::Wine,
     "Wine reports CONNECTING_TO_SERVER and CONNECTED_TO_SERVER for a request on a kept-alive connection"},
    {"wine-custom-query-name", Scope::Wine,
     "Wine reads the name of an HTTP_QUERY_CUSTOM query to its terminator, beyond the buffer's size"},
    {"wine-request-before-send", Scope::Wine,
     "Wine answers a request not yet sent: reads give no data, the status code is 0"},
    {"wine-query-unknown-level", Scope::Wine,
     "Wine fails HttpQueryInfoW on an unknown level with 12150, not ERROR_HTTP_INVALID_QUERY_REQUEST"},
    {"wine-no-cache-headers", Scope::Wine,
     "Wine shows no Pragma before sending and sends no Cache-Control for INTERNET_FLAG_PRAGMA_NOCACHE"},
    {"wine-add-if-new-error", Scope::Wine,
     "Wine fails HTTP_ADDREQ_FLAG_ADD_IF_NEW on a header the request has with 12153, not 12155"},
    {"wine-option-length", Scope::Wine,
     "Wine fails InternetSetOptionW with a wrong length with ERROR_INVALID_PARAMETER, not 12010"},
    {"wine-ignore-flags-together", Scope::Wine,
     "Wine forgives any certificate fault when the ignore flags of the other faults are set together"},
    {"wine-relaxed-tls-reuse", Scope::Wine,
     "Wine does not hand a TLS connection made under relaxed checks to the next relaxed request"},
    {"wine-secure-cookies", Scope::Wine, "Wine sends a cookie marked Secure over plain HTTP"},
    {"wine-cookie-any-scheme", Scope::Wine,
     "Wine keeps and gives cookies for URLs of any scheme, not only http and https"},
    {"wine-cookie-empty-value", Scope::Wine,
     "Wine lists a cookie with an empty value as its bare name ('e', not 'e=') and keeps one set without "
     "'='"},
    {"wine-cookie-case", Scope::Wine,
     "Wine matches a URL's host and a cookie's Domain case-sensitively, so WWW.h or Domain=.H miss h's "
     "cookies"},
    {"wine-cookie-host-only", Scope::Wine,
     "Wine sends a cookie set without Domain to the subdomains of its host"},
    {"wine-cookie-public-suffix", Scope::Wine,
     "Wine accepts a Domain that is a public suffix (co.uk) and sends the cookie to every host under it"},
    {"wine-cookie-size", Scope::Wine,
     "Wine keeps a cookie of any size; the backend refuses one over 4096 bytes"},
    {"wine-custom-systemtime-size", Scope::Wine,
     "Wine reports the buffer's size, not the record's 16 bytes, for HTTP_QUERY_CUSTOM with "
     "HTTP_QUERY_FLAG_SYSTEMTIME"},
    {"wine-unchecked-request-text", Scope::Wine,
     "Wine sends a verb or added header with CR, LF or a bad name as given instead of refusing it"},
    {"wine-empty-response", Scope::Wine,
     "Wine takes a connection closed before any answer as a response with status 0"},
    {"wine-timeout-query", Scope::Wine,
     "Wine refuses InternetQueryOptionW of a time-out on a request handle (12018)"},
    {"wine-close-during-wait", Scope::Wine,
     "Wine's InternetCloseHandle does not end a call waiting on the handle in another thread"},
    {"wine-redirect-308", Scope::Wine, "Wine does not follow a 308 redirect"},
    {"wine-redirect-failed", Scope::Wine,
     "Wine follows redirects without a limit and answers one to another scheme with the 3xx, never 12156"},
    {"wine-cookie-max-age", Scope::Wine, "Wine ignores a cookie's Max-Age attribute"},
    {"wine-redirect-method", Scope::Wine, "Wine turns every method into GET on a 301 or 302, not only POST"},
    {"wine-redirect-added-credentials", Scope::Wine,
     "Wine sends the Authorization and Cookie headers an application added to every redirect hop, other "
     "hosts too"},
    {"wine-server-name-check", Scope::Wine,
     "Wine accepts a server name holding '@', '/' or blanks at InternetConnectW and fails to resolve it when "
     "sending"},
    {"wine-ftp-file-size", Scope::Wine, "Wine's FtpGetFileSize is a stub that answers 0"},
    {"wine-ftp-command-data", Scope::Wine,
     "Wine's FtpCommandW opens no data connection when a response is expected, so the data cannot be read"},
    {"wine-ftp-names", Scope::Wine,
     "Wine's FTP client sends names in the ANSI code page, not UTF-8, and cuts a listed name at its first "
     "blank"},
    {"wine-ftp-find-no-match", Scope::Wine,
     "Wine's FtpFindFirstFileW answers a pattern that matches nothing with a handle, not "
     "ERROR_NO_MORE_FILES"},
    {"wine-ftp-lock", Scope::Wine,
     "Wine's InternetLockRequestFile refuses FTP file handles with ERROR_NOT_SUPPORTED"},
    {"wine-ftp-get-file-keeps-nothing", Scope::Wine,
     "Wine's FtpGetFileW does not keep an existing local file when the download breaks off"},
    {"wine-async-close", Scope::Wine,
     "Wine's InternetCloseHandle lets a pending asynchronous operation run to its end and report success "
     "before HANDLE_CLOSING, instead of cancelling it"},
    {"wine-async-ftp", Scope::Wine,
     "Wine's FTP calls in asynchronous mode return a handle, NULL or TRUE at once instead of "
     "ERROR_IO_PENDING"},
    {"wine-async-find-next", Scope::Wine,
     "Wine's InternetFindNextFileW in asynchronous mode returns TRUE before it fills the record, with no "
     "completion and no end of the listing"},
    {"wine-dial-stub", Scope::Wine,
     "Wine's InternetDialW reports success for any connection name, one that does not exist too, without "
     "dialing"},
};

/// The summary of the difference `Key` when it applies where the tests run,
/// else null. An unknown key ends the test program: a typo must not turn a
/// check off silently.
inline const char* Reason(std::string_view key) {
    for (const Difference& d : Known) {
        if (key != d.Key) continue;
        const bool applies = d.Where == Scope::Wine ? OnWine() : OnWindowsApi();
        return applies ? d.Summary : nullptr;
    }
    ADD_FAILURE() << "unknown platform difference key: " << key;
    std::abort();
}

/// A test server's URL as a request that checks the server's certificate
/// must name it: where wine-certificate-ip-address applies, the loopback
/// address becomes "localhost", also a name of the test certificates.
inline std::string CertificateCheckedUrl(std::string url) {
    const std::string address = "//127.0.0.1:";
    const std::size_t at = url.find(address);
    if (at != std::string::npos && Reason("wine-certificate-ip-address"))
        url.replace(at, address.size(), "//localhost:");
    return url;
}

}  // namespace PlatformDifferences

/// Skips the rest of the test, with the key and its summary, where the
/// difference `Key` applies.
#define SKIP_IF_PLATFORM_DIFFERS(Key)                                              \
    do {                                                                           \
        if (const char* Why_ = ::PlatformDifferences::Reason(Key))                 \
            GTEST_SKIP() << "known platform difference " << (Key) << ": " << Why_; \
    } while (0)
