// The certificate checks hand libcurl's TLS contexts to the backend's own
// OpenSSL, so HTTPS needs libcurl to use exactly that library.
#include "posix/http/Tls.h"

#include <curl/curl.h>
#include <openssl/crypto.h>

#include <gtest/gtest.h>

#include <string>

using Corvane::Backend::IsOwnTlsLibrary;
using Corvane::Backend::TlsLibraryUsable;

TEST(TlsLibrary, OnlyTheBackendsOwnOpenSslIsUsable) {
    const std::string own = std::string("OpenSSL/") + OpenSSL_version(OPENSSL_VERSION_STRING);
    struct Case {
        std::string curlSslVersion;
        bool usable;
    } const cases[] = {
        {own, true},
        {"(GnuTLS/3.7.9) " + own, true},  // several libraries, OpenSSL in use
        {own + " (Schannel)", true},
        {"GnuTLS/3.7.9", false},
        {"(" + own + ") GnuTLS/3.7.9", false},  // OpenSSL built in, another in use
        {"(" + own + ")", false},               // none chosen yet
        {"OpenSSL/1.1.1w", false},              // another OpenSSL than the backend's
        {own + "0", false},
        {"LibreSSL/3.8.2", false},
        {"BoringSSL", false},
        {"mbedTLS/3.4.0", false},
        {"", false},
    };
    for (const Case& c : cases) EXPECT_EQ(IsOwnTlsLibrary(c.curlSslVersion), c.usable) << c.curlSslVersion;

    // The libcurl the tests run with uses the backend's OpenSSL.
    curl_global_init(CURL_GLOBAL_DEFAULT);
    EXPECT_TRUE(TlsLibraryUsable()) << curl_version_info(CURLVERSION_NOW)->ssl_version;
    curl_global_cleanup();
}
