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
// The same for system texts, some of which run to several sentences.
constexpr DWORD kSystemBufferSize = 1024;

// The text FormatMessageW gives for Code from one source, up to its first
// zero character; empty when the call fails.
template <DWORD Capacity>
UnicodeString MessageText(DWORD Flags, LPCVOID Source, DWORD Code)
{
    WCHAR Buffer[Capacity + 1];
    Buffer[Capacity] = 0;
    if (Platform().FormatMessageW(Flags, Source, Code, 0, Buffer, Capacity, nullptr) == 0)
        Buffer[0] = 0;
    return UnicodeString(FromPlatformText(Buffer));
}

// The system's own text for a code the Internet library's table lacks, asked
// of the platform like any other text: the operating system's table on
// Windows, the backend's table of system texts elsewhere. The line break
// that ends a system text is dropped, as the framework's SysErrorMessage
// does; empty when the system has no text for the code.
UnicodeString SystemText(DWORD Code)
{
    UnicodeString Text =
        MessageText<kSystemBufferSize>(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, Code);
    while (!Text.empty() && (Text.back() == u'\r' || Text.back() == u'\n' || Text.back() == u' '))
        Text.pop_back();
    return Text;
}

// "Error <code>: <text>", the text from the Internet library's message
// table, the server's response (12003 only) or the system's text.
UnicodeString ErrorMessage(Cardinal ErrorCode)
{
    HMODULE Module = Platform().GetModuleHandleW(PlatformText(u"wininet.dll"));
    const UnicodeString WinInetText =
        MessageText<kMessageBufferSize>(FORMAT_MESSAGE_FROM_HMODULE, Module, ErrorCode);

    UnicodeString Message = kErrorPrefix + Framework::IntToStr(static_cast<Framework::UInt64>(ErrorCode)) +
                            kCodeSeparator;
    if (ErrorCode == ERROR_INTERNET_EXTENDED_ERROR)
        Message += WinInetText + kResponseSeparator + GetInternetLastResponseInfo();
    else if (!WinInetText.empty())
        Message += WinInetText;
    else
        Message += SystemText(ErrorCode);
    return Message;
}

}  // namespace

void CheckSuccess(Cardinal ErrorCode)
{
    if (ErrorCode == 0)
        return;
    throw EINetError(ErrorMessage(ErrorCode));
}

// The lookups of the message may fail and set a last error of their own (a
// code the Internet table lacks, the size asked for a server response), so
// the last error is reset after them: it is 0 once Check has raised.
void Check(bool BoolValue)
{
    if (BoolValue)
        return;
    const DWORD Error = Platform().GetLastError();
    if (Error == 0 || Error == ERROR_IO_PENDING)
        return;
    UnicodeString Message = ErrorMessage(Error);
    Platform().SetLastError(0);
    throw EINetError(Message);
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
