// Local files and terminals, the few places where the tool meets the
// operating system directly.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

namespace Tool {

/// Whether standard error is a terminal.
bool StderrIsTerminal();
/// Whether standard output is a terminal.
bool StdoutIsTerminal();
/// The width of the terminal on standard error, or 80 when unknown.
int TerminalWidth();

/// The folder that holds the running program, in UTF-8 (empty when the
/// system does not tell).
std::string ExecutableDirectory();

/// Raises ECommandError (ExitFileError) when Path names a directory, which
/// the stream library would otherwise open and fail to read obscurely.
void CheckNotDirectory(const std::string& path);

/// The whole content of a file, as bytes; ECommandError (ExitFileError)
/// naming the file and the reason when it cannot be read.
std::string ReadFileBytes(const std::string& path);

/// A file written under a temporary name beside its final one and moved
/// into place by Commit. Until then an existing file of that name is left
/// untouched, and a file abandoned without Commit (a failed transfer) is
/// removed, so a failure never leaves a truncated file that looks complete.
class TOutputFile {
public:
    /// Creates the temporary file; ECommandError (ExitFileError) when it
    /// cannot be created.
    explicit TOutputFile(std::string path);
    ~TOutputFile();

    TOutputFile(const TOutputFile&) = delete;
    TOutputFile& operator=(const TOutputFile&) = delete;

    /// Appends bytes; ECommandError (ExitFileError) on failure.
    void Write(const void* data, std::size_t size);
    /// Flushes, closes and renames the file to its final name.
    void Commit();

private:
    [[noreturn]] void Fail(const std::string& what, int errorNumber);

    std::string FPath;
    std::string FTempPath;
    std::FILE* FFile = nullptr;
};

}  // namespace Tool
