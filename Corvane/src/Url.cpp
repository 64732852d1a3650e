#include "Corvane/Url.h"

#include <algorithm>

#include <Platform/InternetApi.h>

#include "AboutText.h"
#include "EnumTables.h"
#include "PlatformText.h"

namespace Corvane {

namespace {

// The buffer, in characters, for every text the platform writes, and the
// length handed to it along with the buffer.
constexpr DWORD kBufferLength = 8336;

// The flag words of Choice; a value outside the enumeration (only reachable
// by a cast) gives 0 to every routine instead of reading past the table.
EnumTables::TUrlFlagWords FlagWords(TUrlFlags Choice)
{
    return EnumTables::IsElement(EnumTables::kUrlFlags, Choice) ? EnumTables::ValueOf(EnumTables::kUrlFlags, Choice)
                                                                : EnumTables::TUrlFlagWords{};
}

// Cuts a platform-filled buffer to the length the platform reported. The
// length is capped at the buffer, so a misreporting platform cannot make
// the text grow.
void CutTo(UnicodeString& Text, DWORD Length)
{
    Text.resize(std::min<DWORD>(Length, kBufferLength));
}

}  // namespace

TCustomINetUrl::TCustomINetUrl(TComponent* AOwner) : TComponent(AOwner), FHostName(u"localhost"), FPort(80)
{
    CreateUrl();
}

UnicodeString TCustomINetUrl::About() const
{
    return AboutText;
}

void TCustomINetUrl::SetAbout(const UnicodeString&) {}

void TCustomINetUrl::SetCanonizedUrl(const UnicodeString&) {}

void TCustomINetUrl::SetExtraInfo(const UnicodeString& Value)
{
    FExtraInfo = Value;
    CreateUrl();
}

void TCustomINetUrl::SetFlags(TUrlFlags Value)
{
    FFlags = Value;
    CreateUrl();
}

void TCustomINetUrl::SetHostName(const UnicodeString& Value)
{
    FHostName = Value;
    CreateUrl();
}

void TCustomINetUrl::SetPassword(const UnicodeString& Value)
{
    FPassword = Value;
    CreateUrl();
}

void TCustomINetUrl::SetPort(Word Value)
{
    FPort = Value;
    CreateUrl();
}

void TCustomINetUrl::SetScheme(const UnicodeString& Value)
{
    FScheme = Value;
    CreateUrl();
}

void TCustomINetUrl::SetUrl(const UnicodeString& Value)
{
    FUrl = Value;
    CrackUrl();
}

void TCustomINetUrl::SetUrlPath(const UnicodeString& Value)
{
    FUrlPath = Value;
    CreateUrl();
}

void TCustomINetUrl::SetUserName(const UnicodeString& Value)
{
    FUserName = Value;
    CreateUrl();
}

// Each part string is grown to the full buffer and handed to the platform,
// which writes the part straight into the field; on success every part is
// cut to the length the platform wrote, on failure all parts are emptied and
// the port is 0. FUrl keeps the text as assigned either way. The record's
// size is that of the platform's own declaration (not a fixed 60 bytes,
// which is its size only where pointers have 32 bits).
void TCustomINetUrl::CrackUrl()
{
    UnicodeString* const Parts[] = {&FScheme, &FHostName, &FUserName, &FPassword, &FUrlPath, &FExtraInfo};
    for (UnicodeString* Part : Parts)
        Part->assign(kBufferLength, u'\0');

    URL_COMPONENTSW Components{};
    Components.dwStructSize = sizeof(URL_COMPONENTSW);
    Components.lpszScheme = PlatformBuffer(FScheme.data());
    Components.dwSchemeLength = kBufferLength;
    Components.lpszHostName = PlatformBuffer(FHostName.data());
    Components.dwHostNameLength = kBufferLength;
    Components.lpszUserName = PlatformBuffer(FUserName.data());
    Components.dwUserNameLength = kBufferLength;
    Components.lpszPassword = PlatformBuffer(FPassword.data());
    Components.dwPasswordLength = kBufferLength;
    Components.lpszUrlPath = PlatformBuffer(FUrlPath.data());
    Components.dwUrlPathLength = kBufferLength;
    Components.lpszExtraInfo = PlatformBuffer(FExtraInfo.data());
    Components.dwExtraInfoLength = kBufferLength;

    // An empty Url goes to the platform as an empty text of length 0.
    const bool Cracked = Platform().InternetCrackUrlW(PlatformText(FUrl.c_str()), static_cast<DWORD>(FUrl.size()),
                                                      FlagWords(FFlags).Crack, &Components);
    if (!Cracked) {
        FPort = 0;
        for (UnicodeString* Part : Parts)
            Part->clear();
        return;
    }
    FPort = Components.nPort;
    CutTo(FScheme, Components.dwSchemeLength);
    CutTo(FHostName, Components.dwHostNameLength);
    CutTo(FUserName, Components.dwUserNameLength);
    CutTo(FPassword, Components.dwPasswordLength);
    CutTo(FUrlPath, Components.dwUrlPathLength);
    CutTo(FExtraInfo, Components.dwExtraInfoLength);
}

// Every part goes to the platform with its length; an empty part as a null
// pointer with length 0, and the port as it is, 0 included. The scheme
// number stays INTERNET_SCHEME_DEFAULT, so the platform reads the scheme
// from its text. The platform writes the URL straight into FUrl; a failure
// leaves FUrl empty, with no size query and no second attempt.
void TCustomINetUrl::CreateUrl()
{
    // A part's text, or null when it is empty.
    const auto TextOf = [](const UnicodeString& Part) {
        return Part.empty() ? nullptr : const_cast<LPWSTR>(PlatformText(Part.c_str()));
    };
    URL_COMPONENTSW Components{};
    Components.dwStructSize = sizeof(URL_COMPONENTSW);
    Components.nScheme = INTERNET_SCHEME_DEFAULT;
    Components.lpszScheme = TextOf(FScheme);
    Components.dwSchemeLength = static_cast<DWORD>(FScheme.size());
    Components.lpszHostName = TextOf(FHostName);
    Components.dwHostNameLength = static_cast<DWORD>(FHostName.size());
    Components.nPort = FPort;
    Components.lpszUserName = TextOf(FUserName);
    Components.dwUserNameLength = static_cast<DWORD>(FUserName.size());
    Components.lpszPassword = TextOf(FPassword);
    Components.dwPasswordLength = static_cast<DWORD>(FPassword.size());
    Components.lpszUrlPath = TextOf(FUrlPath);
    Components.dwUrlPathLength = static_cast<DWORD>(FUrlPath.size());
    Components.lpszExtraInfo = TextOf(FExtraInfo);
    Components.dwExtraInfoLength = static_cast<DWORD>(FExtraInfo.size());

    FUrl.assign(kBufferLength, u'\0');
    DWORD Length = kBufferLength;
    if (Platform().InternetCreateUrlW(&Components, FlagWords(FFlags).Create, PlatformBuffer(FUrl.data()),
                                      &Length))
        CutTo(FUrl, Length);
    else
        FUrl.clear();
}

// Computed afresh at every read, so it always follows Url and Flags.
UnicodeString TCustomINetUrl::CanonizedUrl() const
{
    UnicodeString Result(kBufferLength, u'\0');
    DWORD Length = kBufferLength;
    if (!Platform().InternetCanonicalizeUrlW(PlatformText(FUrl.c_str()), PlatformBuffer(Result.data()), &Length,
                                             FlagWords(FFlags).Canonicalize))
        return {};
    CutTo(Result, Length);
    return Result;
}

}  // namespace Corvane
