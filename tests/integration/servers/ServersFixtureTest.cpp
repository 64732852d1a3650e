// The http_servers fixture (and beside it ftp_servers) as a C++ test sees
// it: the settings reach a GoogleTest case through corvane_use_http_servers,
// and TestServers.h's pattern bytes are the bytes the servers really send.

#include "TestServers.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

struct RawResponse {
    std::string head;  // status line and headers, up to the empty line
    std::string body;  // everything after it until the server closed
};

// Sends one HTTP/1.1 request with "Connection: close" over a plain socket
// and reads until the server closes, so no HTTP client takes part.
RawResponse RawGet(const std::string& url, const std::string& target) {
    const std::string prefix = "http://127.0.0.1:";
    if (url.rfind(prefix, 0) != 0) throw std::runtime_error("not a plain loopback URL: " + url);
    const int port = std::stoi(url.substr(prefix.size()));

    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) throw std::runtime_error("socket failed");
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        throw std::runtime_error("connect failed: " + url);
    }
    const std::string request = "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
    (void)::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
    std::string all;
    char buffer[65536];
    for (ssize_t n; (n = ::recv(fd, buffer, sizeof buffer, 0)) > 0;)
        all.append(buffer, static_cast<std::size_t>(n));
    ::close(fd);

    const std::size_t split = all.find("\r\n\r\n");
    if (split == std::string::npos)
        throw std::runtime_error("no complete response head from " + url + target);
    return {all.substr(0, split), all.substr(split + 4)};
}

std::string AsString(const std::vector<std::uint8_t>& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

TEST(HttpServersFixture, SettingsDescribeLoopbackServers) {
    for (const char* name : {"CORVANE_HTTP_URL", "CORVANE_HTTPS_URL", "CORVANE_HTTPS_EXPIRED_URL",
                             "CORVANE_HTTPS_WRONGNAME_URL", "CORVANE_HTTPS_BADUSAGE_URL",
                             "CORVANE_HTTPS_UNTRUSTED_URL", "CORVANE_ECHO_URL", "CORVANE_ECHO_TLS_URL"}) {
        const std::string url = TestServers::Setting(name);
        EXPECT_TRUE(url.rfind("http://127.0.0.1:", 0) == 0 || url.rfind("https://127.0.0.1:", 0) == 0)
            << name << " = " << url;
    }
    // The CA the fixture points SSL_CERT_FILE at is the one servers.env names.
    const char* certFile = std::getenv("SSL_CERT_FILE");
    ASSERT_NE(certFile, nullptr);
    EXPECT_EQ(TestServers::Setting("CORVANE_TEST_CA_FILE"), certFile);
    EXPECT_TRUE(std::ifstream(certFile).good());
    EXPECT_THROW(TestServers::Setting("CORVANE_NO_SUCH_SETTING"), std::runtime_error);
}

TEST(HttpServersFixture, PatternBytesMatchWhatTheServersSend) {
    // Known first words of seed 1: 0x00042021, then 0x04080601.
    const std::vector<std::uint8_t> head = TestServers::PatternBytes(1, 8);
    EXPECT_EQ(head, (std::vector<std::uint8_t>{0x21, 0x20, 0x04, 0x00, 0x01, 0x06, 0x08, 0x04}));

    // nginx's data.bin, straight from the docroot and over HTTP.
    const std::size_t dataSize = std::stoul(TestServers::Setting("CORVANE_DATA_SIZE"));
    std::ifstream file(TestServers::Setting("CORVANE_DOCROOT") + TestServers::Setting("CORVANE_DATA_PATH"),
                       std::ios::binary);
    const std::string onDisk((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    const std::string expected = AsString(TestServers::PatternBytes(1, dataSize));
    EXPECT_TRUE(onDisk == expected) << "data.bin differs from PatternBytes(1, " << dataSize << ")";
    const RawResponse data = RawGet(TestServers::Setting("CORVANE_HTTP_URL"), "/data.bin");
    EXPECT_EQ(data.head.substr(0, 12), "HTTP/1.1 200");
    EXPECT_TRUE(data.body == expected);

    // The scriptable server, for an odd size and another seed, with and
    // without chunking: sizes that are not a multiple of 4 cut the last word.
    const RawResponse bytes = RawGet(TestServers::Setting("CORVANE_ECHO_URL"), "/bytes?size=1001&seed=7");
    EXPECT_NE(bytes.head.find("Content-Length: 1001"), std::string::npos);
    EXPECT_TRUE(bytes.body == AsString(TestServers::PatternBytes(7, 1001)));
    const RawResponse closeDelimited =
        RawGet(TestServers::Setting("CORVANE_ECHO_URL"), "/close-delimited?size=70001&seed=0");
    EXPECT_TRUE(closeDelimited.body == AsString(TestServers::PatternBytes(0, 70001)));
}

// This target joins the ftp_servers fixture too: its servers.env is read
// beside the HTTP one, whose settings win where both have a name.
TEST(HttpServersFixture, FtpFixtureSettingsAreReadAlongside) {
    EXPECT_EQ(TestServers::Setting("CORVANE_FTP_URL").rfind("ftp://127.0.0.1:", 0), 0u);
    EXPECT_EQ(TestServers::Setting("CORVANE_FTP_UTF8_FILE"), "caf\xc3\xa9 \xc3\xbcn\xc3\xaf.txt");
    EXPECT_EQ(TestServers::Setting("CORVANE_SERVERS_DIR"), std::getenv("CORVANE_SERVERS_DIR"));
    const std::size_t dataSize = std::stoul(TestServers::Setting("CORVANE_FTP_DATA_SIZE"));
    std::ifstream file(
        TestServers::Setting("CORVANE_FTP_ROOT") + "/" + TestServers::Setting("CORVANE_FTP_DATA_FILE"),
        std::ios::binary);
    const std::string onDisk((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    EXPECT_TRUE(onDisk == AsString(TestServers::PatternBytes(1, dataSize)));
}

TEST(HttpServersFixture, EnvFileQuotingIsUndone) {
    EXPECT_EQ(TestServers::Detail::Unquote("/plain/path"), "/plain/path");
    EXPECT_EQ(TestServers::Detail::Unquote("'/with space/x'"), "/with space/x");
    EXPECT_EQ(TestServers::Detail::Unquote("'it'\"'\"'s'"), "it's");
    EXPECT_THROW(TestServers::Detail::Unquote("'open"), std::runtime_error);
}

}  // namespace
