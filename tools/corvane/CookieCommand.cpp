// corvane cookie get|set|list: the platform's cookie store on the command
// line, through the cookie component (get, set) and the store's listing.
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include <Corvane/Cookie.h>
#include <Platform/CookieStore.h>

#include "CommandLine.h"
#include "Tool.h"

namespace Tool {

namespace {

using Corvane::TINetCookie;

const char* const CookieHelp =
    "Usage: corvane cookie get URL [NAME]\n"
    "       corvane cookie set URL NAME DATA\n"
    "       corvane cookie list [DOMAIN]\n"
    "\n"
    "Reads and writes the platform's cookie store, through the cookie component.\n"
    "\n"
    "  get   prints the cookie NAME of URL as NAME=VALUE, or without NAME every\n"
    "        cookie the store would send to URL (\"a=1; b=2\"); prints nothing when\n"
    "        there is none\n"
    "  set   stores DATA as the cookie NAME of URL: the value and its attributes,\n"
    "        such as '1; Path=/; Expires=Fri, 01 Jan 2100 00:00:00 GMT'; with an\n"
    "        empty NAME ('') DATA begins with NAME=VALUE itself. Cookies without\n"
    "        an expiry date last only as long as the process, so a later\n"
    "        'corvane cookie get' does not see them. The store refuses HttpOnly\n"
    "        cookies: only HTTP responses set them.\n"
    "  list  prints every cookie of the store (those of DOMAIN and its\n"
    "        subdomains), one per line, with tabs between: domain, path, name,\n"
    "        value, expiry (UTC) or 'session', and the flags secure, httponly\n"
    "        and host-only ('-' for none). wininet.dll keeps its store to itself,\n"
    "        so on Windows list fails.\n"
    "\n"
    "The portable backend's store is the file that CORVANE_COOKIE_FILE names, by\n"
    "default $XDG_DATA_HOME/corvane/cookies.sqlite.\n"
    "\n"
    "Exit status: 0 on success, 1 when the store refuses or cannot answer, 2 for a\n"
    "wrong command line.\n";

// A sub-command's command line: --help (the help is printed here), or from
// Least to Most operands.
TCommandLine CommandLineOf(const TArgs& args, std::size_t least, std::size_t most, const char* missing) {
    TCommandLine line({{'h', "help", false}}, args);
    if (line.Has("help")) {
        Out(CookieHelp);
        return line;
    }
    if (line.Operands().size() < least) UsageError(missing);
    if (line.Operands().size() > most) UsageError("unexpected argument " + Quoted(line.Operands()[most]));
    return line;
}

int Get(const TArgs& args) {
    const TCommandLine line = CommandLineOf(args, 1, 2, "no URL given");
    if (line.Has("help")) return ExitSuccess;
    const TArgs& operands = line.Operands();
    TINetCookie cookie(nullptr);
    cookie.SetUrl(U16(operands[0]));
    if (operands.size() > 1) cookie.SetCookieName(U16(operands[1]));
    const UnicodeString data = cookie.CookieData();
    if (!data.empty()) Out(U8(data) + "\n");
    return ExitSuccess;
}

int Set(const TArgs& args) {
    const TCommandLine line = CommandLineOf(args, 3, 3, "give URL, NAME and DATA");
    if (line.Has("help")) return ExitSuccess;
    const TArgs& operands = line.Operands();
    TINetCookie cookie(nullptr);
    cookie.SetUrl(U16(operands[0]));
    cookie.SetCookieName(U16(operands[1]));
    cookie.SetCookieData(U16(operands[2]));
    return ExitSuccess;
}

int List(const TArgs& args) {
    const TCommandLine line = CommandLineOf(args, 0, 1, "");
    if (line.Has("help")) return ExitSuccess;
    const TArgs& operands = line.Operands();
    std::vector<Corvane::CookieStore::StoredCookie> cookies;
    const DWORD error = Corvane::CookieStore::List(operands.empty() ? std::string() : operands[0], &cookies);
    if (error == ERROR_NOT_SUPPORTED)
        throw ECommandError(ExitInternetError, "the platform does not list its cookie store");
    if (error != ERROR_SUCCESS) Corvane::CheckSuccess(error);
    for (const auto& c : cookies) {
        std::string flags;
        for (const auto& [set, name] : {std::pair{c.secure, "secure"}, std::pair{c.httpOnly, "httponly"},
                                        std::pair{c.hostOnly, "host-only"}})
            if (set) flags += (flags.empty() ? "" : ",") + std::string(name);
        // Tabs, line ends and other controls in a field become '?': the
        // columns stay columns and the terminal sees no escape sequence.
        const auto field = [](const std::string& text) {
            std::string out = Printable(text);
            std::replace(out.begin(), out.end(), '\n', '?');
            return out;
        };
        Out(field(c.domain) + "\t" + field(c.path) + "\t" + field(c.name) + "\t" + field(c.value) + "\t" +
            (c.persistent ? UtcText(c.expiry, true) : std::string("session")) + "\t" +
            (flags.empty() ? "-" : flags) + "\n");
    }
    return ExitSuccess;
}

}  // namespace

int RunCookie(const TArgs& args) {
    if (args.empty()) UsageError("no command given: get, set or list");
    const std::string& command = args[0];
    const TArgs rest(args.begin() + 1, args.end());
    if (command == "-h" || command == "--help") {
        Out(CookieHelp);
        return ExitSuccess;
    }
    if (command == "get") return Get(rest);
    if (command == "set") return Set(rest);
    if (command == "list") return List(rest);
    UsageError("unknown command " + Quoted(command) + "; choose get, set or list");
}

}  // namespace Tool
