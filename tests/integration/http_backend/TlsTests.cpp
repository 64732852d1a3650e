// Certificate checks of HTTPS requests: each fault gives its own error, and
// each ignore flag forgives exactly its own fault.
#include "HttpTestSupport.h"

using namespace HttpTest;

namespace {

class Tls : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(FSession); }

    // Sends GET / to the nginx port of `setting` with the open flags and the
    // security flags set before sending; returns the last error (0 on
    // success) and leaves the request in `request`.
    DWORD Fetch(const char* setting, DWORD openFlags, DWORD securityFlags, Handle& request,
                HINTERNET connection = nullptr) {
        if (!connection) {
            FConnections.push_back(
                Connect(FSession.get(), ServerOf(ValidCertificateUrl(TestServers::Setting(setting)))));
            connection = FConnections.back().get();
        }
        request = Open(connection, u"GET", u"/small.txt", INTERNET_FLAG_SECURE | openFlags);
        if (securityFlags && !InternetSetOptionW(request.get(), INTERNET_OPTION_SECURITY_FLAGS,
                                                 &securityFlags, sizeof(securityFlags)))
            return GetLastError();
        if (!Send(request.get())) return GetLastError();
        ReadAll(request.get());
        return 0;
    }

    DWORD Fetch(const char* setting, DWORD openFlags = 0, DWORD securityFlags = 0) {
        Handle request;
        return Fetch(setting, openFlags, securityFlags, request);
    }

    Handle FSession = OpenSession();
    std::vector<Handle> FConnections;
};

}  // namespace

TEST_F(Tls, ValidCertificateAndTheSecurityFlagsAfterwards) {
    Handle request;
    ASSERT_EQ(Fetch("CORVANE_HTTPS_URL", 0, 0, request), 0u);
    EXPECT_EQ(StatusCode(request.get()), 200u);
    DWORD flags = 0, size = sizeof(flags);
    ASSERT_TRUE(InternetQueryOptionW(request.get(), INTERNET_OPTION_SECURITY_FLAGS, &flags, &size));
    EXPECT_EQ(flags, static_cast<DWORD>(SECURITY_FLAG_SECURE | SECURITY_FLAG_128BIT));

    // A plain request is not secure; set flags read back, read-only bits
    // cannot be set.
    const Handle connection = Connect(FSession.get(), Nginx());
    const Handle plain = Open(connection.get(), u"GET", u"/small.txt", INTERNET_FLAG_IGNORE_CERT_CN_INVALID);
    flags = SECURITY_FLAG_SECURE | SECURITY_FLAG_IGNORE_UNKNOWN_CA;
    ASSERT_TRUE(InternetSetOptionW(plain.get(), INTERNET_OPTION_SECURITY_FLAGS, &flags, sizeof(flags)));
    ASSERT_TRUE(Send(plain.get()));
    ASSERT_TRUE(InternetQueryOptionW(plain.get(), INTERNET_OPTION_SECURITY_FLAGS, &flags, &size));
    EXPECT_EQ(flags,
              static_cast<DWORD>(SECURITY_FLAG_IGNORE_UNKNOWN_CA | SECURITY_FLAG_IGNORE_CERT_CN_INVALID));
    EXPECT_FALSE(InternetSetOptionW(plain.get(), INTERNET_OPTION_SECURITY_FLAGS, &flags, 2));
    EXPECT_EQ(GetLastError(), PlatformDifferences::Reason("wine-option-length")
                                  ? static_cast<DWORD>(ERROR_INVALID_PARAMETER)
                                  : static_cast<DWORD>(ERROR_INTERNET_BAD_OPTION_LENGTH));
}

TEST_F(Tls, EachFaultItsErrorAndItsOwnIgnoreFlag) {
    struct Case {
        const char* server;
        DWORD error;
        DWORD openFlag;      // the request flag that forgives it (0: none)
        DWORD securityFlag;  // the security flag that forgives it
    } const cases[] = {
        {"CORVANE_HTTPS_EXPIRED_URL", ERROR_INTERNET_SEC_CERT_DATE_INVALID,
         INTERNET_FLAG_IGNORE_CERT_DATE_INVALID, SECURITY_FLAG_IGNORE_CERT_DATE_INVALID},
        {"CORVANE_HTTPS_WRONGNAME_URL", ERROR_INTERNET_SEC_CERT_CN_INVALID,
         INTERNET_FLAG_IGNORE_CERT_CN_INVALID, SECURITY_FLAG_IGNORE_CERT_CN_INVALID},
        {"CORVANE_HTTPS_UNTRUSTED_URL", ERROR_INTERNET_INVALID_CA, 0, SECURITY_FLAG_IGNORE_UNKNOWN_CA},
        {"CORVANE_HTTPS_BADUSAGE_URL", ERROR_INTERNET_SEC_INVALID_CERT, 0, SECURITY_FLAG_IGNORE_WRONG_USAGE},
    };
    const DWORD everyIgnore = SECURITY_FLAG_IGNORE_CERT_DATE_INVALID | SECURITY_FLAG_IGNORE_CERT_CN_INVALID |
                              SECURITY_FLAG_IGNORE_UNKNOWN_CA | SECURITY_FLAG_IGNORE_WRONG_USAGE |
                              SECURITY_FLAG_IGNORE_REVOCATION;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.server);
        if (c.error == ERROR_INTERNET_SEC_INVALID_CERT &&
            PlatformDifferences::Reason("wine-certificate-key-usage")) {
            EXPECT_EQ(Fetch(c.server, 0, everyIgnore),
                      static_cast<DWORD>(ERROR_INTERNET_SECURITY_CHANNEL_ERROR));
            continue;
        }
        // Wine reports the revocation check of an unknown authority's
        // certificate first: 12057 until that is forgiven too.
        const DWORD revocation =
            c.error == ERROR_INTERNET_INVALID_CA && PlatformDifferences::Reason("wine-certificate-revocation")
                ? SECURITY_FLAG_IGNORE_REVOCATION
                : 0;
        EXPECT_EQ(Fetch(c.server), revocation ? DWORD(ERROR_INTERNET_SEC_CERT_REV_FAILED) : c.error);
        EXPECT_EQ(Fetch(c.server, 0, c.securityFlag | revocation), 0u);
        if (c.openFlag) {
            EXPECT_EQ(Fetch(c.server, c.openFlag), 0u);
        }
        // Every other flag together does not forgive it.
        if (!PlatformDifferences::Reason("wine-ignore-flags-together")) {
            EXPECT_EQ(Fetch(c.server, 0, everyIgnore & ~c.securityFlag), c.error);
        }
    }
}

// Connections made under relaxed checks are not handed to a request that
// checks strictly, even on the same connection handle.
TEST_F(Tls, RelaxedConnectionsAreNotReusedForStrictRequests) {
    const Handle connection = Connect(
        FSession.get(), ServerOf(ValidCertificateUrl(TestServers::Setting("CORVANE_HTTPS_UNTRUSTED_URL"))));
    // Wine reports the failed revocation check of such a certificate first.
    const bool revocationFirst = PlatformDifferences::Reason("wine-certificate-revocation") != nullptr;
    const DWORD relaxing =
        SECURITY_FLAG_IGNORE_UNKNOWN_CA | (revocationFirst ? SECURITY_FLAG_IGNORE_REVOCATION : 0);
    const DWORD strictError =
        revocationFirst ? ERROR_INTERNET_SEC_CERT_REV_FAILED : ERROR_INTERNET_INVALID_CA;
    Handle relaxed, strict, again;
    EXPECT_EQ(Fetch(nullptr, 0, relaxing, relaxed, connection.get()), 0u);
    EXPECT_EQ(Fetch(nullptr, 0, 0, strict, connection.get()), strictError);
    EXPECT_EQ(Fetch(nullptr, 0, relaxing, again, connection.get()), 0u);
    if (!PlatformDifferences::Reason("wine-relaxed-tls-reuse")) {
        EXPECT_EQ(Custom(relaxed.get(), "X-Connection"), Custom(again.get(), "X-Connection"))
            << "requests under the same rules still share their connection";
    }
}
