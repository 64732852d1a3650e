// Body reads through the transport's two paths (straight into the reader's
// buffer, or through its queue when the reader asked what is available
// first) and the pauses between them: whatever the sizes and their order,
// the body arrives whole and in order, the queue stays bounded, and the
// connection is fit for the next request.
#include "HttpTestSupport.h"

#include <functional>

using namespace HttpTest;

namespace {

// What the transport may hold ahead of a reader: its queue limit plus one
// receive buffer.
constexpr DWORD kMostBuffered = (512u << 10) + (256u << 10);

// The size of the next read; `available` is what InternetQueryDataAvailable
// reported just before, or 0 when the pattern does not ask.
struct Pattern {
    const char* name;
    bool asksFirst;
    std::function<DWORD(int step, DWORD available)> next;
};

const Pattern kPatterns[] = {
    // Larger than everything buffered: the transfer pauses on a full buffer.
    {"1 MiB reads", false, [](int, DWORD) { return DWORD(1) << 20; }},
    // Just past one libcurl write: pieces split between buffer and queue.
    {"16385-byte reads", false, [](int, DWORD) { return DWORD(16385); }},
    {"prime-sized reads", false, [](int, DWORD) { return DWORD(99991); }},
    // The component's pieces: exactly what is available.
    {"available pieces", true, [](int, DWORD available) { return available ? available : 1; }},
    // Queue and buffer by turns: half of what is queued, then a large read.
    {"mixed", true,
     [](int step, DWORD available) { return step % 2 ? DWORD(300000) : std::max<DWORD>(available / 2, 1); }},
};

struct Outcome {
    std::string body;
    DWORD largestAvailable = 0;
};

Outcome ReadWith(HINTERNET request, const Pattern& pattern) {
    Outcome out;
    std::string buffer;
    for (int step = 0;; ++step) {
        DWORD available = 0;
        if (pattern.asksFirst) {
            if (!InternetQueryDataAvailable(request, &available, 0, 0)) {
                ADD_FAILURE() << "InternetQueryDataAvailable failed: " << GetLastError();
                return out;
            }
            out.largestAvailable = std::max(out.largestAvailable, available);
        }
        buffer.assign(pattern.next(step, available), '\0');
        DWORD read = 0;
        if (!InternetReadFile(request, buffer.data(), static_cast<DWORD>(buffer.size()), &read)) {
            ADD_FAILURE() << "InternetReadFile failed: " << GetLastError();
            return out;
        }
        if (read > buffer.size()) {
            ADD_FAILURE() << "read " << read << " bytes into " << buffer.size();
            return out;
        }
        if (read == 0) return out;
        out.body.append(buffer, 0, read);
    }
}

class BodyReads : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(FSession) << GetLastError(); }
    Handle FSession = OpenSession();
};

}  // namespace

TEST_F(BodyReads, EveryPatternOfReadsGetsTheWholeBodyInOrder) {
    const std::size_t dataSize = std::stoul(TestServers::Setting("CORVANE_DATA_SIZE"));
    struct Source {
        Server server;
        std::u16string path;
        std::size_t size;
    };
    const std::u16string dataPath = Wide(TestServers::Setting("CORVANE_DATA_PATH"));
    // Over TLS, bytes can wait inside the TLS layer while the socket is
    // quiet: a paused transfer must still get them when it resumes.
    const Source sources[] = {
        {Nginx(), dataPath, dataSize},
        {ServerOf(TestServers::Setting("CORVANE_HTTPS_URL")), dataPath, dataSize},
        {Echo(), u"/chunked?size=1500000&chunk=70001", 1500000},
        {EchoTls(), u"/chunked?size=1500000&chunk=70001", 1500000},
        {Echo(), u"/close-delimited?size=1500000", 1500000},
    };
    for (const Source& source : sources) {
        const std::string expected = Bytes(TestServers::PatternBytes(1, source.size));
        const Handle connection = Connect(FSession.get(), source.server);
        const DWORD flags = source.server.secure ? INTERNET_FLAG_SECURE : 0;
        for (const Pattern& pattern : kPatterns) {
            SCOPED_TRACE(Narrow(source.path) + (source.server.secure ? " over TLS, " : ", ") + pattern.name);
            const Handle request = Open(connection.get(), u"GET", source.path, flags);
            ASSERT_TRUE(Send(request.get())) << GetLastError();
            const Outcome outcome = ReadWith(request.get(), pattern);
            // Compared by size and content apart, so a failure does not print
            // megabytes.
            ASSERT_EQ(outcome.body.size(), expected.size());
            EXPECT_TRUE(outcome.body == expected) << "the bytes differ";
            EXPECT_LE(outcome.largestAvailable, kMostBuffered);
        }
    }
}

// A transfer left paused (its reader's buffer full, libcurl holding the
// rest) neither spoils its connection for the next request when it was read
// to the end, nor the next request when it was closed half-read.
TEST_F(BodyReads, PausedTransfersLeaveTheConnectionFitForTheNextRequest) {
    const Handle connection = Connect(FSession.get(), Nginx());
    const std::u16string data = Wide(TestServers::Setting("CORVANE_DATA_PATH"));
    const std::u16string small = Wide(TestServers::Setting("CORVANE_SMALL_PATH"));
    const std::size_t dataSize = std::stoul(TestServers::Setting("CORVANE_DATA_SIZE"));

    std::string first;
    {
        const Handle request = Open(connection.get(), u"GET", data);
        ASSERT_TRUE(Send(request.get()));
        EXPECT_EQ(ReadWith(request.get(), kPatterns[0]).body.size(), dataSize);
        first = Custom(request.get(), "X-Connection");
    }
    {
        const Handle request = Open(connection.get(), u"GET", small);
        ASSERT_TRUE(Send(request.get()));
        EXPECT_EQ(ReadAll(request.get()).size(), 100u);
        EXPECT_EQ(Custom(request.get(), "X-Connection"), first)
            << "a body read to its end keeps the connection";
    }
    {
        const Handle request = Open(connection.get(), u"GET", data);
        ASSERT_TRUE(Send(request.get()));
        std::string buffer(100000, '\0');
        DWORD read = 0;
        ASSERT_TRUE(InternetReadFile(request.get(), buffer.data(), static_cast<DWORD>(buffer.size()), &read));
        EXPECT_GT(read, 0u);
    }
    const Handle after = Open(connection.get(), u"GET", small);
    ASSERT_TRUE(Send(after.get())) << GetLastError();
    EXPECT_EQ(StatusCode(after.get()), 200u);
    EXPECT_EQ(ReadAll(after.get()).size(), 100u);
}
