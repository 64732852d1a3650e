// The HTTP component's connection: construction, the URL properties, the
// session it connects beneath, opening and closing the connection handle, and
// the request and security flag words.
#include "Corvane/Http.h"

#include <Platform/InternetApi.h>

#include "Corvane/Url.h"
#include "EnumTables.h"
#include "PlatformText.h"

namespace Corvane {

TCustomINetHttp::TCustomINetHttp(TComponent* owner) : TINetHandle(owner), FINetUrl(new TINetUrl(nullptr)) {}

// Closing runs first: BeforeClose and AfterClose handlers may still read the
// URL properties, so the URL object goes only afterwards.
TCustomINetHttp::~TCustomINetHttp() {
    CloseOnDestroy();
    delete FINetUrl;
}

UnicodeString TCustomINetHttp::ExtraInfo() const {
    return FINetUrl->ExtraInfo();
}

void TCustomINetHttp::SetExtraInfo(const UnicodeString& value) {
    CheckInactive();
    FINetUrl->SetExtraInfo(value);
}

UnicodeString TCustomINetHttp::Password() const {
    return FINetUrl->Password();
}

void TCustomINetHttp::SetPassword(const UnicodeString& value) {
    CheckInactive();
    FINetUrl->SetPassword(value);
}

Word TCustomINetHttp::Port() const {
    return FINetUrl->Port();
}

void TCustomINetHttp::SetPort(Word value) {
    CheckInactive();
    FINetUrl->SetPort(value);
}

UnicodeString TCustomINetHttp::ServerName() const {
    return FINetUrl->HostName();
}

void TCustomINetHttp::SetServerName(const UnicodeString& value) {
    CheckInactive();
    FINetUrl->SetHostName(value);
}

UnicodeString TCustomINetHttp::Scheme() const {
    return FINetUrl->Scheme();
}

void TCustomINetHttp::SetScheme(const UnicodeString& value) {
    CheckInactive();
    FINetUrl->SetScheme(value);
}

UnicodeString TCustomINetHttp::Url() const {
    return FINetUrl->Url();
}

void TCustomINetHttp::SetUrl(const UnicodeString& value) {
    CheckInactive();
    FINetUrl->SetUrl(value);
}

UnicodeString TCustomINetHttp::UrlPath() const {
    return FINetUrl->UrlPath();
}

void TCustomINetHttp::SetUrlPath(const UnicodeString& value) {
    CheckInactive();
    FINetUrl->SetUrlPath(value);
}

UnicodeString TCustomINetHttp::UserName() const {
    return FINetUrl->UserName();
}

void TCustomINetHttp::SetUserName(const UnicodeString& value) {
    CheckInactive();
    FINetUrl->SetUserName(value);
}

void TCustomINetHttp::SetSession(TINetSession* value) {
    SetSessionReference(FSession, value);
}

void TCustomINetHttp::SetVerb(THttpVerb value) {
    EnumTables::CheckElement(EnumTables::kHttpVerbs, value, u"THttpVerb");
    FVerb = value;
}

Cardinal TCustomINetHttp::GetFlags() const {
    return EnumTables::FlagWord(EnumTables::kHttpFlags, FFlags);
}

// Reads the open request's flags from the platform; with no request open the
// stored set is all there is.
TSecurityFlags TCustomINetHttp::SecurityFlags() {
    if (FHttpHandle == nullptr) return FSecurityFlags;
    DWORD word = 0;
    DWORD size = sizeof(word);
    if (!Platform().InternetQueryOptionW(FHttpHandle, INTERNET_OPTION_SECURITY_FLAGS, &word, &size)) {
        Check(false);
        return TSecurityFlags();
    }
    return EnumTables::FlagsFromWord(EnumTables::kSecurityFlags, word);
}

void TCustomINetHttp::SetSecurityFlags(TSecurityFlags value) {
    FSecurityFlags = value;
    if (FHttpHandle == nullptr) return;
    DWORD word = EnumTables::FlagWord(EnumTables::kSecurityFlags, value);
    Check(Platform().InternetSetOptionW(FHttpHandle, INTERNET_OPTION_SECURITY_FLAGS, &word, sizeof(word)));
}

// The entry is made only when a connection handle was really obtained: an
// opening that ends without a handle and without an error leaves the
// component closed, and a closed component is never listed.
void TCustomINetHttp::CreateHandle() {
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
void TCustomINetHttp::FreeHandle() {
    CloseRequest();
    try {
        TINetHandle::FreeHandle();
    } catch (...) {
        LeaveEnteredSession();
        throw;
    }
    LeaveEnteredSession();
}

void TCustomINetHttp::LeaveEnteredSession() {
    TCustomINetSession* entered = FEnteredSession;
    FEnteredSession = nullptr;
    LeaveSession(entered);
}

HINTERNET TCustomINetHttp::CreateInternalHandle() {
    TCustomINetSession* target = FSession != nullptr ? FSession : GetDefaultSession();
    Check(target != nullptr);
    // No default session any more (the program is ending): no connection.
    if (target == nullptr) return nullptr;
    target->Open();
    const UnicodeString server = ServerName();
    const UnicodeString user = UserName();
    const UnicodeString pass = Password();
    return Platform().InternetConnectW(target->Handle(), PlatformText(server.c_str()), Port(),
                                       PlatformText(user.c_str()), PlatformText(pass.c_str()),
                                       INTERNET_SERVICE_HTTP, 0, Context());
}

// A session that is being destroyed has closed this component already, unless
// a BeforeClose handler refused; either way its list dies with it, so the
// entry is forgotten. A session merely taken from its owner stays entered.
void TCustomINetHttp::Notification(TComponent* component, Framework::TOperation operation) {
    TINetHandle::Notification(component, operation);
    SessionNotification(FSession, component, operation);
    if (operation == Framework::opRemove && component != nullptr && component == FEnteredSession &&
        component->ComponentState().Contains(Framework::csDestroying))
        FEnteredSession = nullptr;
}

}  // namespace Corvane
