// The HTTP client component: one connection to a server (InternetConnectW
// beneath a session), at most one open request on it, its request headers,
// and the response's headers and body.
#pragma once

#include <cstdint>

#include <Framework/Classes.h>
#include <Framework/ResourceStrings.h>
#include <Framework/Set.h>
#include <Platform/WinInet.h>

#include "Corvane/Handle.h"
#include "Corvane/Session.h"

namespace Corvane {

class TINetUrl;

/// Request flags: each element sets one INTERNET_FLAG_... bit of the flag
/// word that every request is opened with.
enum THttpFlag : std::uint8_t {
    flCacheIfNetFail,         ///< INTERNET_FLAG_CACHE_IF_NET_FAIL
    flHyperlink,              ///< INTERNET_FLAG_HYPERLINK
    flIgnoreCertCnInvalid,    ///< INTERNET_FLAG_IGNORE_CERT_CN_INVALID
    flIgnoreCertDateInvalid,  ///< INTERNET_FLAG_IGNORE_CERT_DATE_INVALID
    flIgnoreRedirectToHttp,   ///< INTERNET_FLAG_IGNORE_REDIRECT_TO_HTTP
    flIgnoreRedirectToHttps,  ///< INTERNET_FLAG_IGNORE_REDIRECT_TO_HTTPS
    flKeepConnection,         ///< INTERNET_FLAG_KEEP_CONNECTION
    flNeedFile,               ///< INTERNET_FLAG_NEED_FILE
    flNoAuth,                 ///< INTERNET_FLAG_NO_AUTH
    flNoAutoRedirect,         ///< INTERNET_FLAG_NO_AUTO_REDIRECT
    flNoCacheWrite,           ///< INTERNET_FLAG_NO_CACHE_WRITE
    flNoCookies,              ///< INTERNET_FLAG_NO_COOKIES
    flNoUi,                   ///< INTERNET_FLAG_NO_UI
    flPragmaNoCache,          ///< INTERNET_FLAG_PRAGMA_NOCACHE
    flReload,                 ///< INTERNET_FLAG_RELOAD
    flResynchronize,          ///< INTERNET_FLAG_RESYNCHRONIZE
    flSecure,                 ///< INTERNET_FLAG_SECURE
};
using THttpFlags = Framework::TSet<THttpFlag>;

/// The verb OpenRequest uses when it is given none; veNone sends an empty
/// verb text, which the platform reads as GET.
enum THttpVerb : std::uint8_t {
    veNone,
    veGet,
    vePut,
    vePost,
    veDelete,
    veOptions,
    veHead,
    veConnect,
    veTrace,
};

/// The bits of a request's INTERNET_OPTION_SECURITY_FLAGS, one element each.
enum TSecurityFlag : std::uint8_t {
    sfUnknownBit,             ///< SECURITY_FLAG_UNKNOWNBIT
    sf40Bit,                  ///< SECURITY_FLAG_40BIT
    sf56Bit,                  ///< SECURITY_FLAG_56BIT
    sf128Bit,                 ///< SECURITY_FLAG_128BIT
    sfSecureTransfers,        ///< SECURITY_FLAG_SECURE
    sfIgnoreInvalidCN,        ///< SECURITY_FLAG_IGNORE_CERT_CN_INVALID
    sfIgnoreInvalidDate,      ///< SECURITY_FLAG_IGNORE_CERT_DATE_INVALID
    sfIgnoreRedirectToHttp,   ///< SECURITY_FLAG_IGNORE_REDIRECT_TO_HTTP
    sfIgnoreRedirectToHttps,  ///< SECURITY_FLAG_IGNORE_REDIRECT_TO_HTTPS
    sfIgnoreRevocation,       ///< SECURITY_FLAG_IGNORE_REVOCATION
    sfIgnoreUnknownCA,        ///< SECURITY_FLAG_IGNORE_UNKNOWN_CA
    sfIgnoreWrongUsage,       ///< SECURITY_FLAG_IGNORE_WRONG_USAGE
};
using TSecurityFlags = Framework::TSet<TSecurityFlag>;

/// Named headers: each element stands for the HTTP_QUERY_... information
/// level of the same name (heContentType is HTTP_QUERY_CONTENT_TYPE).
enum THttpHeader : std::uint8_t {
    heAccept,
    heAcceptCharset,
    heAcceptEncoding,
    heAcceptLanguage,
    heAcceptRanges,
    heAge,
    heAllow,
    heAuthorization,
    heCacheControl,
    heConnection,
    heContentBase,
    heContentEncoding,
    heContentID,
    heContentLanguage,
    heContentLength,
    heContentLocation,
    heContentMD5,
    heContentRange,
    heContentTransferEncoding,
    heContentType,
    heCookie,
    heDate,
    heETag,
    heExpect,
    heExpires,
    heFrom,
    heHost,
    heIfMatch,
    heIfModifiedSince,
    heIfNoneMatch,
    heIfRange,
    heIfUnmodifiedSince,
    heLastModified,
    heLocation,
    heMaxForwards,
    heMimeVersion,
    hePragma,
    heProxyAuthenticate,
    heProxyAuthorization,
    heProxyConnection,
    hePublic,
    heRange,
    heRawHeaders,
    heRawHeadersCrLf,
    heReferer,
    heRequestMethod,
    heRetryAfter,
    heServer,
    heSetCookie,
    heStatusCode,
    heStatusText,
    heTransferEncoding,
    heUnlessModifiedSince,
    heUpgrade,
    heURI,
    heUserAgent,
    heVary,
    heVersion,
    heVia,
    heWarning,
    heWWWAuthenticate,
    heXContentTypeOptions,
    heP3P,
    heXP2PPeerDist,
    heTranslate,
    heXUACompatible,
    heDefaultStyle,
    heXFrameOptions,
    heXXSSProtection,
};

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
class TCustomINetHttp : public TINetHandle {
public:
    /// A closed component: no session, no flags, verb veNone, and the URL
    /// object's initial values (ServerName "localhost", Port 80).
    explicit TCustomINetHttp(TComponent* AOwner);
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
    void OpenRequest(const UnicodeString& Verb, const UnicodeString& ObjectName);
    /// Sends the open request with extra header text and a body of raw bytes
    /// (an empty body as an empty text of length 0). Returns when the final
    /// response's headers are in.
    void SendRequest(const UnicodeString& Headers, const AnsiString& Data);
    /// The same with the body as a byte array (an empty one as a null
    /// pointer of length 0).
    void SendRequest(const UnicodeString& Headers, const TBytes& Data);
    /// Closes the open request; does nothing when none is open.
    void CloseRequest();

    /// Adds Header unchanged: one line or several separated by CR LF. With
    /// Replace, a header of the same name is replaced instead of repeated.
    /// Raises on a closed component.
    void AddRequestHeader(const UnicodeString& Header, bool Replace);
    /// Adds or replaces the header "Name: Value". A name holding CR, LF or a
    /// colon, or a value holding CR or LF, is refused with EINetError
    /// (SINetInvalidHeaderName, SINetInvalidHeaderValue) before anything
    /// reaches the request.
    void AddRequestHeader(const UnicodeString& Name, const UnicodeString& Value);
    /// Keeps AddRequestHeader(Name, u"text") from choosing the Boolean form.
    void AddRequestHeader(const UnicodeString& Name, const char16_t* Value)
    {
        AddRequestHeader(Name, UnicodeString(Value));
    }
    /// Removes the header Name from the request (refused like the above).
    void DeleteRequestHeader(const UnicodeString& Name);
    /// Replaces the value of the request's existing header Name; the
    /// platform's error when there is none (refused like the above).
    void ReplaceRequestHeader(const UnicodeString& Name, const UnicodeString& Value);

    // Responses and header queries.

    /// The text of information level Info (modifier bits passed unchanged).
    /// A header the response lacks raises the platform's error for it.
    UnicodeString QueryInfo(Cardinal Info);
    /// The text of a named header.
    UnicodeString QueryInfo(THttpHeader Header);
    /// The value of the header called HeaderName; empty for an empty name.
    UnicodeString QueryInfo(const UnicodeString& HeaderName);
    /// The value of level Info as a number (HTTP_QUERY_FLAG_NUMBER). Needs no
    /// open component: without a request the platform's error is raised.
    Cardinal QueryInfoValue(Cardinal Info);
    Cardinal QueryInfoValue(THttpHeader Header);
    /// The value of level Info as a date and time (HTTP_QUERY_FLAG_SYSTEMTIME).
    SYSTEMTIME QueryInfoSystemTime(Cardinal Info);
    SYSTEMTIME QueryInfoSystemTime(THttpHeader Header);

    /// The number of body bytes that can be read at once.
    Cardinal AvailableData();
    /// The next piece of the body, as large as what is available (at least
    /// one byte is asked for); empty at the end of the body.
    AnsiString GetData();
    TBytes GetBytes();
    /// Reads at most Data's length of body bytes into Data, from its first
    /// byte, and returns how many were read; Data's length is not changed
    /// and the bytes past the count keep their values. An empty buffer reads
    /// nothing and gives 0.
    Cardinal GetData(AnsiString& Data);
    Cardinal GetBytes(TBytes& Bytes);
    /// The rest of the body, whole.
    AnsiString ReadData();
    TBytes ReadBytes();

    /// Read-only array properties over QueryInfo.
    UnicodeString Headers(THttpHeader Index) { return QueryInfo(Index); }
    UnicodeString CustomHeaders(const UnicodeString& Name) { return QueryInfo(Name); }

protected:
    // Connection settings: views onto the URL object. Writing raises "Can't
    // perform this operation on an open session" on an open component.
    UnicodeString ExtraInfo() const;
    void SetExtraInfo(const UnicodeString& Value);
    UnicodeString Password() const;
    void SetPassword(const UnicodeString& Value);
    Word Port() const;
    void SetPort(Word Value);
    UnicodeString ServerName() const;
    void SetServerName(const UnicodeString& Value);
    UnicodeString Scheme() const;
    void SetScheme(const UnicodeString& Value);
    UnicodeString Url() const;
    void SetUrl(const UnicodeString& Value);
    UnicodeString UrlPath() const;
    void SetUrlPath(const UnicodeString& Value);
    UnicodeString UserName() const;
    void SetUserName(const UnicodeString& Value);
    /// The session to connect beneath; null means the default session.
    TINetSession* Session() const { return static_cast<TINetSession*>(FSession); }
    void SetSession(TINetSession* Value);

    // Request settings: may change at any time.
    THttpFlags Flags() const { return FFlags; }
    void SetFlags(THttpFlags Value) { FFlags = Value; }
    UnicodeString Referer() const { return FReferer; }
    void SetReferer(const UnicodeString& Value) { FReferer = Value; }
    THttpVerb Verb() const { return FVerb; }
    void SetVerb(THttpVerb Value) { FVerb = Value; }
    UnicodeString Version() const { return FVersion; }
    void SetVersion(const UnicodeString& Value) { FVersion = Value; }
    /// The stored set while no request is open; otherwise the open request's
    /// flags as the platform reports them.
    TSecurityFlags SecurityFlags();
    /// Stores the set and, while a request is open, applies it to it.
    void SetSecurityFlags(TSecurityFlags Value);

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
    void Notification(TComponent* AComponent, Framework::TOperation Operation) override;

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
class TINetHttp : public TCustomINetHttp {
public:
    using TCustomINetHttp::TCustomINetHttp;

    using TCustomINetHttp::About;
    using TCustomINetHttp::Active;
    using TCustomINetHttp::ExtraInfo;
    using TCustomINetHttp::Flags;
    using TCustomINetHttp::Password;
    using TCustomINetHttp::Port;
    using TCustomINetHttp::Referer;
    using TCustomINetHttp::SecurityFlags;
    using TCustomINetHttp::ServerName;
    using TCustomINetHttp::Session;
    using TCustomINetHttp::Scheme;
    using TCustomINetHttp::Url;
    using TCustomINetHttp::UrlPath;
    using TCustomINetHttp::UserName;
    using TCustomINetHttp::Verb;
    using TCustomINetHttp::Version;
    using TCustomINetHttp::SetAbout;
    using TCustomINetHttp::SetActive;
    using TCustomINetHttp::SetExtraInfo;
    using TCustomINetHttp::SetFlags;
    using TCustomINetHttp::SetPassword;
    using TCustomINetHttp::SetPort;
    using TCustomINetHttp::SetReferer;
    using TCustomINetHttp::SetSecurityFlags;
    using TCustomINetHttp::SetServerName;
    using TCustomINetHttp::SetSession;
    using TCustomINetHttp::SetScheme;
    using TCustomINetHttp::SetUrl;
    using TCustomINetHttp::SetUrlPath;
    using TCustomINetHttp::SetUserName;
    using TCustomINetHttp::SetVerb;
    using TCustomINetHttp::SetVersion;
    using TCustomINetHttp::AfterClose;
    using TCustomINetHttp::AfterOpen;
    using TCustomINetHttp::BeforeClose;
    using TCustomINetHttp::BeforeOpen;
    using TCustomINetHttp::OnCallback;
    using TCustomINetHttp::OnError;
    using TCustomINetHttp::SetAfterClose;
    using TCustomINetHttp::SetAfterOpen;
    using TCustomINetHttp::SetBeforeClose;
    using TCustomINetHttp::SetBeforeOpen;
    using TCustomINetHttp::SetOnCallback;
    using TCustomINetHttp::SetOnError;
};

}  // namespace Corvane
