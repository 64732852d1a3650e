// What the commands of the command-line tool share: the exit statuses, the
// error that ends a command, UTF-8 text in and out, and the entry point of
// each command.
#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include <Framework/Types.h>

namespace Framework {
class TComponent;
}

namespace Tool {

using Framework::UnicodeString;

/// The tool's exit statuses; `corvane --help` lists them.
enum TExitStatus : int {
    ExitSuccess = 0,
    ExitInternetError = 1,  ///< the Internet library reported an error (EINetError)
    ExitUsage = 2,          ///< the command line is wrong
    ExitInvalidInput = 3,   ///< a URL or form file the components cannot use
    ExitFileError = 4,      ///< a local file cannot be read or written
    ExitFailure = 5,        ///< any other failure
};

/// Ends a command: the tool prints "corvane <command>: <message>" on
/// standard error and exits with Status (usage errors add a pointer to the
/// command's help).
class ECommandError : public std::runtime_error {
public:
    ECommandError(TExitStatus status, const std::string& message)
        : std::runtime_error(message), FStatus(status) {}
    TExitStatus Status() const noexcept { return FStatus; }

private:
    TExitStatus FStatus;
};

/// Raises ECommandError with ExitUsage.
[[noreturn]] void UsageError(const std::string& message);

/// Command-line arguments after the command's name, in UTF-8.
using TArgs = std::vector<std::string>;

/// The commands; each returns its exit status or raises.
int RunGet(const TArgs& args);
int RunFtp(const TArgs& args);
int RunUrl(const TArgs& args);
int RunForm(const TArgs& args);
int RunTime(const TArgs& args);
int RunCookie(const TArgs& args);
int RunNet(const TArgs& args);
int RunDesign(const TArgs& args);

/// Reads a form file into a new root of the class the file names, which
/// the caller owns. A file that cannot be read raises ECommandError with
/// ExitFileError; a text that does not fit, with ExitInvalidInput and the
/// message "FILE:LINE:COLUMN: reason".
std::unique_ptr<Framework::TComponent> LoadFormFile(const std::string& path);
/// Reads a form file into Root (which the caller keeps), with the errors of
/// LoadFormFile; a null Root reads into a new root, as LoadFormFile does.
Framework::TComponent* ReadFormFile(const std::string& path, Framework::TComponent* root);

/// UTF-8 and the components' UTF-16 texts.
std::string U8(std::u16string_view text);
UnicodeString U16(std::string_view text);

/// "'text'" for messages.
std::string Quoted(std::string_view text);

/// Writes Text to standard output; a failed write (a full disk, a closed
/// pipe) raises ECommandError with ExitFileError.
void Out(std::string_view text);

/// "YYYY-MM-DD HH:MM", with ":SS" when `withSeconds`, in UTC for seconds
/// since 1970.
std::string UtcText(std::int64_t seconds, bool withSeconds);

/// Text from a server or a store made safe for a terminal: control
/// characters become '?', line ends stay.
std::string Printable(const std::string& text);
/// Writes Text to standard error (failures are ignored: there is nowhere
/// left to report them).
void Err(std::string_view text);

}  // namespace Tool
