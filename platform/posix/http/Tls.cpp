// OpenSSL certificate verification with per-check forgiveness.
#include "posix/http/Tls.h"

#include <curl/curl.h>
#include <openssl/crypto.h>
#include <openssl/ssl.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>

#include <arpa/inet.h>

#include <cstdlib>
#include <mutex>

namespace Corvane::Backend {

namespace {

// The index of our record in an SSL_CTX's ex data; the record is a
// heap-held shared_ptr freed with the context.
void FreeCheck(void*, void* pointer, CRYPTO_EX_DATA*, int, long, void*) {
    delete static_cast<std::shared_ptr<CertificateCheck>*>(pointer);
}

int CheckIndex() {
    static const int index = SSL_CTX_get_ex_new_index(0, nullptr, nullptr, nullptr, &FreeCheck);
    return index;
}

// The ignore flag that forgives an X509_V_ERR_ code (0: none does).
DWORD IgnoreFlagFor(int error) {
    switch (error) {
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
    case X509_V_ERR_CERT_UNTRUSTED:
        return SECURITY_FLAG_IGNORE_UNKNOWN_CA;
    case X509_V_ERR_CERT_NOT_YET_VALID:
    case X509_V_ERR_CERT_HAS_EXPIRED:
    case X509_V_ERR_ERROR_IN_CERT_NOT_BEFORE_FIELD:
    case X509_V_ERR_ERROR_IN_CERT_NOT_AFTER_FIELD:
        return SECURITY_FLAG_IGNORE_CERT_DATE_INVALID;
    case X509_V_ERR_HOSTNAME_MISMATCH:
    case X509_V_ERR_IP_ADDRESS_MISMATCH:
        return SECURITY_FLAG_IGNORE_CERT_CN_INVALID;
    case X509_V_ERR_UNABLE_TO_GET_CRL:
    case X509_V_ERR_CERT_REVOKED:
    case X509_V_ERR_CRL_NOT_YET_VALID:
    case X509_V_ERR_CRL_HAS_EXPIRED:
    case X509_V_ERR_UNABLE_TO_GET_CRL_ISSUER:
        return SECURITY_FLAG_IGNORE_REVOCATION;
    case X509_V_ERR_INVALID_PURPOSE:
    case X509_V_ERR_KEYUSAGE_NO_CERTSIGN:
    case X509_V_ERR_KEYUSAGE_NO_DIGITAL_SIGNATURE:
        return SECURITY_FLAG_IGNORE_WRONG_USAGE;
    case X509_V_ERR_EE_KEY_TOO_SMALL:
    case X509_V_ERR_CA_KEY_TOO_SMALL:
    case X509_V_ERR_CA_MD_TOO_WEAK:
        return SECURITY_FLAG_IGNORE_WEAK_SIGNATURE;
    default:
        return 0;
    }
}

// OpenSSL's verify callback: errors of a check the connection's flags relax
// are cleared (so the handshake and libcurl's verify result see success);
// any other error fails the handshake and is recorded.
int VerifyCallback(int ok, X509_STORE_CTX* store) {
    if (ok) return 1;
    const int error = X509_STORE_CTX_get_error(store);
    auto* ssl = static_cast<SSL*>(X509_STORE_CTX_get_ex_data(store, SSL_get_ex_data_X509_STORE_CTX_idx()));
    auto* holder = ssl ? static_cast<std::shared_ptr<CertificateCheck>*>(
                             SSL_CTX_get_ex_data(SSL_get_SSL_CTX(ssl), CheckIndex()))
                       : nullptr;
    if (!holder || !*holder) return 0;
    CertificateCheck& check = **holder;
    const DWORD flag = IgnoreFlagFor(error);
    if (flag && (check.ignoreFlags & flag)) {
        X509_STORE_CTX_set_error(store, X509_V_OK);
        return 1;
    }
    long none = 0;
    check.firstError.compare_exchange_strong(none, error);
    return 0;
}

bool IsIpLiteral(const std::string& host) {
    unsigned char buffer[16];
    return inet_pton(AF_INET, host.c_str(), buffer) == 1 || inet_pton(AF_INET6, host.c_str(), buffer) == 1;
}

}  // namespace

std::shared_ptr<CertificateCheck> PrepareTlsContext(void* sslContext, const std::string& host,
                                                    DWORD ignoreFlags) {
    auto* ctx = static_cast<SSL_CTX*>(sslContext);
    auto check = std::make_shared<CertificateCheck>(ignoreFlags & kCertificateIgnoreFlags);
    const int index = CheckIndex();
    delete static_cast<std::shared_ptr<CertificateCheck>*>(SSL_CTX_get_ex_data(ctx, index));
    SSL_CTX_set_ex_data(ctx, index, new std::shared_ptr<CertificateCheck>(check));

    // The name check runs inside OpenSSL's verification, so that its error
    // reaches the callback like every other one.
    X509_VERIFY_PARAM* param = SSL_CTX_get0_param(ctx);
    if (IsIpLiteral(host)) {
        X509_VERIFY_PARAM_set1_ip_asc(param, host.c_str());
    } else {
        X509_VERIFY_PARAM_set_hostflags(param, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
        X509_VERIFY_PARAM_set1_host(param, host.c_str(), host.size());
    }
    SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER, &VerifyCallback);
    return check;
}

bool IsOwnTlsLibrary(std::string_view curlSslVersion) {
    const std::string own = std::string("OpenSSL/") + OpenSSL_version(OPENSSL_VERSION_STRING);
    // The TLS libraries of the build, separated by blanks; the others than
    // the one in use are in parentheses.
    std::string_view inUse;
    int inUseCount = 0;
    while (!curlSslVersion.empty()) {
        const std::size_t blank = curlSslVersion.find(' ');
        const std::string_view name = curlSslVersion.substr(0, blank);
        curlSslVersion.remove_prefix(blank == std::string_view::npos ? curlSslVersion.size() : blank + 1);
        if (name.empty() || name.front() == '(') continue;
        inUse = name;
        ++inUseCount;
    }
    return inUseCount == 1 && inUse == own;
}

bool TlsLibraryUsable() {
    static const bool usable = [] {
        const curl_version_info_data* info = curl_version_info(CURLVERSION_NOW);
        return info && info->ssl_version && IsOwnTlsLibrary(info->ssl_version);
    }();
    return usable;
}

DWORD CertificateError(long x509Error) {
    switch (IgnoreFlagFor(static_cast<int>(x509Error))) {
    case SECURITY_FLAG_IGNORE_UNKNOWN_CA:
        return ERROR_INTERNET_INVALID_CA;
    case SECURITY_FLAG_IGNORE_CERT_DATE_INVALID:
        return ERROR_INTERNET_SEC_CERT_DATE_INVALID;
    case SECURITY_FLAG_IGNORE_CERT_CN_INVALID:
        return ERROR_INTERNET_SEC_CERT_CN_INVALID;
    case SECURITY_FLAG_IGNORE_REVOCATION:
        return x509Error == X509_V_ERR_CERT_REVOKED ? ERROR_INTERNET_SEC_CERT_REVOKED
                                                    : ERROR_INTERNET_SEC_CERT_NO_REV;
    case SECURITY_FLAG_IGNORE_WEAK_SIGNATURE:
        return ERROR_INTERNET_SEC_CERT_WEAK_SIGNATURE;
    default:
        return ERROR_INTERNET_SEC_INVALID_CERT;
    }
}

DWORD CipherStrength(const void* ssl) {
    if (!ssl) return 0;
    const SSL_CIPHER* cipher = SSL_get_current_cipher(static_cast<const SSL*>(ssl));
    if (!cipher) return 0;
    const int bits = SSL_CIPHER_get_bits(cipher, nullptr);
    if (bits >= 128) return SECURITY_FLAG_STRENGTH_STRONG;
    if (bits >= 56) return SECURITY_FLAG_STRENGTH_MEDIUM;
    return SECURITY_FLAG_STRENGTH_WEAK;
}

std::string TrustFileFromEnvironment() {
    const char* value = std::getenv("SSL_CERT_FILE");
    return value ? value : "";
}

std::string TrustDirectoryFromEnvironment() {
    const char* value = std::getenv("SSL_CERT_DIR");
    return value ? value : "";
}

}  // namespace Corvane::Backend
