// Certificate checking of HTTPS connections, with the platform's security
// flags: OpenSSL verifies the chain, the dates, the usage and the server's
// name; each SECURITY_FLAG_IGNORE_ flag forgives exactly the errors of its
// own check, and the first error not forgiven is kept to report the
// matching Internet error.
#pragma once

#include <Platform/WinInet.h>

#include <atomic>
#include <memory>
#include <string>
#include <string_view>

namespace Corvane::Backend {

/// The security flags that relax a certificate check.
inline constexpr DWORD kCertificateIgnoreFlags =
    SECURITY_FLAG_IGNORE_UNKNOWN_CA | SECURITY_FLAG_IGNORE_CERT_CN_INVALID |
    SECURITY_FLAG_IGNORE_CERT_DATE_INVALID | SECURITY_FLAG_IGNORE_REVOCATION |
    SECURITY_FLAG_IGNORE_WRONG_USAGE | SECURITY_FLAG_IGNORE_WEAK_SIGNATURE;

/// What one TLS handshake's certificate checks found.
struct CertificateCheck {
    explicit CertificateCheck(DWORD ignore) : ignoreFlags(ignore) {}
    const DWORD ignoreFlags;
    /// The first X509_V_ERR_ code that was not forgiven (0: none).
    std::atomic<long> firstError{0};
};

/// Prepares a new OpenSSL context (an SSL_CTX*) for a connection to `host`:
/// verification of the peer with the name check done by OpenSSL, and the
/// verify callback that applies `ignoreFlags`. Returns the record the
/// callback fills in; it lives as long as the context.
std::shared_ptr<CertificateCheck> PrepareTlsContext(void* sslContext, const std::string& host,
                                                    DWORD ignoreFlags);

/// Whether libcurl's TLS library, as curl_version_info names it in
/// `curlSslVersion` ("OpenSSL/3.0.11"; in a build with several, the one in
/// use stands without parentheses), is the OpenSSL this backend is built
/// and linked with. The certificate checks rely on it: they hand libcurl's
/// TLS contexts to OpenSSL's own functions and turn libcurl's name check off.
bool IsOwnTlsLibrary(std::string_view curlSslVersion);

/// IsOwnTlsLibrary for the libcurl in use (asked once, after libcurl's
/// global initialisation). Without it no HTTPS exchange is started.
bool TlsLibraryUsable();

/// The Internet error for an X509_V_ERR_ code.
DWORD CertificateError(long x509Error);

/// SECURITY_FLAG_STRENGTH_STRONG, _MEDIUM or _WEAK for the cipher of an
/// established connection (an SSL*); 0 when there is none.
DWORD CipherStrength(const void* ssl);

/// The CA file and directory to trust instead of the built-in ones, from
/// SSL_CERT_FILE and SSL_CERT_DIR as OpenSSL programs take them (empty when
/// unset).
std::string TrustFileFromEnvironment();
std::string TrustDirectoryFromEnvironment();

}  // namespace Corvane::Backend
