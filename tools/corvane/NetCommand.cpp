// corvane net: the machine's connection as the connection component reads
// it, reachability checks, dial-up, and the process's offline mode.
#include <cstdint>
#include <memory>
#include <string>

#include <Corvane/Connection.h>
#include <Corvane/Http.h>
#include <Corvane/Session.h>
#include <Framework/Properties.h>
#include <Platform/InternetApi.h>

#include "CommandLine.h"
#include "Tool.h"

namespace Tool {

namespace {

using namespace Corvane;

const char* const NetHelp =
    "Usage: corvane net\n"
    "       corvane net check URL [--force]\n"
    "       corvane net dial NAME | --auto\n"
    "       corvane net hangup NUMBER | --auto\n"
    "       corvane net offline URL\n"
    "       corvane net online URL\n"
    "\n"
    "The machine's connection through the connection component.\n"
    "\n"
    "  (none)   prints 'Connected: yes' or 'no' and the State the system reports,\n"
    "           such as 'State: [csLan, csRasInstalled]'\n"
    "  check    prints 'reachable' or 'unreachable' for URL; with --force a real\n"
    "           connection to the URL's host and port is made. Exits with 1 when\n"
    "           unreachable.\n"
    "  dial     dials the named connection NAME and prints the number that\n"
    "           identifies it; with --auto the system's automatic dialing instead\n"
    "  hangup   hangs up the connection NUMBER that 'dial' printed (the component\n"
    "           keeps its number only within one process, so the tool hands the\n"
    "           number to the platform's InternetHangUp itself); with --auto what\n"
    "           automatic dialing brought up\n"
    "  offline  shows offline mode within this one process: puts the process\n"
    "           offline, sends a GET to URL (which fails with error 12163), asks\n"
    "           the system to go online for URL and sends the same GET again,\n"
    "           printing each step. Offline mode belongs to a process, so it ends\n"
    "           with the command.\n"
    "  online   asks the system to go online for URL and prints the state\n"
    "\n"
    "Options:\n"
    "  -f, --force     check: connect for real\n"
    "  -a, --auto      dial, hangup: the system's automatic dialing\n"
    "  -h, --help      show this help\n"
    "\n"
    "Exit status: 0 on success, 1 when the platform refuses (or, for check, the URL\n"
    "cannot be reached), 2 for a wrong command line.\n";

// A sub-command's command line: --help (the help is printed here), or from
// Least to Most operands.
TCommandLine CommandLineOf(const TArgs& args, std::size_t least, std::size_t most, const char* missing) {
    TCommandLine line({{'h', "help", false}, {'f', "force", false}, {'a', "auto", false}}, args);
    if (line.Has("help")) {
        Out(NetHelp);
        return line;
    }
    if (line.Operands().size() < least) UsageError(missing);
    if (line.Operands().size() > most) UsageError("unexpected argument " + Quoted(line.Operands()[most]));
    return line;
}

void PrintState(const TINetConnection& connection) {
    Out(std::string("Connected: ") + (connection.Connected() ? "yes" : "no") + "\n");
    Out("State: " + U8(Framework::EnumInfo<TConnectionStateValue>().SetToText(connection.State().ToMask())) +
        "\n");
}

// One GET of Url through a session and an HTTP component of its own;
// prints "GET URL: " and the status code, or the error that ended it.
bool PrintGet(const std::string& url) {
    TComponent root(nullptr);
    auto* session = new TINetSession(&root);
    auto* http = new TINetHttp(&root);
    http->SetSession(session);
    try {
        http->SetUrl(U16(url));
        http->Open();
        http->OpenRequest(u"GET", http->UrlPath().empty() ? UnicodeString(u"/") : http->UrlPath());
        http->SendRequest(UnicodeString(), AnsiString());
        Out("GET " + url + ": HTTP " + std::to_string(http->QueryInfoValue(heStatusCode)) + "\n");
        return true;
    } catch (const EINetError& e) {
        std::string message = e.what();
        while (!message.empty() && (message.back() == '\n' || message.back() == '\r')) message.pop_back();
        Out("GET " + url + ": " + message + "\n");
        return false;
    }
}

int CheckUrl(const TArgs& args) {
    const TCommandLine line = CommandLineOf(args, 1, 1, "no URL given");
    if (line.Has("help")) return ExitSuccess;
    TINetConnection connection(nullptr);
    const bool reachable = connection.CheckConnection(U16(line.Operands()[0]), line.Has("force"));
    Out(reachable ? "reachable\n" : "unreachable\n");
    return reachable ? ExitSuccess : ExitInternetError;
}

int Dial(const TArgs& args) {
    const TCommandLine line = CommandLineOf(args, 0, 1, "");
    if (line.Has("help")) return ExitSuccess;
    if (line.Has("auto") == !line.Operands().empty()) UsageError("give either NAME or --auto");
    TINetConnection connection(nullptr);
    connection.SetAutoDial(line.Has("auto"));
    if (!line.Has("auto")) connection.SetConnectionName(U16(line.Operands()[0]));
    connection.Dial();
    if (!line.Has("auto")) Out(std::to_string(connection.Connection()) + "\n");
    return ExitSuccess;
}

int HangUp(const TArgs& args) {
    const TCommandLine line = CommandLineOf(args, 0, 1, "");
    if (line.Has("help")) return ExitSuccess;
    if (line.Has("auto") == !line.Operands().empty()) UsageError("give either NUMBER or --auto");
    if (line.Has("auto")) {
        TINetConnection connection(nullptr);
        connection.SetAutoDial(true);
        connection.HangUp();
        return ExitSuccess;
    }
    const std::string& text = line.Operands()[0];
    if (text.empty() || text.size() > 10 || text.find_first_not_of("0123456789") != std::string::npos ||
        std::stoull(text) > UINT32_MAX)
        UsageError("invalid connection number " + Quoted(text));
    CheckSuccess(Platform().InternetHangUp(static_cast<DWORD_PTR>(std::stoull(text)), 0));
    return ExitSuccess;
}

int Offline(const TArgs& args) {
    const TCommandLine line = CommandLineOf(args, 1, 1, "no URL given");
    if (line.Has("help")) return ExitSuccess;
    const std::string& url = line.Operands()[0];
    TINetConnection connection(nullptr);
    // Offline mode is the process's: set on no handle at all.
    INTERNET_CONNECTED_INFO info{INTERNET_STATE_DISCONNECTED_BY_USER, ISO_FORCE_DISCONNECTED};
    Corvane::Check(
        Platform().InternetSetOptionW(nullptr, INTERNET_OPTION_CONNECTED_STATE, &info, sizeof info));
    Out("offline\n");
    PrintState(connection);
    PrintGet(url);
    connection.GoOnline(U16(url));
    Out("online\n");
    PrintState(connection);
    return PrintGet(url) ? ExitSuccess : ExitInternetError;
}

int Online(const TArgs& args) {
    const TCommandLine line = CommandLineOf(args, 1, 1, "no URL given");
    if (line.Has("help")) return ExitSuccess;
    TINetConnection connection(nullptr);
    connection.GoOnline(U16(line.Operands()[0]));
    PrintState(connection);
    return ExitSuccess;
}

}  // namespace

int RunNet(const TArgs& args) {
    if (args.empty()) {
        PrintState(TINetConnection(nullptr));
        return ExitSuccess;
    }
    const std::string& command = args[0];
    const TArgs rest(args.begin() + 1, args.end());
    if (command == "-h" || command == "--help") {
        Out(NetHelp);
        return ExitSuccess;
    }
    if (command == "check") return CheckUrl(rest);
    if (command == "dial") return Dial(rest);
    if (command == "hangup") return HangUp(rest);
    if (command == "offline") return Offline(rest);
    if (command == "online") return Online(rest);
    UsageError("unknown command " + Quoted(command) + "; choose check, dial, hangup, offline or online");
}

}  // namespace Tool
