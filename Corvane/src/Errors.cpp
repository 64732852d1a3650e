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
UnicodeString MessageText(DWORD flags, LPCVOID source, DWORD code) {
    WCHAR buffer[Capacity + 1];
    buffer[Capacity] = 0;
    if (Platform().FormatMessageW(flags, source, code, 0, buffer, Capacity, nullptr) == 0) buffer[0] = 0;
    return UnicodeString(FromPlatformText(buffer));
}

// The system's own text for a code the Internet library's table lacks, asked
// of the platform like any other text: the operating system's table on
// Windows, the backend's table of system texts elsewhere. The line break
// that ends a system text is dropped, as the framework's SysErrorMessage
// does; empty when the system has no text for the code.
UnicodeString SystemText(DWORD code) {
    UnicodeString text = MessageText<kSystemBufferSize>(
        FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code);
    while (!text.empty() && (text.back() == u'\r' || text.back() == u'\n' || text.back() == u' '))
        text.pop_back();
    return text;
}

// "Error <code>: <text>", the text from the Internet library's message
// table, the server's response (12003 only) or the system's text.
UnicodeString ErrorMessage(Cardinal errorCode) {
    HMODULE module = Platform().GetModuleHandleW(PlatformText(u"wininet.dll"));
    const UnicodeString winInetText =
        MessageText<kMessageBufferSize>(FORMAT_MESSAGE_FROM_HMODULE, module, errorCode);

    UnicodeString message =
        kErrorPrefix + Framework::IntToStr(static_cast<Framework::UInt64>(errorCode)) + kCodeSeparator;
    if (errorCode == ERROR_INTERNET_EXTENDED_ERROR)
        message += winInetText + kResponseSeparator + GetInternetLastResponseInfo();
    else if (!winInetText.empty())
        message += winInetText;
    else
        message += SystemText(errorCode);
    return message;
}

}  // namespace

void CheckSuccess(Cardinal errorCode) {
    if (errorCode == 0) return;
    throw EINetError(ErrorMessage(errorCode));
}

// The lookups of the message may fail and set a last error of their own (a
// code the Internet table lacks, the size asked for a server response), so
// the last error is reset after them: it is 0 once Check has raised.
void Check(bool boolValue) {
    if (boolValue) return;
    const DWORD error = Platform().GetLastError();
    if (error == 0 || error == ERROR_IO_PENDING) return;
    UnicodeString message = ErrorMessage(error);
    Platform().SetLastError(0);
    throw EINetError(message);
}

// A failure of either call reads as no response: this routine never raises.
UnicodeString GetInternetLastResponseInfo() {
    DWORD errorCode = 0;
    return ReadSizedText(
        [&](char16_t* buffer, DWORD* size) {
            return Platform().InternetGetLastResponseInfoW(&errorCode, PlatformBuffer(buffer), size);
        },
        TSizedTextFailure::Quiet);
}

}  // namespace Corvane
