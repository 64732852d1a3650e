// libFuzzer target for the FTP client's directory listings.
//
// Every line of the input (split at '\n', a '\r' before it dropped) is read
// as an MLSD line and as a LIST line, and matched against the first line as
// a search pattern. Besides "no crash", it checks:
//  - an accepted entry's name is part of the line and is neither empty nor
//    "." or "..";
//  - "*" matches every line, and a line without wildcards matches itself;
//  - the ASCII conversions, cut at a point the input chooses, undo each
//    other on a text without CR LF.
#include "posix/ftp/FtpListing.h"
#include "posix/ftp/FtpText.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

using namespace Corvane::Backend;

namespace {

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "ftp listing fuzzer: %s\n", what);
    std::abort();
}

void Check(bool condition, const char* what) {
    if (!condition) Fail(what);
}

// 2024-01-10 12:00 UTC, so that entries without a year fall on both sides
// of a year change.
constexpr std::int64_t kNow = 1704888000;

void CheckEntry(std::string_view line, const FtpListingEntry& entry) {
    Check(!entry.name.empty() && entry.name != "." && entry.name != "..", "empty, own or parent name");
    Check(line.find(entry.name) != line.npos, "name not taken from the line");
}

void CheckLine(std::string_view pattern, std::string_view line) {
    FtpListingEntry entry;
    if (ParseMlsdLine(line, entry)) CheckEntry(line, entry);
    if (ParseListLine(line, kNow, entry)) CheckEntry(line, entry);
    (void)MatchesPattern(pattern, line);
    Check(MatchesPattern("*", line), "\"*\" does not match");
    if (!HasWildcard(line)) Check(MatchesPattern(line, line), "a plain name does not match itself");
}

void CheckAscii(std::string_view text, std::size_t cut) {
    if (text.find("\r\n") != text.npos) return;
    cut %= text.size() + 1;
    std::string wire, local;
    AsciiEncoder encoder;
    encoder.Convert(text.data(), cut, wire);
    encoder.Convert(text.data() + cut, text.size() - cut, wire);
    AsciiDecoder decoder;
    const std::size_t wireCut = cut % (wire.size() + 1);
    decoder.Convert(wire.data(), wireCut, local);
    decoder.Convert(wire.data() + wireCut, wire.size() - wireCut, local);
    decoder.Finish(local);
    Check(local == text, "ASCII decoding does not undo encoding");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    std::string_view pattern;
    for (std::size_t start = 0; start <= input.size();) {
        std::size_t end = input.find('\n', start);
        if (end == input.npos) end = input.size();
        std::string_view line = input.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (start == 0) pattern = line;
        start = end + 1;
        CheckLine(pattern, line);
    }
    CheckAscii(input, size ? data[0] : 0);
    return 0;
}
