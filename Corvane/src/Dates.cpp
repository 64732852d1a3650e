#include "Corvane/Dates.h"

#include <Platform/InternetApi.h>

#include "PlatformText.h"

namespace Corvane {

namespace {

// Characters of an RFC 1123 date, and the bytes the platform is given for
// them with their terminator.
constexpr std::size_t kRfc1123Length = 29;
constexpr DWORD kRfc1123Bytes = (kRfc1123Length + 1) * sizeof(char16_t);

}  // namespace

SYSTEMTIME TimeToSystemTime(const UnicodeString& text) {
    SYSTEMTIME time{};
    Check(Platform().InternetTimeToSystemTimeW(WholePlatformText(text), &time, 0));
    return time;
}

// The result's own storage holds the 29 characters and, past them, the
// string's terminator, so the platform's terminator lands in place.
UnicodeString TimeFromSystemTime(const SYSTEMTIME& time) {
    UnicodeString text(kRfc1123Length, u'\0');
    Check(Platform().InternetTimeFromSystemTimeW(&time, INTERNET_RFC1123_FORMAT, PlatformBuffer(text.data()),
                                                 kRfc1123Bytes));
    return text;
}

}  // namespace Corvane
