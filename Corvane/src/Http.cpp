// The HTTP component's connection: construction, the URL properties, the
// session it connects beneath, opening and closing the connection handle, and
// the request and security flag words.
#include "Corvane/Http.h"

#include <Platform/InternetApi.h>

#include "Corvane/Url.h"
#include "EnumTables.h"
#include "PlatformText.h"

namespace Corvane {

TCustomINetHttp::TCustomINetHttp(TComponent* AOwner) : TINetHandle(AOwner), FINetUrl(new TINetUrl(nullptr)) {}

// Closing runs first: BeforeClose and AfterClose handlers may still read the
// URL properties, so the URL object goes only afterwards.
TCustomINetHttp::~TCustomINetHttp()
{
    CloseOnDestroy();
    delete FINetUrl;
}

UnicodeString TCustomINetHttp::ExtraInfo() const { return FINetUrl->ExtraInfo(); }

void TCustomINetHttp::SetExtraInfo(const UnicodeString& Value)
{
    CheckInactive();
    FINetUrl->SetExtraInfo(Value);
}

UnicodeString TCustomINetHttp::Password() const { return FINetUrl->Password(); }

void TCustomINetHttp::SetPassword(const UnicodeString& Value)
{
    CheckInactive();
    FINetUrl->SetPassword(Value);
}

Word TCustomINetHttp::Port() const { return FINetUrl->Port(); }

void TCustomINetHttp::SetPort(Word Value)
{
    CheckInactive();
    FINetUrl->SetPort(Value);
}

UnicodeString TCustomINetHttp::ServerName() const { return FINetUrl->HostName(); }

void TCustomINetHttp::SetServerName(const UnicodeString& Value)
{
    CheckInactive();
    FINetUrl->SetHostName(Value);
}

UnicodeString TCustomINetHttp::Scheme() const { return FINetUrl->Scheme(); }

void TCustomINetHttp::SetScheme(const UnicodeString& Value)
{
    CheckInactive();
    FINetUrl->SetScheme(Value);
}

UnicodeString TCustomINetHttp::Url() const { return FINetUrl->Url(); }

void TCustomINetHttp::SetUrl(const UnicodeString& Value)
{
    CheckInactive();
    FINetUrl->SetUrl(Value);
}

UnicodeString TCustomINetHttp::UrlPath() const { return FINetUrl->UrlPath(); }

void TCustomINetHttp::SetUrlPath(const UnicodeString& Value)
{
    CheckInactive();
    FINetUrl->SetUrlPath(Value);
}

UnicodeString TCustomINetHttp::UserName() const { return FINetUrl->UserName(); }

void TCustomINetHttp::SetUserName(const UnicodeString& Value)
{
    CheckInactive();
    FINetUrl->SetUserName(Value);
}

void TCustomINetHttp::SetSession(TINetSession* Value)
{
    SetSessionReference(FSession, Value);
}

void TCustomINetHttp::SetVerb(THttpVerb Value)
{
    EnumTables::CheckElement(EnumTables::kHttpVerbs, Value, u"THttpVerb");
    FVerb = Value;
}

Cardinal TCustomINetHttp::GetFlags() const
{
    return EnumTables::FlagWord(EnumTables::kHttpFlags, FFlags);
}

// Reads the open request's flags from the platform; with no request open the
// stored set is all there is.
TSecurityFlags TCustomINetHttp::SecurityFlags()
{
    if (FHttpHandle == nullptr)
        return FSecurityFlags;
    DWORD Word = 0;
    DWORD Size = sizeof(Word);
    if (!Platform().InternetQueryOptionW(FHttpHandle, INTERNET_OPTION_SECURITY_FLAGS, &Word, &Size)) {
        Check(false);
        return TSecurityFlags();
    }
    return EnumTables::FlagsFromWord(EnumTables::kSecurityFlags, Word);
}

void TCustomINetHttp::SetSecurityFlags(TSecurityFlags Value)
{
    FSecurityFlags = Value;
    if (FHttpHandle == nullptr)
        return;
    DWORD Word = EnumTables::FlagWord(EnumTables::kSecurityFlags, Value);
    Check(Platform().InternetSetOptionW(FHttpHandle, INTERNET_OPTION_SECURITY_FLAGS, &Word, sizeof(Word)));
}

// The entry is made only when a connection handle was really obtained: an
// opening that ends without a handle and without an error leaves the
// component closed, and a closed component is never listed.
void TCustomINetHttp::CreateHandle()
{
    TINetHandle::CreateHandle();
    if (Handle() != nullptr && FSession != nullptr) {
        EnterSession(FSession);
        FEnteredSession = FSession;
    }
}

// The component leaves the session it entered even when closing the
// connection handle fails (the handle is cleared all the same, so the
// component is closed) and even when a removal notice has cleared Session
// since it opened.
void TCustomINetHttp::FreeHandle()
{
    CloseRequest();
    try {
        TINetHandle::FreeHandle();
    } catch (...) {
        LeaveEnteredSession();
        throw;
    }
    LeaveEnteredSession();
}

void TCustomINetHttp::LeaveEnteredSession()
{
    TCustomINetSession* Entered = FEnteredSession;
    FEnteredSession = nullptr;
    LeaveSession(Entered);
}

HINTERNET TCustomINetHttp::CreateInternalHandle()
{
    TCustomINetSession* Target = FSession != nullptr ? FSession : GetDefaultSession();
    Check(Target != nullptr);
    // No default session any more (the program is ending): no connection.
    if (Target == nullptr)
        return nullptr;
    Target->Open();
    const UnicodeString Server = ServerName();
    const UnicodeString User = UserName();
    const UnicodeString Pass = Password();
    return Platform().InternetConnectW(Target->Handle(), PlatformText(Server.c_str()), Port(),
                                       PlatformText(User.c_str()), PlatformText(Pass.c_str()),
                                       INTERNET_SERVICE_HTTP, 0, Context());
}

// A session that is being destroyed has closed this component already, unless
// a BeforeClose handler refused; either way its list dies with it, so the
// entry is forgotten. A session merely taken from its owner stays entered.
void TCustomINetHttp::Notification(TComponent* AComponent, Framework::TOperation Operation)
{
    TINetHandle::Notification(AComponent, Operation);
    SessionNotification(FSession, AComponent, Operation);
    if (Operation == Framework::opRemove && AComponent != nullptr && AComponent == FEnteredSession &&
        AComponent->ComponentState().Contains(Framework::csDestroying))
        FEnteredSession = nullptr;
}

}  // namespace Corvane
