// corvane time parse|format: the runtime unit's Internet date routines on the
// command line.
#include <cstdio>
#include <string>

#include <Corvane/Dates.h>

#include "CommandLine.h"
#include "Tool.h"

namespace Tool {

namespace {

const char* const TimeHelp =
    "Usage: corvane time parse TEXT\n"
    "       corvane time format YYYY-MM-DDTHH:MM:SS\n"
    "\n"
    "Reads and writes Internet dates with the platform's date conversions,\n"
    "through the runtime unit's TimeToSystemTime and TimeFromSystemTime.\n"
    "\n"
    "  parse   prints the date TEXT names, in UTC, as YYYY-MM-DDTHH:MM:SS\n"
    "  format  prints the RFC 1123 text of a UTC date and time\n"
    "\n"
    "'corvane time COMMAND --help' describes each command.\n";

const char* const ParseHelp =
    "Usage: corvane time parse TEXT\n"
    "\n"
    "Prints the date and time an Internet date names, in UTC, as\n"
    "YYYY-MM-DDTHH:MM:SS. TEXT is an RFC 1123 date (\"Sun, 06 Nov 1994 08:49:37\n"
    "GMT\"), an RFC 850 or asctime date, or one of the looser forms servers send;\n"
    "its words may also come as separate arguments. A text the platform finds\n"
    "no date in is an error of the Internet library.\n"
    "\n"
    "Options:\n"
    "  -h, --help          show this help\n";

const char* const FormatHelp =
    "Usage: corvane time format YYYY-MM-DDTHH:MM:SS\n"
    "\n"
    "Prints the RFC 1123 text (\"Sun, 06 Nov 1994 08:49:37 GMT\") of a date and\n"
    "time in UTC, given with four digits for the year and two for every other\n"
    "field. A date the platform refuses (month 13, February 30, hour 24, a year\n"
    "before 1601) is an error of the Internet library.\n"
    "\n"
    "Options:\n"
    "  -h, --help          show this help\n";

// The fields of YYYY-MM-DDTHH:MM:SS, digits exactly where the pattern has
// them; the values are left for the platform to judge.
SYSTEMTIME ParseIsoTime(const std::string& text) {
    static const std::string kPattern = "0000-00-00T00:00:00";
    bool matches = text.size() == kPattern.size();
    for (std::size_t i = 0; matches && i < text.size(); ++i)
        matches = kPattern[i] == '0' ? text[i] >= '0' && text[i] <= '9' : text[i] == kPattern[i];
    if (!matches) UsageError("invalid date and time " + Quoted(text) + "; give YYYY-MM-DDTHH:MM:SS");
    const auto field = [&](std::size_t at, std::size_t digits) {
        return static_cast<WORD>(std::stoi(text.substr(at, digits)));
    };
    SYSTEMTIME time{};
    time.wYear = field(0, 4);
    time.wMonth = field(5, 2);
    time.wDay = field(8, 2);
    time.wHour = field(11, 2);
    time.wMinute = field(14, 2);
    time.wSecond = field(17, 2);
    return time;
}

int Parse(const TArgs& args) {
    const TCommandLine line({{'h', "help", false}}, args);
    if (line.Has("help")) {
        Out(ParseHelp);
        return ExitSuccess;
    }
    if (line.Operands().empty()) UsageError("no date given");
    std::string text;
    for (const std::string& word : line.Operands()) text += (text.empty() ? "" : " ") + word;
    const SYSTEMTIME time = Corvane::TimeToSystemTime(U16(text));
    char printed[48];
    std::snprintf(printed, sizeof(printed), "%04u-%02u-%02uT%02u:%02u:%02u\n", time.wYear, time.wMonth,
                  time.wDay, time.wHour, time.wMinute, time.wSecond);
    Out(printed);
    return ExitSuccess;
}

int Format(const TArgs& args) {
    const TCommandLine line({{'h', "help", false}}, args);
    if (line.Has("help")) {
        Out(FormatHelp);
        return ExitSuccess;
    }
    if (line.Operands().empty()) UsageError("no date and time given");
    if (line.Operands().size() > 1) UsageError("unexpected argument " + Quoted(line.Operands()[1]));
    Out(U8(Corvane::TimeFromSystemTime(ParseIsoTime(line.Operands()[0]))) + "\n");
    return ExitSuccess;
}

}  // namespace

int RunTime(const TArgs& args) {
    if (args.empty()) UsageError("no command given: parse or format");
    const std::string& command = args[0];
    const TArgs rest(args.begin() + 1, args.end());
    if (command == "-h" || command == "--help") {
        Out(TimeHelp);
        return ExitSuccess;
    }
    if (command == "parse") return Parse(rest);
    if (command == "format") return Format(rest);
    UsageError("unknown command " + Quoted(command) + "; choose parse or format");
}

}  // namespace Tool
