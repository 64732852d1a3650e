// corvane ftp: one FTP operation through a session and an FTP component:
// list, fetch, store, rename and remove files, directories, raw commands.
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>

#include <Corvane/Errors.h>
#include <Corvane/Ftp.h>
#include <Corvane/Session.h>
#include <Corvane/Url.h>
#include <Framework/Classes.h>
#include <Framework/SysUtils.h>
#include <Platform/WinInet.h>

#include "CommandLine.h"
#include "Files.h"
#include "Progress.h"
#include "Tool.h"

namespace Tool {

namespace {

using namespace Corvane;

const char* const FtpHelp =
    "Usage: corvane ftp [OPTIONS] URL COMMAND [ARGUMENTS]\n"
    "\n"
    "Works on an FTP server through Corvane's session and FTP components.\n"
    "URL is ftp://[USER[:PASSWORD]@]HOST[:PORT]/[PATH] (anonymous without USER;\n"
    "%XX escapes are decoded). PATH, relative to the login directory, is the\n"
    "remote file of get, put, rm and size when the command is given none (unless\n"
    "it ends in '/'), and otherwise the directory the command starts in.\n"
    "\n"
    "Commands:\n"
    "  ls [PATTERN]             list the directory (or the entries PATTERN matches):\n"
    "                           attributes, size, time of last change (UTC), name\n"
    "  get [REMOTE [LOCAL]]     fetch REMOTE into LOCAL (default: REMOTE's name in\n"
    "                           the current directory; '-': standard output); LOCAL\n"
    "                           is replaced only once the whole file has arrived\n"
    "  put LOCAL [REMOTE]       store LOCAL as REMOTE (default: LOCAL's name)\n"
    "  mkdir DIRECTORY          create a directory\n"
    "  rmdir DIRECTORY          remove an empty directory\n"
    "  rm [FILE]                delete a file\n"
    "  mv OLD NEW               rename a file or directory\n"
    "  pwd                      print the current directory\n"
    "  size [FILE]              print the size of a file in bytes\n"
    "  quote RAW...             send a raw command and print the server's reply;\n"
    "                           for LIST, NLST, MLSD, RETR (or with --data) print the\n"
    "                           data it sends instead\n"
    "\n"
    "Options:\n"
    "      --passive            passive mode: the client opens the data connections\n"
    "      --ascii              transfer files as text (default: binary)\n"
    "      --data               quote: the command sends data; print it\n"
    "      --progress           show the progress bar even when standard error is not\n"
    "                           a terminal\n"
    "  -h, --help               show this help\n"
    "\n"
    "The progress bar is drawn on standard error for get and put when it is a\n"
    "terminal and the file does not go to standard output.\n"
    "\n"
    "Exit status: 0 on success, 1 for an Internet error (the server refused),\n"
    "2 for a wrong command line, 3 for a URL that cannot be used, 4 when a local\n"
    "file cannot be read or written.\n";

// What the command line asks for.
struct TFtpOptions {
    bool Help = false;
    std::string Url;
    std::string Command;
    TArgs Operands;
    bool Passive = false;
    bool Ascii = false;
    bool Data = false;
    bool ForceProgress = false;
};

// How many operands each command takes, at least and at most.
struct TCommandShape {
    const char* Name;
    std::size_t Min, Max;
};
constexpr TCommandShape kCommands[] = {
    {"ls", 0, 1}, {"get", 0, 2}, {"put", 1, 2}, {"mkdir", 1, 1}, {"rmdir", 1, 1},
    {"rm", 0, 1}, {"mv", 2, 2},  {"pwd", 0, 0}, {"size", 0, 1},  {"quote", 1, SIZE_MAX},
};

TFtpOptions ParseOptions(const TArgs& args) {
    const TCommandLine line({{'h', "help", false},
                             {0, "passive", false},
                             {0, "ascii", false},
                             {0, "data", false},
                             {0, "progress", false}},
                            args);
    TFtpOptions o;
    if (line.Has("help")) {
        o.Help = true;
        return o;
    }
    const TArgs& operands = line.Operands();
    if (operands.empty()) UsageError("no URL given");
    if (operands.size() < 2) UsageError("no command given");
    o.Url = operands[0];
    o.Command = operands[1];
    o.Operands.assign(operands.begin() + 2, operands.end());
    const TCommandShape* shape = nullptr;
    for (const TCommandShape& candidate : kCommands)
        if (o.Command == candidate.Name) shape = &candidate;
    if (shape == nullptr) UsageError("unknown command " + Quoted(o.Command));
    if (o.Operands.size() < shape->Min) UsageError("'" + o.Command + "' needs more arguments");
    if (o.Operands.size() > shape->Max) UsageError("unexpected argument " + Quoted(o.Operands[shape->Max]));
    o.Passive = line.Has("passive");
    o.Ascii = line.Has("ascii");
    o.Data = line.Has("data");
    if (o.Data && o.Command != "quote") UsageError("option '--data' is for 'quote' only");
    o.ForceProgress = line.Has("progress");
    return o;
}

// %XX escapes decoded, as bytes of UTF-8; an incomplete escape stays as it is.
// A control character (%00, %0D, %0A, ...) is refused: it would cut a name
// short or put a second command on the control connection.
UnicodeString Decoded(const UnicodeString& text) {
    const std::string bytes = U8(text);
    std::string out;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == '%' && i + 2 < bytes.size() &&
            std::isxdigit(static_cast<unsigned char>(bytes[i + 1])) &&
            std::isxdigit(static_cast<unsigned char>(bytes[i + 2]))) {
            const int value = std::stoi(bytes.substr(i + 1, 2), nullptr, 16);
            if (value < 0x20 || value == 0x7F)
                throw ECommandError(ExitInvalidInput, "a control character in the URL: " + Quoted(bytes));
            out += static_cast<char>(value);
            i += 2;
        } else {
            out += bytes[i];
        }
    }
    return U16(out);
}

// The server, credentials and path of an ftp:// URL.
struct TFtpUrl {
    UnicodeString Host, User, Password, Path;
    Word Port = 21;
};

TFtpUrl CrackFtpUrl(const std::string& text) {
    TINetUrl url(nullptr);
    url.SetUrl(U16(text));
    if (U8(Framework::LowerCase(url.Scheme())) != "ftp")
        throw ECommandError(ExitInvalidInput, "not an FTP URL: " + Quoted(text));
    if (url.HostName().empty())
        throw ECommandError(ExitInvalidInput, "no host name in the URL " + Quoted(text));
    if (!url.ExtraInfo().empty())
        throw ECommandError(ExitInvalidInput, "an FTP URL has no query or fragment: " + Quoted(text));
    TFtpUrl result;
    result.Host = url.HostName();
    result.Port = url.Port() != 0 ? url.Port() : Word{INTERNET_DEFAULT_FTP_PORT};
    result.User = Decoded(url.UserName());
    result.Password = Decoded(url.Password());
    result.Path = Decoded(url.UrlPath());
    // The path after the host's '/' is relative to the login directory.
    if (!result.Path.empty() && result.Path.front() == u'/') result.Path.erase(0, 1);
    return result;
}

// The last part of a path, what a file is called locally; empty when that
// part could name anything but a file in the current directory ("", ".",
// "..", a drive or a stream after ':'). Both '/' and a backslash separate, as a
// local name on Windows would read them.
std::string BaseName(const std::string& path) {
    const std::size_t slash = path.find_last_of("/\\");
    const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    if (base == "." || base == ".." || base.find(':') != std::string::npos) return std::string();
    return base;
}

// A FILETIME (100 ns steps since 1601-01-01 UTC) as "YYYY-MM-DD HH:MM";
// blanks for none.
std::string FormatFileTime(const FILETIME& time) {
    const std::uint64_t ticks = (std::uint64_t{time.dwHighDateTime} << 32) | time.dwLowDateTime;
    if (ticks == 0) return std::string(16, ' ');
    return UtcText(static_cast<std::int64_t>(ticks / 10000000) - 11644473600LL, false);
}

// "drhsa": directory, read-only, hidden, system, archive; '-' where not set.
std::string FormatAttributes(DWORD attributes) {
    const std::pair<DWORD, char> letters[] = {{FILE_ATTRIBUTE_DIRECTORY, 'd'},
                                              {FILE_ATTRIBUTE_READONLY, 'r'},
                                              {FILE_ATTRIBUTE_HIDDEN, 'h'},
                                              {FILE_ATTRIBUTE_SYSTEM, 's'},
                                              {FILE_ATTRIBUTE_ARCHIVE, 'a'}};
    std::string text;
    for (const auto& [bit, letter] : letters) text += (attributes & bit) != 0 ? letter : '-';
    return text;
}

std::string ListingLine(const WIN32_FIND_DATAW& entry) {
    const std::uint64_t size = (std::uint64_t{entry.nFileSizeHigh} << 32) | entry.nFileSizeLow;
    std::string sizeText = std::to_string(size);
    if (sizeText.size() < 12) sizeText.insert(0, 12 - sizeText.size(), ' ');
    return FormatAttributes(entry.dwFileAttributes) + " " + sizeText + "  " +
           FormatFileTime(entry.ftLastWriteTime) + "  " +
           Printable(U8(reinterpret_cast<const char16_t*>(entry.cFileName))) + "\n";
}

void List(TINetFtp& ftp, const std::string& pattern) {
    WIN32_FIND_DATAW entry{};
    if (!ftp.FindFirstFile(U16(pattern), entry)) return;
    do {
        Out(ListingLine(entry));
    } while (ftp.FindNextFile(entry));
    ftp.CompleteFindFile();
}

bool ShowProgress(const TFtpOptions& o, bool toStdout) {
    return o.ForceProgress || (StderrIsTerminal() && !toStdout);
}

// Reads the open file (or a command's data) to its end in pieces, each
// written at once, so memory does not grow with the file.
template <class Sink>
std::uint64_t Drain(TINetFtp& ftp, Sink&& sink, TProgressBar& bar) {
    std::uint64_t done = 0;
    bar.Update(0);
    for (;;) {
        const TBytes piece = ftp.ReadFileBytes(256 * 1024);
        if (piece.empty()) break;
        sink(piece.data(), piece.size());
        done += piece.size();
        bar.Update(done);
    }
    bar.Finish(done);
    return done;
}

void Fetch(TINetFtp& ftp, const TFtpOptions& o, const std::string& remote, std::string local) {
    if (local.empty()) local = BaseName(remote);
    if (local.empty()) UsageError("no local file name for " + Quoted(remote) + "; give one");
    const bool toStdout = local == "-";
    ftp.OpenFile(U16(remote), false);
    const Framework::Int64 size = ftp.GetFileSize();
    TProgressBar bar(
        ShowProgress(o, toStdout),
        size >= 0 ? std::optional<std::uint64_t>(static_cast<std::uint64_t>(size)) : std::nullopt);
    std::unique_ptr<TOutputFile> file;
    if (!toStdout) {
        CheckNotDirectory(local);
        file = std::make_unique<TOutputFile>(local);
    }
    Drain(
        ftp,
        [&](const void* data, std::size_t count) {
            if (file)
                file->Write(data, count);
            else
                Out(std::string_view(static_cast<const char*>(data), count));
        },
        bar);
    // Closing ends the transfer; a server that reports a failure here has
    // not sent the whole file, which is then not kept.
    ftp.CloseFile();
    if (file) file->Commit();
}

void Store(TINetFtp& ftp, const TFtpOptions& o, const std::string& local, std::string remote) {
    if (remote.empty()) remote = BaseName(local);
    CheckNotDirectory(local);
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> in(std::fopen(local.c_str(), "rb"), &std::fclose);
    if (!in) throw ECommandError(ExitFileError, "cannot read " + Quoted(local) + ": " + std::strerror(errno));
    std::optional<std::uint64_t> total;
    if (std::fseek(in.get(), 0, SEEK_END) == 0) {
        const long end = std::ftell(in.get());
        if (end >= 0) total = static_cast<std::uint64_t>(end);
        std::fseek(in.get(), 0, SEEK_SET);
    }
    ftp.OpenFile(U16(remote), true);
    TProgressBar bar(ShowProgress(o, false), total);
    TBytes buffer(256 * 1024);
    std::uint64_t done = 0;
    bar.Update(0);
    for (;;) {
        const std::size_t count = std::fread(buffer.data(), 1, buffer.size(), in.get());
        if (count == 0) break;
        // A short write is continued with the rest; a write of nothing is
        // a transfer that stopped.
        std::size_t sent = 0;
        while (sent < count) {
            const Cardinal written =
                ftp.WriteFile(TBytes(buffer.begin() + static_cast<std::ptrdiff_t>(sent),
                                     buffer.begin() + static_cast<std::ptrdiff_t>(count)));
            if (written == 0) throw ECommandError(ExitInternetError, "the server took no more data");
            sent += written;
        }
        done += count;
        bar.Update(done);
    }
    if (std::ferror(in.get())) throw ECommandError(ExitFileError, "cannot read " + Quoted(local));
    ftp.CloseFile();
    bar.Finish(done);
}

// The server's reply to the last command, as lines ending in LF.
std::string LastReply() {
    std::string text;
    for (char c : U8(GetInternetLastResponseInfo()))
        if (c != '\r') text += c;
    if (!text.empty() && text.back() != '\n') text += '\n';
    return Printable(text);
}

void Quote(TINetFtp& ftp, const TFtpOptions& o) {
    std::string command;
    for (const std::string& part : o.Operands) command += (command.empty() ? "" : " ") + part;
    if (command.find_first_of("\r\n") != std::string::npos) UsageError("the command holds a line break");
    const std::string verb = U8(Framework::UpperCase(U16(command.substr(0, command.find(' ')))));
    const bool data = o.Data || verb == "LIST" || verb == "NLST" || verb == "MLSD" || verb == "RETR";
    ftp.SendCommand(U16(command), data);
    if (!data) {
        Out(LastReply());
        return;
    }
    TProgressBar bar(false, std::nullopt);
    Drain(
        ftp,
        [](const void* bytes, std::size_t count) {
            Out(std::string_view(static_cast<const char*>(bytes), count));
        },
        bar);
    ftp.CloseFile();
}

// The operand at Index, or empty.
std::string Operand(const TFtpOptions& o, std::size_t index) {
    return index < o.Operands.size() ? o.Operands[index] : std::string();
}

int Ftp(const TFtpOptions& o) {
    const TFtpUrl url = CrackFtpUrl(o.Url);
    const std::string path = U8(url.Path);
    // The URL's path names the remote file of a command given none (get and
    // put: given only the local file), unless it ends in '/'; otherwise it is
    // where the command starts.
    const bool pathIsFile =
        !path.empty() && path.back() != '/' &&
        (((o.Command == "rm" || o.Command == "size") && o.Operands.empty()) ||
         (o.Command == "get" && o.Operands.size() <= 1) || (o.Command == "put" && o.Operands.size() == 1));
    if (!pathIsFile && o.Operands.empty() && (o.Command == "get" || o.Command == "rm" || o.Command == "size"))
        UsageError("'" + o.Command + "' needs a remote file, in the URL or as an argument");

    TComponent root(nullptr);
    auto* session = new TINetSession(&root);
    auto* ftp = new TINetFtp(&root);
    ftp->SetSession(session);
    ftp->SetServerName(url.Host);
    ftp->SetPort(url.Port);
    ftp->SetUserName(url.User);
    ftp->SetPassword(url.Password);
    if (o.Passive) ftp->SetFlags({flPassive});
    ftp->SetTransferType(o.Ascii ? ttASCII : ttBinary);
    ftp->Open();
    if (!path.empty() && !pathIsFile) ftp->SetCurrentDirectory(url.Path);

    const std::string file = pathIsFile ? path : Operand(o, 0);
    if (o.Command == "ls")
        List(*ftp, Operand(o, 0));
    else if (o.Command == "get")
        Fetch(*ftp, o, file, Operand(o, pathIsFile ? 0 : 1));
    else if (o.Command == "put")
        Store(*ftp, o, Operand(o, 0), pathIsFile ? path : Operand(o, 1));
    else if (o.Command == "mkdir")
        ftp->CreateDirectory(U16(Operand(o, 0)));
    else if (o.Command == "rmdir")
        ftp->RemoveDirectory(U16(Operand(o, 0)));
    else if (o.Command == "rm")
        ftp->DeleteFile(U16(file));
    else if (o.Command == "mv")
        ftp->RenameFile(U16(Operand(o, 0)), U16(Operand(o, 1)));
    else if (o.Command == "pwd")
        Out(U8(ftp->GetCurrentDirectory()) + "\n");
    else if (o.Command == "size") {
        ftp->OpenFile(U16(file), false);
        const Framework::Int64 size = ftp->GetFileSize();
        ftp->CloseFile();
        if (size < 0)
            throw ECommandError(ExitInternetError, "the server does not report the size of " + Quoted(file));
        Out(std::to_string(size) + "\n");
    } else if (o.Command == "quote")
        Quote(*ftp, o);
    ftp->Close();
    return ExitSuccess;
}

}  // namespace

int RunFtp(const TArgs& args) {
    const TFtpOptions options = ParseOptions(args);
    if (options.Help) {
        Out(FtpHelp);
        return ExitSuccess;
    }
    return Ftp(options);
}

}  // namespace Tool
