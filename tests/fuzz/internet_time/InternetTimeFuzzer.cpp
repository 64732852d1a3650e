// libFuzzer target for the Internet date parser and formatter.
//
// The input's bytes, each widened to one UTF-16 unit, are read as a date.
// Besides "no crash", it checks:
//  - a text that is no date leaves the record as it was;
//  - a date read is a valid record (IsValid up to the last SYSTEMTIME year)
//    with its own weekday and no milliseconds;
//  - a date up to year 9999, written, is 29 characters that read back as the
//    same record;
//  - the cookie date algorithm, on the same bytes, gives a time whose record
//    is valid.
#include "posix/text/InternetDate.h"
#include "src/InternetTime.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

using namespace Corvane;

namespace {

void Check(bool condition, const char* what) {
    if (condition) return;
    std::fprintf(stderr, "internet time fuzzer: %s\n", what);
    std::abort();
}

bool Same(const SYSTEMTIME& a, const SYSTEMTIME& b) {
    return std::memcmp(&a, &b, sizeof(SYSTEMTIME)) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::u16string text(data, data + size);
    const SYSTEMTIME untouched{1, 2, 3, 4, 5, 6, 7, 8};
    SYSTEMTIME time = untouched;
    if (!InternetTime::Parse(text, time)) {
        Check(Same(time, untouched), "a failed read changed the record");
    } else {
        Check(InternetTime::IsValid(time, InternetTime::kLastYear), "a date read is out of range");
        Check(time.wDayOfWeek == InternetTime::DayOfWeek(time.wYear, time.wMonth, time.wDay),
              "a date read has another weekday");
        Check(time.wMilliseconds == 0, "a date read has milliseconds");
        if (time.wYear <= InternetTime::kLastFormattedYear) {
            WCHAR written[InternetTime::kFormattedLength + 1];
            InternetTime::Format(time, written);
            Check(std::u16string_view(written).size() == InternetTime::kFormattedLength,
                  "a date written is not 29 characters");
            SYSTEMTIME back{};
            Check(InternetTime::Parse(written, back) && Same(back, time),
                  "a date written reads back otherwise");
        }
    }

    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    if (const auto seconds = Backend::ParseHttpDate(bytes))
        Check(InternetTime::IsValid(Backend::SystemTimeFromUnix(*seconds), InternetTime::kLastFormattedYear),
              "a cookie date is out of range");
    return 0;
}
