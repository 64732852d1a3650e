// InternetTimeToSystemTimeW and InternetTimeFromSystemTimeW through the seam,
// so on Windows through the adapter: one table of texts read and records
// written, and a round trip of every 97th day the RFC 1123 text can hold.
#include <Platform/InternetApi.h>

#include <Framework/SysUtils.h>

#include "WideText.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <string>

using WideText::U;
using WideText::W;

namespace {

constexpr SYSTEMTIME Time(int year, int month, int day, int hour, int minute, int second, int dayOfWeek = 0,
                          int milliseconds = 0) {
    return SYSTEMTIME{static_cast<WORD>(year),   static_cast<WORD>(month),       static_cast<WORD>(dayOfWeek),
                      static_cast<WORD>(day),    static_cast<WORD>(hour),        static_cast<WORD>(minute),
                      static_cast<WORD>(second), static_cast<WORD>(milliseconds)};
}

std::string Show(const SYSTEMTIME& t) {
    char text[64];
    std::snprintf(text, sizeof(text), "%04u-%02u-%02u %02u:%02u:%02u.%03u day %u", t.wYear, t.wMonth, t.wDay,
                  t.wHour, t.wMinute, t.wSecond, t.wMilliseconds, t.wDayOfWeek);
    return text;
}

enum Way { Read, Write };

struct DateCase {
    Way way;
    // Read: the text read (nullptr: a null pointer); Write: the text expected.
    const char16_t* text;
    // Read: the record expected; Write: the record written.
    SYSTEMTIME time;
    DWORD error = 0;  // the failure expected, 0 for success
    DWORD format = INTERNET_RFC1123_FORMAT;
    DWORD bytes = INTERNET_RFC1123_BUFSIZE * sizeof(WCHAR);
};

const SYSTEMTIME kNov6 = Time(1994, 11, 6, 8, 49, 37, 0);
constexpr DWORD kInvalid = ERROR_INVALID_PARAMETER;

const DateCase kCases[] = {
    {Read, u"Sun, 06 Nov 1994 08:49:37 GMT", kNov6},
    {Read, u"Sunday, 06-Nov-94 08:49:37 GMT", kNov6},
    {Read, u"Sun Nov  6 08:49:37 1994", kNov6},
    {Read, u"06 Nov 1994 08:49:37 GMT", kNov6},
    {Read, u"  sun,6 nov 1994   8:49:37 gmt ", kNov6},
    {Read, u"Mon, 06 Nov 1994 08:49:37 UTC", kNov6},
    {Read, u"Sun, 06 November 1994 08:49:37 Z", kNov6},
    {Read, u"Sun, 6 Nov 1994 8:9:7 GMT", Time(1994, 11, 6, 8, 9, 7, 0)},
    {Read, u"Sun, 06 Nov 1994 08:49 GMT", Time(1994, 11, 6, 8, 49, 0, 0)},
    {Read, u"Sun, 06 Nov 1994 10:49:37 +0200", kNov6},
    {Read, u"Sun, 06 Nov 1994 20:19:37 -05:30", Time(1994, 11, 7, 1, 49, 37, 1)},
    {Read, u"Thu, 01-Jan-70 00:00:00 GMT", Time(1970, 1, 1, 0, 0, 0, 4)},
    {Read, u"Sat, 01-Jan-00 00:00:00 GMT", Time(2000, 1, 1, 0, 0, 0, 6)},
    {Read, u"Sat, 31-Dec-69 23:59:59 GMT", Time(2069, 12, 31, 23, 59, 59, 2)},
    {Read, u"Tue, 29 Feb 2000 12:00:00 GMT", Time(2000, 2, 29, 12, 0, 0, 2)},
    {Read, u"Mon, 01 Jan 1601 00:00:00 GMT", Time(1601, 1, 1, 0, 0, 0, 1)},
    {Read, u"Fri, 31 Dec 30827 23:59:59 GMT", Time(30827, 12, 31, 23, 59, 59, 5)},
    {Read, nullptr, {}, kInvalid},
    {Read, u"", {}, kInvalid},
    {Read, u"garbage", {}, kInvalid},
    {Read, u"Sun, 06 Nov 1994", {}, kInvalid},
    {Read, u"Sun, 06 Nov 1994 25:49:37 GMT", {}, kInvalid},
    {Read, u"Sun, 06 Nov 1994 08:61:37 GMT", {}, kInvalid},
    {Read, u"Sun, 06 Nov 1994 08:49:60 GMT", {}, kInvalid},
    {Read, u"Sun, 31 Feb 1994 08:49:37 GMT", {}, kInvalid},
    {Read, u"Thu, 29 Feb 1900 08:49:37 GMT", {}, kInvalid},
    {Read, u"Sun, 31 Dec 1600 23:59:59 GMT", {}, kInvalid},
    {Read, u"Mon, 01 Jan 1601 00:30:00 +0100", {}, kInvalid},
    {Read, u"Sat, 01 Jan 30828 00:00:00 GMT", {}, kInvalid},
    {Read, u"Fri, 31 Dec 96363 23:59:59 GMT", {}, kInvalid},
    {Read, u"Sun, 06 Nov 1994 08:49:37 EST", {}, kInvalid},
    {Read, u"Sun, 06 Nov 1994 08:49:37 GMT GMT", {}, kInvalid},
    {Read, u"Sun, 06 Nov 1994 08:49:37 GMT 1", {}, kInvalid},
    {Read, u"Sun, 06 Xyz 1994 08:49:37 GMT", {}, kInvalid},
    {Read, u"Sun, 06 Nov 1994 08:49:37 +2400", {}, kInvalid},
    {Read, u"Sun, 06 Nov 1994 08:49:37 -0560", {}, kInvalid},

    {Write, u"Sun, 06 Nov 1994 08:49:37 GMT", kNov6},
    {Write, u"Sun, 06 Nov 1994 08:49:37 GMT", Time(1994, 11, 6, 8, 49, 37, 9, 999)},
    {Write, u"Mon, 01 Jan 1601 00:00:00 GMT", Time(1601, 1, 1, 0, 0, 0)},
    {Write, u"Fri, 31 Dec 9999 23:59:59 GMT", Time(9999, 12, 31, 23, 59, 59)},
    {Write, nullptr, Time(1994, 0, 6, 8, 49, 37), kInvalid},
    {Write, nullptr, Time(1994, 13, 6, 8, 49, 37), kInvalid},
    {Write, nullptr, Time(1994, 2, 29, 8, 49, 37), kInvalid},
    {Write, nullptr, Time(1994, 11, 6, 24, 0, 0), kInvalid},
    {Write, nullptr, Time(1994, 11, 6, 8, 60, 0), kInvalid},
    {Write, nullptr, Time(1994, 11, 6, 8, 49, 37, 0, 1000), kInvalid},
    {Write, nullptr, Time(1600, 12, 31, 23, 59, 59), kInvalid},
    {Write, nullptr, Time(10000, 1, 1, 0, 0, 0), kInvalid},
    {Write, nullptr, kNov6, kInvalid, 1},
    {Write, nullptr, kNov6, ERROR_INSUFFICIENT_BUFFER, INTERNET_RFC1123_FORMAT, 58},
    {Write, nullptr, kNov6, ERROR_INSUFFICIENT_BUFFER, INTERNET_RFC1123_FORMAT, 0},
};

TEST(InternetTime, ReadsAndWritesTheTable) {
    for (const DateCase& c : kCases) {
        SCOPED_TRACE(c.way == Write ? "writing " + Show(c.time)
                                    : "reading " + (c.text ? Framework::Utf16ToUtf8(c.text) : "null"));
        const SYSTEMTIME untouched = Time(1, 2, 3, 4, 5, 6, 7, 8);
        SYSTEMTIME time = untouched;
        // The buffer is longer than described: nothing may land past the
        // described end, nor anywhere when the call fails.
        std::u16string buffer(40, u'#');
        ::SetLastError(ERROR_SUCCESS);
        const BOOL result = c.way == Read ? Corvane::Platform().InternetTimeToSystemTimeW(
                                                c.text ? W(c.text) : nullptr, &time, 0)
                                          : Corvane::Platform().InternetTimeFromSystemTimeW(
                                                &c.time, c.format, W(buffer.data()), c.bytes);
        if (c.error) {
            EXPECT_FALSE(result);
            EXPECT_EQ(::GetLastError(), c.error);
            EXPECT_EQ(Show(time), Show(untouched));
            EXPECT_EQ(buffer, std::u16string(40, u'#'));
        } else if (c.way == Read) {
            EXPECT_TRUE(result);
            EXPECT_EQ(Show(time), Show(c.time));
        } else {
            EXPECT_TRUE(result);
            EXPECT_EQ(buffer, c.text + std::u16string(1, u'\0') + std::u16string(10, u'#'));
        }
    }
}

// Every 97th day from the first a SYSTEMTIME holds to the last a four-digit
// year can, each at another time of day: written, the text is the one the
// calendar of the standard library gives; read back, it is the same record
// with the date's own weekday.
TEST(InternetTime, EveryNinetySeventhDayRoundTrips) {
    using namespace std::chrono;
    static constexpr const char* kWeekdays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                              "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const sys_days first = year{1601} / January / 1, last = year{9999} / December / 31;
    int checked = 0;
    for (sys_days day = first; day <= last; day += days{97}, ++checked) {
        const year_month_day date{day};
        const unsigned dayOfWeek = weekday{day}.c_encoding();
        const int n = checked;
        SYSTEMTIME time = Time(static_cast<int>(date.year()), static_cast<int>(unsigned{date.month()}),
                               static_cast<int>(unsigned{date.day()}), n % 24, n * 7 % 60, n * 13 % 60,
                               (dayOfWeek + 3) % 7);
        char expected[40];
        std::snprintf(expected, sizeof(expected), "%s, %02u %s %04u %02u:%02u:%02u GMT", kWeekdays[dayOfWeek],
                      time.wDay, kMonths[time.wMonth - 1], time.wYear, time.wHour, time.wMinute,
                      time.wSecond);
        WCHAR text[INTERNET_RFC1123_BUFSIZE];
        ASSERT_TRUE(Corvane::Platform().InternetTimeFromSystemTimeW(&time, INTERNET_RFC1123_FORMAT, text,
                                                                    sizeof(text)))
            << Show(time);
        ASSERT_EQ(Framework::Utf16ToUtf8(U(text)), expected);
        SYSTEMTIME back{};
        ASSERT_TRUE(Corvane::Platform().InternetTimeToSystemTimeW(text, &back, 0)) << expected;
        time.wDayOfWeek = static_cast<WORD>(dayOfWeek);
        ASSERT_EQ(Show(back), Show(time));
    }
    EXPECT_EQ(checked, 31626);
}

}  // namespace
