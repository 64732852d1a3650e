// corvane: HTTP requests, URLs and form files from the command line,
// through Corvane's components.
#include <cstdio>
#include <string>

#include <Corvane/Errors.h>
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
    "HTTP requests, URLs and form files through Corvane's components.\n"
    "\n"
    "Commands:\n"
    "  get URL                 send an HTTP or HTTPS request and write the response body\n"
    "  url crack URL           show the parts of a URL\n"
    "  url create OPTIONS      compose a URL from its parts\n"
    "  url canon URL           show the canonical form of a URL\n"
    "  form check FILE         read a form file and report its errors\n"
    "  form dump FILE          print the components of a form file and their properties\n"
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
std::string MessageText(const std::string& Message)
{
    std::string Text;
    for (char C : Message)
        if (C != '\r') Text += C;
    while (!Text.empty() && (Text.back() == '\n' || Text.back() == ' ')) Text.pop_back();
    return Text;
}

// Runs one command and turns whatever ends it into a message on standard
// error and an exit status.
int RunCommand(const std::string& Name, int (*Command)(const TArgs&), const TArgs& Args)
{
    const std::string Prefix = "corvane " + Name + ": ";
    try {
        return Command(Args);
    } catch (const ECommandError& E) {
        Err(Prefix + MessageText(E.what()) + "\n");
        if (E.Status() == ExitUsage) Err("Try 'corvane " + Name + " --help' for more information.\n");
        return E.Status();
    } catch (const Corvane::EINetError& E) {
        Err(Prefix + MessageText(E.what()) + "\n");
        return ExitInternetError;
    } catch (const Framework::EStreamError& E) {
        Err(Prefix + MessageText(E.what()) + "\n");
        return ExitFileError;
    } catch (const Framework::EAbort&) {
        Err(Prefix + "aborted\n");
        return ExitFailure;
    } catch (const std::exception& E) {
        Err(Prefix + MessageText(E.what()) + "\n");
        return ExitFailure;
    }
}

}  // namespace

void UsageError(const std::string& Message)
{
    throw ECommandError(ExitUsage, Message);
}

std::string U8(std::u16string_view Text)
{
    return Framework::Utf16ToUtf8(Text);
}

UnicodeString U16(std::string_view Text)
{
    return Framework::Utf8ToUtf16(Text);
}

std::string Quoted(std::string_view Text)
{
    return "'" + std::string(Text) + "'";
}

void Out(std::string_view Text)
{
    if (Text.empty()) return;
    if (std::fwrite(Text.data(), 1, Text.size(), stdout) != Text.size() || std::fflush(stdout) != 0)
        throw ECommandError(ExitFileError, "cannot write to standard output");
}

void Err(std::string_view Text)
{
    std::fwrite(Text.data(), 1, Text.size(), stderr);
    std::fflush(stderr);
}

// Picks the command named by the first argument.
int Main(const TArgs& Args)
{
    if (Args.empty()) {
        Err(MainHelp);
        return ExitUsage;
    }
    const std::string& Command = Args[0];
    const TArgs Rest(Args.begin() + 1, Args.end());
    if (Command == "-h" || Command == "--help" || Command == "help") {
        if (Command == "help" && !Rest.empty()) return Main({Rest[0], "--help"});
        Out(MainHelp);
        return ExitSuccess;
    }
    if (Command == "--version") {
        Out("corvane " CORVANE_VERSION "\n");
        return ExitSuccess;
    }
    if (Command == "get") return RunCommand(Command, RunGet, Rest);
    if (Command == "url") return RunCommand(Command, RunUrl, Rest);
    if (Command == "form") return RunCommand(Command, RunForm, Rest);
    Err("corvane: unknown command " + Quoted(Command) + "\nTry 'corvane --help' for the list of commands.\n");
    return ExitUsage;
}

}  // namespace Tool

#ifdef _WIN32
// The command line as UTF-16, whatever the console's code page; output and
// messages are written as UTF-8 bytes, unchanged (no CR added before LF).
int wmain(int argc, wchar_t** argv)
{
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    Tool::TArgs Args;
    for (int I = 1; I < argc; ++I)
        Args.push_back(Tool::U8(std::u16string_view(reinterpret_cast<const char16_t*>(argv[I]))));
    return Tool::Main(Args);
}
#else
int main(int argc, char** argv)
{
    Tool::TArgs Args(argv + 1, argv + argc);
    return Tool::Main(Args);
}
#endif
