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
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>
#endif

namespace Tool {

namespace {

// A path from UTF-8 text, so that names outside ASCII reach the file system
// intact on every platform.
std::filesystem::path PathOf(const std::string& utf8) {
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

std::string ErrnoText(int errorNumber) {
    return U8(Framework::ErrnoMessage(errorNumber));
}

// Opens a new file for writing; fails when the name already exists.
std::FILE* CreateExclusive(const std::filesystem::path& path) {
#ifdef _WIN32
    const int fd = _wopen(path.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
    if (fd < 0) return nullptr;
    std::FILE* file = _fdopen(fd, "wb");
    if (file == nullptr) _close(fd);
#else
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) return nullptr;
    std::FILE* file = ::fdopen(fd, "wb");
    if (file == nullptr) ::close(fd);
#endif
    return file;
}

}  // namespace

bool StderrIsTerminal() {
#ifdef _WIN32
    return _isatty(_fileno(stderr)) != 0;
#else
    return ::isatty(STDERR_FILENO) == 1;
#endif
}

std::string ExecutableDirectory() {
#ifdef _WIN32
    wchar_t path[32768];
    const DWORD length = GetModuleFileNameW(nullptr, path, 32768);
    if (length == 0 || length >= 32768) return {};
    const std::u8string folder = std::filesystem::path(std::wstring(path, length)).parent_path().u8string();
    return std::string(folder.begin(), folder.end());
#else
    std::error_code error;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::string() : self.parent_path().string();
#endif
}

bool StdoutIsTerminal() {
#ifdef _WIN32
    return _isatty(_fileno(stdout)) != 0;
#else
    return ::isatty(STDOUT_FILENO) == 1;
#endif
}

// The terminal's own width when it reports one, else $COLUMNS, else 80.
int TerminalWidth() {
#ifndef _WIN32
    winsize size{};
    if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
#endif
    if (const char* columns = std::getenv("COLUMNS")) {
        const int width = std::atoi(columns);
        if (width > 0) return width;
    }
    return 80;
}

void CheckNotDirectory(const std::string& path) {
    std::error_code ignored;
    if (std::filesystem::is_directory(PathOf(path), ignored))
        throw ECommandError(ExitFileError, "cannot read " + Quoted(path) + ": it is a directory");
}

std::string ReadFileBytes(const std::string& path) {
    CheckNotDirectory(path);
    std::ifstream in(PathOf(path), std::ios::binary);
    if (!in) throw ECommandError(ExitFileError, "cannot read " + Quoted(path) + ": " + ErrnoText(errno));
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) throw ECommandError(ExitFileError, "cannot read " + Quoted(path) + ": " + ErrnoText(errno));
    return bytes;
}

// Tries a few random suffixes so that two tools writing the same name at
// once do not share a temporary file.
TOutputFile::TOutputFile(std::string path) : FPath(std::move(path)) {
    std::random_device random;
    for (int attempt = 0; attempt < 16 && FFile == nullptr; ++attempt) {
        char suffix[16];
        std::snprintf(suffix, sizeof suffix, ".part-%08x", static_cast<unsigned>(random()));
        FTempPath = FPath + suffix;
        FFile = CreateExclusive(PathOf(FTempPath));
        if (FFile == nullptr && errno != EEXIST) break;
    }
    if (FFile == nullptr) {
        const int errorNumber = errno;
        FTempPath.clear();
        throw ECommandError(ExitFileError, "cannot create " + Quoted(FPath) + ": " + ErrnoText(errorNumber));
    }
}

TOutputFile::~TOutputFile() {
    if (FFile != nullptr) std::fclose(FFile);
    if (!FTempPath.empty()) {
        std::error_code ignored;
        std::filesystem::remove(PathOf(FTempPath), ignored);
    }
}

void TOutputFile::Write(const void* data, std::size_t size) {
    if (size != 0 && std::fwrite(data, 1, size, FFile) != size) Fail("write", errno);
}

void TOutputFile::Commit() {
    const bool flushed = std::fflush(FFile) == 0;
    const int flushError = errno;
    const bool closed = std::fclose(FFile) == 0;
    const int closeError = errno;
    FFile = nullptr;
    if (!flushed) Fail("write", flushError);
    if (!closed) Fail("write", closeError);
    std::error_code error;
    std::filesystem::rename(PathOf(FTempPath), PathOf(FPath), error);
    if (error) throw ECommandError(ExitFileError, "cannot write " + Quoted(FPath) + ": " + error.message());
    FTempPath.clear();
}

void TOutputFile::Fail(const std::string& what, int errorNumber) {
    throw ECommandError(ExitFileError,
                        "cannot " + what + " " + Quoted(FPath) + ": " + ErrnoText(errorNumber));
}

}  // namespace Tool
