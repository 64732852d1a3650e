// InternetTimeToSystemTimeW and InternetTimeFromSystemTimeW: Internet dates
// read into a SYSTEMTIME and written from one (src/InternetTime.h).
#include "posix/errors/Barrier.h"
#include "posix/errors/LastError.h"
#include "src/InternetTime.h"

#include <algorithm>
#include <string_view>

using Corvane::Backend::Fail;
namespace InternetTime = Corvane::InternetTime;

// Every failure is ERROR_INVALID_PARAMETER: no text, or none that is a date
// a SYSTEMTIME can hold. The record is written only on success.
extern "C" BOOL WINAPI InternetTimeToSystemTimeW(LPCWSTR lpszTime, SYSTEMTIME* pst, DWORD /*dwReserved*/) {
    return Corvane::Backend::Guarded<BOOL>(FALSE, [&]() -> BOOL {
        if (!lpszTime || !pst || !InternetTime::Parse(std::u16string_view(lpszTime), *pst))
            return Fail(ERROR_INVALID_PARAMETER);
        return TRUE;
    });
}

// Arguments are checked before the buffer's size, which counts bytes and
// must hold the text and its terminator: a shorter buffer is left as it was
// and fails with ERROR_INSUFFICIENT_BUFFER, as on the platform.
extern "C" BOOL WINAPI InternetTimeFromSystemTimeW(const SYSTEMTIME* pst, DWORD dwRFC, LPWSTR lpszTime,
                                                   DWORD cbTime) {
    return Corvane::Backend::Guarded<BOOL>(FALSE, [&]() -> BOOL {
        if (!pst || !lpszTime || dwRFC != INTERNET_RFC1123_FORMAT ||
            !InternetTime::IsValid(*pst, InternetTime::kLastFormattedYear))
            return Fail(ERROR_INVALID_PARAMETER);
        WCHAR text[InternetTime::kFormattedLength + 1];
        if (cbTime < sizeof(text)) return Fail(ERROR_INSUFFICIENT_BUFFER);
        InternetTime::Format(*pst, text);
        std::copy(std::begin(text), std::end(text), lpszTime);
        return TRUE;
    });
}
