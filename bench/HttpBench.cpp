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
//   corvane_http_bench async-requests URL COUNT PARALLEL
//                                           COUNT requests for URL through
//                                           the C API on an asynchronous
//                                           session, PARALLEL at a time
//   corvane_http_bench async-file URL OUT  the body through the C API on an
//                                           asynchronous session, read into
//                                           one large buffer, to the file OUT
//
// Each run checks what it got (status 200, the announced length, one
// connection for all requests) and exits with 1 when anything is wrong, so a
// fast but faulty transfer never counts. It prints one line "bytes=N" or
// "requests=N". An https URL is checked against the CA in SSL_CERT_FILE.
#include <Corvane/Corvane.h>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

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

// The asynchronous cases, on the platform's C API.

// Raises with the thread's last error.
[[noreturn]] void FailCall(const char* call) {
    Fail(std::string(call) + " failed with error " + std::to_string(GetLastError()));
}

// An http URL's host, port and path (the bench's URLs are plain
// http://HOST:PORT/PATH).
struct TTarget {
    std::u16string Host;
    INTERNET_PORT Port = 80;
    std::u16string Path;
};

// A UTF-16 text as the platform's wide text (wchar_t on Windows).
LPCWSTR Text(const std::u16string& text) {
    return reinterpret_cast<LPCWSTR>(text.c_str());
}

TTarget Crack(const char* url) {
    const std::string text = url;
    const std::string prefix = "http://";
    if (text.compare(0, prefix.size(), prefix) != 0) Fail(std::string("not an http URL: ") + url);
    const std::size_t slash = text.find('/', prefix.size());
    const std::string authority = text.substr(prefix.size(), slash - prefix.size());
    const std::size_t colon = authority.rfind(':');
    TTarget target;
    target.Host = Wide(authority.substr(0, colon).c_str());
    if (colon != std::string::npos)
        target.Port = static_cast<INTERNET_PORT>(std::strtoul(authority.c_str() + colon + 1, nullptr, 10));
    target.Path = Wide(slash == std::string::npos ? "/" : text.c_str() + slash);
    return target;
}

// The completions of the pending calls: the status callback (on a library
// thread) queues the context value of each INTERNET_STATUS_REQUEST_COMPLETE
// with its result, and the main thread takes them one by one, sleeping
// while there are none.
struct TCompletions {
    struct TItem {
        DWORD_PTR Context;
        DWORD Error;
    };
    std::mutex Lock;
    std::condition_variable Arrived;
    std::deque<TItem> Items;

    TItem Next() {
        std::unique_lock<std::mutex> lock(Lock);
        Arrived.wait(lock, [this] { return !Items.empty(); });
        const TItem item = Items.front();
        Items.pop_front();
        return item;
    }
};

TCompletions Completions;

void CALLBACK OnStatus(HINTERNET, DWORD_PTR context, DWORD status, LPVOID information, DWORD length) {
    if (status != INTERNET_STATUS_REQUEST_COMPLETE) return;
    INTERNET_ASYNC_RESULT result{};
    if (information != nullptr && length >= sizeof result) std::memcpy(&result, information, sizeof result);
    {
        const std::lock_guard<std::mutex> lock(Completions.Lock);
        Completions.Items.push_back({context, result.dwError});
    }
    Completions.Arrived.notify_one();
}

// An asynchronous session with the callback above, and a connection to
// the target's server.
struct TAsyncConnection {
    HINTERNET Session = nullptr;
    HINTERNET Connection = nullptr;

    explicit TAsyncConnection(const TTarget& target) {
        Session = InternetOpenW(Text(u"corvane_http_bench"), INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr,
                                INTERNET_FLAG_ASYNC);
        if (Session == nullptr) FailCall("InternetOpenW");
        if (InternetSetStatusCallbackW(Session, OnStatus) == INTERNET_INVALID_STATUS_CALLBACK)
            FailCall("InternetSetStatusCallbackW");
        Connection = InternetConnectW(Session, Text(target.Host), target.Port, nullptr, nullptr,
                                      INTERNET_SERVICE_HTTP, 0, 0);
        if (Connection == nullptr) FailCall("InternetConnectW");
    }
    ~TAsyncConnection() {
        InternetCloseHandle(Connection);
        InternetCloseHandle(Session);
    }
    TAsyncConnection(const TAsyncConnection&) = delete;
    TAsyncConnection& operator=(const TAsyncConnection&) = delete;
};

HINTERNET OpenGet(const TAsyncConnection& connection, const TTarget& target, DWORD_PTR context) {
    HINTERNET request =
        HttpOpenRequestW(connection.Connection, Text(u"GET"), Text(target.Path), nullptr, nullptr, nullptr,
                         INTERNET_FLAG_KEEP_CONNECTION | INTERNET_FLAG_RELOAD, context);
    if (request == nullptr) FailCall("HttpOpenRequestW");
    return request;
}

// How many asynchronous calls were made and how many of them came back
// pending (printed after the result, to see where the time goes).
unsigned long long Calls = 0;
unsigned long long PendingCalls = 0;

// Whether a call came back pending; any other failure raises.
bool Pending(BOOL done, const char* call) {
    ++Calls;
    if (done) return false;
    if (GetLastError() != ERROR_IO_PENDING) FailCall(call);
    ++PendingCalls;
    return true;
}

DWORD QueryNumber(HINTERNET request, DWORD info) {
    DWORD value = 0;
    DWORD size = sizeof value;
    if (!HttpQueryInfoW(request, info | HTTP_QUERY_FLAG_NUMBER, &value, &size, nullptr))
        FailCall("HttpQueryInfoW");
    return value;
}

// One request in flight: sent, then read until a read of 0 bytes.
struct TSlot {
    HINTERNET Request = nullptr;
    bool Sent = false;
    DWORD Read = 0;
    unsigned long long Body = 0;
    char Buffer[4096];
};

// COUNT GETs of URL, PARALLEL at a time, each a request handle of its own
// on one connection handle of an asynchronous session; the backend may
// open up to PARALLEL connections to the server. The main thread sends and
// reads until a call comes back pending, then takes the next completion.
// Every response must be 200 with the announced length.
unsigned long long AsyncRequests(const char* url, long count, long parallel) {
    DWORD conns = static_cast<DWORD>(parallel);
    if (!InternetSetOptionW(nullptr, INTERNET_OPTION_MAX_CONNS_PER_SERVER, &conns, sizeof conns))
        FailCall("InternetSetOptionW");
    const TTarget target = Crack(url);
    TAsyncConnection connection(target);
    std::vector<TSlot> slots(static_cast<std::size_t>(parallel));
    long started = 0;
    long finished = 0;

    // Drives a slot as far as it goes without waiting; true when its
    // request is done.
    auto advance = [&](TSlot& slot) {
        if (!slot.Sent) {
            slot.Sent = true;
            if (QueryNumber(slot.Request, HTTP_QUERY_STATUS_CODE) != 200) Fail("status is not 200");
        }
        for (;;) {
            if (Pending(InternetReadFile(slot.Request, slot.Buffer, sizeof slot.Buffer, &slot.Read),
                        "InternetReadFile"))
                return false;
            if (slot.Read == 0) break;
            slot.Body += slot.Read;
        }
        CheckLength(slot.Body, QueryNumber(slot.Request, HTTP_QUERY_CONTENT_LENGTH));
        InternetCloseHandle(slot.Request);
        slot = TSlot();
        return true;
    };
    // Starts the next request in a free slot and drives it.
    auto start = [&](TSlot& slot) {
        while (started < count) {
            ++started;
            slot.Request = OpenGet(connection, target, reinterpret_cast<DWORD_PTR>(&slot));
            if (Pending(HttpSendRequestW(slot.Request, nullptr, 0, nullptr, 0), "HttpSendRequestW")) return;
            if (!advance(slot)) return;
            ++finished;
        }
    };

    for (TSlot& slot : slots) start(slot);
    while (finished < count) {
        const TCompletions::TItem item = Completions.Next();
        auto& slot = *reinterpret_cast<TSlot*>(item.Context);
        if (item.Error != 0) Fail("a request failed with error " + std::to_string(item.Error));
        if (slot.Sent) slot.Body += slot.Read;
        if (slot.Sent && slot.Read == 0) {
            CheckLength(slot.Body, QueryNumber(slot.Request, HTTP_QUERY_CONTENT_LENGTH));
            InternetCloseHandle(slot.Request);
            slot = TSlot();
        } else if (!advance(slot)) {
            continue;
        }
        ++finished;
        start(slot);
    }
    return static_cast<unsigned long long>(count);
}

// The body of URL into the file OUT, on an asynchronous session: the send,
// then reads of one large buffer, each pending one waited for.
unsigned long long AsyncFile(const char* url, const char* out) {
    const TTarget target = Crack(url);
    TAsyncConnection connection(target);
    HINTERNET request = OpenGet(connection, target, 1);
    auto wait = [] {
        const TCompletions::TItem item = Completions.Next();
        if (item.Error != 0) Fail("the transfer failed with error " + std::to_string(item.Error));
    };
    if (Pending(HttpSendRequestW(request, nullptr, 0, nullptr, 0), "HttpSendRequestW")) wait();
    if (QueryNumber(request, HTTP_QUERY_STATUS_CODE) != 200) Fail("status is not 200");
    const unsigned long long expected = QueryNumber(request, HTTP_QUERY_CONTENT_LENGTH);
    const int fd = OpenOutput(out);
    std::vector<char> buffer(1 << 20);
    unsigned long long total = 0;
    for (;;) {
        DWORD read = 0;
        if (Pending(InternetReadFile(request, buffer.data(), static_cast<DWORD>(buffer.size()), &read),
                    "InternetReadFile"))
            wait();
        if (read == 0) break;
        WriteAll(fd, buffer.data(), read);
        total += read;
    }
    if (::close(fd) != 0) Fail("close failed");
    InternetCloseHandle(request);
    CheckLength(total, expected);
    return total;
}

int Usage() {
    std::fputs(
        "usage: corvane_http_bench file|file-buffer|async-file URL OUT | bytes URL |\n"
        "       requests|components URL COUNT | async-requests URL COUNT PARALLEL\n",
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
        } else if (mode == "async-file" && argc == 4) {
            std::printf("bytes=%llu\n", AsyncFile(argv[2], argv[3]));
            std::printf("calls=%llu pending=%llu\n", Calls, PendingCalls);
        } else if (mode == "async-requests" && argc == 5) {
            const long count = std::strtol(argv[3], nullptr, 10);
            const long parallel = std::strtol(argv[4], nullptr, 10);
            if (count <= 0 || parallel <= 0) return Usage();
            std::printf("requests=%llu\n", AsyncRequests(argv[2], count, parallel));
            std::printf("calls=%llu pending=%llu\n", Calls, PendingCalls);
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
