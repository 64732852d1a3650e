#include "Files.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

#include <Framework/SysUtils.h>

#include "Tool.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#else
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>
#endif

namespace Tool {

namespace {

// A path from UTF-8 text, so that names outside ASCII reach the file system
// intact on every platform.
std::filesystem::path PathOf(const std::string& Utf8)
{
    return std::filesystem::path(std::u8string(Utf8.begin(), Utf8.end()));
}

std::string ErrnoText(int ErrorNumber)
{
    return U8(Framework::ErrnoMessage(ErrorNumber));
}

// Opens a new file for writing; fails when the name already exists.
std::FILE* CreateExclusive(const std::filesystem::path& Path)
{
#ifdef _WIN32
    const int Fd = _wopen(Path.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
    if (Fd < 0) return nullptr;
    std::FILE* File = _fdopen(Fd, "wb");
    if (File == nullptr) _close(Fd);
#else
    const int Fd = ::open(Path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (Fd < 0) return nullptr;
    std::FILE* File = ::fdopen(Fd, "wb");
    if (File == nullptr) ::close(Fd);
#endif
    return File;
}

}  // namespace

bool StderrIsTerminal()
{
#ifdef _WIN32
    return _isatty(_fileno(stderr)) != 0;
#else
    return ::isatty(STDERR_FILENO) == 1;
#endif
}

bool StdoutIsTerminal()
{
#ifdef _WIN32
    return _isatty(_fileno(stdout)) != 0;
#else
    return ::isatty(STDOUT_FILENO) == 1;
#endif
}

// The terminal's own width when it reports one, else $COLUMNS, else 80.
int TerminalWidth()
{
#ifndef _WIN32
    winsize Size{};
    if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &Size) == 0 && Size.ws_col > 0) return Size.ws_col;
#endif
    if (const char* Columns = std::getenv("COLUMNS")) {
        const int Width = std::atoi(Columns);
        if (Width > 0) return Width;
    }
    return 80;
}

void CheckNotDirectory(const std::string& Path)
{
    std::error_code Ignored;
    if (std::filesystem::is_directory(PathOf(Path), Ignored))
        throw ECommandError(ExitFileError, "cannot read " + Quoted(Path) + ": it is a directory");
}

std::string ReadFileBytes(const std::string& Path)
{
    CheckNotDirectory(Path);
    std::ifstream In(PathOf(Path), std::ios::binary);
    if (!In) throw ECommandError(ExitFileError, "cannot read " + Quoted(Path) + ": " + ErrnoText(errno));
    std::string Bytes((std::istreambuf_iterator<char>(In)), std::istreambuf_iterator<char>());
    if (In.bad()) throw ECommandError(ExitFileError, "cannot read " + Quoted(Path) + ": " + ErrnoText(errno));
    return Bytes;
}

// Tries a few random suffixes so that two tools writing the same name at
// once do not share a temporary file.
TOutputFile::TOutputFile(std::string Path) : FPath(std::move(Path))
{
    std::random_device Random;
    for (int Attempt = 0; Attempt < 16 && FFile == nullptr; ++Attempt) {
        char Suffix[16];
        std::snprintf(Suffix, sizeof Suffix, ".part-%08x", static_cast<unsigned>(Random()));
        FTempPath = FPath + Suffix;
        FFile = CreateExclusive(PathOf(FTempPath));
        if (FFile == nullptr && errno != EEXIST) break;
    }
    if (FFile == nullptr) {
        const int ErrorNumber = errno;
        FTempPath.clear();
        throw ECommandError(ExitFileError, "cannot create " + Quoted(FPath) + ": " + ErrnoText(ErrorNumber));
    }
}

TOutputFile::~TOutputFile()
{
    if (FFile != nullptr) std::fclose(FFile);
    if (!FTempPath.empty()) {
        std::error_code Ignored;
        std::filesystem::remove(PathOf(FTempPath), Ignored);
    }
}

void TOutputFile::Write(const void* Data, std::size_t Size)
{
    if (Size != 0 && std::fwrite(Data, 1, Size, FFile) != Size) Fail("write", errno);
}

void TOutputFile::Commit()
{
    const bool Flushed = std::fflush(FFile) == 0;
    const int FlushError = errno;
    const bool Closed = std::fclose(FFile) == 0;
    const int CloseError = errno;
    FFile = nullptr;
    if (!Flushed) Fail("write", FlushError);
    if (!Closed) Fail("write", CloseError);
    std::error_code Error;
    std::filesystem::rename(PathOf(FTempPath), PathOf(FPath), Error);
    if (Error) throw ECommandError(ExitFileError, "cannot write " + Quoted(FPath) + ": " + Error.message());
    FTempPath.clear();
}

void TOutputFile::Fail(const std::string& What, int ErrorNumber)
{
    throw ECommandError(ExitFileError, "cannot " + What + " " + Quoted(FPath) + ": " + ErrnoText(ErrorNumber));
}

}  // namespace Tool
