// The FTP component under load, one case per run, for bench/run.sh to time
// side by side with curl against the same vsftpd:
//
//   corvane_ftp_bench get SERVER USER PASSWORD REMOTE OUT SIZE
//       GetFile of REMOTE into the local file OUT
//   corvane_ftp_bench read SERVER USER PASSWORD REMOTE OUT SIZE
//       OpenFile of REMOTE, then ReadFileBytes(256 KiB) until it gives
//       nothing, each piece written to OUT
//   corvane_ftp_bench put SERVER USER PASSWORD LOCAL REMOTE SIZE
//       PutFile of LOCAL as REMOTE
//   corvane_ftp_bench list SERVER USER PASSWORD DIRECTORY COUNT
//       SetCurrentDirectory(DIRECTORY), then FindFirstFile("*") and
//       FindNextFile to the end
//
// SERVER is ftp://HOST:PORT. Every transfer is binary and passive. Each run
// checks what it did (the local file's size, the number of entries) and
// exits with 1 when anything is wrong, so a fast but faulty transfer never
// counts; an upload's stored file is checked in the server's tree by
// bench/compare.py, for curl's upload alike, as a listing here would add a
// round trip that curl does not make. It prints one line "bytes=N" or
// "entries=N".
#include <Corvane/Corvane.h>
#include <Corvane/Ftp.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>

using namespace Corvane;

namespace {

constexpr Cardinal kPiece = 256 << 10;

UnicodeString Wide(const std::string& text) {
    return Framework::Utf8ToUtf16(text);
}

[[noreturn]] void Fail(const std::string& what) {
    throw std::runtime_error(what);
}

unsigned long long Number(const char* text) {
    char* end = nullptr;
    errno = 0;
    const unsigned long long value = std::strtoull(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0') Fail(std::string("not a number: ") + text);
    return value;
}

// Opens Ftp on SERVER (ftp://HOST:PORT) with the user's credentials,
// passive, binary.
void Connect(TINetFtp& Ftp, const std::string& server, const char* user, const char* password) {
    const std::string prefix = "ftp://";
    const std::size_t colon = server.rfind(':');
    if (server.rfind(prefix, 0) != 0 || colon == std::string::npos || colon < prefix.size())
        Fail("not ftp://HOST:PORT: " + server);
    Ftp.SetServerName(Wide(server.substr(prefix.size(), colon - prefix.size())));
    Ftp.SetPort(static_cast<Word>(Number(server.c_str() + colon + 1)));
    Ftp.SetUserName(Wide(user));
    Ftp.SetPassword(Wide(password));
    Ftp.SetFlags(TFtpFlags{flPassive});
    Ftp.SetTransferType(ttBinary);
    Ftp.Open();
}

void CheckSize(unsigned long long got, unsigned long long expected, const char* what) {
    if (got != expected)
        Fail(std::string(what) + " has " + std::to_string(got) + " bytes, expected " +
             std::to_string(expected));
}

unsigned long long LocalSize(const char* path) {
    struct stat info {};
    if (::stat(path, &info) != 0) Fail(std::string("stat ") + path + ": " + std::strerror(errno));
    return static_cast<unsigned long long>(info.st_size);
}

bool IsDotEntry(const WIN32_FIND_DATAW& entry) {
    const WCHAR* name = entry.cFileName;
    return name[0] == u'.' && (name[1] == u'\0' || (name[1] == u'.' && name[2] == u'\0'));
}

// Writes all of [data, data + size) to fd.
void WriteAll(int fd, const void* data, std::size_t size) {
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd, p, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) Fail(std::string("write: ") + std::strerror(errno));
        p += n;
        size -= static_cast<std::size_t>(n);
    }
}

unsigned long long Get(TINetFtp& Ftp, const char* remote, const char* out, unsigned long long size) {
    Ftp.GetFile(Wide(remote), Wide(out), false, TFileAttributes{});
    CheckSize(LocalSize(out), size, out);
    return size;
}

unsigned long long Read(TINetFtp& Ftp, const char* remote, const char* out, unsigned long long size) {
    const int fd = ::open(out, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) Fail(std::string("open ") + out + ": " + std::strerror(errno));
    Ftp.OpenFile(Wide(remote), false);
    unsigned long long total = 0;
    for (;;) {
        const TBytes piece = Ftp.ReadFileBytes(kPiece);
        if (piece.empty()) break;
        WriteAll(fd, piece.data(), piece.size());
        total += piece.size();
    }
    Ftp.CloseFile();
    if (::close(fd) != 0) Fail("close failed");
    CheckSize(total, size, remote);
    return total;
}

unsigned long long Put(TINetFtp& Ftp, const char* local, const char* remote, unsigned long long size) {
    CheckSize(LocalSize(local), size, local);
    Ftp.PutFile(Wide(local), Wide(remote));
    return size;
}

unsigned long long List(TINetFtp& Ftp, const char* directory, unsigned long long count) {
    Ftp.SetCurrentDirectory(Wide(directory));
    WIN32_FIND_DATAW entry{};
    unsigned long long entries = 0;
    for (bool more = Ftp.FindFirstFile(u"*", entry); more; more = Ftp.FindNextFile(entry))
        if (!IsDotEntry(entry)) ++entries;
    Ftp.CompleteFindFile();
    if (entries != count)
        Fail(std::string(directory) + " lists " + std::to_string(entries) + " entries, expected " +
             std::to_string(count));
    return entries;
}

int Usage() {
    std::fputs(
        "usage: corvane_ftp_bench get|read SERVER USER PASSWORD REMOTE OUT SIZE\n"
        "       corvane_ftp_bench put SERVER USER PASSWORD LOCAL REMOTE SIZE\n"
        "       corvane_ftp_bench list SERVER USER PASSWORD DIRECTORY COUNT\n",
        stderr);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 6) return Usage();
    const std::string mode = argv[1];
    try {
        TINetFtp Ftp(nullptr);
        if ((mode == "get" || mode == "read" || mode == "put") && argc == 8) {
            Connect(Ftp, argv[2], argv[3], argv[4]);
            const unsigned long long size = Number(argv[7]);
            const unsigned long long bytes = mode == "get"    ? Get(Ftp, argv[5], argv[6], size)
                                             : mode == "read" ? Read(Ftp, argv[5], argv[6], size)
                                                              : Put(Ftp, argv[5], argv[6], size);
            std::printf("bytes=%llu\n", bytes);
        } else if (mode == "list" && argc == 7) {
            Connect(Ftp, argv[2], argv[3], argv[4]);
            std::printf("entries=%llu\n", List(Ftp, argv[5], Number(argv[6])));
        } else {
            return Usage();
        }
        Ftp.Close();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "corvane_ftp_bench %s: %s\n", mode.c_str(), e.what());
        return 1;
    }
    return 0;
}
