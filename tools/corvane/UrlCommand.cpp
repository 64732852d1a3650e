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

const std::string CrackHelp = std::string("Usage: corvane url crack [--flags CHOICE] URL\n"
                                          "\n"
                                          "Prints the parts of URL as the platform cracks them, one \"Name: value\"\n"
                                          "line each: Scheme, HostName, Port, UserName, Password, UrlPath,\n"
                                          "ExtraInfo, then CanonizedUrl, the canonical form of URL.\n"
                                          "\n"
                                          "Options:\n") +
                              FlagsHelp;

const std::string CreateHelp =
    std::string("Usage: corvane url create [--flags CHOICE] [--scheme SCHEME] [--host HOST] [--port PORT]\n"
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

const std::string CanonHelp = std::string("Usage: corvane url canon [--flags CHOICE] URL\n"
                                          "\n"
                                          "Prints the canonical form of URL under the encoding choice.\n"
                                          "\n"
                                          "Options:\n") +
                              FlagsHelp;

// The encoding choice by its element name, with or without "fl", in any
// letter case.
TUrlFlags ParseFlags(const std::string& Text)
{
    const Framework::TEnumInfo& Info = Framework::EnumInfo<TUrlFlags>();
    const UnicodeString Name = U16(Text);
    int Ordinal = Info.Ordinal(Name);
    if (Ordinal < 0) Ordinal = Info.Ordinal(u"fl" + Name);
    if (Ordinal < 0) UsageError("unknown encoding choice " + Quoted(Text) + "; choose one of " + U8(Info.NameList()));
    return static_cast<TUrlFlags>(Ordinal);
}

// A port number from 0 to 65535, decimal.
Corvane::Word ParsePort(const std::string& Text)
{
    Framework::Integer Value = 0;
    const bool Digits = !Text.empty() && Text.find_first_not_of("0123456789") == std::string::npos;
    if (!Digits || !Framework::TryStrToInt(U16(Text), Value) || Value > 65535)
        UsageError("invalid port " + Quoted(Text) + "; give a number from 0 to 65535");
    return static_cast<Corvane::Word>(Value);
}

// "Name:" padded so that the values line up.
void PrintPart(const char* Name, const std::string& Value)
{
    std::string Line = std::string(Name) + ":";
    if (!Value.empty()) {
        Line.resize(14, ' ');
        Line += Value;
    }
    Out(Line + "\n");
}

// The one URL operand of crack and canon.
std::string TheUrl(const TCommandLine& Line)
{
    if (Line.Operands().empty()) UsageError("no URL given");
    if (Line.Operands().size() > 1) UsageError("unexpected argument " + Quoted(Line.Operands()[1]));
    return Line.Operands()[0];
}

int Crack(const TArgs& Args)
{
    const TCommandLine Line({{'h', "help", false}, {0, "flags", true}}, Args);
    if (Line.Has("help")) {
        Out(CrackHelp);
        return ExitSuccess;
    }
    const std::string Text = TheUrl(Line);
    TINetUrl Url(nullptr);
    if (Line.Has("flags")) Url.SetFlags(ParseFlags(Line.Value("flags")));
    Url.SetUrl(U16(Text));
    // The component reports a failed crack by leaving every part empty.
    if (Url.Scheme().empty() && Url.HostName().empty() && Url.Port() == 0 && Url.UserName().empty() &&
        Url.Password().empty() && Url.UrlPath().empty() && Url.ExtraInfo().empty())
        throw ECommandError(ExitInvalidInput, "the platform cannot crack the URL " + Quoted(Text));
    PrintPart("Scheme", U8(Url.Scheme()));
    PrintPart("HostName", U8(Url.HostName()));
    PrintPart("Port", std::to_string(Url.Port()));
    PrintPart("UserName", U8(Url.UserName()));
    PrintPart("Password", U8(Url.Password()));
    PrintPart("UrlPath", U8(Url.UrlPath()));
    PrintPart("ExtraInfo", U8(Url.ExtraInfo()));
    PrintPart("CanonizedUrl", U8(Url.CanonizedUrl()));
    return ExitSuccess;
}

int Create(const TArgs& Args)
{
    const TCommandLine Line({{'h', "help", false},
                             {0, "flags", true},
                             {0, "scheme", true},
                             {0, "host", true},
                             {0, "port", true},
                             {0, "user", true},
                             {0, "password", true},
                             {0, "path", true},
                             {0, "extra", true}},
                            Args);
    if (Line.Has("help")) {
        Out(CreateHelp);
        return ExitSuccess;
    }
    if (!Line.Operands().empty()) UsageError("unexpected argument " + Quoted(Line.Operands()[0]));
    const Corvane::Word Port = Line.Has("port") ? ParsePort(Line.Value("port")) : 0;
    const TUrlFlags Flags = Line.Has("flags") ? ParseFlags(Line.Value("flags")) : Corvane::flNone;

    // Every part is set, so none keeps the component's initial value
    // ("localhost", port 80); the last assignment composes the result.
    TINetUrl Url(nullptr);
    Url.SetScheme(U16(Line.Value("scheme")));
    Url.SetHostName(U16(Line.Value("host")));
    Url.SetPort(Port);
    Url.SetUserName(U16(Line.Value("user")));
    Url.SetPassword(U16(Line.Value("password")));
    Url.SetUrlPath(U16(Line.Value("path")));
    Url.SetExtraInfo(U16(Line.Value("extra")));
    Url.SetFlags(Flags);
    if (Url.Url().empty()) throw ECommandError(ExitInvalidInput, "the platform cannot compose a URL from these parts");
    Out(U8(Url.Url()) + "\n");
    return ExitSuccess;
}

int Canon(const TArgs& Args)
{
    const TCommandLine Line({{'h', "help", false}, {0, "flags", true}}, Args);
    if (Line.Has("help")) {
        Out(CanonHelp);
        return ExitSuccess;
    }
    const std::string Text = TheUrl(Line);
    TINetUrl Url(nullptr);
    if (Line.Has("flags")) Url.SetFlags(ParseFlags(Line.Value("flags")));
    Url.SetUrl(U16(Text));
    const UnicodeString Canonical = Url.CanonizedUrl();
    if (Canonical.empty())
        throw ECommandError(ExitInvalidInput, "the platform cannot put the URL " + Quoted(Text) + " in canonical form");
    Out(U8(Canonical) + "\n");
    return ExitSuccess;
}

}  // namespace

int RunUrl(const TArgs& Args)
{
    if (Args.empty()) UsageError("no command given: crack, create or canon");
    const std::string& Command = Args[0];
    const TArgs Rest(Args.begin() + 1, Args.end());
    if (Command == "-h" || Command == "--help") {
        Out(UrlHelp);
        return ExitSuccess;
    }
    if (Command == "crack") return Crack(Rest);
    if (Command == "create") return Create(Rest);
    if (Command == "canon") return Canon(Rest);
    UsageError("unknown command " + Quoted(Command) + "; choose crack, create or canon");
}

}  // namespace Tool
