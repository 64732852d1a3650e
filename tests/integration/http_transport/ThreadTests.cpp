// Several threads on the requests of one connection handle: a wait on one
// request holds up no call on another, the threads' exchanges all arrive
// whole over at most the process's limit of connections to the server, two
// readers of one body share it without losing or repeating a byte, two
// sends of one request take turns, and closing a request ends a wait on it.
// Run under ThreadSanitizer by ./run tsan.
#include "HttpTestSupport.h"

#include <chrono>
#include <cstring>
#include <mutex>
#include <set>
#include <thread>

using namespace HttpTest;
using namespace std::chrono_literals;

namespace {

using Clock = std::chrono::steady_clock;

std::string Body(std::size_t size, std::uint32_t seed) {
    return Bytes(TestServers::PatternBytes(seed, size));
}

// Reads to the end in pieces of `size` bytes; false on an error.
bool ReadPieces(HINTERNET request, std::size_t size, std::vector<std::string>& pieces) {
    std::string buffer(size, '\0');
    for (;;) {
        DWORD read = 0;
        if (!InternetReadFile(request, buffer.data(), static_cast<DWORD>(size), &read)) return false;
        if (read == 0) return true;
        pieces.push_back(buffer.substr(0, read));
    }
}

// Whether the pieces of two readers, each list in the order its reader got
// them, make up `body` exactly once when merged.
bool MergeTo(const std::vector<std::string>& a, const std::vector<std::string>& b, const std::string& body) {
    std::size_t i = 0, j = 0, at = 0;
    const auto fits = [&](const std::string& piece) {
        return at + piece.size() <= body.size() && body.compare(at, piece.size(), piece) == 0;
    };
    while (i < a.size() || j < b.size()) {
        if (i < a.size() && fits(a[i]))
            at += a[i++].size();
        else if (j < b.size() && fits(b[j]))
            at += b[j++].size();
        else
            return false;
    }
    return at == body.size();
}

}  // namespace

TEST(Threads, RequestsOfOneConnectionHandleGoOnSideBySide) {
    const Handle session = OpenSession();
    const Handle connection = Connect(session.get(), Echo());
    ASSERT_TRUE(connection);

    // One thread waits two seconds for a response; meanwhile another
    // request of the same connection handle is sent, queried, read and
    // closed without waiting for it.
    const Handle stalled = Open(connection.get(), u"GET", u"/stall?seconds=2");
    std::thread waiter([&] {
        EXPECT_TRUE(Send(stalled.get())) << GetLastError();
        ReadAll(stalled.get());
    });
    std::this_thread::sleep_for(300ms);
    const auto start = Clock::now();
    {
        const Handle other = Open(connection.get(), u"POST", u"/echo");
        EXPECT_TRUE(Send(other.get(), "abc")) << GetLastError();
        EXPECT_EQ(Custom(other.get(), "X-Echo-Body-Length"), "3");
        DWORD flags = 0, size = sizeof(flags);
        EXPECT_TRUE(InternetQueryOptionW(other.get(), INTERNET_OPTION_SECURITY_FLAGS, &flags, &size));
        ReadAll(other.get());
    }
    EXPECT_LT(Clock::now() - start, 1s) << "a call on one request waited for another request's wait";
    waiter.join();

    // Four threads, six exchanges each, on the shared connection handle.
    const std::string bytes = Body(300000, 1);
    std::mutex mutex;
    std::set<std::string> connections;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 6; ++i) {
                const bool post = (t + i) % 2 == 0;
                const std::string sent = post ? Body(50000 + 1000 * static_cast<std::size_t>(t), 7) : "";
                const Handle request =
                    Open(connection.get(), post ? u"POST" : u"GET", post ? u"/echo" : u"/bytes?size=300000");
                if (!Send(request.get(), sent)) {
                    ADD_FAILURE() << "thread " << t << ": " << GetLastError();
                    return;
                }
                const std::string got = ReadAll(request.get());
                if (post)
                    EXPECT_TRUE(got.size() > sent.size() && got.ends_with(sent)) << "thread " << t;
                else
                    EXPECT_TRUE(got == bytes) << "thread " << t << " got " << got.size() << " bytes";
                const std::lock_guard<std::mutex> lock(mutex);
                connections.insert(Custom(request.get(), "X-Connection-Id"));
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    DWORD limit = 0, size = sizeof(limit);
    ASSERT_TRUE(InternetQueryOptionW(nullptr, INTERNET_OPTION_MAX_CONNS_PER_SERVER, &limit, &size));
    EXPECT_EQ(limit, 2u);
    EXPECT_LE(connections.size(), limit) << "more connections to the server than the process allows";

    // Two threads read one body, in pieces of different sizes.
    {
        const std::string expected = Body(2000000, 1);
        const Handle shared = Open(connection.get(), u"GET", u"/bytes?size=2000000");
        ASSERT_TRUE(Send(shared.get()));
        std::vector<std::string> first, second;
        std::thread other([&] { EXPECT_TRUE(ReadPieces(shared.get(), 7919, second)); });
        EXPECT_TRUE(ReadPieces(shared.get(), 65536, first));
        other.join();
        EXPECT_TRUE(MergeTo(first, second, expected)) << "the readers lost, repeated or mixed bytes";
    }

    // Two threads send one request, each with a body of its own: one send
    // follows the other, and the response answers one of them whole.
    {
        const Handle twice = Open(connection.get(), u"PUT", u"/echo");
        const std::string one(1 << 20, 'a'), two(1 << 20, 'b');
        std::thread other([&] { EXPECT_TRUE(Send(twice.get(), two)) << GetLastError(); });
        EXPECT_TRUE(Send(twice.get(), one)) << GetLastError();
        other.join();
        const std::string echoed = ReadAll(twice.get());
        EXPECT_TRUE(echoed.ends_with(one) || echoed.ends_with(two)) << echoed.size() << " bytes";
    }

    // Closing a request from another thread ends its wait at once.
    {
        Handle closing = Open(connection.get(), u"GET", u"/stall?seconds=10");
        const HINTERNET value = closing.release();
        std::thread closer([value] {
            std::this_thread::sleep_for(300ms);
            InternetCloseHandle(value);
        });
        const auto waiting = Clock::now();
        EXPECT_FALSE(HttpSendRequestW(value, nullptr, 0, nullptr, 0));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INTERNET_OPERATION_CANCELLED));
        EXPECT_LT(Clock::now() - waiting, 2s);
        closer.join();
    }
}
