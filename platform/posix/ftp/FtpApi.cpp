// The FTP functions of the C API. Each checks its arguments before anything
// is sent (a name holding CR, LF or NUL would smuggle a second command onto
// the control line), takes the connection's control connection for its whole
// exchange and delivers its notifications once it has let go of it.
#include "posix/async/Async.h"
#include "posix/connection/OfflineMode.h"
#include "posix/errors/Barrier.h"
#include "posix/errors/LastError.h"
#include "posix/ftp/FtpConnection.h"
#include "posix/ftp/FtpFile.h"
#include "posix/ftp/FtpFind.h"
#include "posix/ftp/FtpListing.h"
#include "posix/ftp/FtpText.h"
#include "posix/text/Ascii.h"
#include "posix/text/Utf.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <random>
#include <unordered_map>

using namespace Corvane::Backend;

namespace {

// The most a listing may hold; a server sending more is refused.
constexpr std::size_t kMaxListing = 64 * 1024 * 1024;
// The chunk moved at a time between a local file and a data connection
// (held on the heap, once per transfer).
constexpr std::size_t kChunk = 256 * 1024;
// How long a transfer that failed on this side waits for the final reply.
constexpr DWORD kAbortTimeout = 5000;

std::shared_ptr<FtpConnection> FindConnection(HINTERNET value, DWORD* error) {
    *error = ERROR_INVALID_HANDLE;
    return value ? HandleTable::FindAs<FtpConnection>(value, FtpConnection::Ops, error) : nullptr;
}

// Runs `body` with the control connection of `hConnect` taken, then lets go
// of it and delivers the notifications.
DWORD WithConnection(HINTERNET hConnect,
                     const std::function<DWORD(FtpConnection&, FtpConnection::Use&)>& body,
                     std::shared_ptr<FtpConnection>* found = nullptr) {
    DWORD error;
    const auto connection = FindConnection(hConnect, &error);
    if (!connection) return error;
    if (found) *found = connection;
    if (OfflineMode::IsOffline(connection)) return ERROR_INTERNET_OFFLINE;
    FtpConnection::Use use;
    error = connection->Acquire(&use);
    if (error == ERROR_SUCCESS) {
        try {
            error = body(*connection, use);
        } catch (...) {
            // An exchange broken off by an exception (memory running out)
            // may leave a reply or a transfer unread: the control connection
            // is given up rather than read out of step.
            connection->SetDead(use);
            throw;
        }
    }
    FtpConnection::Release(use);
    return error;
}

// The final reply of a transfer: a 2xx, else ERROR_INTERNET_EXTENDED_ERROR.
DWORD FinalReply(FtpConnection& connection, FtpConnection::Use& use, DWORD timeout) {
    FtpReply reply;
    const DWORD result = connection.ReadFinalReply(use, &reply, timeout);
    if (result != ERROR_SUCCESS) return result;
    return reply.code >= 200 && reply.code < 300 ? ERROR_SUCCESS : ERROR_INTERNET_EXTENDED_ERROR;
}

// Ends a transfer that failed on this side (the data connection is closed):
// the server's final reply is read briefly so the connection can go on.
DWORD Abandon(FtpConnection& connection, FtpConnection::Use& use, Socket& data, DWORD error) {
    // A reset, so that the server does not keep a broken upload as a whole one.
    data.Abort();
    if (error != ERROR_INTERNET_OPERATION_CANCELLED)
        FinalReply(connection, use, kAbortTimeout);
    else
        connection.SetDead(use);
    return error;
}

// Receives the whole data connection into `sink`, then the final reply
// (unless the server gave it already).
DWORD ReceiveAll(FtpConnection& connection, FtpConnection::Use& use, Socket& data, bool done,
                 const std::function<DWORD(const char*, std::size_t)>& sink) {
    const Waiter waiter(use.cancel);
    const std::unique_ptr<char[]> chunk(new char[kChunk]);
    while (data.IsOpen()) {
        std::size_t received = 0;
        DWORD result = data.Receive(chunk.get(), kChunk, &received,
                                    Deadline::After(connection.DataReceiveTimeout()), waiter);
        if (result == ERROR_SUCCESS && received > 0) result = sink(chunk.get(), received);
        if (result != ERROR_SUCCESS)
            return done ? (data.Close(), result) : Abandon(connection, use, data, result);
        if (received == 0) data.Close();
    }
    return done ? ERROR_SUCCESS : FinalReply(connection, use, connection.EffectiveTimeouts().receive);
}

// The DOS error for a local file operation's errno.
DWORD LocalError(int error) {
    switch (error) {
    case ENOENT:
        return ERROR_FILE_NOT_FOUND;
    case ENOTDIR:
        return ERROR_PATH_NOT_FOUND;
    case EEXIST:
        return ERROR_FILE_EXISTS;
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
        return ERROR_DISK_FULL;
    case ENOMEM:
        return ERROR_NOT_ENOUGH_MEMORY;
    case EMFILE:
    case ENFILE:
        return ERROR_TOO_MANY_OPEN_FILES;
    default:
        return ERROR_ACCESS_DENIED;
    }
}

bool WriteAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        data += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

// A download's file beside its target until it is put in place: closed, and
// removed unless kept, whatever ends the download (exceptions included).
struct PartFile {
    int fd = -1;
    std::string name;
    bool kept = false;

    PartFile() = default;
    PartFile(const PartFile&) = delete;
    PartFile& operator=(const PartFile&) = delete;
    ~PartFile() {
        if (fd >= 0) ::close(fd);
        if (!name.empty() && !kept) ::unlink(name.c_str());
    }

    // Creates it beside `target` under a short unique name (created
    // exclusively, with the usual permissions less the umask); false with
    // errno set when it cannot. A missing folder is ENOTDIR, so that it
    // reads as a path not found rather than a file not found.
    bool Create(const std::string& target) {
        std::random_device random;
        const std::size_t slash = target.rfind('/');
        const std::string folder = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
        for (int attempt = 0; attempt < 100; ++attempt) {
            char unique[32];
            std::snprintf(unique, sizeof(unique), ".corvane-%08x%08x.part", random(), random());
            // Named before it exists: nothing that can fail comes between
            // its creation and the destructor knowing what to remove.
            name = folder + unique;
            fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            if (fd >= 0) return true;
            name.clear();
            if (errno != EEXIST) {
                if (errno == ENOENT) errno = ENOTDIR;
                return false;
            }
        }
        return false;
    }

    // Puts the file in place of `target`: replacing it (with its permissions
    // taken over) or, when `noReplace`, only where no file is (as one step,
    // so that a file made meanwhile is not replaced either). `readOnly` takes
    // the write permissions away.
    DWORD PutInPlace(const std::string& target, bool noReplace, bool readOnly) {
        struct stat existing {};
        if (!noReplace && ::stat(target.c_str(), &existing) == 0) ::fchmod(fd, existing.st_mode & 07777);
        if (readOnly && ::fstat(fd, &existing) == 0)
            ::fchmod(fd, existing.st_mode & ~(S_IWUSR | S_IWGRP | S_IWOTH));
        if (::close(fd) != 0) {
            fd = -1;
            return LocalError(errno);
        }
        fd = -1;
        if (noReplace) {
            if (::link(name.c_str(), target.c_str()) == 0) return ERROR_SUCCESS;  // the part file goes
            if (errno == EEXIST) return ERROR_FILE_EXISTS;
            if (errno != EPERM && errno != ENOTSUP && errno != EOPNOTSUPP) return LocalError(errno);
            // A file system without hard links: checked, then renamed.
            if (::lstat(target.c_str(), &existing) == 0) return ERROR_FILE_EXISTS;
        }
        if (::rename(name.c_str(), target.c_str()) != 0) return LocalError(errno);
        kept = true;
        return ERROR_SUCCESS;
    }
};

// An open local file, closed when the last holder lets go.
struct LocalFile {
    explicit LocalFile(int descriptor) : fd(descriptor) {}
    ~LocalFile() { ::close(fd); }
    LocalFile(const LocalFile&) = delete;
    LocalFile& operator=(const LocalFile&) = delete;
    const int fd;
};

bool IsAscii(DWORD flags) {
    return (flags & FTP_TRANSFER_TYPE_MASK) == FTP_TRANSFER_TYPE_ASCII;
}

// Runs an FTP function's work, whose arguments were checked: at once, or
// beneath an asynchronous session on a worker thread, its result reported to
// the connection handle. The work owns what it uses but the caller's output
// buffers, which the caller keeps until the completion. With `toNewHandle`
// the completion goes to the handle the work made (an opened file), as the
// platform reports it, rather than to the connection.
template <typename R, typename Work>
R Run(HINTERNET hConnect, R failure, Work work, bool toNewHandle = false) {
    DWORD error;
    const auto connection = FindConnection(hConnect, &error);
    if (connection && Async::IsAsync(*connection)) {
        return FailWith<R>(Async::Begin(connection,
                                        [work = std::move(work), failure, toNewHandle]() mutable {
                                            Async::Result result = Async::Completed<R>(work(), failure);
                                            DWORD ignored;
                                            if (toNewHandle && result.value)
                                                result.target = HandleTable::Find(
                                                    reinterpret_cast<HINTERNET>(result.value), &ignored);
                                            return result;
                                        }),
                           failure);
    }
    return work();
}

// A command whose only argument is a remote name.
BOOL NameCommand(HINTERNET hConnect, LPCWSTR name, const char* verb) {
    std::string argument;
    if (!FtpArgument(name, &argument)) return Fail(ERROR_INVALID_PARAMETER);
    return Run(hConnect, FALSE, [hConnect, line = std::string(verb) + " " + argument] {
        return Outcome(
            WithConnection(hConnect, [&](FtpConnection& connection, FtpConnection::Use& use) -> DWORD {
                return connection.Simple(use, line);
            }));
    });
}

// A listing's lines as entries, those the pattern (if any) lets through.
std::vector<FtpListingEntry> ParseListing(const std::string& listing, bool mlsd, const std::string& pattern) {
    const std::int64_t now =
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
            .count();
    std::vector<FtpListingEntry> entries;
    std::size_t start = 0;
    while (start < listing.size()) {
        std::size_t end = listing.find('\n', start);
        if (end == std::string::npos) end = listing.size();
        std::string_view line(listing.data() + start, end - start);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        start = end + 1;
        FtpListingEntry entry;
        if (!(mlsd ? ParseMlsdLine(line, entry) : ParseListLine(line, now, entry))) continue;
        if (!pattern.empty() && !MatchesPattern(pattern, entry.name)) continue;
        entries.push_back(std::move(entry));
    }
    return entries;
}

// Lists `path` with MLSD or LIST into `listing`.
DWORD List(FtpConnection& connection, FtpConnection::Use& use, const std::string& verb,
           const std::string& path, std::string* listing) {
    Socket data;
    bool done = false;
    DWORD result = connection.OpenData(use, path.empty() ? verb : verb + " " + path, &data, &done);
    if (result != ERROR_SUCCESS) return result;
    return ReceiveAll(connection, use, data, done, [&](const char* bytes, std::size_t size) -> DWORD {
        if (listing->size() + size > kMaxListing) return ERROR_NOT_ENOUGH_MEMORY;
        listing->append(bytes, size);
        return ERROR_SUCCESS;
    });
}

// Makes and registers a handle that holds the connection (Hold was called).
// When that fails (the connection closed meanwhile, memory ran out), the
// connection is let go again, dead if a transfer was left open on it.
// A template rather than a std::function, whose making could itself run out
// of memory before the connection is in hand here.
template <class Make>
HINTERNET RegisterHolder(FtpConnection& connection, bool transfer, Make&& make, DWORD* error) {
    const auto release = [&] {
        if (transfer) connection.SetDead();
        connection.Free();
    };
    HINTERNET value = nullptr;
    try {
        value = HandleTable::Register(make(), error);
    } catch (...) {
        release();
        throw;
    }
    if (!value) release();
    return value;
}

// The open locks of InternetLockRequestFile: each keeps its file handle's
// object, with the data it holds, until unlocked.
struct Locks {
    std::mutex mutex;
    std::unordered_map<std::uintptr_t, HandleRef> held;
    std::uintptr_t next = 0x2000;
};

Locks& TheLocks() {
    static Locks* locks = new Locks;  // never destroyed, like the handle table
    return *locks;
}

}  // namespace

BOOL WINAPI FtpSetCurrentDirectoryW(HINTERNET hConnect, LPCWSTR lpszDirectory) {
    return Guarded<BOOL>(FALSE, [&]() -> BOOL { return NameCommand(hConnect, lpszDirectory, "CWD"); });
}

BOOL WINAPI FtpCreateDirectoryW(HINTERNET hConnect, LPCWSTR lpszDirectory) {
    return Guarded<BOOL>(FALSE, [&]() -> BOOL { return NameCommand(hConnect, lpszDirectory, "MKD"); });
}

BOOL WINAPI FtpRemoveDirectoryW(HINTERNET hConnect, LPCWSTR lpszDirectory) {
    return Guarded<BOOL>(FALSE, [&]() -> BOOL { return NameCommand(hConnect, lpszDirectory, "RMD"); });
}

BOOL WINAPI FtpDeleteFileW(HINTERNET hConnect, LPCWSTR lpszFileName) {
    return Guarded<BOOL>(FALSE, [&]() -> BOOL { return NameCommand(hConnect, lpszFileName, "DELE"); });
}

BOOL WINAPI FtpRenameFileW(HINTERNET hConnect, LPCWSTR lpszExisting, LPCWSTR lpszNew) {
    return Guarded<BOOL>(FALSE, [&]() -> BOOL {
        std::string from;
        std::string to;
        if (!FtpArgument(lpszExisting, &from) || !FtpArgument(lpszNew, &to))
            return Fail(ERROR_INVALID_PARAMETER);
        return Run(hConnect, FALSE, [hConnect, from, to] {
            return Outcome(
                WithConnection(hConnect, [&](FtpConnection& connection, FtpConnection::Use& use) -> DWORD {
                    const DWORD result = connection.Simple(use, "RNFR " + from, true);
                    return result == ERROR_SUCCESS ? connection.Simple(use, "RNTO " + to) : result;
                }));
        });
    });
}

namespace {

BOOL CurrentDirectory(HINTERNET hConnect, LPWSTR lpszCurrentDirectory, LPDWORD lpdwCurrentDirectory) {
    std::string path;
    const DWORD error =
        WithConnection(hConnect, [&](FtpConnection& connection, FtpConnection::Use& use) -> DWORD {
            FtpReply reply;
            const DWORD result = connection.Simple(use, "PWD", false, &reply);
            if (result != ERROR_SUCCESS) return result;
            return reply.code == 257 && ParsePwdReply(reply.text, path) ? ERROR_SUCCESS
                                                                        : ERROR_INTERNET_EXTENDED_ERROR;
        });
    if (error != ERROR_SUCCESS) return Fail(error);
    const std::u16string wide = Utf8ToUtf16(path);
    const DWORD needed = static_cast<DWORD>((wide.size() + 1) * sizeof(WCHAR));
    if (!lpszCurrentDirectory || *lpdwCurrentDirectory < needed) {
        *lpdwCurrentDirectory = needed;
        return Fail(ERROR_INSUFFICIENT_BUFFER);
    }
    std::memcpy(lpszCurrentDirectory, wide.c_str(), needed);
    *lpdwCurrentDirectory = needed - sizeof(WCHAR);
    return TRUE;
}

}  // namespace

// Sizes are in bytes, as for InternetGetLastResponseInfoW: in, the buffer's;
// out, the text's without the terminator, or the size needed with it and
// ERROR_INSUFFICIENT_BUFFER.
BOOL WINAPI FtpGetCurrentDirectoryW(HINTERNET hConnect, LPWSTR lpszCurrentDirectory,
                                    LPDWORD lpdwCurrentDirectory) {
    return Guarded<BOOL>(FALSE, [&]() -> BOOL {
        if (!lpdwCurrentDirectory) return Fail(ERROR_INVALID_PARAMETER);
        return Run(hConnect, FALSE,
                   [=] { return CurrentDirectory(hConnect, lpszCurrentDirectory, lpdwCurrentDirectory); });
    });
}

// The download goes to a new file beside the target, renamed into place only
// once the whole file and the server's final reply are in: a failure leaves
// an existing target as it was. FILE_ATTRIBUTE_READONLY takes the write
// permissions away; the other attributes have no meaning for a POSIX file.
BOOL WINAPI FtpGetFileW(HINTERNET hConnect, LPCWSTR lpszRemoteFile, LPCWSTR lpszNewFile, BOOL fFailIfExists,
                        DWORD dwFlagsAndAttributes, DWORD dwFlags, DWORD_PTR /*dwContext*/) {
    return Guarded<BOOL>(FALSE, [&]() -> BOOL {
        std::string remote;
        if (!FtpArgument(lpszRemoteFile, &remote) || !lpszNewFile || !*lpszNewFile)
            return Fail(ERROR_INVALID_PARAMETER);
        const std::string local = Utf16ToUtf8(lpszNewFile);
        if (local.find('\0') != std::string::npos) return Fail(ERROR_INVALID_PARAMETER);
        DWORD error;
        if (!FindConnection(hConnect, &error)) return Fail(error);
        struct stat existing {};
        if (fFailIfExists && ::lstat(local.c_str(), &existing) == 0) return Fail(ERROR_FILE_EXISTS);

        return Run(hConnect, FALSE, [=]() -> BOOL {
            PartFile part;
            DWORD outcome =
                WithConnection(hConnect, [&](FtpConnection& connection, FtpConnection::Use& use) -> DWORD {
                    if (!part.Create(local)) return LocalError(errno);
                    DWORD result = connection.SetType(use, IsAscii(dwFlags));
                    Socket data;
                    bool done = false;
                    if (result == ERROR_SUCCESS)
                        result = connection.OpenData(use, "RETR " + remote, &data, &done);
                    if (result != ERROR_SUCCESS) return result;
                    AsciiDecoder decoder;
                    std::string decoded;
                    result = ReceiveAll(
                        connection, use, data, done, [&](const char* bytes, std::size_t size) -> DWORD {
                            if (IsAscii(dwFlags)) {
                                decoded.clear();
                                decoder.Convert(bytes, size, decoded);
                                bytes = decoded.data();
                                size = decoded.size();
                            }
                            return WriteAll(part.fd, bytes, size) ? ERROR_SUCCESS : LocalError(errno);
                        });
                    if (result == ERROR_SUCCESS && IsAscii(dwFlags)) {
                        decoded.clear();
                        decoder.Finish(decoded);
                        if (!WriteAll(part.fd, decoded.data(), decoded.size())) result = LocalError(errno);
                    }
                    return result;
                });
            if (outcome == ERROR_SUCCESS)
                outcome = part.PutInPlace(local, fFailIfExists,
                                          (dwFlagsAndAttributes & FILE_ATTRIBUTE_READONLY) != 0);
            return Outcome(outcome);
        });
    });
}

BOOL WINAPI FtpPutFileW(HINTERNET hConnect, LPCWSTR lpszLocalFile, LPCWSTR lpszNewRemoteFile, DWORD dwFlags,
                        DWORD_PTR /*dwContext*/) {
    return Guarded<BOOL>(FALSE, [&]() -> BOOL {
        std::string remote;
        if (!FtpArgument(lpszNewRemoteFile, &remote) || !lpszLocalFile || !*lpszLocalFile)
            return Fail(ERROR_INVALID_PARAMETER);
        DWORD error;
        if (!FindConnection(hConnect, &error)) return Fail(error);
        const int descriptor = ::open(Utf16ToUtf8(lpszLocalFile).c_str(), O_RDONLY | O_CLOEXEC);
        if (descriptor < 0) return Fail(LocalError(errno));
        // The local file stays open until the work is done, whichever
        // thread does it.
        std::shared_ptr<LocalFile> file;
        try {
            file = std::make_shared<LocalFile>(descriptor);
        } catch (...) {
            ::close(descriptor);
            throw;
        }
        return Run(hConnect, FALSE, [=]() -> BOOL {
            const int fd = file->fd;
            const DWORD outcome =
                WithConnection(hConnect, [&](FtpConnection& connection, FtpConnection::Use& use) -> DWORD {
                    DWORD result = connection.SetType(use, IsAscii(dwFlags));
                    Socket data;
                    bool done = false;
                    if (result == ERROR_SUCCESS)
                        result = connection.OpenData(use, "STOR " + remote, &data, &done);
                    if (result != ERROR_SUCCESS) return result;
                    AsciiEncoder encoder;
                    std::string encoded;
                    const std::unique_ptr<char[]> chunk(new char[kChunk]);
                    const Waiter waiter(use.cancel);
                    for (;;) {
                        const ssize_t got = ::read(fd, chunk.get(), kChunk);
                        if (got < 0 && errno == EINTR) continue;
                        if (got < 0) return Abandon(connection, use, data, LocalError(errno));
                        if (got == 0) break;
                        const char* bytes = chunk.get();
                        std::size_t size = static_cast<std::size_t>(got);
                        if (IsAscii(dwFlags)) {
                            encoded.clear();
                            encoder.Convert(chunk.get(), size, encoded);
                            bytes = encoded.data();
                            size = encoded.size();
                        }
                        result =
                            data.Send(bytes, size, Deadline::After(connection.DataSendTimeout()), waiter);
                        if (result != ERROR_SUCCESS) return Abandon(connection, use, data, result);
                    }
                    data.Close();
                    return done ? ERROR_SUCCESS
                                : FinalReply(connection, use, connection.EffectiveTimeouts().receive);
                });
            return Outcome(outcome);
        });
    });
}

// GENERIC_READ (RETR) or GENERIC_WRITE (STOR), not both. A file opened for
// reading learns its size (SIZE, in TYPE I) first, for FtpGetFileSize.
HINTERNET WINAPI FtpOpenFileW(HINTERNET hConnect, LPCWSTR lpszFileName, DWORD dwAccess, DWORD dwFlags,
                              DWORD_PTR dwContext) {
    return Guarded<HINTERNET>(nullptr, [&]() -> HINTERNET {
        std::string name;
        if (!FtpArgument(lpszFileName, &name) || (dwAccess != GENERIC_READ && dwAccess != GENERIC_WRITE))
            return FailWith<HINTERNET>(ERROR_INVALID_PARAMETER, nullptr);
        const bool write = dwAccess == GENERIC_WRITE;
        const bool ascii = IsAscii(dwFlags);
        return Run(
            hConnect, static_cast<HINTERNET>(nullptr),
            [=]() mutable -> HINTERNET {
                std::shared_ptr<FtpConnection> connection;
                Socket data;
                bool done = false;
                DWORD sizeError = ERROR_INTERNET_INCORRECT_HANDLE_STATE;
                std::uint64_t size = 0;
                DWORD sizeCode = 0;
                std::u16string sizeResponse;
                const DWORD error = WithConnection(
                    hConnect,
                    [&](FtpConnection& control, FtpConnection::Use& use) -> DWORD {
                        DWORD result = ERROR_SUCCESS;
                        if (!write) {
                            result = control.SetType(use, false);
                            FtpReply reply;
                            if (result == ERROR_SUCCESS)
                                result = control.Command(use, "SIZE " + name, &reply);
                            if (result != ERROR_SUCCESS) return result;
                            sizeCode = static_cast<DWORD>(reply.code);
                            sizeResponse = Utf8ToUtf16(reply.text + "\r\n");
                            const std::string_view digits =
                                Trim(std::string_view(reply.text)
                                         .substr(std::min<std::size_t>(4, reply.text.size())));
                            sizeError = reply.code == 213 && ParseDecimal(digits, size)
                                            ? ERROR_SUCCESS
                                            : ERROR_INTERNET_EXTENDED_ERROR;
                        }
                        result = control.SetType(use, ascii);
                        if (result == ERROR_SUCCESS)
                            result = control.OpenData(use, (write ? "STOR " : "RETR ") + name, &data, &done);
                        if (result == ERROR_SUCCESS) control.Hold(use);
                        return result;
                    },
                    &connection);
                if (error != ERROR_SUCCESS) return FailWith<HINTERNET>(error, nullptr);
                DWORD registered = ERROR_SUCCESS;
                const HINTERNET value = RegisterHolder(
                    *connection, true,
                    [&]() -> HandleRef {
                        auto file = std::make_shared<FtpFile>(connection, dwContext, write, ascii,
                                                              std::move(data), done);
                        file->SetSize(sizeError, size, sizeCode, std::move(sizeResponse));
                        return file;
                    },
                    &registered);
                return value ? value : FailWith<HINTERNET>(registered, nullptr);
            },
            true);
    });
}

DWORD WINAPI FtpGetFileSize(HINTERNET hFile, LPDWORD lpdwFileSizeHigh) {
    return Guarded<DWORD>(INVALID_FILE_SIZE, [&]() -> DWORD {
        DWORD error = ERROR_INVALID_HANDLE;
        const auto file = hFile ? HandleTable::FindAs<FtpFile>(hFile, FtpFile::Ops, &error) : nullptr;
        if (!file) return FailWith(error, INVALID_FILE_SIZE);
        std::uint64_t size = 0;
        error = file->Size(&size);
        if (error != ERROR_SUCCESS) return FailWith(error, INVALID_FILE_SIZE);
        if (lpdwFileSizeHigh) *lpdwFileSizeHigh = static_cast<DWORD>(size >> 32);
        // A size whose low part is INVALID_FILE_SIZE is told from a failure
        // by the last error, as the platform's callers check it.
        ::SetLastError(ERROR_SUCCESS);
        return static_cast<DWORD>(size);
    });
}

// An empty or null search lists the current directory; one with wildcards
// lists its directory part and keeps the names its last part matches; any
// other is listed as it is (a directory's entries, or the file itself).
HINTERNET WINAPI FtpFindFirstFileW(HINTERNET hConnect, LPCWSTR lpszSearchFile,
                                   LPWIN32_FIND_DATAW lpFindFileData, DWORD /*dwFlags*/,
                                   DWORD_PTR dwContext) {
    return Guarded<HINTERNET>(nullptr, [&]() -> HINTERNET {
        std::string search;
        if (!FtpArgument(lpszSearchFile, &search, true))
            return FailWith<HINTERNET>(ERROR_INVALID_PARAMETER, nullptr);
        std::string path = search;
        std::string pattern;
        if (HasWildcard(search)) {
            const std::size_t slash = search.rfind('/');
            path = slash == std::string::npos ? std::string() : search.substr(0, slash == 0 ? 1 : slash);
            pattern = slash == std::string::npos ? search : search.substr(slash + 1);
        }
        return Run(hConnect, static_cast<HINTERNET>(nullptr), [=]() mutable -> HINTERNET {
            std::shared_ptr<FtpConnection> connection;
            std::vector<FtpListingEntry> entries;
            const DWORD error = WithConnection(
                hConnect,
                [&](FtpConnection& control, FtpConnection::Use& use) -> DWORD {
                    std::string listing;
                    bool mlsd = control.HasMlsd();
                    DWORD result = List(control, use, mlsd ? "MLSD" : "LIST", path, &listing);
                    // MLSD lists directories only: a file's name goes to LIST.
                    if (mlsd && result == ERROR_INTERNET_EXTENDED_ERROR && !path.empty()) {
                        mlsd = false;
                        listing.clear();
                        result = List(control, use, "LIST", path, &listing);
                    }
                    if (result != ERROR_SUCCESS) return result;
                    entries = ParseListing(listing, mlsd, pattern);
                    if (entries.empty()) return ERROR_NO_MORE_FILES;
                    control.Hold(use);
                    return ERROR_SUCCESS;
                },
                &connection);
            if (error != ERROR_SUCCESS) return FailWith<HINTERNET>(error, nullptr);
            DWORD registered = ERROR_SUCCESS;
            // The first entry is filled in here, where a failure lets go of the
            // connection again.
            const HINTERNET value = RegisterHolder(
                *connection, false,
                [&]() -> HandleRef {
                    auto find = std::make_shared<FtpFind>(connection, dwContext, std::move(entries));
                    WIN32_FIND_DATAW first;
                    find->Next(lpFindFileData ? lpFindFileData : &first);
                    return find;
                },
                &registered);
            return value ? value : FailWith<HINTERNET>(registered, nullptr);
        });
    });
}

// Without fExpectResponse: the command and its reply. With it: a data
// connection is opened for the command, whose data the returned handle reads.
BOOL WINAPI FtpCommandW(HINTERNET hConnect, BOOL fExpectResponse, DWORD dwFlags, LPCWSTR lpszCommand,
                        DWORD_PTR dwContext, HINTERNET* phFtpCommand) {
    return Guarded<BOOL>(FALSE, [&]() -> BOOL {
        std::string command;
        if (!FtpArgument(lpszCommand, &command) || (fExpectResponse && !phFtpCommand))
            return Fail(ERROR_INVALID_PARAMETER);
        if (fExpectResponse) *phFtpCommand = nullptr;
        return Run(hConnect, FALSE, [=]() -> BOOL {
            std::shared_ptr<FtpConnection> connection;
            Socket data;
            bool done = false;
            const DWORD ascii = dwFlags & FTP_TRANSFER_TYPE_MASK;
            const DWORD error = WithConnection(
                hConnect,
                [&](FtpConnection& control, FtpConnection::Use& use) -> DWORD {
                    // The command may change what the server's transfer type is.
                    control.ForgetType(use);
                    if (!fExpectResponse) {
                        FtpReply reply;
                        const DWORD result = control.Command(use, command, &reply);
                        if (result != ERROR_SUCCESS) return result;
                        return reply.code < 400 ? ERROR_SUCCESS : ERROR_INTERNET_EXTENDED_ERROR;
                    }
                    DWORD result =
                        ascii ? control.SetType(use, ascii == FTP_TRANSFER_TYPE_ASCII) : ERROR_SUCCESS;
                    if (result == ERROR_SUCCESS) result = control.OpenData(use, command, &data, &done);
                    control.ForgetType(use);
                    if (result == ERROR_SUCCESS) control.Hold(use);
                    return result;
                },
                &connection);
            if (error != ERROR_SUCCESS || !fExpectResponse) return Outcome(error);
            DWORD registered = ERROR_SUCCESS;
            const HINTERNET value = RegisterHolder(
                *connection, true,
                [&]() -> HandleRef {
                    return std::make_shared<FtpFile>(connection, dwContext, false,
                                                     ascii == FTP_TRANSFER_TYPE_ASCII, std::move(data), done);
                },
                &registered);
            if (!value) return Fail(registered);
            *phFtpCommand = value;
            return TRUE;
        });
    });
}

// The backend keeps no cache of downloads: a lock holds the FTP file handle's
// object, with the data it has buffered, until it is unlocked, even past the
// handle's close. Other kinds of handle cannot be locked.
BOOL WINAPI InternetLockRequestFile(HINTERNET hInternet, HANDLE* lphLockRequestInfo) {
    return Guarded<BOOL>(FALSE, [&]() -> BOOL {
        if (!lphLockRequestInfo) return Fail(ERROR_INVALID_PARAMETER);
        DWORD error = ERROR_INVALID_HANDLE;
        const auto file = hInternet ? HandleTable::FindAs<FtpFile>(hInternet, FtpFile::Ops, &error) : nullptr;
        if (!file) return Fail(error);
        Locks& locks = TheLocks();
        std::lock_guard<std::mutex> lock(locks.mutex);
        const std::uintptr_t key = locks.next;
        locks.held.emplace(key, file);
        locks.next += 4;
        *lphLockRequestInfo = reinterpret_cast<HANDLE>(key);
        return TRUE;
    });
}

BOOL WINAPI InternetUnlockRequestFile(HANDLE hLockRequestInfo) {
    return Guarded<BOOL>(FALSE, [&]() -> BOOL {
        HandleRef released;
        Locks& locks = TheLocks();
        std::lock_guard<std::mutex> lock(locks.mutex);
        const auto it = locks.held.find(reinterpret_cast<std::uintptr_t>(hLockRequestInfo));
        if (it == locks.held.end()) return Fail(ERROR_INVALID_HANDLE);
        released = std::move(it->second);
        locks.held.erase(it);
        return TRUE;
    });
}
