// The HTTP component under load, one case per run, for bench/run.sh to time
// side by side with curl:
//
//   corvane_http_bench file URL OUT        the body, piece by piece with
//                                           GetBytes, written to the file OUT
//   corvane_http_bench file-buffer URL OUT the same with GetBytes into one
//                                           reused buffer
//   corvane_http_bench bytes URL           the whole body with ReadBytes
//   corvane_http_bench requests URL COUNT  COUNT requests for URL on one
//                                           kept-alive connection, each body
//                                           read with ReadData
//   corvane_http_bench components URL COUNT
//                                           COUNT requests for URL, each
//                                           through a new component (Url,
//                                           Open, request, ReadData, Close)
//
// Each run checks what it got (status 200, the announced length, one
// connection for all requests) and exits with 1 when anything is wrong, so a
// fast but faulty transfer never counts. It prints one line "bytes=N" or
// "requests=N". An https URL is checked against the CA in SSL_CERT_FILE.
#include <Corvane/Corvane.h>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>

using namespace Corvane;

namespace {

UnicodeString Wide(const char* text) {
    return Framework::Utf8ToUtf16(text);
}

[[noreturn]] void Fail(const std::string& what) {
    throw std::runtime_error(what);
}

// Keep-alive, and TLS for an https URL (the request flags decide it).
THttpFlags FlagsFor(const char* url) {
    THttpFlags flags{flKeepConnection};
    if (std::strncmp(url, "https:", 6) == 0) flags.Include(flSecure);
    return flags;
}

// Opens the component on URL and sends a GET for its path; fails unless the
// answer is 200.
void Get(TINetHttp& http, const char* url) {
    http.SetUrl(Wide(url));
    http.SetFlags(FlagsFor(url));
    http.Open();
    http.OpenRequest(u"GET", u"");
    http.SendRequest(u"", AnsiString());
    const Cardinal status = http.QueryInfoValue(heStatusCode);
    if (status != 200) Fail("status " + std::to_string(status) + " for " + url);
}

Cardinal ContentLength(TINetHttp& http) {
    return http.QueryInfoValue(heContentLength);
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

int OpenOutput(const char* path) {
    const int fd = ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) Fail(std::string("open ") + path + ": " + std::strerror(errno));
    return fd;
}

void CheckLength(unsigned long long got, unsigned long long expected) {
    if (got != expected)
        Fail("body of " + std::to_string(got) + " bytes, announced " + std::to_string(expected));
}

// The body piece by piece, each piece as large as what is available.
unsigned long long ToFilePieces(const char* url, const char* out) {
    TINetHttp http(nullptr);
    Get(http, url);
    const unsigned long long expected = ContentLength(http);
    const int fd = OpenOutput(out);
    unsigned long long total = 0;
    for (;;) {
        const TBytes piece = http.GetBytes();
        if (piece.empty()) break;
        WriteAll(fd, piece.data(), piece.size());
        total += piece.size();
    }
    if (::close(fd) != 0) Fail("close failed");
    CheckLength(total, expected);
    return total;
}

// The body through one buffer the application keeps.
unsigned long long ToFileBuffer(const char* url, const char* out) {
    TINetHttp http(nullptr);
    Get(http, url);
    const unsigned long long expected = ContentLength(http);
    const int fd = OpenOutput(out);
    TBytes buffer(256 << 10);
    unsigned long long total = 0;
    while (const Cardinal n = http.GetBytes(buffer)) {
        WriteAll(fd, buffer.data(), n);
        total += n;
    }
    if (::close(fd) != 0) Fail("close failed");
    CheckLength(total, expected);
    return total;
}

unsigned long long WholeBody(const char* url) {
    TINetHttp http(nullptr);
    Get(http, url);
    const unsigned long long expected = ContentLength(http);
    const TBytes body = http.ReadBytes();
    CheckLength(body.size(), expected);
    return body.size();
}

// COUNT exchanges of OpenRequest, SendRequest, ReadData and CloseRequest on
// one connection; nginx numbers its connections in X-Connection, which must
// stay the same from the first response to the last, and counts the
// requests on each in X-Connection-Requests, which must reach COUNT.
unsigned long long Requests(const char* url, long count) {
    TINetHttp http(nullptr);
    http.SetUrl(Wide(url));
    http.SetFlags(FlagsFor(url));
    http.Open();
    UnicodeString firstConnection;
    for (long i = 0; i < count; ++i) {
        http.OpenRequest(u"GET", u"");
        http.SendRequest(u"", AnsiString());
        const bool check = i == 0 || i == count - 1;
        if (check && http.QueryInfoValue(heStatusCode) != 200) Fail("status is not 200");
        const Cardinal expected = check ? ContentLength(http) : 0;
        const AnsiString body = http.ReadData();
        if (body.empty()) Fail("empty body");
        if (check) {
            CheckLength(body.size(), expected);
            const UnicodeString connection = http.QueryInfo(u"X-Connection");
            if (i == 0)
                firstConnection = connection;
            else if (connection != firstConnection)
                Fail("the connection was not kept alive");
            if (i == count - 1 &&
                http.QueryInfo(u"X-Connection-Requests") != Framework::Utf8ToUtf16(std::to_string(count)))
                Fail("the connection did not serve every request");
        }
        http.CloseRequest();
    }
    http.Close();
    return static_cast<unsigned long long>(count);
}

// COUNT times a component of its own: a new TINetHttp opens URL, sends a
// GET, reads the body with ReadData and closes, as a program does that
// fetches one URL now and then. The process keeps the connection between
// components: nginx's X-Connection must be the same on the first and last
// response, and X-Connection-Requests must reach COUNT.
unsigned long long Components(const char* url, long count) {
    UnicodeString firstConnection;
    for (long i = 0; i < count; ++i) {
        TINetHttp http(nullptr);
        Get(http, url);
        const AnsiString body = http.ReadData();
        if (body.empty()) Fail("empty body");
        if (i == 0 || i == count - 1) {
            CheckLength(body.size(), ContentLength(http));
            const UnicodeString connection = http.QueryInfo(u"X-Connection");
            if (i == 0)
                firstConnection = connection;
            else if (connection != firstConnection)
                Fail("the components did not share the kept-alive connection");
            if (i == count - 1 &&
                http.QueryInfo(u"X-Connection-Requests") != Framework::Utf8ToUtf16(std::to_string(count)))
                Fail("the connection did not serve every request");
        }
        http.Close();
    }
    return static_cast<unsigned long long>(count);
}

int Usage() {
    std::fputs(
        "usage: corvane_http_bench file|file-buffer URL OUT | bytes URL | requests|components URL COUNT\n",
        stderr);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) return Usage();
    const std::string mode = argv[1];
    try {
        if (mode == "file" && argc == 4) {
            std::printf("bytes=%llu\n", ToFilePieces(argv[2], argv[3]));
        } else if (mode == "file-buffer" && argc == 4) {
            std::printf("bytes=%llu\n", ToFileBuffer(argv[2], argv[3]));
        } else if (mode == "bytes" && argc == 3) {
            std::printf("bytes=%llu\n", WholeBody(argv[2]));
        } else if ((mode == "requests" || mode == "components") && argc == 4) {
            const long count = std::strtol(argv[3], nullptr, 10);
            if (count <= 0) return Usage();
            std::printf("requests=%llu\n",
                        mode == "requests" ? Requests(argv[2], count) : Components(argv[2], count));
        } else {
            return Usage();
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "corvane_http_bench %s: %s\n", mode.c_str(), e.what());
        return 1;
    }
    return 0;
}
