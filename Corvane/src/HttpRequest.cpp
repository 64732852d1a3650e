// The HTTP component's request: opening it, its headers, sending it with a
// body, and closing it.
#include "Corvane/Http.h"

#include <Platform/InternetApi.h>

#include "Corvane/Url.h"
#include "EnumTables.h"
#include "PlatformText.h"

namespace Corvane {

namespace {

// Header modes of HttpAddRequestHeadersW.
constexpr DWORD kAddMode = HTTP_ADDREQ_FLAG_ADD;
constexpr DWORD kAddOrReplaceMode = HTTP_ADDREQ_FLAG_ADD | HTTP_ADDREQ_FLAG_REPLACE;
constexpr DWORD kReplaceMode = HTTP_ADDREQ_FLAG_REPLACE;

constexpr char16_t kCrLf[] = u"\r\n";

// A header line is built from a name and a value. A line break in either
// would end the line early and let the rest pass as headers of the caller's
// choosing, and a colon in the name would move the name/value boundary; such
// arguments are refused before anything reaches the request.
void CheckHeaderName(const UnicodeString& Name)
{
    if (Name.find_first_of(u"\r\n:") != UnicodeString::npos)
        throw EINetError(Framework::LoadResString(SINetInvalidHeaderName));
}

void CheckHeaderValue(const UnicodeString& Value)
{
    if (Value.find_first_of(u"\r\n") != UnicodeString::npos)
        throw EINetError(Framework::LoadResString(SINetInvalidHeaderValue));
}

// "Name: Value" CR LF, for adding and replacing.
UnicodeString HeaderLine(const UnicodeString& Name, const UnicodeString& Value)
{
    CheckHeaderName(Name);
    CheckHeaderValue(Value);
    return Name + u": " + Value + kCrLf;
}

// Passes header text with its length in characters.
bool AddHeaders(HINTERNET Request, const UnicodeString& Text, DWORD Mode)
{
    return Platform().HttpAddRequestHeadersW(Request, PlatformText(Text.c_str()), static_cast<DWORD>(Text.size()),
                                             Mode);
}

}  // namespace

// The previous request is closed before the new one is opened, so a failed
// opening leaves no request at all.
void TCustomINetHttp::OpenRequest(const UnicodeString& Verb, const UnicodeString& ObjectName)
{
    CheckActive();
    CloseRequest();
    const UnicodeString VerbText =
        !Verb.empty() ? Verb : UnicodeString(EnumTables::ValueOf(EnumTables::kHttpVerbs, FVerb));
    const UnicodeString Object = !ObjectName.empty() ? ObjectName : FINetUrl->UrlPath() + FINetUrl->ExtraInfo();
    FHttpHandle = Platform().HttpOpenRequestW(Handle(), PlatformText(VerbText.c_str()), PlatformText(Object.c_str()),
                                              PlatformText(FVersion.c_str()), PlatformText(FReferer.c_str()),
                                              nullptr, GetFlags(), Context());
    Check(FHttpHandle != nullptr);
    if (!FSecurityFlags.Empty())
        SetSecurityFlags(FSecurityFlags);
}

void TCustomINetHttp::SendRequest(const UnicodeString& Headers, const AnsiString& Data)
{
    CheckActive();
    Check(Platform().HttpSendRequestW(FHttpHandle, PlatformText(Headers.c_str()), static_cast<DWORD>(Headers.size()),
                                      const_cast<char*>(Data.c_str()), static_cast<DWORD>(Data.size())));
}

void TCustomINetHttp::SendRequest(const UnicodeString& Headers, const TBytes& Data)
{
    CheckActive();
    void* Body = Data.empty() ? nullptr : const_cast<Byte*>(Data.data());
    Check(Platform().HttpSendRequestW(FHttpHandle, PlatformText(Headers.c_str()), static_cast<DWORD>(Headers.size()),
                                      Body, static_cast<DWORD>(Data.size())));
}

void TCustomINetHttp::CloseRequest()
{
    if (FHttpHandle == nullptr)
        return;
    CheckActive();
    Check(CloseInternetHandle(FHttpHandle));
}

void TCustomINetHttp::AddRequestHeader(const UnicodeString& Header, bool Replace)
{
    CheckActive();
    Check(AddHeaders(FHttpHandle, Header, Replace ? kAddOrReplaceMode : kAddMode));
}

void TCustomINetHttp::AddRequestHeader(const UnicodeString& Name, const UnicodeString& Value)
{
    Check(AddHeaders(FHttpHandle, HeaderLine(Name, Value), kAddOrReplaceMode));
}

// "Name:" with no value: the platform removes a header replaced by an empty
// value.
void TCustomINetHttp::DeleteRequestHeader(const UnicodeString& Name)
{
    CheckHeaderName(Name);
    Check(AddHeaders(FHttpHandle, Name + u":" + kCrLf, kReplaceMode));
}

void TCustomINetHttp::ReplaceRequestHeader(const UnicodeString& Name, const UnicodeString& Value)
{
    Check(AddHeaders(FHttpHandle, HeaderLine(Name, Value), kReplaceMode));
}

}  // namespace Corvane
