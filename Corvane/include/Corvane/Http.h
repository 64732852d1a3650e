/// \file
/// The HTTP client component: one connection to a server (InternetConnectW
/// beneath a session), at most one open request on it, its request headers,
/// and the response's headers and body.
#pragma once

#include <cstdint>

#include <Framework/Classes.h>
#include <Framework/ResourceStrings.h>
#include <Framework/Set.h>
#include <Platform/WinInet.h>

#include "Corvane/EnumList.h"
#include "Corvane/Handle.h"
#include "Corvane/Session.h"
#include "Corvane/CorvaneExport.h"

namespace Corvane {

class TINetUrl;

/// THttpFlag's list (see Corvane/EnumList.h): each element with the
/// INTERNET_FLAG_... bit it sets.
#define CORVANE_HTTP_FLAGS(X)                                          \
    X(flCacheIfNetFail, INTERNET_FLAG_CACHE_IF_NET_FAIL)               \
    X(flHyperlink, INTERNET_FLAG_HYPERLINK)                            \
    X(flIgnoreCertCnInvalid, INTERNET_FLAG_IGNORE_CERT_CN_INVALID)     \
    X(flIgnoreCertDateInvalid, INTERNET_FLAG_IGNORE_CERT_DATE_INVALID) \
    X(flIgnoreRedirectToHttp, INTERNET_FLAG_IGNORE_REDIRECT_TO_HTTP)   \
    X(flIgnoreRedirectToHttps, INTERNET_FLAG_IGNORE_REDIRECT_TO_HTTPS) \
    X(flKeepConnection, INTERNET_FLAG_KEEP_CONNECTION)                 \
    X(flNeedFile, INTERNET_FLAG_NEED_FILE)                             \
    X(flNoAuth, INTERNET_FLAG_NO_AUTH)                                 \
    X(flNoAutoRedirect, INTERNET_FLAG_NO_AUTO_REDIRECT)                \
    X(flNoCacheWrite, INTERNET_FLAG_NO_CACHE_WRITE)                    \
    X(flNoCookies, INTERNET_FLAG_NO_COOKIES)                           \
    X(flNoUi, INTERNET_FLAG_NO_UI)                                     \
    X(flPragmaNoCache, INTERNET_FLAG_PRAGMA_NOCACHE)                   \
    X(flReload, INTERNET_FLAG_RELOAD)                                  \
    X(flResynchronize, INTERNET_FLAG_RESYNCHRONIZE)                    \
    X(flSecure, INTERNET_FLAG_SECURE)

/// Request flags: each element sets one bit of the flag word that every
/// request is opened with.
enum THttpFlag : std::uint8_t { CORVANE_HTTP_FLAGS(CORVANE_ENUM_ELEMENT) };
/// A set of THttpFlag elements.
using THttpFlags = Framework::TSet<THttpFlag>;

/// THttpVerb's list: each element with its request method text.
#define CORVANE_HTTP_VERBS(X) \
    X(veNone, u"")            \
    X(veGet, u"GET")          \
    X(vePut, u"PUT")          \
    X(vePost, u"POST")        \
    X(veDelete, u"DELETE")    \
    X(veOptions, u"OPTIONS")  \
    X(veHead, u"HEAD")        \
    X(veConnect, u"CONNECT")  \
    X(veTrace, u"TRACE")

/// The verb OpenRequest uses when it is given none; veNone sends an empty
/// verb text, which the platform reads as GET.
enum THttpVerb : std::uint8_t { CORVANE_HTTP_VERBS(CORVANE_ENUM_ELEMENT) };

/// TSecurityFlag's list: each element with its SECURITY_FLAG_... bit.
#define CORVANE_SECURITY_FLAGS(X)                                      \
    X(sfUnknownBit, SECURITY_FLAG_UNKNOWNBIT)                          \
    X(sf40Bit, SECURITY_FLAG_40BIT)                                    \
    X(sf56Bit, SECURITY_FLAG_56BIT)                                    \
    X(sf128Bit, SECURITY_FLAG_128BIT)                                  \
    X(sfSecureTransfers, SECURITY_FLAG_SECURE)                         \
    X(sfIgnoreInvalidCN, SECURITY_FLAG_IGNORE_CERT_CN_INVALID)         \
    X(sfIgnoreInvalidDate, SECURITY_FLAG_IGNORE_CERT_DATE_INVALID)     \
    X(sfIgnoreRedirectToHttp, SECURITY_FLAG_IGNORE_REDIRECT_TO_HTTP)   \
    X(sfIgnoreRedirectToHttps, SECURITY_FLAG_IGNORE_REDIRECT_TO_HTTPS) \
    X(sfIgnoreRevocation, SECURITY_FLAG_IGNORE_REVOCATION)             \
    X(sfIgnoreUnknownCA, SECURITY_FLAG_IGNORE_UNKNOWN_CA)              \
    X(sfIgnoreWrongUsage, SECURITY_FLAG_IGNORE_WRONG_USAGE)

/// The bits of a request's INTERNET_OPTION_SECURITY_FLAGS, one element each.
enum TSecurityFlag : std::uint8_t { CORVANE_SECURITY_FLAGS(CORVANE_ENUM_ELEMENT) };
/// A set of TSecurityFlag elements.
using TSecurityFlags = Framework::TSet<TSecurityFlag>;

/// THttpHeader's list: each element with the HTTP_QUERY_... information
/// level it stands for.
#define CORVANE_HTTP_HEADERS(X)                                        \
    X(heAccept, HTTP_QUERY_ACCEPT)                                     \
    X(heAcceptCharset, HTTP_QUERY_ACCEPT_CHARSET)                      \
    X(heAcceptEncoding, HTTP_QUERY_ACCEPT_ENCODING)                    \
    X(heAcceptLanguage, HTTP_QUERY_ACCEPT_LANGUAGE)                    \
    X(heAcceptRanges, HTTP_QUERY_ACCEPT_RANGES)                        \
    X(heAge, HTTP_QUERY_AGE)                                           \
    X(heAllow, HTTP_QUERY_ALLOW)                                       \
    X(heAuthorization, HTTP_QUERY_AUTHORIZATION)                       \
    X(heCacheControl, HTTP_QUERY_CACHE_CONTROL)                        \
    X(heConnection, HTTP_QUERY_CONNECTION)                             \
    X(heContentBase, HTTP_QUERY_CONTENT_BASE)                          \
    X(heContentEncoding, HTTP_QUERY_CONTENT_ENCODING)                  \
    X(heContentID, HTTP_QUERY_CONTENT_ID)                              \
    X(heContentLanguage, HTTP_QUERY_CONTENT_LANGUAGE)                  \
    X(heContentLength, HTTP_QUERY_CONTENT_LENGTH)                      \
    X(heContentLocation, HTTP_QUERY_CONTENT_LOCATION)                  \
    X(heContentMD5, HTTP_QUERY_CONTENT_MD5)                            \
    X(heContentRange, HTTP_QUERY_CONTENT_RANGE)                        \
    X(heContentTransferEncoding, HTTP_QUERY_CONTENT_TRANSFER_ENCODING) \
    X(heContentType, HTTP_QUERY_CONTENT_TYPE)                          \
    X(heCookie, HTTP_QUERY_COOKIE)                                     \
    X(heDate, HTTP_QUERY_DATE)                                         \
    X(heETag, HTTP_QUERY_ETAG)                                         \
    X(heExpect, HTTP_QUERY_EXPECT)                                     \
    X(heExpires, HTTP_QUERY_EXPIRES)                                   \
    X(heFrom, HTTP_QUERY_FROM)                                         \
    X(heHost, HTTP_QUERY_HOST)                                         \
    X(heIfMatch, HTTP_QUERY_IF_MATCH)                                  \
    X(heIfModifiedSince, HTTP_QUERY_IF_MODIFIED_SINCE)                 \
    X(heIfNoneMatch, HTTP_QUERY_IF_NONE_MATCH)                         \
    X(heIfRange, HTTP_QUERY_IF_RANGE)                                  \
    X(heIfUnmodifiedSince, HTTP_QUERY_IF_UNMODIFIED_SINCE)             \
    X(heLastModified, HTTP_QUERY_LAST_MODIFIED)                        \
    X(heLocation, HTTP_QUERY_LOCATION)                                 \
    X(heMaxForwards, HTTP_QUERY_MAX_FORWARDS)                          \
    X(heMimeVersion, HTTP_QUERY_MIME_VERSION)                          \
    X(hePragma, HTTP_QUERY_PRAGMA)                                     \
    X(heProxyAuthenticate, HTTP_QUERY_PROXY_AUTHENTICATE)              \
    X(heProxyAuthorization, HTTP_QUERY_PROXY_AUTHORIZATION)            \
    X(heProxyConnection, HTTP_QUERY_PROXY_CONNECTION)                  \
    X(hePublic, HTTP_QUERY_PUBLIC)                                     \
    X(heRange, HTTP_QUERY_RANGE)                                       \
    X(heRawHeaders, HTTP_QUERY_RAW_HEADERS)                            \
    X(heRawHeadersCrLf, HTTP_QUERY_RAW_HEADERS_CRLF)                   \
    X(heReferer, HTTP_QUERY_REFERER)                                   \
    X(heRequestMethod, HTTP_QUERY_REQUEST_METHOD)                      \
    X(heRetryAfter, HTTP_QUERY_RETRY_AFTER)                            \
    X(heServer, HTTP_QUERY_SERVER)                                     \
    X(heSetCookie, HTTP_QUERY_SET_COOKIE)                              \
    X(heStatusCode, HTTP_QUERY_STATUS_CODE)                            \
    X(heStatusText, HTTP_QUERY_STATUS_TEXT)                            \
    X(heTransferEncoding, HTTP_QUERY_TRANSFER_ENCODING)                \
    X(heUnlessModifiedSince, HTTP_QUERY_UNLESS_MODIFIED_SINCE)         \
    X(heUpgrade, HTTP_QUERY_UPGRADE)                                   \
    X(heURI, HTTP_QUERY_URI)                                           \
    X(heUserAgent, HTTP_QUERY_USER_AGENT)                              \
    X(heVary, HTTP_QUERY_VARY)                                         \
    X(heVersion, HTTP_QUERY_VERSION)                                   \
    X(heVia, HTTP_QUERY_VIA)                                           \
    X(heWarning, HTTP_QUERY_WARNING)                                   \
    X(heWWWAuthenticate, HTTP_QUERY_WWW_AUTHENTICATE)                  \
    X(heXContentTypeOptions, HTTP_QUERY_X_CONTENT_TYPE_OPTIONS)        \
    X(heP3P, HTTP_QUERY_P3P)                                           \
    X(heXP2PPeerDist, HTTP_QUERY_X_P2P_PEERDIST)                       \
    X(heTranslate, HTTP_QUERY_TRANSLATE)                               \
    X(heXUACompatible, HTTP_QUERY_X_UA_COMPATIBLE)                     \
    X(heDefaultStyle, HTTP_QUERY_DEFAULT_STYLE)                        \
    X(heXFrameOptions, HTTP_QUERY_X_FRAME_OPTIONS)                     \
    X(heXXSSProtection, HTTP_QUERY_X_XSS_PROTECTION)

/// Named headers: each element stands for the information level of the
/// same name (heContentType is HTTP_QUERY_CONTENT_TYPE).
enum THttpHeader : std::uint8_t { CORVANE_HTTP_HEADERS(CORVANE_ENUM_ELEMENT) };

/// Raised by the header operations that build a header line from a name:
/// the name holds CR, LF or a colon.
inline constexpr Framework::TResourceString SINetInvalidHeaderName{
    "Corvane.SINetInvalidHeaderName",
    u"Invalid request header name: a name must not contain a carriage return, a line feed or a colon"};
/// Raised by the header operations that build a header line from a value:
/// the value holds CR or LF.
inline constexpr Framework::TResourceString SINetInvalidHeaderValue{
    "Corvane.SINetInvalidHeaderValue",
    u"Invalid request header value: a value must not contain a carriage return or a line feed"};

/// The HTTP client. The component's Handle is the connection to the server
/// that the URL properties name, opened beneath its Session (or the default
/// session when none is assigned); HttpHandle is the one open request.
///
/// Calling order: Open; OpenRequest; header operations; SendRequest; the
/// queries and reads; then CloseRequest, the next OpenRequest or Close.
///
/// Connection settings (the URL properties and Session) change only while
/// the component is closed; the request settings (Flags, Verb, Version,
/// Referer, SecurityFlags) at any time and apply at the next OpenRequest.
/// While open beneath an assigned session, the component is in that
/// session's list of users, and the session closes it before itself.
class CORVANE_EXPORT TCustomINetHttp : public TINetHandle {
public:
    /// A closed component: no session, no flags, verb veNone, and the URL
    /// object's initial values (ServerName "localhost", Port 80).
    explicit TCustomINetHttp(TComponent* owner);
    /// Closes the component (and so its request), then frees the URL object.
    ~TCustomINetHttp() override;

    /// The open request, or null; for direct use of the platform's API.
    HINTERNET HttpHandle() const { return FHttpHandle; }

    // Requests and request headers.

    /// Closes the open request, then opens a new one on the connection with
    /// Verb (empty: the Verb property's text) and ObjectName (empty: UrlPath
    /// followed by ExtraInfo), the Version and Referer, the flag word of
    /// Flags, and this component as context. A non-empty SecurityFlags set is
    /// applied to the new request. Raises on a closed component.
    void OpenRequest(const UnicodeString& verb, const UnicodeString& objectName);
    /// Sends the open request with extra header text and a body of raw bytes
    /// (an empty body as an empty text of length 0). Returns when the final
    /// response's headers are in.
    void SendRequest(const UnicodeString& headers, const AnsiString& data);
    /// The same with the body as a byte array (an empty one as a null
    /// pointer of length 0).
    void SendRequest(const UnicodeString& headers, const TBytes& data);
    /// Closes the open request; does nothing when none is open.
    void CloseRequest();

    /// Adds Header unchanged: one line or several separated by CR LF. With
    /// Replace, a header of the same name is replaced instead of repeated.
    /// Raises on a closed component.
    void AddRequestHeader(const UnicodeString& header, bool replace);
    /// Adds or replaces the header "Name: Value". A name holding CR, LF or a
    /// colon, or a value holding CR or LF, is refused with EINetError
    /// (SINetInvalidHeaderName, SINetInvalidHeaderValue) before anything
    /// reaches the request.
    void AddRequestHeader(const UnicodeString& name, const UnicodeString& value);
    /// Keeps AddRequestHeader(Name, u"text") from choosing the Boolean form.
    void AddRequestHeader(const UnicodeString& name, const char16_t* value) {
        AddRequestHeader(name, UnicodeString(value));
    }
    /// Removes the header Name from the request (refused like the above).
    void DeleteRequestHeader(const UnicodeString& name);
    /// Replaces the value of the request's existing header Name; the
    /// platform's error when there is none (refused like the above).
    void ReplaceRequestHeader(const UnicodeString& name, const UnicodeString& value);

    // Responses and header queries.

    /// The text of information level Info (modifier bits passed unchanged).
    /// A header the response lacks raises the platform's error for it.
    UnicodeString QueryInfo(Cardinal info);
    /// The text of a named header.
    UnicodeString QueryInfo(THttpHeader header);
    /// The value of the header called HeaderName; empty for an empty name.
    UnicodeString QueryInfo(const UnicodeString& headerName);
    /// The value of level Info as a number (HTTP_QUERY_FLAG_NUMBER). Needs no
    /// open component: without a request the platform's error is raised.
    Cardinal QueryInfoValue(Cardinal info);
    /// The value of a named header as a number.
    Cardinal QueryInfoValue(THttpHeader header);
    /// The value of level Info as a date and time (HTTP_QUERY_FLAG_SYSTEMTIME).
    SYSTEMTIME QueryInfoSystemTime(Cardinal info);
    /// The value of a named header as a date and time.
    SYSTEMTIME QueryInfoSystemTime(THttpHeader header);

    /// The number of body bytes that can be read at once.
    Cardinal AvailableData();
    /// The next piece of the body, as large as what is available (at least
    /// one byte is asked for); empty at the end of the body.
    AnsiString GetData();
    /// The same as bytes.
    TBytes GetBytes();
    /// Reads at most Data's length of body bytes into Data, from its first
    /// byte, and returns how many were read; Data's length is not changed
    /// and the bytes past the count keep their values. An empty buffer reads
    /// nothing and gives 0.
    Cardinal GetData(AnsiString& data);
    /// The same into a byte buffer: the loop of a download that reuses one
    /// buffer (0 at the end of the body).
    Cardinal GetBytes(TBytes& bytes);
    /// The rest of the body, whole.
    AnsiString ReadData();
    /// The rest of the body, whole, as bytes.
    TBytes ReadBytes();

    /// Read-only array property over QueryInfo: a named header's text.
    UnicodeString Headers(THttpHeader index) { return QueryInfo(index); }
    /// Read-only array property over QueryInfo: the header called Name.
    UnicodeString CustomHeaders(const UnicodeString& name) { return QueryInfo(name); }

protected:
    // Connection settings: views onto the URL object. Writing raises "Can't
    // perform this operation on an open session" on an open component.

    /// The URL's query and fragment ("?a=1#top").
    UnicodeString ExtraInfo() const;
    /// Sets ExtraInfo; the URL is composed again from its parts, as with
    /// every part's setter.
    void SetExtraInfo(const UnicodeString& value);
    /// The password the connection logs in with.
    UnicodeString Password() const;
    /// Sets Password.
    void SetPassword(const UnicodeString& value);
    /// The server's port (80 initially; what the URL names, or its scheme's).
    Word Port() const;
    /// Sets Port.
    void SetPort(Word value);
    /// The server's host name ("localhost" initially).
    UnicodeString ServerName() const;
    /// Sets ServerName.
    void SetServerName(const UnicodeString& value);
    /// The URL's scheme ("http", "https").
    UnicodeString Scheme() const;
    /// Sets Scheme; the request's flSecure flag is the caller's to set.
    void SetScheme(const UnicodeString& value);
    /// The whole URL, composed from the parts.
    UnicodeString Url() const;
    /// Sets the URL and cracks it into ServerName, Port, UserName,
    /// Password, Scheme, UrlPath and ExtraInfo.
    void SetUrl(const UnicodeString& value);
    /// The URL's path, the default object name of OpenRequest.
    UnicodeString UrlPath() const;
    /// Sets UrlPath.
    void SetUrlPath(const UnicodeString& value);
    /// The user name the connection logs in with.
    UnicodeString UserName() const;
    /// Sets UserName.
    void SetUserName(const UnicodeString& value);
    /// The session to connect beneath; null means the default session.
    TINetSession* Session() const { return static_cast<TINetSession*>(FSession); }
    /// Sets Session (null: the default session); the component hears of the
    /// session's destruction and clears the reference then.
    void SetSession(TINetSession* value);

    // Request settings: may change at any time.

    /// The flags the next request is opened with.
    THttpFlags Flags() const { return FFlags; }
    /// Sets Flags.
    void SetFlags(THttpFlags value) { FFlags = value; }
    /// The Referer the next request sends (empty: none).
    UnicodeString Referer() const { return FReferer; }
    /// Sets Referer.
    void SetReferer(const UnicodeString& value) { FReferer = value; }
    /// The verb OpenRequest uses when given none.
    THttpVerb Verb() const { return FVerb; }
    /// Refuses a value no element stands for (SINetInvalidValue).
    void SetVerb(THttpVerb value);
    /// The HTTP version the next request names ("HTTP/1.1"; empty: the
    /// platform's default).
    UnicodeString Version() const { return FVersion; }
    /// Sets Version.
    void SetVersion(const UnicodeString& value) { FVersion = value; }
    /// The stored set while no request is open; otherwise the open request's
    /// flags as the platform reports them.
    TSecurityFlags SecurityFlags();
    /// Stores the set and, while a request is open, applies it to it.
    void SetSecurityFlags(TSecurityFlags value);

    /// The request flag word made from Flags.
    Cardinal GetFlags() const;

    /// The base CreateHandle, then entry in the assigned session's users.
    void CreateHandle() override;
    /// CloseRequest, the base FreeHandle, then leaving the session's users
    /// (also when closing the connection failed).
    void FreeHandle() override;
    /// Opens the session (assigned or default) and connects to ServerName and
    /// Port as UserName with Password (INTERNET_SERVICE_HTTP, flags 0).
    HINTERNET CreateInternalHandle() override;
    /// Clears Session when that session is removed.
    void Notification(TComponent* component, Framework::TOperation operation) override;

private:
    /// Removes the component from the list of the session it entered.
    void LeaveEnteredSession();

    THttpFlags FFlags;
    UnicodeString FReferer;
    TCustomINetSession* FSession = nullptr;
    TINetUrl* FINetUrl = nullptr;
    TSecurityFlags FSecurityFlags;
    THttpVerb FVerb = veNone;
    UnicodeString FVersion;
    HINTERNET FHttpHandle = nullptr;
    /// The session whose list this component is in while open; kept apart
    /// from FSession, which a removal notice may clear while open.
    TCustomINetSession* FEnteredSession = nullptr;
};

/// The HTTP client component: publishes TCustomINetHttp's properties.
class CORVANE_EXPORT TINetHttp : public TCustomINetHttp {
public:
    using TCustomINetHttp::TCustomINetHttp;

    using TCustomINetHttp::About;
    using TCustomINetHttp::Active;
    using TCustomINetHttp::AfterClose;
    using TCustomINetHttp::AfterOpen;
    using TCustomINetHttp::BeforeClose;
    using TCustomINetHttp::BeforeOpen;
    using TCustomINetHttp::ExtraInfo;
    using TCustomINetHttp::Flags;
    using TCustomINetHttp::OnCallback;
    using TCustomINetHttp::OnError;
    using TCustomINetHttp::Password;
    using TCustomINetHttp::Port;
    using TCustomINetHttp::Referer;
    using TCustomINetHttp::Scheme;
    using TCustomINetHttp::SecurityFlags;
    using TCustomINetHttp::ServerName;
    using TCustomINetHttp::Session;
    using TCustomINetHttp::SetAbout;
    using TCustomINetHttp::SetActive;
    using TCustomINetHttp::SetAfterClose;
    using TCustomINetHttp::SetAfterOpen;
    using TCustomINetHttp::SetBeforeClose;
    using TCustomINetHttp::SetBeforeOpen;
    using TCustomINetHttp::SetExtraInfo;
    using TCustomINetHttp::SetFlags;
    using TCustomINetHttp::SetOnCallback;
    using TCustomINetHttp::SetOnError;
    using TCustomINetHttp::SetPassword;
    using TCustomINetHttp::SetPort;
    using TCustomINetHttp::SetReferer;
    using TCustomINetHttp::SetScheme;
    using TCustomINetHttp::SetSecurityFlags;
    using TCustomINetHttp::SetServerName;
    using TCustomINetHttp::SetSession;
    using TCustomINetHttp::SetUrl;
    using TCustomINetHttp::SetUrlPath;
    using TCustomINetHttp::SetUserName;
    using TCustomINetHttp::SetVerb;
    using TCustomINetHttp::SetVersion;
    using TCustomINetHttp::Url;
    using TCustomINetHttp::UrlPath;
    using TCustomINetHttp::UserName;
    using TCustomINetHttp::Verb;
    using TCustomINetHttp::Version;
};

}  // namespace Corvane
