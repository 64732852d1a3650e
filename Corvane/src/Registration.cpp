// Publishes the runtime unit's component classes for form files: their
// names, their published properties in publishing order, and how each is
// stored.
//
// The registration runs while the program starts, from this file's static
// initializer. A static library contributes only the object files something
// refers to, so the Corvane target asks every program that links it to refer
// to CorvanePublishedClasses (a linker option in Corvane/CMakeLists.txt).
// That keeps this file, and through it every registered class, in programs
// that only read form files and never name a component class themselves.
#include <Framework/Properties.h>

#include "Corvane/Connection.h"
#include "Corvane/Cookie.h"
#include "Corvane/Ftp.h"
#include "Corvane/Http.h"
#include "Corvane/Session.h"
#include "Corvane/Url.h"
#include "EnumTables.h"

namespace Corvane {

namespace {

using Framework::Default;
using Framework::NotStored;

// The names of every enumeration a published property has, from each
// enumeration's one list.
void DefineEnumerations() {
    EnumTables::DefineNames(u"TAccessType", EnumTables::kAccessTypes);
    EnumTables::DefineNames(u"TSessionFlag", EnumTables::kSessionFlags);
    EnumTables::DefineNames(u"TUrlFlags", EnumTables::kUrlFlags);
    EnumTables::DefineNames(u"THttpFlag", EnumTables::kHttpFlags);
    EnumTables::DefineNames(u"THttpVerb", EnumTables::kHttpVerbs);
    EnumTables::DefineNames(u"TSecurityFlag", EnumTables::kSecurityFlags);
    EnumTables::DefineNames(u"TFtpFlag", EnumTables::kFtpFlags);
    EnumTables::DefineNames(u"TFtpCacheFlag", EnumTables::kFtpCacheFlags);
    EnumTables::DefineNames(u"TFtpTransferType", EnumTables::kFtpTransferTypes);
    EnumTables::DefineNames(u"TConnectionFlag", EnumTables::kConnectionFlags);
    EnumTables::DefineNames(u"TConnectionStateValue", EnumTables::kConnectionStates);
}

// About is shown but never stored; Active is stored only when true and then
// opens in Loaded; the strings are stored when not empty (an Agent cleared
// to "" thus reads back as "Corvane"); Flags has no default and is always
// stored. Events are stored when bound by name through the root's handlers.
void RegisterSession() {
    using S = TINetSession;
    Framework::RegisterComponentClass<S>(u"TINetSession")
        .Inherits<TComponent>()
        .Property(u"About", &S::About, &S::SetAbout, NotStored)
        .Property(u"AccessType", &S::AccessType, &S::SetAccessType, Default(atPreconfig))
        .Property(u"Active", &S::Active, &S::SetActive, Default(false))
        .Property(u"Agent", &S::Agent, &S::SetAgent)
        .Property(u"Flags", &S::Flags, &S::SetFlags)
        .Property(u"ProxyBypass", &S::ProxyBypass, &S::SetProxyBypass)
        .Property(u"ProxyName", &S::ProxyName, &S::SetProxyName)
        .Property(u"AfterOpen", &S::AfterOpen, &S::SetAfterOpen)
        .Property(u"BeforeOpen", &S::BeforeOpen, &S::SetBeforeOpen)
        .Property(u"AfterClose", &S::AfterClose, &S::SetAfterClose)
        .Property(u"BeforeClose", &S::BeforeClose, &S::SetBeforeClose)
        .Property(u"OnCallback", &S::OnCallback, &S::SetOnCallback)
        .Property(u"OnError", &S::OnError, &S::SetOnError);
}

// Of the server's address only Url is stored; its parts come back from it.
// Flags is always stored; Port never. Session is stored as a reference by
// name; it is read before Url and Active, so a stored-active component
// connects in Loaded beneath the stored session at the stored address.
void RegisterHttp() {
    using H = TINetHttp;
    Framework::RegisterComponentClass<H>(u"TINetHttp")
        .Inherits<TComponent>()
        .Property(u"About", &H::About, &H::SetAbout, NotStored)
        .Property(u"Active", &H::Active, &H::SetActive, Default(false))
        .Property(u"ExtraInfo", &H::ExtraInfo, &H::SetExtraInfo, NotStored)
        .Property(u"Flags", &H::Flags, &H::SetFlags)
        .Property(u"Password", &H::Password, &H::SetPassword, NotStored)
        .Property(u"Port", &H::Port, &H::SetPort, Default(Word{80}), NotStored)
        .Property(u"Referer", &H::Referer, &H::SetReferer)
        .Property(u"SecurityFlags", &H::SecurityFlags, &H::SetSecurityFlags, Default(TSecurityFlags{}))
        .Property(u"ServerName", &H::ServerName, &H::SetServerName, NotStored)
        .Property(u"Session", &H::Session, &H::SetSession)
        .Property(u"Scheme", &H::Scheme, &H::SetScheme, NotStored)
        .Property(u"Url", &H::Url, &H::SetUrl)
        .Property(u"UrlPath", &H::UrlPath, &H::SetUrlPath, NotStored)
        .Property(u"UserName", &H::UserName, &H::SetUserName, NotStored)
        .Property(u"Verb", &H::Verb, &H::SetVerb, Default(veNone))
        .Property(u"Version", &H::Version, &H::SetVersion)
        .Property(u"AfterOpen", &H::AfterOpen, &H::SetAfterOpen)
        .Property(u"BeforeOpen", &H::BeforeOpen, &H::SetBeforeOpen)
        .Property(u"AfterClose", &H::AfterClose, &H::SetAfterClose)
        .Property(u"BeforeClose", &H::BeforeClose, &H::SetBeforeClose)
        .Property(u"OnCallback", &H::OnCallback, &H::SetOnCallback)
        .Property(u"OnError", &H::OnError, &H::SetOnError);
}

// The sets have no default and are always stored; Port is stored when not
// 21, the strings when not empty (so a ServerName cleared to "" reads back
// as "localhost"), TransferType when not ttUnknown. A component stored
// active connects in Loaded, beneath the stored session.
void RegisterFtp() {
    using F = TINetFtp;
    Framework::RegisterComponentClass<F>(u"TINetFtp")
        .Inherits<TComponent>()
        .Property(u"About", &F::About, &F::SetAbout, NotStored)
        .Property(u"Active", &F::Active, &F::SetActive, Default(false))
        .Property(u"CacheFlags", &F::CacheFlags, &F::SetCacheFlags)
        .Property(u"Flags", &F::Flags, &F::SetFlags)
        .Property(u"Password", &F::Password, &F::SetPassword)
        .Property(u"Port", &F::Port, &F::SetPort, Default(Word{21}))
        .Property(u"ServerName", &F::ServerName, &F::SetServerName)
        .Property(u"Session", &F::Session, &F::SetSession)
        .Property(u"TransferType", &F::TransferType, &F::SetTransferType, Default(ttUnknown))
        .Property(u"UserName", &F::UserName, &F::SetUserName)
        .Property(u"AfterOpen", &F::AfterOpen, &F::SetAfterOpen)
        .Property(u"BeforeOpen", &F::BeforeOpen, &F::SetBeforeOpen)
        .Property(u"AfterClose", &F::AfterClose, &F::SetAfterClose)
        .Property(u"BeforeClose", &F::BeforeClose, &F::SetBeforeClose)
        .Property(u"OnCallback", &F::OnCallback, &F::SetOnCallback)
        .Property(u"OnError", &F::OnError, &F::SetOnError);
}

// Only what cannot be derived is stored: Flags (always) and Url (when not
// empty). Flags comes first, so reading a form composes once from the
// defaults and then cracks the stored Url under the stored choice.
void RegisterUrl() {
    using U = TINetUrl;
    Framework::RegisterComponentClass<U>(u"TINetUrl")
        .Inherits<TComponent>()
        .Property(u"About", &U::About, &U::SetAbout, NotStored)
        .Property(u"CanonizedUrl", &U::CanonizedUrl, &U::SetCanonizedUrl, NotStored)
        .Property(u"ExtraInfo", &U::ExtraInfo, &U::SetExtraInfo, NotStored)
        .Property(u"Flags", &U::Flags, &U::SetFlags)
        .Property(u"HostName", &U::HostName, &U::SetHostName, NotStored)
        .Property(u"Password", &U::Password, &U::SetPassword, NotStored)
        .Property(u"Port", &U::Port, &U::SetPort, Default(Word{80}), NotStored)
        .Property(u"Scheme", &U::Scheme, &U::SetScheme, NotStored)
        .Property(u"Url", &U::Url, &U::SetUrl)
        .Property(u"UrlPath", &U::UrlPath, &U::SetUrlPath, NotStored)
        .Property(u"UserName", &U::UserName, &U::SetUserName, NotStored);
}

// CookieData is public but not published: the cookie lives in the store,
// never in the form. The two texts are stored when not empty.
void RegisterCookie() {
    using C = TINetCookie;
    Framework::RegisterComponentClass<C>(u"TINetCookie")
        .Inherits<TComponent>()
        .Property(u"About", &C::About, &C::SetAbout, NotStored)
        .Property(u"CookieName", &C::CookieName, &C::SetCookieName)
        .Property(u"Url", &C::Url, &C::SetUrl);
}

// Connected and State are read-only: they ask the system at every read and
// are never stored; a form text that assigns them changes nothing, as for
// About. AutoDial is stored when true, ConnectionName when not empty, Flags
// always (no default). Connection is public, not published.
void RegisterConnection() {
    using C = TINetConnection;
    const auto readOnly = [](C&, const auto&) {};
    Framework::RegisterComponentClass<C>(u"TINetConnection")
        .Inherits<TComponent>()
        .Property(u"About", &C::About, &C::SetAbout, NotStored)
        .Property(u"AutoDial", &C::AutoDial, &C::SetAutoDial, Default(false))
        .Property(u"Connected", &C::Connected, readOnly, NotStored)
        .Property(u"ConnectionName", &C::ConnectionName, &C::SetConnectionName)
        .Property(u"Flags", &C::Flags, &C::SetFlags)
        .Property(u"State", &C::State, readOnly, NotStored);
}

// Every published class of the runtime unit, in the order of its units.
bool RegisterPublishedClasses() {
    DefineEnumerations();
    RegisterSession();
    RegisterHttp();
    RegisterFtp();
    RegisterUrl();
    RegisterCookie();
    RegisterConnection();
    return true;
}

}  // namespace

}  // namespace Corvane

// The symbol every program linking Corvane refers to (see above); its
// initialization is the registration.
extern "C" {
extern const bool CorvanePublishedClasses;
const bool CorvanePublishedClasses = Corvane::RegisterPublishedClasses();
}
