// wininet.dll through the adapter, as the components call it: every size
// the contract gives in bytes comes out in bytes, short buffers are refused
// before the DLL can write past them, and the server's last response reaches
// the error message. The server is a scripted FTP greeter on loopback that
// refuses every login.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <Corvane/Corvane.h>
#include <Framework/SysUtils.h>
#include <Platform/InternetApi.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "TestServers.h"
#include "WideText.h"

using namespace Corvane;
using WideText::W;

namespace {

constexpr DWORD Sentinel = 0xC0DE;

// A one-connection FTP server on 127.0.0.1 that greets, asks for a password
// and refuses it with a two-line 530 reply.
class RefusingFtpServer {
public:
    RefusingFtpServer() {
        WSADATA data;
        ::WSAStartup(MAKEWORD(2, 2), &data);
        FListener = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(FListener, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::listen(FListener, 1);
        int length = sizeof address;
        ::getsockname(FListener, reinterpret_cast<sockaddr*>(&address), &length);
        FPort = ntohs(address.sin_port);
        FThread = std::thread([this] { Serve(); });
    }
    ~RefusingFtpServer() {
        ::closesocket(FListener);
        FThread.join();
        ::WSACleanup();
    }
    INTERNET_PORT Port() const { return FPort; }

private:
    void Serve() {
        const SOCKET client = ::accept(FListener, nullptr, nullptr);
        if (client == INVALID_SOCKET) return;
        Send(client, "220 Scripted greeter\r\n");
        std::string line;
        char c;
        while (::recv(client, &c, 1, 0) == 1) {
            line += c;
            if (c != '\n') continue;
            if (line.rfind("USER", 0) == 0)
                Send(client, "331 Password required\r\n");
            else if (line.rfind("PASS", 0) == 0)
                Send(client, "530-Login incorrect.\r\n530 Not logged in\r\n");
            else
                Send(client, "500 Unknown command\r\n");
            line.clear();
        }
        ::closesocket(client);
    }
    static void Send(SOCKET s, const std::string& text) {
        ::send(s, text.data(), static_cast<int>(text.size()), 0);
    }

    SOCKET FListener = INVALID_SOCKET;
    INTERNET_PORT FPort = 0;
    std::thread FThread;
};

// Logs in to the greeter, which refuses; the server's reply is then this
// thread's last response.
void FailLogin(const RefusingFtpServer& server) {
    InternetApi& api = Platform();
    HINTERNET session = api.InternetOpenW(W(u"Corvane-Test"), INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
    ASSERT_NE(session, nullptr);
    HINTERNET connection = api.InternetConnectW(session, W(u"127.0.0.1"), server.Port(), W(u"user"),
                                                W(u"wrong"), INTERNET_SERVICE_FTP, 0, 0);
    EXPECT_EQ(connection, nullptr);
    EXPECT_NE(api.GetLastError(), 0u);
    api.InternetCloseHandle(session);
}

TEST(WindowsAdapter, TheLastResponseIsSizedInBytesAndReachesTheMessage) {
    RefusingFtpServer server;
    FailLogin(server);
    InternetApi& api = Platform();

    DWORD error = 0;
    DWORD size = 0;
    api.SetLastError(Sentinel);
    EXPECT_FALSE(api.InternetGetLastResponseInfoW(&error, nullptr, &size));
    EXPECT_EQ(api.GetLastError(), DWORD(ERROR_INSUFFICIENT_BUFFER));
    ASSERT_GE(size, 8u);
    ASSERT_EQ(size % sizeof(WCHAR), 0u) << "bytes of UTF-16 text";

    std::vector<WCHAR> buffer(size / sizeof(WCHAR) + 1, L'#');
    DWORD shortSize = size - 1;
    EXPECT_FALSE(api.InternetGetLastResponseInfoW(&error, buffer.data(), &shortSize));
    EXPECT_EQ(api.GetLastError(), DWORD(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(shortSize, size);
    EXPECT_EQ(buffer[0], L'#') << "nothing written";

    DWORD exact = size;
    api.SetLastError(Sentinel);
    ASSERT_TRUE(api.InternetGetLastResponseInfoW(&error, buffer.data(), &exact));
    EXPECT_EQ(api.GetLastError(), Sentinel) << "success keeps the last error";
    EXPECT_EQ(exact, size - sizeof(WCHAR));
    const std::u16string text(WideText::U(buffer.data(), exact / sizeof(WCHAR)));
    EXPECT_EQ(buffer[exact / sizeof(WCHAR)], 0);
    EXPECT_EQ(buffer.back(), L'#') << "nothing past the terminator";
    EXPECT_EQ(text.substr(0, 3), u"530");
    EXPECT_NE(text.find(u"Not logged in"), std::u16string::npos);

    // The runtime unit's routine and the extended error's message use it.
    EXPECT_EQ(GetInternetLastResponseInfo(), text);
    try {
        CheckSuccess(ERROR_INTERNET_EXTENDED_ERROR);
        FAIL() << "CheckSuccess(12003) raised nothing";
    } catch (const EINetError& e) {
        const std::u16string message = e.Message();
        ASSERT_GE(message.size(), text.size() + 1);
        EXPECT_EQ(message.substr(0, 12), u"Error 12003:");
        EXPECT_EQ(message.substr(message.size() - text.size() - 1), u":" + text);
    }
}

// Text options: the size needed in bytes with the terminator, the bytes
// copied without it; the component reads the text back whole.
TEST(WindowsAdapter, TextOptionSizesAreBytes) {
    const std::u16string agent = u"Corvane-Agent/4.4";
    InternetApi& api = Platform();
    HINTERNET session = api.InternetOpenW(W(agent.c_str()), INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
    ASSERT_NE(session, nullptr);
    const DWORD bytes = static_cast<DWORD>(agent.size() * sizeof(WCHAR));

    DWORD size = 0;
    EXPECT_FALSE(api.InternetQueryOptionW(session, INTERNET_OPTION_USER_AGENT, nullptr, &size));
    EXPECT_EQ(api.GetLastError(), DWORD(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(size, bytes + sizeof(WCHAR));

    std::vector<WCHAR> buffer(agent.size() + 1, L'#');
    ASSERT_TRUE(api.InternetQueryOptionW(session, INTERNET_OPTION_USER_AGENT, buffer.data(), &size));
    EXPECT_EQ(size, bytes);
    EXPECT_EQ(WideText::U(buffer.data(), agent.size()), agent);

    DWORD timeout = 0;
    size = sizeof timeout;
    ASSERT_TRUE(api.InternetQueryOptionW(session, INTERNET_OPTION_CONNECT_TIMEOUT, &timeout, &size));
    EXPECT_EQ(size, sizeof timeout) << "a number keeps its size";
    api.InternetCloseHandle(session);

    TINetSession component(nullptr);
    component.SetAgent(agent);
    component.Open();
    EXPECT_EQ(component.GetInternetOption(INTERNET_OPTION_USER_AGENT), agent);
}

// A request to nginx on loopback: the request's URL option and a response
// header are sized in bytes as the contract says, the URL converted by the
// adapter, the header as the DLL gives it.
TEST(WindowsAdapter, RequestTextsAreSizedInBytes) {
    const INTERNET_PORT port =
        static_cast<INTERNET_PORT>(std::stoi(TestServers::Setting("CORVANE_HTTP_PORT")));
    const std::string path = TestServers::Setting("CORVANE_SMALL_PATH");
    const std::u16string widePath(path.begin(), path.end());
    InternetApi& api = Platform();
    HINTERNET session = api.InternetOpenW(W(u"Corvane-Test"), INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
    HINTERNET connection =
        api.InternetConnectW(session, W(u"127.0.0.1"), port, W(u""), W(u""), INTERNET_SERVICE_HTTP, 0, 0);
    ASSERT_NE(connection, nullptr);
    HINTERNET request = api.HttpOpenRequestW(connection, W(u"GET"), W(widePath.c_str()), nullptr, nullptr,
                                             nullptr, INTERNET_FLAG_RELOAD, 0);
    ASSERT_NE(request, nullptr);
    ASSERT_TRUE(api.HttpSendRequestW(request, nullptr, 0, nullptr, 0)) << api.GetLastError();

    const std::u16string url =
        u"http://127.0.0.1:" + Framework::IntToStr(Framework::Cardinal(port)) + widePath;
    DWORD size = 0;
    EXPECT_FALSE(api.InternetQueryOptionW(request, INTERNET_OPTION_URL, nullptr, &size));
    EXPECT_EQ(api.GetLastError(), DWORD(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(size, (url.size() + 1) * sizeof(WCHAR));
    std::vector<WCHAR> buffer(size / sizeof(WCHAR), L'#');
    ASSERT_TRUE(api.InternetQueryOptionW(request, INTERNET_OPTION_URL, buffer.data(), &size));
    EXPECT_EQ(size, url.size() * sizeof(WCHAR));
    EXPECT_EQ(WideText::U(buffer.data(), url.size()), url);

    const std::u16string contentLength = u"100";
    size = 0;
    EXPECT_FALSE(api.HttpQueryInfoW(request, HTTP_QUERY_CONTENT_LENGTH, nullptr, &size, nullptr));
    EXPECT_EQ(api.GetLastError(), DWORD(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(size, (contentLength.size() + 1) * sizeof(WCHAR));
    ASSERT_TRUE(api.HttpQueryInfoW(request, HTTP_QUERY_CONTENT_LENGTH, buffer.data(), &size, nullptr));
    EXPECT_EQ(size, contentLength.size() * sizeof(WCHAR));
    EXPECT_EQ(WideText::U(buffer.data(), contentLength.size()), contentLength);

    api.InternetCloseHandle(request);
    api.InternetCloseHandle(connection);
    api.InternetCloseHandle(session);
}

// A buffer as long as the URL has no room for its terminator: refused with
// the bytes needed, and the character after it stays as it was.
TEST(WindowsAdapter, ComposingNeverWritesPastTheBuffer) {
    const std::u16string expected = u"http://www.winehq.org/site/about";
    URL_COMPONENTSW components{};
    components.dwStructSize = sizeof components;
    components.lpszScheme = WideText::WField(u"http");
    components.lpszHostName = WideText::WField(u"www.winehq.org");
    components.nPort = 80;
    components.lpszUrlPath = WideText::WField(u"/site/about");

    std::vector<WCHAR> buffer(expected.size() + 1, L'#');
    DWORD length = static_cast<DWORD>(expected.size());
    Platform().SetLastError(Sentinel);
    EXPECT_FALSE(Platform().InternetCreateUrlW(&components, 0, buffer.data(), &length));
    EXPECT_EQ(Platform().GetLastError(), DWORD(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(length, (expected.size() + 1) * sizeof(WCHAR));
    EXPECT_EQ(buffer[expected.size()], L'#');

    length = static_cast<DWORD>(expected.size() + 1);
    Platform().SetLastError(Sentinel);
    ASSERT_TRUE(Platform().InternetCreateUrlW(&components, 0, buffer.data(), &length));
    EXPECT_EQ(Platform().GetLastError(), Sentinel);
    EXPECT_EQ(WideText::U(buffer.data(), length), expected);
}

// The canonical form's length is that of the text written, never the
// buffer's (an empty URL gives an empty text).
TEST(WindowsAdapter, CanonicalLengthsAreThoseOfTheText) {
    std::vector<WCHAR> buffer(64, L'#');
    for (const char16_t* url : {u"", u"http://h/a b"}) {
        DWORD length = static_cast<DWORD>(buffer.size());
        ASSERT_TRUE(Platform().InternetCanonicalizeUrlW(W(url), buffer.data(), &length, 0));
        EXPECT_EQ(length, wcslen(buffer.data())) << Framework::Utf16ToUtf8(url);
    }
    TINetUrl component(nullptr);
    component.SetUrl(u"");
    EXPECT_EQ(component.CanonizedUrl(), u"");
}

}  // namespace
