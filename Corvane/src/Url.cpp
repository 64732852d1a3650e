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
EnumTables::TUrlFlagWords FlagWords(TUrlFlags choice) {
    return EnumTables::IsElement(EnumTables::kUrlFlags, choice)
               ? EnumTables::ValueOf(EnumTables::kUrlFlags, choice)
               : EnumTables::TUrlFlagWords{};
}

// Cuts a platform-filled buffer to the length the platform reported. The
// length is capped at the buffer, so a misreporting platform cannot make
// the text grow.
void CutTo(UnicodeString& text, DWORD length) {
    text.resize(std::min<DWORD>(length, kBufferLength));
}

}  // namespace

TCustomINetUrl::TCustomINetUrl(TComponent* owner) : TComponent(owner), FHostName(u"localhost"), FPort(80) {
    CreateUrl();
}

UnicodeString TCustomINetUrl::About() const {
    return AboutText;
}

void TCustomINetUrl::SetAbout(const UnicodeString&) {}

void TCustomINetUrl::SetCanonizedUrl(const UnicodeString&) {}

void TCustomINetUrl::SetExtraInfo(const UnicodeString& value) {
    FExtraInfo = value;
    CreateUrl();
}

void TCustomINetUrl::SetFlags(TUrlFlags value) {
    FFlags = value;
    CreateUrl();
}

void TCustomINetUrl::SetHostName(const UnicodeString& value) {
    FHostName = value;
    CreateUrl();
}

void TCustomINetUrl::SetPassword(const UnicodeString& value) {
    FPassword = value;
    CreateUrl();
}

void TCustomINetUrl::SetPort(Word value) {
    FPort = value;
    CreateUrl();
}

void TCustomINetUrl::SetScheme(const UnicodeString& value) {
    FScheme = value;
    CreateUrl();
}

void TCustomINetUrl::SetUrl(const UnicodeString& value) {
    FUrl = value;
    CrackUrl();
}

void TCustomINetUrl::SetUrlPath(const UnicodeString& value) {
    FUrlPath = value;
    CreateUrl();
}

void TCustomINetUrl::SetUserName(const UnicodeString& value) {
    FUserName = value;
    CreateUrl();
}

// Each part string is grown to the full buffer and handed to the platform,
// which writes the part straight into the field; on success every part is
// cut to the length the platform wrote, on failure all parts are emptied and
// the port is 0. FUrl keeps the text as assigned either way. The record's
// size is that of the platform's own declaration (not a fixed 60 bytes,
// which is its size only where pointers have 32 bits).
void TCustomINetUrl::CrackUrl() {
    UnicodeString* const parts[] = {&FScheme, &FHostName, &FUserName, &FPassword, &FUrlPath, &FExtraInfo};
    for (UnicodeString* part : parts) part->assign(kBufferLength, u'\0');

    URL_COMPONENTSW components{};
    components.dwStructSize = sizeof(URL_COMPONENTSW);
    components.lpszScheme = PlatformBuffer(FScheme.data());
    components.dwSchemeLength = kBufferLength;
    components.lpszHostName = PlatformBuffer(FHostName.data());
    components.dwHostNameLength = kBufferLength;
    components.lpszUserName = PlatformBuffer(FUserName.data());
    components.dwUserNameLength = kBufferLength;
    components.lpszPassword = PlatformBuffer(FPassword.data());
    components.dwPasswordLength = kBufferLength;
    components.lpszUrlPath = PlatformBuffer(FUrlPath.data());
    components.dwUrlPathLength = kBufferLength;
    components.lpszExtraInfo = PlatformBuffer(FExtraInfo.data());
    components.dwExtraInfoLength = kBufferLength;

    // An empty Url goes to the platform as an empty text of length 0.
    const bool cracked = Platform().InternetCrackUrlW(
        PlatformText(FUrl.c_str()), static_cast<DWORD>(FUrl.size()), FlagWords(FFlags).Crack, &components);
    if (!cracked) {
        FPort = 0;
        for (UnicodeString* part : parts) part->clear();
        return;
    }
    FPort = components.nPort;
    CutTo(FScheme, components.dwSchemeLength);
    CutTo(FHostName, components.dwHostNameLength);
    CutTo(FUserName, components.dwUserNameLength);
    CutTo(FPassword, components.dwPasswordLength);
    CutTo(FUrlPath, components.dwUrlPathLength);
    CutTo(FExtraInfo, components.dwExtraInfoLength);
}

// Every part goes to the platform with its length; an empty part as a null
// pointer with length 0, and the port as it is, 0 included. The scheme
// number stays INTERNET_SCHEME_DEFAULT, so the platform reads the scheme
// from its text. The platform writes the URL straight into FUrl; a failure
// leaves FUrl empty, with no size query and no second attempt.
void TCustomINetUrl::CreateUrl() {
    // A part's text, or null when it is empty.
    const auto textOf = [](const UnicodeString& part) {
        return part.empty() ? nullptr : const_cast<LPWSTR>(PlatformText(part.c_str()));
    };
    URL_COMPONENTSW components{};
    components.dwStructSize = sizeof(URL_COMPONENTSW);
    components.nScheme = INTERNET_SCHEME_DEFAULT;
    components.lpszScheme = textOf(FScheme);
    components.dwSchemeLength = static_cast<DWORD>(FScheme.size());
    components.lpszHostName = textOf(FHostName);
    components.dwHostNameLength = static_cast<DWORD>(FHostName.size());
    components.nPort = FPort;
    components.lpszUserName = textOf(FUserName);
    components.dwUserNameLength = static_cast<DWORD>(FUserName.size());
    components.lpszPassword = textOf(FPassword);
    components.dwPasswordLength = static_cast<DWORD>(FPassword.size());
    components.lpszUrlPath = textOf(FUrlPath);
    components.dwUrlPathLength = static_cast<DWORD>(FUrlPath.size());
    components.lpszExtraInfo = textOf(FExtraInfo);
    components.dwExtraInfoLength = static_cast<DWORD>(FExtraInfo.size());

    FUrl.assign(kBufferLength, u'\0');
    DWORD length = kBufferLength;
    if (Platform().InternetCreateUrlW(&components, FlagWords(FFlags).Create, PlatformBuffer(FUrl.data()),
                                      &length))
        CutTo(FUrl, length);
    else
        FUrl.clear();
}

// Computed afresh at every read, so it always follows Url and Flags.
UnicodeString TCustomINetUrl::CanonizedUrl() const {
    UnicodeString result(kBufferLength, u'\0');
    DWORD length = kBufferLength;
    if (!Platform().InternetCanonicalizeUrlW(PlatformText(FUrl.c_str()), PlatformBuffer(result.data()),
                                             &length, FlagWords(FFlags).Canonicalize))
        return {};
    CutTo(result, length);
    return result;
}

}  // namespace Corvane
