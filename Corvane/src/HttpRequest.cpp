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
void CheckHeaderName(const UnicodeString& name) {
    if (name.find_first_of(u"\r\n:") != UnicodeString::npos)
        throw EINetError(Framework::LoadResString(SINetInvalidHeaderName));
}

void CheckHeaderValue(const UnicodeString& value) {
    if (value.find_first_of(u"\r\n") != UnicodeString::npos)
        throw EINetError(Framework::LoadResString(SINetInvalidHeaderValue));
}

// "Name: Value" CR LF, for adding and replacing.
UnicodeString HeaderLine(const UnicodeString& name, const UnicodeString& value) {
    CheckHeaderName(name);
    CheckHeaderValue(value);
    return name + u": " + value + kCrLf;
}

// Passes header text with its length in characters.
bool AddHeaders(HINTERNET request, const UnicodeString& text, DWORD mode) {
    return Platform().HttpAddRequestHeadersW(request, PlatformText(text.c_str()),
                                             static_cast<DWORD>(text.size()), mode);
}

}  // namespace

// The previous request is closed before the new one is opened, so a failed
// opening leaves no request at all.
void TCustomINetHttp::OpenRequest(const UnicodeString& verb, const UnicodeString& objectName) {
    CheckActive();
    CloseRequest();
    const UnicodeString verbText =
        !verb.empty() ? verb : UnicodeString(EnumTables::ValueOf(EnumTables::kHttpVerbs, FVerb));
    const UnicodeString object =
        !objectName.empty() ? objectName : FINetUrl->UrlPath() + FINetUrl->ExtraInfo();
    FHttpHandle = Platform().HttpOpenRequestW(Handle(), PlatformText(verbText.c_str()),
                                              PlatformText(object.c_str()), PlatformText(FVersion.c_str()),
                                              PlatformText(FReferer.c_str()), nullptr, GetFlags(), Context());
    Check(FHttpHandle != nullptr);
    if (!FSecurityFlags.Empty()) SetSecurityFlags(FSecurityFlags);
}

void TCustomINetHttp::SendRequest(const UnicodeString& headers, const AnsiString& data) {
    CheckActive();
    Check(Platform().HttpSendRequestW(FHttpHandle, PlatformText(headers.c_str()),
                                      static_cast<DWORD>(headers.size()), const_cast<char*>(data.c_str()),
                                      static_cast<DWORD>(data.size())));
}

void TCustomINetHttp::SendRequest(const UnicodeString& headers, const TBytes& data) {
    CheckActive();
    void* body = data.empty() ? nullptr : const_cast<Byte*>(data.data());
    Check(Platform().HttpSendRequestW(FHttpHandle, PlatformText(headers.c_str()),
                                      static_cast<DWORD>(headers.size()), body,
                                      static_cast<DWORD>(data.size())));
}

void TCustomINetHttp::CloseRequest() {
    if (FHttpHandle == nullptr) return;
    CheckActive();
    const bool closed = CloseInternetHandle(FHttpHandle);
    CancelWaits();
    Check(closed);
}

void TCustomINetHttp::AddRequestHeader(const UnicodeString& header, bool replace) {
    CheckActive();
    Check(AddHeaders(FHttpHandle, header, replace ? kAddOrReplaceMode : kAddMode));
}

void TCustomINetHttp::AddRequestHeader(const UnicodeString& name, const UnicodeString& value) {
    Check(AddHeaders(FHttpHandle, HeaderLine(name, value), kAddOrReplaceMode));
}

// "Name:" with no value: the platform removes a header replaced by an empty
// value.
void TCustomINetHttp::DeleteRequestHeader(const UnicodeString& name) {
    CheckHeaderName(name);
    Check(AddHeaders(FHttpHandle, name + u":" + kCrLf, kReplaceMode));
}

void TCustomINetHttp::ReplaceRequestHeader(const UnicodeString& name, const UnicodeString& value) {
    Check(AddHeaders(FHttpHandle, HeaderLine(name, value), kReplaceMode));
}

}  // namespace Corvane
