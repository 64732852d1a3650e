/// \file
/// The URL component: one URL held as its whole text and as its parts, kept
/// consistent through the Internet library's own URL routines (crack, create,
/// canonicalize). It owns no Internet handle and raises nothing.
#pragma once

#include <cstdint>

#include <Framework/Classes.h>

#include "Corvane/EnumList.h"
#include "Corvane/Errors.h"
#include "Corvane/CorvaneExport.h"

namespace Corvane {

/// TUrlFlags's list (see Corvane/EnumList.h): each choice with the flag word
/// it gives each URL routine, in the order canonical form, crack, create; a
/// routine that does not take a choice gets 0.
#define CORVANE_URL_FLAGS(X)                                       \
    X(flNone, 0, 0, 0)                                             \
    X(flBrowserMode, ICU_BROWSER_MODE, 0, 0)                       \
    X(flDecode, ICU_DECODE, ICU_DECODE, 0)                         \
    X(flDecodeWithoutReencoding, ICU_DECODE | ICU_NO_ENCODE, 0, 0) \
    X(flEncodePercent, ICU_ENCODE_PERCENT, 0, 0)                   \
    X(flEncodeSpacesOnly, ICU_ENCODE_SPACES_ONLY, 0, 0)            \
    X(flEscape, 0, ICU_ESCAPE, ICU_ESCAPE)                         \
    X(flNoEncode, ICU_NO_ENCODE, 0, 0)                             \
    X(flNoMeta, ICU_NO_META, 0, 0)

/// The encoding choice handed to the URL routines: exactly one is in force.
/// Each routine turns it into its own flag word (see the list above).
enum TUrlFlags : std::uint8_t { CORVANE_URL_FLAGS(CORVANE_ENUM_ELEMENT) };

/// Holds one URL in two views: Url, and its parts Scheme, HostName, Port,
/// UserName, Password, UrlPath and ExtraInfo. Assigning Url cracks it into
/// the parts; assigning a part or Flags composes Url anew from the parts.
/// No setter compares with the old value, checks anything or raises:
///  - a failed crack leaves every text part empty and Port 0, and Url as
///    assigned;
///  - a failed composition leaves Url empty and the parts as they were;
///  - a failed canonicalization reads as an empty CanonizedUrl.
/// Every text the platform writes (a part, the composed URL, the canonical
/// form) gets a buffer of 8336 characters; longer texts cannot be produced.
class CORVANE_EXPORT TCustomINetUrl : public TComponent {
public:
    /// HostName "localhost", Port 80, Flags flNone, every other part empty,
    /// and Url what the platform composes from those parts (no scheme).
    explicit TCustomINetUrl(TComponent* owner);

protected:
    /// A fixed text beginning "Version 4.4"; assigning it does nothing.
    UnicodeString About() const;
    /// Does nothing: About is fixed.
    void SetAbout(const UnicodeString& value);

    /// The canonical form of Url under Flags, computed by the platform at
    /// every read (nothing is cached); empty when the platform refuses.
    UnicodeString CanonizedUrl() const;
    /// Does nothing: the canonical form is derived from Url.
    void SetCanonizedUrl(const UnicodeString& value);

    /// Query and fragment, as the platform delimits them.
    UnicodeString ExtraInfo() const { return FExtraInfo; }
    /// Sets the part and composes Url again from the parts, as every part's
    /// setter does.
    void SetExtraInfo(const UnicodeString& value);
    /// Changing the choice composes Url again from the unchanged parts; the
    /// parts are not cracked again.
    TUrlFlags Flags() const { return FFlags; }
    /// Sets the choice of encoding and composes Url again.
    void SetFlags(TUrlFlags value);
    /// The host name part.
    UnicodeString HostName() const { return FHostName; }
    /// Sets the host name and composes Url again.
    void SetHostName(const UnicodeString& value);
    /// The password part.
    UnicodeString Password() const { return FPassword; }
    /// Sets the password and composes Url again.
    void SetPassword(const UnicodeString& value);
    /// 0 means none; it is handed to the platform as 0 all the same.
    Word Port() const { return FPort; }
    /// Sets the port and composes Url again.
    void SetPort(Word value);
    /// The scheme as text; the platform's scheme number is not kept.
    UnicodeString Scheme() const { return FScheme; }
    /// Sets the scheme and composes Url again.
    void SetScheme(const UnicodeString& value);
    /// Reads back exactly what was assigned (not canonicalized), or the
    /// platform's composition after a part or Flags was assigned.
    UnicodeString Url() const { return FUrl; }
    /// Stores the URL as given and cracks it into the parts (each part
    /// empty, and Port 0, when the platform cannot crack it).
    void SetUrl(const UnicodeString& value);
    /// The path part, from its leading slash.
    UnicodeString UrlPath() const { return FUrlPath; }
    /// Sets the path and composes Url again.
    void SetUrlPath(const UnicodeString& value);
    /// The user name part.
    UnicodeString UserName() const { return FUserName; }
    /// Sets the user name and composes Url again.
    void SetUserName(const UnicodeString& value);

private:
    /// Splits FUrl into the parts with InternetCrackUrlW, the platform
    /// writing each part straight into its field.
    void CrackUrl();
    /// Composes FUrl from the parts with InternetCreateUrlW.
    void CreateUrl();

    UnicodeString FExtraInfo;
    TUrlFlags FFlags = flNone;
    UnicodeString FHostName;
    UnicodeString FPassword;
    Word FPort = 0;
    UnicodeString FScheme;
    UnicodeString FUrl;
    UnicodeString FUrlPath;
    UnicodeString FUserName;
};

/// The URL component: publishes TCustomINetUrl's properties.
class CORVANE_EXPORT TINetUrl : public TCustomINetUrl {
public:
    using TCustomINetUrl::TCustomINetUrl;

    using TCustomINetUrl::About;
    using TCustomINetUrl::CanonizedUrl;
    using TCustomINetUrl::ExtraInfo;
    using TCustomINetUrl::Flags;
    using TCustomINetUrl::HostName;
    using TCustomINetUrl::Password;
    using TCustomINetUrl::Port;
    using TCustomINetUrl::Scheme;
    using TCustomINetUrl::SetAbout;
    using TCustomINetUrl::SetCanonizedUrl;
    using TCustomINetUrl::SetExtraInfo;
    using TCustomINetUrl::SetFlags;
    using TCustomINetUrl::SetHostName;
    using TCustomINetUrl::SetPassword;
    using TCustomINetUrl::SetPort;
    using TCustomINetUrl::SetScheme;
    using TCustomINetUrl::SetUrl;
    using TCustomINetUrl::SetUrlPath;
    using TCustomINetUrl::SetUserName;
    using TCustomINetUrl::Url;
    using TCustomINetUrl::UrlPath;
    using TCustomINetUrl::UserName;
};

}  // namespace Corvane
