#include "Corvane/Cookie.h"

#include <algorithm>

#include <Platform/InternetApi.h>

#include "AboutText.h"
#include "PlatformText.h"

namespace Corvane {

UnicodeString TCustomINetCookie::About() const {
    return AboutText;
}

void TCustomINetCookie::SetAbout(const UnicodeString&) {}

// Two calls: the first, without a buffer, learns the data's size in bytes
// (terminator included); the second reads into the result's own storage,
// described to the platform as exactly the room it has in characters.
//
// The store may change between the two calls (another thread, another
// process). Data that grew no longer fits: the second call fails and Check
// raises, as for any other failure of the read; nothing is retried. Data
// that shrank leaves its terminator inside the buffer: the result ends
// there, so the characters after it (never written) do not show.
UnicodeString TCustomINetCookie::CookieData() const {
    const LPCWSTR url = WholePlatformText(FUrl);
    const LPCWSTR name = WholePlatformText(FCookieName);
    DWORD size = 0;
    if (!Platform().InternetGetCookieW(url, name, nullptr, &size) || size == 0) return {};
    // A size below 4 bytes holds no character besides the terminator.
    const DWORD length = size / 2;
    if (length <= 1) return {};
    UnicodeString result(length, u'\0');  // the characters and the terminator
    DWORD room = length;
    if (!Platform().InternetGetCookieW(url, name, PlatformBuffer(result.data()), &room)) {
        Check(false);
        return {};  // a failure without an error code: nothing was read
    }
    result.resize(std::find(result.begin(), result.end() - 1, u'\0') - result.begin());
    return result;
}

void TCustomINetCookie::SetCookieData(const UnicodeString& data) {
    Check(Platform().InternetSetCookieW(WholePlatformText(FUrl), WholePlatformText(FCookieName),
                                        WholePlatformText(data)));
}

}  // namespace Corvane
