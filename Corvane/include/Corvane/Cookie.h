/// \file
/// The cookie component: reads and writes one cookie of the platform's cookie
/// store, addressed by a URL and a cookie name. It keeps no copy of the
/// cookie and owns no Internet handle: every read of CookieData asks the
/// store, every assignment stores at once.
#pragma once

#include <Framework/Classes.h>

#include "Corvane/Errors.h"
#include "Corvane/CorvaneExport.h"

namespace Corvane {

/// Url and CookieName are plain fields: assigning them touches nothing else
/// and never raises; they are used at the next read or write of CookieData.
class CORVANE_EXPORT TCustomINetCookie : public TComponent {
public:
    /// A cookie component with no URL and no name, owned by Owner.
    using TComponent::TComponent;

    /// What the store holds for Url and CookieName (with a name, the platform
    /// gives that cookie as "name=value"; without one, every cookie of the
    /// URL). A missing cookie, or any failure to learn the data's size, reads
    /// as the empty text with nothing raised; a failure to read the data
    /// itself raises EINetError. Each read asks the store anew.
    UnicodeString CookieData() const;
    /// Stores Data for Url and CookieName; a refusal raises EINetError. A
    /// text holding a NUL is refused (ERROR_INVALID_PARAMETER) before the
    /// store sees it, since the store would keep only the part before it.
    void SetCookieData(const UnicodeString& data);

protected:
    /// A fixed text beginning "Version 4.4"; assigning it does nothing.
    UnicodeString About() const;
    /// Does nothing: About is fixed.
    void SetAbout(const UnicodeString& value);

    /// The cookie's name; empty stands for every cookie of Url.
    UnicodeString CookieName() const { return FCookieName; }
    /// Names the cookie the next CookieData reads or writes.
    void SetCookieName(const UnicodeString& value) { FCookieName = value; }
    /// The URL whose cookies are read and written.
    UnicodeString Url() const { return FUrl; }
    /// Sets the URL; nothing is checked until CookieData is used.
    void SetUrl(const UnicodeString& value) { FUrl = value; }

private:
    UnicodeString FUrl;
    UnicodeString FCookieName;
};

/// The cookie component: publishes About, CookieName and Url. CookieData is
/// public but never published, so form files never hold it.
class CORVANE_EXPORT TINetCookie : public TCustomINetCookie {
public:
    using TCustomINetCookie::TCustomINetCookie;

    using TCustomINetCookie::About;
    using TCustomINetCookie::CookieName;
    using TCustomINetCookie::SetAbout;
    using TCustomINetCookie::SetCookieName;
    using TCustomINetCookie::SetUrl;
    using TCustomINetCookie::Url;
};

}  // namespace Corvane
