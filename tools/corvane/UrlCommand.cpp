// corvane url crack|create|canon: the URL component on the command line.
#include <memory>
#include <string>

#include <Corvane/Url.h>
#include <Framework/Properties.h>
#include <Framework/SysUtils.h>

#include "CommandLine.h"
#include "Tool.h"

namespace Tool {

namespace {

using Corvane::TINetUrl;
using Corvane::TUrlFlags;

const char* const UrlHelp =
    "Usage: corvane url crack [--flags CHOICE] URL\n"
    "       corvane url create [--flags CHOICE] [--scheme SCHEME] [--host HOST] [--port PORT]\n"
    "                          [--user USER] [--password PASSWORD] [--path PATH] [--extra EXTRA]\n"
    "       corvane url canon [--flags CHOICE] URL\n"
    "\n"
    "Takes URLs apart, composes them and puts them in canonical form with the\n"
    "platform's URL routines, through the URL component.\n"
    "\n"
    "  crack   prints the parts of URL, one per line, and its canonical form\n"
    "  create  prints the URL composed from the parts given\n"
    "  canon   prints the canonical form of URL\n"
    "\n"
    "'corvane url COMMAND --help' describes each command.\n";

const char* const FlagsHelp =
    "  --flags CHOICE      the encoding choice (default flNone), one of\n"
    "                      flNone, flBrowserMode, flDecode, flDecodeWithoutReencoding,\n"
    "                      flEncodePercent, flEncodeSpacesOnly, flEscape, flNoEncode,\n"
    "                      flNoMeta; the 'fl' and the letter case may be left out.\n"
    "                      Cracking honours flDecode and flEscape, composing flEscape,\n"
    "                      the canonical form every choice but flEscape.\n"
    "  -h, --help          show this help\n";

const std::string CrackHelp = std::string(
                                  "Usage: corvane url crack [--flags CHOICE] URL\n"
                                  "\n"
                                  "Prints the parts of URL as the platform cracks them, one \"Name: value\"\n"
                                  "line each: Scheme, HostName, Port, UserName, Password, UrlPath,\n"
                                  "ExtraInfo, then CanonizedUrl, the canonical form of URL.\n"
                                  "\n"
                                  "Options:\n") +
                              FlagsHelp;

const std::string CreateHelp =
    std::string(
        "Usage: corvane url create [--flags CHOICE] [--scheme SCHEME] [--host HOST] [--port PORT]\n"
        "                          [--user USER] [--password PASSWORD] [--path PATH] [--extra EXTRA]\n"
        "\n"
        "Prints the URL the platform composes from the parts given. A part not given\n"
        "is empty; port 0 (the default) means none, so the scheme's own port applies.\n"
        "\n"
        "Options:\n"
        "  --scheme SCHEME     the scheme, such as http, https or ftp\n"
        "  --host HOST         the host name\n"
        "  --port PORT         the port, 0 to 65535\n"
        "  --user USER         the user name\n"
        "  --password PASSWORD the password\n"
        "  --path PATH         the path, such as /index.html\n"
        "  --extra EXTRA       what follows the path: query and fragment, such as ?q=1#top\n") +
    FlagsHelp;

const std::string CanonHelp = std::string(
                                  "Usage: corvane url canon [--flags CHOICE] URL\n"
                                  "\n"
                                  "Prints the canonical form of URL under the encoding choice.\n"
                                  "\n"
                                  "Options:\n") +
                              FlagsHelp;

// The encoding choice by its element name, with or without "fl", in any
// letter case.
TUrlFlags ParseFlags(const std::string& text) {
    const Framework::TEnumInfo& info = Framework::EnumInfo<TUrlFlags>();
    const UnicodeString name = U16(text);
    int ordinal = info.Ordinal(name);
    if (ordinal < 0) ordinal = info.Ordinal(u"fl" + name);
    if (ordinal < 0)
        UsageError("unknown encoding choice " + Quoted(text) + "; choose one of " + U8(info.NameList()));
    return static_cast<TUrlFlags>(ordinal);
}

// A port number from 0 to 65535, decimal.
Corvane::Word ParsePort(const std::string& text) {
    Framework::Integer value = 0;
    const bool digits = !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
    if (!digits || !Framework::TryStrToInt(U16(text), value) || value > 65535)
        UsageError("invalid port " + Quoted(text) + "; give a number from 0 to 65535");
    return static_cast<Corvane::Word>(value);
}

// "Name:" padded so that the values line up.
void PrintPart(const char* name, const std::string& value) {
    std::string line = std::string(name) + ":";
    if (!value.empty()) {
        line.resize(14, ' ');
        line += value;
    }
    Out(line + "\n");
}

// The one URL operand of crack and canon.
std::string TheUrl(const TCommandLine& line) {
    if (line.Operands().empty()) UsageError("no URL given");
    if (line.Operands().size() > 1) UsageError("unexpected argument " + Quoted(line.Operands()[1]));
    return line.Operands()[0];
}

int Crack(const TArgs& args) {
    const TCommandLine line({{'h', "help", false}, {0, "flags", true}}, args);
    if (line.Has("help")) {
        Out(CrackHelp);
        return ExitSuccess;
    }
    const std::string text = TheUrl(line);
    TINetUrl url(nullptr);
    if (line.Has("flags")) url.SetFlags(ParseFlags(line.Value("flags")));
    url.SetUrl(U16(text));
    // The component reports a failed crack by leaving every part empty.
    if (url.Scheme().empty() && url.HostName().empty() && url.Port() == 0 && url.UserName().empty() &&
        url.Password().empty() && url.UrlPath().empty() && url.ExtraInfo().empty())
        throw ECommandError(ExitInvalidInput, "the platform cannot crack the URL " + Quoted(text));
    PrintPart("Scheme", U8(url.Scheme()));
    PrintPart("HostName", U8(url.HostName()));
    PrintPart("Port", std::to_string(url.Port()));
    PrintPart("UserName", U8(url.UserName()));
    PrintPart("Password", U8(url.Password()));
    PrintPart("UrlPath", U8(url.UrlPath()));
    PrintPart("ExtraInfo", U8(url.ExtraInfo()));
    PrintPart("CanonizedUrl", U8(url.CanonizedUrl()));
    return ExitSuccess;
}

int Create(const TArgs& args) {
    const TCommandLine line({{'h', "help", false},
                             {0, "flags", true},
                             {0, "scheme", true},
                             {0, "host", true},
                             {0, "port", true},
                             {0, "user", true},
                             {0, "password", true},
                             {0, "path", true},
                             {0, "extra", true}},
                            args);
    if (line.Has("help")) {
        Out(CreateHelp);
        return ExitSuccess;
    }
    if (!line.Operands().empty()) UsageError("unexpected argument " + Quoted(line.Operands()[0]));
    const Corvane::Word port = line.Has("port") ? ParsePort(line.Value("port")) : 0;
    const TUrlFlags flags = line.Has("flags") ? ParseFlags(line.Value("flags")) : Corvane::flNone;

    // Every part is set, so none keeps the component's initial value
    // ("localhost", port 80); the last assignment composes the result.
    TINetUrl url(nullptr);
    url.SetScheme(U16(line.Value("scheme")));
    url.SetHostName(U16(line.Value("host")));
    url.SetPort(port);
    url.SetUserName(U16(line.Value("user")));
    url.SetPassword(U16(line.Value("password")));
    url.SetUrlPath(U16(line.Value("path")));
    url.SetExtraInfo(U16(line.Value("extra")));
    url.SetFlags(flags);
    if (url.Url().empty())
        throw ECommandError(ExitInvalidInput, "the platform cannot compose a URL from these parts");
    Out(U8(url.Url()) + "\n");
    return ExitSuccess;
}

int Canon(const TArgs& args) {
    const TCommandLine line({{'h', "help", false}, {0, "flags", true}}, args);
    if (line.Has("help")) {
        Out(CanonHelp);
        return ExitSuccess;
    }
    const std::string text = TheUrl(line);
    TINetUrl url(nullptr);
    if (line.Has("flags")) url.SetFlags(ParseFlags(line.Value("flags")));
    url.SetUrl(U16(text));
    const UnicodeString canonical = url.CanonizedUrl();
    if (canonical.empty())
        throw ECommandError(ExitInvalidInput,
                            "the platform cannot put the URL " + Quoted(text) + " in canonical form");
    Out(U8(canonical) + "\n");
    return ExitSuccess;
}

}  // namespace

int RunUrl(const TArgs& args) {
    if (args.empty()) UsageError("no command given: crack, create or canon");
    const std::string& command = args[0];
    const TArgs rest(args.begin() + 1, args.end());
    if (command == "-h" || command == "--help") {
        Out(UrlHelp);
        return ExitSuccess;
    }
    if (command == "crack") return Crack(rest);
    if (command == "create") return Create(rest);
    if (command == "canon") return Canon(rest);
    UsageError("unknown command " + Quoted(command) + "; choose crack, create or canon");
}

}  // namespace Tool
