// Uploads against the transport's timeouts: a body that keeps moving counts
// as activity, however long it takes as a whole.
#include "HttpTestSupport.h"

#include <chrono>

using namespace HttpTest;
using namespace std::chrono_literals;

// The server reads 6 MB at 2 MB a second through a small receive buffer,
// so the body takes seconds to go out, each moment of it far shorter than
// the send timeout.
TEST(Upload, ABodySentSlowlyOutlastsTheSendTimeout) {
    const Handle session = OpenSession();
    const Handle connection = Connect(session.get(), Echo());
    const Handle request = Open(connection.get(), u"PUT", u"/slow-read?rate=2000000");
    ASSERT_TRUE(request);
    DWORD send = 500, receive = 10000;
    ASSERT_TRUE(InternetSetOptionW(request.get(), INTERNET_OPTION_SEND_TIMEOUT, &send, sizeof(send)));
    ASSERT_TRUE(
        InternetSetOptionW(request.get(), INTERNET_OPTION_RECEIVE_TIMEOUT, &receive, sizeof(receive)));
    const std::string body = Bytes(TestServers::PatternBytes(3, 6000000));
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(Send(request.get(), body)) << GetLastError();
    EXPECT_GT(std::chrono::steady_clock::now() - start, 1500ms) << "the server did not hold the upload back";
    EXPECT_EQ(StatusCode(request.get()), 200u);
    EXPECT_EQ(Custom(request.get(), "X-Echo-Body-Length"), std::to_string(body.size()));
}
