// The HTTP component's constant tables: request flags, security flags, verb
// texts and the information level of each named header, each indexed by its
// enumeration's ordinal and consulted afresh at every call.
#pragma once

#include <iterator>

#include <Platform/WinInet.h>

#include "Corvane/Http.h"

namespace Corvane::HttpTables {

// INTERNET_FLAG_... of each THttpFlag.
inline constexpr DWORD kRequestFlags[] = {
    INTERNET_FLAG_CACHE_IF_NET_FAIL,         // flCacheIfNetFail
    INTERNET_FLAG_HYPERLINK,                 // flHyperlink
    INTERNET_FLAG_IGNORE_CERT_CN_INVALID,    // flIgnoreCertCnInvalid
    INTERNET_FLAG_IGNORE_CERT_DATE_INVALID,  // flIgnoreCertDateInvalid
    INTERNET_FLAG_IGNORE_REDIRECT_TO_HTTP,   // flIgnoreRedirectToHttp
    INTERNET_FLAG_IGNORE_REDIRECT_TO_HTTPS,  // flIgnoreRedirectToHttps
    INTERNET_FLAG_KEEP_CONNECTION,           // flKeepConnection
    INTERNET_FLAG_NEED_FILE,                 // flNeedFile
    INTERNET_FLAG_NO_AUTH,                   // flNoAuth
    INTERNET_FLAG_NO_AUTO_REDIRECT,          // flNoAutoRedirect
    INTERNET_FLAG_NO_CACHE_WRITE,            // flNoCacheWrite
    INTERNET_FLAG_NO_COOKIES,                // flNoCookies
    INTERNET_FLAG_NO_UI,                     // flNoUi
    INTERNET_FLAG_PRAGMA_NOCACHE,            // flPragmaNoCache
    INTERNET_FLAG_RELOAD,                    // flReload
    INTERNET_FLAG_RESYNCHRONIZE,             // flResynchronize
    INTERNET_FLAG_SECURE,                    // flSecure
};
static_assert(std::size(kRequestFlags) == flSecure + 1);

// SECURITY_FLAG_... of each TSecurityFlag.
inline constexpr DWORD kSecurityFlags[] = {
    SECURITY_FLAG_UNKNOWNBIT,                // sfUnknownBit
    SECURITY_FLAG_40BIT,                     // sf40Bit
    SECURITY_FLAG_56BIT,                     // sf56Bit
    SECURITY_FLAG_128BIT,                    // sf128Bit
    SECURITY_FLAG_SECURE,                    // sfSecureTransfers
    SECURITY_FLAG_IGNORE_CERT_CN_INVALID,    // sfIgnoreInvalidCN
    SECURITY_FLAG_IGNORE_CERT_DATE_INVALID,  // sfIgnoreInvalidDate
    SECURITY_FLAG_IGNORE_REDIRECT_TO_HTTP,   // sfIgnoreRedirectToHttp
    SECURITY_FLAG_IGNORE_REDIRECT_TO_HTTPS,  // sfIgnoreRedirectToHttps
    SECURITY_FLAG_IGNORE_REVOCATION,         // sfIgnoreRevocation
    SECURITY_FLAG_IGNORE_UNKNOWN_CA,         // sfIgnoreUnknownCA
    SECURITY_FLAG_IGNORE_WRONG_USAGE,        // sfIgnoreWrongUsage
};
static_assert(std::size(kSecurityFlags) == sfIgnoreWrongUsage + 1);

// The request method text of each THttpVerb.
inline constexpr const char16_t* kVerbTexts[] = {
    u"", u"GET", u"PUT", u"POST", u"DELETE", u"OPTIONS", u"HEAD", u"CONNECT", u"TRACE",
};
static_assert(std::size(kVerbTexts) == veTrace + 1);

// The HTTP_QUERY_... level of each THttpHeader.
inline constexpr DWORD kHeaderLevels[] = {
    24,  // heAccept
    25,  // heAcceptCharset
    26,  // heAcceptEncoding
    27,  // heAcceptLanguage
    42,  // heAcceptRanges
    48,  // heAge
    7,   // heAllow
    28,  // heAuthorization
    49,  // heCacheControl
    23,  // heConnection
    50,  // heContentBase
    29,  // heContentEncoding
    3,   // heContentID
    6,   // heContentLanguage
    5,   // heContentLength
    51,  // heContentLocation
    52,  // heContentMD5
    53,  // heContentRange
    2,   // heContentTransferEncoding
    1,   // heContentType
    44,  // heCookie
    9,   // heDate
    54,  // heETag
    68,  // heExpect
    10,  // heExpires
    31,  // heFrom
    55,  // heHost
    56,  // heIfMatch
    32,  // heIfModifiedSince
    57,  // heIfNoneMatch
    58,  // heIfRange
    59,  // heIfUnmodifiedSince
    11,  // heLastModified
    33,  // heLocation
    60,  // heMaxForwards
    0,   // heMimeVersion
    17,  // hePragma
    41,  // heProxyAuthenticate
    61,  // heProxyAuthorization
    69,  // heProxyConnection
    8,   // hePublic
    62,  // heRange
    21,  // heRawHeaders
    22,  // heRawHeadersCrLf
    35,  // heReferer
    45,  // heRequestMethod
    36,  // heRetryAfter
    37,  // heServer
    43,  // heSetCookie
    19,  // heStatusCode
    20,  // heStatusText
    63,  // heTransferEncoding
    70,  // heUnlessModifiedSince
    64,  // heUpgrade
    13,  // heURI
    39,  // heUserAgent
    65,  // heVary
    18,  // heVersion
    66,  // heVia
    67,  // heWarning
    40,  // heWWWAuthenticate
    79,  // heXContentTypeOptions
    80,  // heP3P
    81,  // heXP2PPeerDist
    82,  // heTranslate
    83,  // heXUACompatible
    84,  // heDefaultStyle
    85,  // heXFrameOptions
    86,  // heXXSSProtection
};
static_assert(std::size(kHeaderLevels) == heXXSSProtection + 1);

// The flag word of a set: the OR of its elements' bits, nothing else.
template <class Set, std::size_t N>
constexpr DWORD SetToWord(Set Flags, const DWORD (&Table)[N])
{
    DWORD Word = 0;
    for (std::size_t I = 0; I < N; ++I)
        if (Flags.ToMask() & (std::uint64_t{1} << I))
            Word |= Table[I];
    return Word;
}

inline DWORD FlagWord(THttpFlags Flags) { return SetToWord(Flags, kRequestFlags); }
inline DWORD SecurityWord(TSecurityFlags Flags) { return SetToWord(Flags, kSecurityFlags); }

// The set of a security flag word; bits no element stands for are dropped.
inline TSecurityFlags SecurityFlagsFromWord(DWORD Word)
{
    TSecurityFlags Result;
    for (std::size_t I = 0; I < std::size(kSecurityFlags); ++I)
        if ((Word & kSecurityFlags[I]) != 0)
            Result.Include(static_cast<TSecurityFlag>(I));
    return Result;
}

}  // namespace Corvane::HttpTables
