// The FTP client's pure pieces: reply framing, reply arguments, search
// patterns, ASCII line ends and directory listings, each over a table.
#include "posix/ftp/FtpListing.h"
#include "posix/ftp/FtpReply.h"
#include "posix/ftp/FtpText.h"
#include "posix/text/InternetDate.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <optional>
#include <string>
#include <utility>
#include <vector>

using namespace Corvane::Backend;

namespace {

std::int64_t Utc(int y, unsigned mo, unsigned d, int h = 0, int mi = 0) {
    using namespace std::chrono;
    return sys_days{year{y} / month{mo} / day{d}}.time_since_epoch().count() * 86400LL + h * 3600 + mi * 60;
}

std::uint64_t Ticks(const FILETIME& t) {
    return (std::uint64_t{t.dwHighDateTime} << 32) | t.dwLowDateTime;
}

// "name|size|d(irectory)r(ead-only)|YYYY-MM-DD hh:mm:ss" of a parsed entry, "-" when the line was refused.
std::string Describe(bool ok, const FtpListingEntry& e) {
    if (!ok) return "-";
    std::string time;
    if (e.hasTime) {
        const auto s =
            SystemTimeFromUnix(static_cast<std::int64_t>(Ticks(e.lastWrite) / 10000000) - 11644473600);
        char text[64];
        std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u", s.wYear, s.wMonth, s.wDay, s.wHour,
                      s.wMinute, s.wSecond);
        time = text;
    }
    return e.name + '|' + std::to_string(e.size) + '|' + (e.isDirectory ? "d" : "-") +
           (e.readOnly ? "r" : "-") + '|' + time;
}

}  // namespace

TEST(FtpReplyParser, FramesRepliesLineByLine) {
    const std::string longLine = "200 " + std::string(FtpReplyParser::kMaxReplyBytes, 'x');
    const std::string half(FtpReplyParser::kMaxReplyBytes / 2, 'y');
    struct Row {
        std::vector<std::string> lines;
        std::string outcomes;  // per line: n(eed more), c(omplete), m(alformed)
        int code;
        std::string text;  // of the last complete reply
    } rows[] = {{{"220 ready"}, "c", 220, "220 ready"},
                {{"331"}, "c", 331, "331"},
                {{"230-hi", "530 not me", "230-nor me", " 230 indented", "2301 no", "230 end"},
                 "nnnnnc",
                 230,
                 "230-hi\r\n530 not me\r\n230-nor me\r\n 230 indented\r\n2301 no\r\n230 end"},
                {{"211-a", "", "211"}, "nnc", 211, "211-a\r\n\r\n211"},
                {{"22 x", "600 x", "099 x", "220x", "", longLine}, "mmmmmm", 0, ""},
                {{"250-a", half, half, "226 next"}, "nnmc", 226, "226 next"}};
    for (const Row& row : rows) {
        FtpReplyParser parser;
        FtpReply reply;
        std::string outcomes;
        for (const std::string& line : row.lines)
            outcomes += "ncm"[static_cast<int>(parser.Feed(line, reply))];
        SCOPED_TRACE(row.lines.front());
        EXPECT_EQ(outcomes, row.outcomes);
        EXPECT_EQ(reply.code, row.code);
        EXPECT_EQ(reply.text, row.text);
    }
}

TEST(FtpText, ReadsAndWritesCommandArguments) {
    const std::pair<std::string, std::optional<std::string>> pwds[] = {
        {R"(257 "/home/a" is current)", "/home/a"},
        {R"(257 "/say ""hi""/x" made)", R"(/say "hi"/x)"},
        {R"(257 """")", "\""},
        {"257 no quotes", std::nullopt},
        {R"(257 "unclosed)", std::nullopt},
        {"257 \"a\r\n257 b\"", std::nullopt},
        {R"(257 "" empty)", std::nullopt}};
    for (const auto& [text, expected] : pwds) {
        std::string path;
        EXPECT_EQ(ParsePwdReply(text, path) ? std::optional(path) : std::nullopt, expected) << text;
    }

    // 229 rows go to the EPSV parser, 227 rows to the PASV one; -1: refused.
    const std::pair<std::string, int> passives[] = {{"229 Entering Extended Passive Mode (|||6446|)", 6446},
                                                    {"229 (!!!65535!)", 65535},
                                                    {"229 x (y) (|||21|)", 21},
                                                    {"229 (|||0|)", -1},
                                                    {"229 (|||65536|)", -1},
                                                    {"229 (||6446|)", -1},
                                                    {"229 (|||6446|", -1},
                                                    {"229 (111222)", -1},
                                                    {"229 (|||6446#)", -1},
                                                    {"227 Entering Passive Mode (127,0,0,1,4,1)", 1025},
                                                    {"227 Entering Passive Mode 10,1,2,3,255,255", 65535},
                                                    {"227 =1,2,3,4,0,7,8", 7},
                                                    {"227 (127,0,0,1,0,0)", -1},
                                                    {"227 (127,0,0,256,4,1)", -1},
                                                    {"227 (127,0,0,1,4)", -1},
                                                    {"227 (1277,0,0,1,4,1)", -1}};
    for (const auto& [text, expected] : passives) {
        std::array<std::uint8_t, 4> address{};
        std::uint16_t port = 0;
        const bool ok = text[2] == '9' ? ParseEpsvReply(text, port) : ParsePasvReply(text, address, port);
        EXPECT_EQ(ok ? port : -1, expected) << text;
    }

    // What PORT sends, PASV reads back the same.
    std::array<std::uint8_t, 4> address{};
    std::uint16_t port = 0;
    EXPECT_EQ(FormatPortArgument({192, 168, 0, 10}, 50000), "192,168,0,10,195,80");
    ASSERT_TRUE(ParsePasvReply("227 " + FormatPortArgument({192, 168, 0, 10}, 50000), address, port));
    EXPECT_EQ(address, (std::array<std::uint8_t, 4>{192, 168, 0, 10}));
    EXPECT_EQ(port, 50000);
    EXPECT_EQ(FormatEprtArgument(true, "::1", 21), "|2|::1|21|");
    EXPECT_EQ(FormatEprtArgument(false, "127.0.0.1", 65535), "|1|127.0.0.1|65535|");

    for (std::string_view unsafe :
         {std::string_view("a\r"), std::string_view("a\nDELE x"), std::string_view("a\0b", 3)})
        EXPECT_FALSE(IsSafeArgument(unsafe));
    EXPECT_TRUE(IsSafeArgument("name with spaces\t\xC3\xA9"));
}

TEST(FtpText, MatchesSearchPatterns) {
    struct Row {
        const char* pattern;
        const char* name;
        bool matches;
    } rows[] = {{"*", "", true},
                {"*.*", "noext", true},
                {"*.txt", "a.txt.bak", false},
                {"*.TXT", "a.txt", false},
                {"a*b*c", "axxbyybc", true},
                {"a*b*c", "axxbyybcd", false},
                {"*x", "xyx", true},
                {"?", "\xC3\xA9", true},
                {"??", "\xC3\xA9", false},
                {"?x", "\xF0\x9F\x98\x80x", true},
                {"*?", "\xE6\x97\xA5", true},
                {"a?c", "ac", false},
                {"??", "\xC3x", true},
                {"a**", "a", true},
                {"", "a", false}};
    for (const Row& row : rows)
        EXPECT_EQ(MatchesPattern(row.pattern, row.name), row.matches) << row.pattern << " ~ " << row.name;
    EXPECT_TRUE(HasWildcard("a?") && HasWildcard("*"));
    EXPECT_FALSE(HasWildcard("plain.txt"));
}

TEST(FtpText, FileTimesAndAsciiLineEnds) {
    const std::pair<std::int64_t, std::uint64_t> times[] = {
        {0, 116444736000000000ULL},
        {1, 116444736010000000ULL},
        {-11644473600LL, 0},
        {-11644473601LL, 0},
        {INT64_MAX, static_cast<std::uint64_t>(INT64_MAX)}};
    for (const auto& [seconds, ticks] : times) EXPECT_EQ(Ticks(FileTimeFromUnix(seconds)), ticks) << seconds;

    // Every way of cutting the text in two chunks gives the same result.
    const std::string wire = "a\r\nb\rc\r\r\n\n\r", upload = "a\nb\r\nc\r";
    for (std::size_t cut = 0; cut <= wire.size(); ++cut) {
        AsciiDecoder decoder;
        std::string out;
        decoder.Convert(wire.data(), cut, out);
        decoder.Convert(wire.data() + cut, wire.size() - cut, out);
        decoder.Finish(out);
        EXPECT_EQ(out, "a\nb\rc\r\n\n\r") << "decode cut " << cut;
    }
    for (std::size_t cut = 0; cut <= upload.size(); ++cut) {
        AsciiEncoder encoder;
        std::string out;
        encoder.Convert(upload.data(), cut, out);
        encoder.Convert(upload.data() + cut, upload.size() - cut, out);
        EXPECT_EQ(out, "a\r\nb\r\nc\r") << "encode cut " << cut;
    }
}

TEST(FtpListing, ReadsListLines) {
    const std::int64_t now = Utc(2024, 1, 10, 12);
    const std::pair<std::string, std::string> rows[] = {
        {"drwxr-xr-x   2 user group   4096 Mar  5  2023 docs", "docs|4096|d-|2023-03-05 00:00:00"},
        {"-rw-r--r--   1 user group   1234 Jan  9 08:30 a.txt", "a.txt|1234|--|2024-01-09 08:30:00"},
        {"-rw-r--r-- 1 u g 1 Jan 11 11:00 skew", "skew|1|--|2024-01-11 11:00:00"},
        {"-rw-r--r-- 1 u g 1 Jan 12 12:00 ahead", "ahead|1|--|2023-01-12 12:00:00"},
        {"-rw-r--r-- 1 u g 1 Dec 31 23:59 old", "old|1|--|2023-12-31 23:59:00"},
        {"-rw-r--r-- 1 u g 1 Feb 29 12:00 leap", "leap|1|--|"},
        {"-r--r--r-- 1 1000 1000 5 Jul  4 10:00 my  file.txt ", "my  file.txt |5|-r|2023-07-04 10:00:00"},
        {"-rw-r--r-- 1 user 42 Jan 1 2020 nogroup", "nogroup|42|--|2020-01-01 00:00:00"},
        {"-rw-r--r-- 1 jan feb 42 Mar 1 2020 Apr 1 2021 x", "Apr 1 2021 x|42|--|2020-03-01 00:00:00"},
        {"-rw-r--r--\t1\tu\tg \t9\tDEC\t1\t2020 tabs", "tabs|9|--|2020-12-01 00:00:00"},
        {"lrwxrwxrwx 1 u g 7 Jan 1 2020 link -> target", "link|7|--|2020-01-01 00:00:00"},
        {"-rw-r--r-- 1 u g 7 Jan 1 2020 a -> b", "a -> b|7|--|2020-01-01 00:00:00"},
        {"crw-rw-rw- 1 root root 1,   3 Jan 1 2020 null", "null|0|--|2020-01-01 00:00:00"},
        {"brw-rw----+ 1 root disk 8,0 Jan 1 2020 sda", "sda|0|--|2020-01-01 00:00:00"},
        {"-rw-r--r-- 1 u g 18446744073709551616 Jan 1 2020 huge", "-"},
        {"drwxr-xr-x 2 u g 4096 Jan 1 2020 ..", "-"},
        {"-rw-r--r-- 1 u g 1 Jan 1 2020", "-"},
        {"total 48", "-"},
        {"01-02-24  03:04PM       <DIR>          My Dir", "My Dir|0|d-|2024-01-02 15:04:00"},
        {"12-31-1999  11:59AM  1234 file name.txt", "file name.txt|1234|--|1999-12-31 11:59:00"},
        {"07-04-69  12:00AM  5 midnight", "midnight|5|--|2069-07-04 00:00:00"},
        {"07/04/70  12:30PM  5 noon", "noon|5|--|1970-07-04 12:30:00"},
        {"02-03-24  13:05  5 plain", "plain|5|--|2024-02-03 13:05:00"},
        {"13-01-24  01:00PM  5 month", "-"},
        {"01-02-24  13:00PM  5 hour", "-"},
        {"01-02-24  01:00PM  <DIR>", "-"}};
    for (const auto& [line, expected] : rows) {
        FtpListingEntry entry;
        EXPECT_EQ(Describe(ParseListLine(line, now, entry), entry), expected) << line;
    }
    EXPECT_EQ(DetectListForm("drwx------ 2 a b 1 Jan 1 2020 x"), FtpListForm::kUnix);
    EXPECT_EQ(DetectListForm("01-02-2024 01:00PM 1 x"), FtpListForm::kDos);
    EXPECT_EQ(DetectListForm("total 48"), FtpListForm::kUnknown);
}

TEST(FtpListing, ReadsMlsdLines) {
    const std::pair<std::string, std::string> rows[] = {
        {"type=file;size=1024;modify=20240102030405;perm=adfr; notes.txt",
         "notes.txt|1024|--|2024-01-02 03:04:05"},
        {"Type=DIR;Modify=20240102030405.123;Perm=flcdmpe; sub dir", "sub dir|0|d-|2024-01-02 03:04:05"},
        {"perm=el;type=dir; locked", "locked|0|dr|"},
        {"type=file;perm=r; ro.txt", "ro.txt|0|-r|"},
        {"type=OS.unix=slink:/tmp;size=4; link", "link|4|--|"},
        {"unique=801U1;x.y=z;type=file; a;b c", "a;b c|0|--|"},
        {" bare name", "bare name|0|--|"},
        {"type=file;size=abc;modify=2024; odd", "odd|0|--|"},
        {"type=file;modify=20240230000000; nodate", "nodate|0|--|"},
        {"type=cdir; /home", "-"},
        {"TYPE=PDir; ..", "-"},
        {"type=file; ..", "-"},
        {"type=file;size=12", "-"},
        {"type=file;size=12; ", "-"},
        {"typefile; x", "-"}};
    for (const auto& [line, expected] : rows) {
        FtpListingEntry entry;
        EXPECT_EQ(Describe(ParseMlsdLine(line, entry), entry), expected) << line;
    }
}
