// The asynchronous mode through the C API: a session opened with
// INTERNET_FLAG_ASYNC, whose calls may return ERROR_IO_PENDING and then
// report their result once, as INTERNET_STATUS_REQUEST_COMPLETE, to the
// status callback with the handle's context value, on a library thread.
#include "HttpTestSupport.h"

#if !defined(_WIN32)
#include "posix/async/Workers.h"
#endif

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <set>
#include <thread>

using namespace HttpTest;
using namespace std::chrono_literals;

namespace {

// Records what the status callback reports, per context value: each
// REQUEST_COMPLETE's result, the statuses in order, and whether the handle
// has reported HANDLE_CLOSING. A test waits for the nth completion of a
// context with a time-out. The callback has no other way to reach the test
// than the context, so there is one waiter for the program.
class Waiter {
public:
    struct Completion {
        DWORD_PTR Result = 0;
        DWORD Error = 0;
        DWORD Watched = 0;  // the watched count of the context as the callback ran
    };

    static Waiter& Get() {
        static Waiter waiter;
        return waiter;
    }

    void Reset() {
        std::lock_guard<std::mutex> lock(FMutex);
        FContexts.clear();
        FCaller = std::this_thread::get_id();
        FOnCallerThread = FAfterClosing = 0;
    }

    // The count a call writes through a pointer: the callback notes its
    // value, so a test sees whether it was written before the completion.
    void Watch(DWORD_PTR context, const DWORD* count) {
        std::lock_guard<std::mutex> lock(FMutex);
        FContexts[context].Watch = count;
    }

    std::size_t Count(DWORD_PTR context) {
        std::lock_guard<std::mutex> lock(FMutex);
        return FContexts[context].Completions.size();
    }

    // Waits until the context has `count` completions; the last of them.
    bool WaitFor(DWORD_PTR context, std::size_t count, Completion& out, std::chrono::seconds limit = 15s) {
        std::unique_lock<std::mutex> lock(FMutex);
        Record& record = FContexts[context];
        if (!FChanged.wait_for(lock, limit, [&] { return record.Completions.size() >= count; })) return false;
        out = record.Completions[count - 1];
        return true;
    }

    bool WaitClosing(DWORD_PTR context, std::chrono::seconds limit) {
        std::unique_lock<std::mutex> lock(FMutex);
        Record& record = FContexts[context];
        return FChanged.wait_for(lock, limit, [&] { return record.Closed; });
    }

    std::vector<DWORD> Statuses(DWORD_PTR context) {
        std::lock_guard<std::mutex> lock(FMutex);
        return FContexts[context].Statuses;
    }
    std::vector<Completion> Completions(DWORD_PTR context) {
        std::lock_guard<std::mutex> lock(FMutex);
        return FContexts[context].Completions;
    }
    std::size_t OnCallerThread() {
        std::lock_guard<std::mutex> lock(FMutex);
        return FOnCallerThread;
    }
    std::size_t AfterClosing() {
        std::lock_guard<std::mutex> lock(FMutex);
        return FAfterClosing;
    }

    static void CALLBACK Callback(HINTERNET, DWORD_PTR context, DWORD status, LPVOID info, DWORD length) {
        Waiter& self = Get();
        std::lock_guard<std::mutex> lock(self.FMutex);
        Record& record = self.FContexts[context];
        if (record.Closed) ++self.FAfterClosing;
        record.Statuses.push_back(status);
        if (status == INTERNET_STATUS_HANDLE_CLOSING) record.Closed = true;
        if (status == INTERNET_STATUS_REQUEST_COMPLETE) {
            EXPECT_EQ(length, sizeof(INTERNET_ASYNC_RESULT));
            const auto* result = static_cast<const INTERNET_ASYNC_RESULT*>(info);
            record.Completions.push_back(
                {result->dwResult, result->dwError, record.Watch ? *record.Watch : 0});
            if (std::this_thread::get_id() == self.FCaller) ++self.FOnCallerThread;
        }
        self.FChanged.notify_all();
    }

private:
    struct Record {
        std::vector<DWORD> Statuses;
        std::vector<Completion> Completions;
        const DWORD* Watch = nullptr;
        bool Closed = false;
    };
    std::mutex FMutex;
    std::condition_variable FChanged;
    std::map<DWORD_PTR, Record> FContexts;
    std::thread::id FCaller;
    std::size_t FOnCallerThread = 0;
    std::size_t FAfterClosing = 0;
};

// How a call ended: at once, or pending and then with its REQUEST_COMPLETE.
struct Outcome {
    bool Pending = false;
    bool Ok = false;
    DWORD Error = 0;  // the last error at once, else the completion's dwError
    DWORD_PTR Result = 0;
    DWORD Watched = 0;
};

// Makes a call on a handle of the context and, when it is pending, waits
// for its completion.
template <class Call>
Outcome Perform(DWORD_PTR context, Call call, const DWORD* watch = nullptr) {
    Waiter& waiter = Waiter::Get();
    waiter.Watch(context, watch);
    const std::size_t before = waiter.Count(context);
    const BOOL ok = call();
    const DWORD error = GetLastError();
    Waiter::Completion done;
    Outcome outcome{false, ok != FALSE, ok ? 0 : error, 0, 0};
    if (!ok && error == ERROR_IO_PENDING) {
        if (waiter.WaitFor(context, before + 1, done))
            outcome = {true, done.Result != 0, done.Error, done.Result, done.Watched};
        else
            ADD_FAILURE() << "no completion for context " << context;
    }
    waiter.Watch(context, nullptr);
    return outcome;
}

// A call that makes a handle: at once, or from its completion's dwResult,
// reported under `reported` (the context the completion comes with).
template <class Call>
std::pair<HINTERNET, bool> PerformOpen(DWORD_PTR reported, Call call) {
    HINTERNET made = nullptr;
    const Outcome outcome = Perform(reported, [&] {
        made = call();
        // Wine returns some of these calls' NULL with no error at all, and
        // reports them later all the same.
        if (!made && GetLastError() == 0 && PlatformDifferences::Reason("wine-async-ftp"))
            SetLastError(ERROR_IO_PENDING);
        return made ? TRUE : FALSE;
    });
    if (!made && outcome.Ok) made = reinterpret_cast<HINTERNET>(outcome.Result);
    EXPECT_NE(made, nullptr) << "error " << outcome.Error;
    return {made, outcome.Pending};
}

// The body to its end: InternetReadFile alone, or each piece the size
// InternetQueryDataAvailable gives. Counts the calls that were pending and
// checks that a pending call's count is written before its completion.
std::string ReadBody(DWORD_PTR context, HINTERNET request, bool query, int& pendingCalls) {
    std::string body;
    for (;;) {
        DWORD size = 65536;
        if (query) {
            DWORD available = 0;
            const Outcome q = Perform(
                context, [&] { return InternetQueryDataAvailable(request, &available, 0, 0); }, &available);
            if (!q.Ok) {
                ADD_FAILURE() << "InternetQueryDataAvailable: " << q.Error;
                return body;
            }
            if (q.Pending) {
                ++pendingCalls;
                EXPECT_EQ(q.Error, available) << "the count comes in dwError too";
                EXPECT_EQ(q.Watched, available);
            }
            if (available == 0) return body;
            size = available;
        }
        std::string piece(size, '\0');
        DWORD read = 0;
        const Outcome r = Perform(
            context, [&] { return InternetReadFile(request, piece.data(), size, &read); }, &read);
        if (!r.Ok) {
            ADD_FAILURE() << "InternetReadFile: " << r.Error;
            return body;
        }
        if (r.Pending) {
            ++pendingCalls;
            EXPECT_EQ(r.Watched, read);
        }
        if (read == 0) return body;
        body.append(piece.data(), read);
    }
}

constexpr DWORD kFresh = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE;

class Async : public ::testing::Test {
protected:
    void SetUp() override {
        Waiter::Get().Reset();
        FSession = Handle(InternetOpenW(W(u"CorvaneTest/1.0"), INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr,
                                        INTERNET_FLAG_ASYNC));
        ASSERT_TRUE(FSession);
        ASSERT_NE(InternetSetStatusCallbackW(FSession.get(), &Waiter::Callback),
                  INTERNET_INVALID_STATUS_CALLBACK);
    }
    void TearDown() override {
        FSession.Close();
        EXPECT_EQ(Waiter::Get().OnCallerThread(), 0u) << "completions on the caller's thread";
        EXPECT_EQ(Waiter::Get().AfterClosing(), 0u) << "notifications after HANDLE_CLOSING";
    }

    // Sends the request; checks that it was pending and succeeded.
    static void SendPending(DWORD_PTR context, HINTERNET request) {
        const Outcome sent =
            Perform(context, [&] { return HttpSendRequestW(request, nullptr, 0, nullptr, 0); });
        EXPECT_TRUE(sent.Pending);
        EXPECT_TRUE(sent.Ok) << sent.Error;
        EXPECT_EQ(sent.Error, 0u);
    }

    // A connection to the echo server whose requests give up after
    // `milliseconds` without a byte.
    Handle ConnectWithReceiveTimeout(DWORD_PTR context, DWORD milliseconds) {
        Handle connection = Connect(FSession.get(), Echo(), u"", u"", context);
        if (connection && !InternetSetOptionW(connection.get(), INTERNET_OPTION_RECEIVE_TIMEOUT,
                                              &milliseconds, sizeof(milliseconds)))
            connection.Close();
        return connection;
    }

    Handle FSession;
};

}  // namespace

// A body whose first 1000 bytes come with the headers and the rest a second
// later, read with InternetReadFile alone and with InternetQueryDataAvailable
// first: the wait makes a read or a query pending in each.
TEST_F(Async, HttpExchangeCompletesOnLibraryThreads) {
    const std::string expected = Bytes(TestServers::PatternBytes(1, 200000));
    Handle connection = Connect(FSession.get(), Echo(), u"", u"", 1);
    ASSERT_TRUE(connection);
    for (const bool query : {false, true}) {
        SCOPED_TRACE(query ? "query, then read" : "read");
        const DWORD_PTR context = query ? 3 : 2;
        Handle request = Open(connection.get(), u"GET", u"/stall?before=body&size=200000&sent=1000&seconds=1",
                              kFresh, context);
        ASSERT_TRUE(request);
        SendPending(context, request.get());
        EXPECT_EQ(StatusCode(request.get()), 200u);

        // The completion of the send comes after the exchange's own statuses.
        const std::vector<DWORD> statuses = Waiter::Get().Statuses(context);
        ASSERT_FALSE(statuses.empty());
        EXPECT_EQ(statuses.back(), static_cast<DWORD>(INTERNET_STATUS_REQUEST_COMPLETE));
        const auto at = [&](DWORD status) { return std::find(statuses.begin(), statuses.end(), status); };
        EXPECT_LT(at(INTERNET_STATUS_REQUEST_SENT), at(INTERNET_STATUS_RESPONSE_RECEIVED));
        EXPECT_LT(at(INTERNET_STATUS_RESPONSE_RECEIVED), statuses.end() - 1);

        int pending = 0;
        const std::string body = ReadBody(context, request.get(), query, pending);
        EXPECT_GE(pending, 1);
        EXPECT_EQ(body.size(), expected.size());
        EXPECT_TRUE(body == expected) << "the body differs from the pattern bytes";
        for (const Waiter::Completion& done : Waiter::Get().Completions(context)) EXPECT_EQ(done.Result, 1u);
    }
}

// A download with FtpOpenFileW and reads, and a listing.
TEST_F(Async, FtpDownloadAndListing) {
    const Server ftp = ServerOf(TestServers::Setting("CORVANE_FTP_URL"));
    const std::u16string user = Wide(TestServers::Setting("CORVANE_FTP_USER"));
    const std::u16string password = Wide(TestServers::Setting("CORVANE_FTP_PASSWORD"));
    const bool wine = PlatformDifferences::Reason("wine-async-ftp") != nullptr;
    constexpr DWORD_PTR kConnection = 10, kFile = 11, kFind = 12;

    const auto [made, connectPending] = PerformOpen(kConnection, [&] {
        return InternetConnectW(FSession.get(), W(ftp.host.c_str()), ftp.port, W(user.c_str()),
                                W(password.c_str()), INTERNET_SERVICE_FTP, INTERNET_FLAG_PASSIVE,
                                kConnection);
    });
    Handle connection(made);
    ASSERT_TRUE(connection);
    EXPECT_EQ(connectPending, !wine);

    {
        // The file's completion comes to the new file handle, the find's to
        // the connection.
        Handle file(PerformOpen(kFile, [&] {
                        return FtpOpenFileW(connection.get(), W(u"data.bin"), GENERIC_READ,
                                            FTP_TRANSFER_TYPE_BINARY, kFile);
                    }).first);
        ASSERT_TRUE(file);
        int pending = 0;
        const std::string body = ReadBody(kFile, file.get(), false, pending);
        const std::size_t size = std::stoul(TestServers::Setting("CORVANE_FTP_DATA_SIZE"));
        EXPECT_EQ(body.size(), size);
        EXPECT_TRUE(body == Bytes(TestServers::PatternBytes(1, size))) << "data.bin differs";
    }

    WIN32_FIND_DATAW found{};
    Handle find(PerformOpen(kConnection, [&] {
                    return FtpFindFirstFileW(connection.get(), W(u"tree/*"), &found, 0, kFind);
                }).first);
    ASSERT_TRUE(find);
    std::set<std::u16string> names{WideText::U(found.cFileName)};
    const std::set<std::u16string> all{u"one.txt", u"sub"};
    if (PlatformDifferences::Reason("wine-async-find-next")) {
        EXPECT_TRUE(all.count(*names.begin())) << Narrow(*names.begin());
        return;
    }
    for (;;) {
        WIN32_FIND_DATAW next{};
        const Outcome more = Perform(kFind, [&] { return InternetFindNextFileW(find.get(), &next); });
        if (!more.Ok) {
            EXPECT_EQ(more.Error, static_cast<DWORD>(ERROR_NO_MORE_FILES));
            break;
        }
        ASSERT_TRUE(names.insert(WideText::U(next.cFileName)).second) << "listed twice";
    }
    EXPECT_EQ(names, all);
}

// Closing a request while its send is pending, and while a read is: the
// close returns at once, HANDLE_CLOSING comes and nothing after it, and the
// operation ends cancelled if it reports at all.
TEST_F(Async, CloseWithAnOperationPending) {
    Handle connection = Connect(FSession.get(), Echo(), u"", u"", 20);
    ASSERT_TRUE(connection);
    struct Row {
        const char* Name;
        const char16_t* Path;
        bool PendingRead;
    };
    const Row rows[] = {
        {"send pending", u"/stall?seconds=2", false},
        {"read pending", u"/stall?before=body&size=100&sent=0&seconds=2", true},
    };
    static char buffer[100];
    static DWORD read;
    DWORD_PTR context = 20;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.Name);
        ++context;
        Handle request = Open(connection.get(), u"GET", row.Path, kFresh, context);
        ASSERT_TRUE(request);
        std::size_t before = 0;
        if (row.PendingRead) {
            SendPending(context, request.get());
            before = 1;
            EXPECT_FALSE(InternetReadFile(request.get(), buffer, sizeof(buffer), &read));
        } else {
            EXPECT_FALSE(HttpSendRequestW(request.get(), nullptr, 0, nullptr, 0));
        }
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_IO_PENDING));
        std::this_thread::sleep_for(200ms);

        const auto start = std::chrono::steady_clock::now();
        EXPECT_TRUE(InternetCloseHandle(request.release()));
        EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
        EXPECT_TRUE(Waiter::Get().WaitClosing(context, 10s));
        // Past the server's stall: an operation left running would have
        // reported by now.
        std::this_thread::sleep_until(start + 2500ms);

        const std::vector<Waiter::Completion> done = Waiter::Get().Completions(context);
        EXPECT_EQ(Waiter::Get().Statuses(context).back(), static_cast<DWORD>(INTERNET_STATUS_HANDLE_CLOSING));
        if (PlatformDifferences::Reason("wine-async-close")) {
            ASSERT_EQ(done.size(), before + 1);
            EXPECT_EQ(done.back().Result, 1u);
            continue;
        }
        ASSERT_LE(done.size(), before + 1);
        if (done.size() == before + 1) {
            EXPECT_EQ(done.back().Result, 0u);
            EXPECT_EQ(done.back().Error, static_cast<DWORD>(ERROR_INTERNET_OPERATION_CANCELLED));
        }
    }
}

// A pending send whose wait no thread holds still ends as a synchronous one
// does: redirects followed to the final response, and a server that stays
// silent ended by the receive timeout, each with one completion.
TEST_F(Async, PendingSendFollowsRedirectsAndKeepsTheTimeout) {
    Handle connection = ConnectWithReceiveTimeout(40, 500);
    ASSERT_TRUE(connection);
    struct Row {
        const char16_t* Path;
        DWORD Error;
        DWORD Status;
    };
    const Row rows[] = {
        {u"/redirect/3", ERROR_SUCCESS, 200},
        {u"/stall?seconds=3", ERROR_INTERNET_TIMEOUT, 0},
    };
    DWORD_PTR context = 40;
    for (const Row& row : rows) {
        SCOPED_TRACE(Narrow(row.Path));
        Handle request = Open(connection.get(), u"GET", row.Path, kFresh, ++context);
        ASSERT_TRUE(request);
        const auto start = std::chrono::steady_clock::now();
        const Outcome sent =
            Perform(context, [&] { return HttpSendRequestW(request.get(), nullptr, 0, nullptr, 0); });
        EXPECT_TRUE(sent.Pending);
        EXPECT_EQ(sent.Ok, row.Error == ERROR_SUCCESS);
        if (row.Error == ERROR_INTERNET_TIMEOUT && PlatformDifferences::Reason("wine-receive-timeout")) {
            EXPECT_TRUE(sent.Error == ERROR_INTERNET_CONNECTION_ABORTED || sent.Error == 10060) << sent.Error;
        } else {
            EXPECT_EQ(sent.Error, row.Error);
        }
        EXPECT_LT(std::chrono::steady_clock::now() - start, 2500ms);
        if (row.Status) {
            EXPECT_EQ(StatusCode(request.get()), row.Status);
        }
        EXPECT_EQ(Waiter::Get().Completions(context).size(), 1u);
    }
}

#if !defined(_WIN32)
namespace {
// Closes the request from its own status callback on the first `closeOn`
// (after `skip` of them), then says the close returned.
std::atomic<DWORD> gCloseOn{0};
std::atomic<int> gSkip{0};
std::atomic<bool> gClosed{false};
void CALLBACK ClosingCallback(HINTERNET handle, DWORD_PTR context, DWORD status, LPVOID info, DWORD length) {
    Waiter::Callback(handle, context, status, info, length);
    if (status != gCloseOn.load() || gSkip.fetch_sub(1) > 0) return;
    gCloseOn = 0;
    InternetCloseHandle(handle);
    gClosed = true;
}
}  // namespace

// A status callback that closes its request while the send reports to it
// returns: from the completion of a send that failed at once in its turn
// behind another, and from a notification of a send ended by its time limit.
TEST_F(Async, CallbackClosesTheRequestItIsReportingFor) {
    Handle connection = ConnectWithReceiveTimeout(50, 500);
    ASSERT_TRUE(connection);
    struct Row {
        const char* Name;
        DWORD CloseOn;
        int Skip;
        const char16_t* Path;
        const char16_t* SecondSendHeaders;
    };
    const Row rows[] = {
        {"queued send failing at once", INTERNET_STATUS_REQUEST_COMPLETE, 1, u"/stall?seconds=1",
         u"NoColonHere"},
        {"send timed out", INTERNET_STATUS_CONNECTION_CLOSED, 0, u"/stall?seconds=4", nullptr},
    };
    DWORD_PTR context = 50;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.Name);
        HINTERNET request = Open(connection.get(), u"GET", row.Path, kFresh, ++context).release();
        ASSERT_TRUE(request);
        gClosed = false;
        gSkip = row.Skip;
        gCloseOn = row.CloseOn;
        InternetSetStatusCallbackW(request, &ClosingCallback);
        EXPECT_FALSE(HttpSendRequestW(request, nullptr, 0, nullptr, 0));
        if (row.SecondSendHeaders) {
            EXPECT_FALSE(HttpSendRequestW(request, W(row.SecondSendHeaders), DWORD(-1), nullptr, 0));
        }
        EXPECT_TRUE(Waiter::Get().WaitClosing(context, 8s));
        const auto until = std::chrono::steady_clock::now() + 2s;
        while (!gClosed && std::chrono::steady_clock::now() < until) std::this_thread::sleep_for(20ms);
        EXPECT_TRUE(gClosed) << "the close in the callback did not return";
        gCloseOn = 0;
    }
}
#endif

// 100 requests on 10 connection handles, all sent before any completes, then
// read side by side: every one completes with the same body.
TEST_F(Async, HundredConcurrentRequests) {
    constexpr int kConnections = 10, kRequests = 100;
    const std::string expected = Bytes(TestServers::PatternBytes(5, 40000));
    struct Exchange {
        Handle Request;
        DWORD_PTR Context = 0;
        std::string Body;
        char Piece[16384];
        DWORD Read = 0;
        std::size_t Awaited = 0;  // the completion count that ends the call in flight
        bool Done = false;
    };
    // Reads until a read is pending or the body has ended.
    const auto next = [](Exchange& e) {
        for (;;) {
            const std::size_t before = Waiter::Get().Count(e.Context);
            if (!InternetReadFile(e.Request.get(), e.Piece, sizeof(e.Piece), &e.Read)) {
                EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_IO_PENDING));
                e.Awaited = before + 1;
                return;
            }
            if (e.Read == 0) {
                e.Done = true;
                return;
            }
            e.Body.append(e.Piece, e.Read);
        }
    };

    std::vector<Handle> connections;
    for (int i = 0; i < kConnections; ++i) {
        connections.push_back(Connect(FSession.get(), Echo(), u"", u"", 1000 + i));
        ASSERT_TRUE(connections.back());
    }
    std::vector<Exchange> exchanges(kRequests);
    for (int i = 0; i < kRequests; ++i) {
        Exchange& e = exchanges[i];
        e.Context = 100 + i;
        e.Request =
            Open(connections[i % kConnections].get(), u"GET", u"/bytes?size=40000&seed=5", kFresh, e.Context);
        ASSERT_TRUE(e.Request);
        ASSERT_FALSE(HttpSendRequestW(e.Request.get(), nullptr, 0, nullptr, 0));
        ASSERT_EQ(GetLastError(), static_cast<DWORD>(ERROR_IO_PENDING));
        e.Awaited = 1;
    }
    Waiter::Completion done;
    for (Exchange& e : exchanges) {
        ASSERT_TRUE(Waiter::Get().WaitFor(e.Context, 1, done, 30s)) << "send " << e.Context;
        EXPECT_EQ(done.Result, 1u) << done.Error;
        next(e);
    }
    for (bool more = true; more;) {
        more = false;
        for (Exchange& e : exchanges) {
            if (e.Done) continue;
            ASSERT_TRUE(Waiter::Get().WaitFor(e.Context, e.Awaited, done, 30s)) << "read " << e.Context;
            ASSERT_EQ(done.Result, 1u) << done.Error;
            if (e.Read == 0) {
                e.Done = true;
                continue;
            }
            e.Body.append(e.Piece, e.Read);
            next(e);
            more = more || !e.Done;
        }
    }
    int differing = 0;
    for (const Exchange& e : exchanges) differing += e.Body != expected;
    EXPECT_EQ(differing, 0);
#if !defined(_WIN32)
    // The backend's worker threads are joined when the last asynchronous
    // session closes.
    EXPECT_GT(Corvane::Backend::Workers::ThreadCount(), 0u);
    exchanges.clear();
    connections.clear();
    FSession.Close();
    EXPECT_EQ(Corvane::Backend::Workers::ThreadCount(), 0u);
#endif
}
