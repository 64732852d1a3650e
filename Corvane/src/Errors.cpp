#include "Corvane/Errors.h"

#include <Platform/InternetApi.h>
#include <Platform/WinInet.h>

#include "PlatformText.h"
#include "SizedText.h"

namespace Corvane {

namespace {

const UnicodeString kErrorPrefix = u"Error ";
const UnicodeString kCodeSeparator = u": ";
const UnicodeString kResponseSeparator = u":";

// Capacity of the message-table buffer, in characters. FormatMessageW is told
// one less, so the last character always stays a terminator.
constexpr DWORD kMessageBufferSize = 256;

}  // namespace

// Builds "Error <code>: <text>" from the Internet library's message table, the
// server's response (12003 only) or the system's text, and raises it.
void CheckSuccess(Cardinal ErrorCode)
{
    if (ErrorCode == 0)
        return;

    InternetApi& Api = Platform();
    WCHAR Buffer[kMessageBufferSize + 1];
    Buffer[kMessageBufferSize] = 0;
    HMODULE Module = Api.GetModuleHandleW(PlatformText(u"wininet.dll"));
    if (Api.FormatMessageW(FORMAT_MESSAGE_FROM_HMODULE, Module, ErrorCode, 0, Buffer,
                           kMessageBufferSize, nullptr) == 0)
        Buffer[0] = 0;
    const UnicodeString WinInetText(FromPlatformText(Buffer));

    UnicodeString Message = kErrorPrefix + Framework::IntToStr(static_cast<Framework::UInt64>(ErrorCode)) +
                            kCodeSeparator;
    if (ErrorCode == ERROR_INTERNET_EXTENDED_ERROR)
        Message += WinInetText + kResponseSeparator + GetInternetLastResponseInfo();
    else if (!WinInetText.empty())
        Message += WinInetText;
    else
        Message += Framework::SysErrorMessage(ErrorCode);
    throw EINetError(Message);
}

void Check(bool BoolValue)
{
    if (BoolValue)
        return;
    const DWORD Error = Platform().GetLastError();
    if (Error == 0 || Error == ERROR_IO_PENDING)
        return;
    Platform().SetLastError(0);
    CheckSuccess(Error);
}

// A failure of either call reads as no response: this routine never raises.
UnicodeString GetInternetLastResponseInfo()
{
    DWORD ErrorCode = 0;
    return ReadSizedText(
        [&](char16_t* Buffer, DWORD* Size) {
            return Platform().InternetGetLastResponseInfoW(&ErrorCode, PlatformBuffer(Buffer), Size);
        },
        TSizedTextFailure::Quiet);
}

}  // namespace Corvane
