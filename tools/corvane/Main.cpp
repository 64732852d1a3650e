// corvane: HTTP requests, FTP operations, URLs, cookies, dates, the connection and form files from the
// command line,
// through Corvane's components.
#include <cstdio>
#include <string>

#include <Corvane/Errors.h>
#include <Corvane/Version.h>
#include <Framework/FormFiles.h>
#include <Framework/SysUtils.h>

#include "Tool.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

namespace Tool {

namespace {

const char* const MainHelp =
    "Usage: corvane COMMAND [OPTIONS] [ARGUMENTS]\n"
    "\n"
    "HTTP requests, FTP operations, URLs, cookies, dates, the machine's connection, form\n"
    "files and the design-time package through Corvane's components.\n"
    "\n"
    "Commands:\n"
    "  get URL                 send an HTTP or HTTPS request and write the response body\n"
    "  ftp URL COMMAND ...     list, fetch, store, rename or remove files on an FTP server\n"
    "  url crack URL           show the parts of a URL\n"
    "  url create OPTIONS      compose a URL from its parts\n"
    "  url canon URL           show the canonical form of a URL\n"
    "  time parse TEXT         show the date and time an Internet date names\n"
    "  time format DATETIME    write a date and time (YYYY-MM-DDTHH:MM:SS) as an Internet date\n"
    "  form check FILE         read a form file and report its errors\n"
    "  form dump FILE          print the components of a form file and their properties\n"
    "  cookie get URL [NAME]   print a cookie of the platform's store (every cookie of URL\n"
    "                          without NAME)\n"
    "  cookie set URL NAME DATA\n"
    "                          store a cookie\n"
    "  cookie list [DOMAIN]    list the cookie store\n"
    "  net                     show whether and how the machine is connected\n"
    "  net check URL [--force] tell whether URL can be reached\n"
    "  net dial NAME, net hangup NUMBER\n"
    "                          dial and hang up a dial-up connection\n"
    "  net offline URL, net online URL\n"
    "                          show the process's offline mode, ask the system to go online\n"
    "  design package|palette  load the design-time package, show its palette\n"
    "  design inspect|set|add FORM ...\n"
    "                          show and edit a form's components through their property editors\n"
    "\n"
    "Options:\n"
    "  -h, --help              show this help ('corvane COMMAND --help' for a command)\n"
    "  --version               show the version\n"
    "\n"
    "Exit status:\n"
    "  0  success\n"
    "  1  the Internet library reported an error\n"
    "  2  the command line is wrong\n"
    "  3  a URL or form file the components cannot use\n"
    "  4  a local file cannot be read or written\n"
    "  5  any other failure\n";

// Messages of the Internet library end with CR LF and may hold the
// server's reply on further lines: one line break style, no trailing blanks.
std::string MessageText(const std::string& message) {
    std::string text;
    for (char c : message)
        if (c != '\r') text += c;
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    return text;
}

// Runs one command and turns whatever ends it into a message on standard
// error and an exit status.
int RunCommand(const std::string& name, int (*command)(const TArgs&), const TArgs& args) {
    const std::string prefix = "corvane " + name + ": ";
    try {
        return command(args);
    } catch (const ECommandError& e) {
        Err(prefix + MessageText(e.what()) + "\n");
        if (e.Status() == ExitUsage) Err("Try 'corvane " + name + " --help' for more information.\n");
        return e.Status();
    } catch (const Corvane::EINetError& e) {
        Err(prefix + MessageText(e.what()) + "\n");
        return ExitInternetError;
    } catch (const Framework::EStreamError& e) {
        Err(prefix + MessageText(e.what()) + "\n");
        return ExitFileError;
    } catch (const Framework::EAbort&) {
        Err(prefix + "aborted\n");
        return ExitFailure;
    } catch (const std::exception& e) {
        Err(prefix + MessageText(e.what()) + "\n");
        return ExitFailure;
    }
}

}  // namespace

void UsageError(const std::string& message) {
    throw ECommandError(ExitUsage, message);
}

std::string U8(std::u16string_view text) {
    return Framework::Utf16ToUtf8(text);
}

UnicodeString U16(std::string_view text) {
    return Framework::Utf8ToUtf16(text);
}

std::string Quoted(std::string_view text) {
    return "'" + std::string(text) + "'";
}

// The proleptic Gregorian calendar from the count of days since 1970.
std::string UtcText(std::int64_t seconds, bool withSeconds) {
    std::int64_t days = seconds / 86400;
    std::int64_t rest = seconds % 86400;
    if (rest < 0) {
        rest += 86400;
        --days;
    }
    const std::int64_t z = days + 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const std::int64_t dayOfEra = z - era * 146097;
    const std::int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const std::int64_t mp = (5 * dayOfYear + 2) / 153;
    const std::int64_t day = dayOfYear - (153 * mp + 2) / 5 + 1;
    const std::int64_t month = mp < 10 ? mp + 3 : mp - 9;
    const std::int64_t year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
    char text[96];  // room for any 64-bit count of seconds
    std::snprintf(text, sizeof text, "%04lld-%02lld-%02lld %02lld:%02lld", static_cast<long long>(year),
                  static_cast<long long>(month), static_cast<long long>(day),
                  static_cast<long long>(rest / 3600), static_cast<long long>(rest / 60 % 60));
    std::string out = text;
    if (withSeconds) {
        std::snprintf(text, sizeof text, ":%02lld", static_cast<long long>(rest % 60));
        out += text;
    }
    return out;
}

// Control characters (an escape sequence's ESC among them) become '?';
// line ends stay.
std::string Printable(const std::string& text) {
    std::string out = text;
    for (char& c : out)
        if ((static_cast<unsigned char>(c) < 0x20 && c != '\n') || c == 0x7F) c = '?';
    return out;
}

void Out(std::string_view text) {
    if (text.empty()) return;
    if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() || std::fflush(stdout) != 0)
        throw ECommandError(ExitFileError, "cannot write to standard output");
}

void Err(std::string_view text) {
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fflush(stderr);
}

// Picks the command named by the first argument.
int Main(const TArgs& args) {
    if (args.empty()) {
        Err(MainHelp);
        return ExitUsage;
    }
    const std::string& command = args[0];
    const TArgs rest(args.begin() + 1, args.end());
    if (command == "-h" || command == "--help" || command == "help") {
        if (command == "help" && !rest.empty()) return Main({rest[0], "--help"});
        Out(MainHelp);
        return ExitSuccess;
    }
    if (command == "--version") {
        Out(std::string("corvane ") + Corvane::Version() + "\n");
        return ExitSuccess;
    }
    if (command == "get") return RunCommand(command, RunGet, rest);
    if (command == "ftp") return RunCommand(command, RunFtp, rest);
    if (command == "url") return RunCommand(command, RunUrl, rest);
    if (command == "form") return RunCommand(command, RunForm, rest);
    if (command == "time") return RunCommand(command, RunTime, rest);
    if (command == "cookie") return RunCommand(command, RunCookie, rest);
    if (command == "net") return RunCommand(command, RunNet, rest);
    if (command == "design") return RunCommand(command, RunDesign, rest);
    Err("corvane: unknown command " + Quoted(command) + "\nTry 'corvane --help' for the list of commands.\n");
    return ExitUsage;
}

}  // namespace Tool

#ifdef _WIN32
// The command line as UTF-16, whatever the console's code page; output and
// messages are written as UTF-8 bytes, unchanged (no CR added before LF).
int wmain(int argc, wchar_t** argv) {
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    Tool::TArgs args;
    for (int i = 1; i < argc; ++i)
        args.push_back(Tool::U8(std::u16string_view(reinterpret_cast<const char16_t*>(argv[i]))));
    return Tool::Main(args);
}
#else
int main(int argc, char** argv) {
    Tool::TArgs args(argv + 1, argv + argc);
    return Tool::Main(args);
}
#endif
