#include "Corvane/Connection.h"

#include <Platform/InternetApi.h>

#include "AboutText.h"
#include "EnumTables.h"
#include "PlatformText.h"

namespace Corvane {

UnicodeString TCustomINetConnection::About() const {
    return AboutText;
}

void TCustomINetConnection::SetAbout(const UnicodeString&) {}

Cardinal TCustomINetConnection::GetFlags() const {
    return EnumTables::FlagWord(EnumTables::kConnectionFlags, FFlags);
}

bool TCustomINetConnection::GetConnected() const {
    DWORD flags = 0;
    return Platform().InternetGetConnectedState(&flags, 0) != FALSE;
}

TConnectionState TCustomINetConnection::GetConnectionState() const {
    DWORD flags = 0;
    Platform().InternetGetConnectedState(&flags, 0);
    return EnumTables::FlagsFromWord(EnumTables::kConnectionStates, flags);
}

// The identifier comes back pointer-sized; the component keeps the 32 bits
// its Connection property has, and only from a dial that succeeded.
void TCustomINetConnection::Dial() {
    if (FAutoDial) {
        Check(Platform().InternetAutodial(GetFlags(), nullptr));
        return;
    }
    // The platform takes the name as a writable text; it is given a copy.
    UnicodeString name = FConnectionName;
    if (name.find(u'\0') != UnicodeString::npos) CheckSuccess(ERROR_INVALID_PARAMETER);
    DWORD_PTR connection = 0;
    CheckSuccess(Platform().InternetDialW(nullptr, PlatformBuffer(name.data()), GetFlags(), &connection, 0));
    FConnection = static_cast<Cardinal>(connection);
}

void TCustomINetConnection::HangUp() {
    if (FAutoDial)
        Check(Platform().InternetAutodialHangup(0));
    else
        CheckSuccess(Platform().InternetHangUp(FConnection, 0));
}

bool TCustomINetConnection::AttemptConnect() {
    return Platform().InternetAttemptConnect(0) == ERROR_SUCCESS;
}

void TCustomINetConnection::Connect() {
    CheckSuccess(Platform().InternetAttemptConnect(0));
}

// A URL holding a NUL would be checked only up to it, so it counts as one
// that cannot be reached; nothing is raised.
bool TCustomINetConnection::CheckConnection(const UnicodeString& url, bool forceConnection) {
    if (url.find(u'\0') != UnicodeString::npos) return false;
    return Platform().InternetCheckConnectionW(PlatformText(url.c_str()),
                                               forceConnection ? FLAG_ICC_FORCE_CONNECTION : 0, 0) != FALSE;
}

void TCustomINetConnection::GoOnline(const UnicodeString& url) {
    Check(Platform().InternetGoOnlineW(WholePlatformText(url), nullptr, 0));
}

// The platform takes the two URLs as writable 8-bit texts; it is given
// copies, byte for byte.
bool TCustomINetConnection::ConfirmZoneCrossing(const AnsiString& previousUrl, const AnsiString& nextUrl) {
    AnsiString previous = previousUrl;
    AnsiString next = nextUrl;
    const DWORD result =
        Platform().InternetConfirmZoneCrossingA(nullptr, previous.data(), next.data(), FALSE);
    if (result == ERROR_CANCELLED) return false;
    CheckSuccess(result);
    return true;
}

}  // namespace Corvane
