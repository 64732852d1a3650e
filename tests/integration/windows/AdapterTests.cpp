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
        WSADATA Data;
        ::WSAStartup(MAKEWORD(2, 2), &Data);
        FListener = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in Address{};
        Address.sin_family = AF_INET;
        Address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(FListener, reinterpret_cast<sockaddr*>(&Address), sizeof Address);
        ::listen(FListener, 1);
        int Length = sizeof Address;
        ::getsockname(FListener, reinterpret_cast<sockaddr*>(&Address), &Length);
        FPort = ntohs(Address.sin_port);
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
        const SOCKET Client = ::accept(FListener, nullptr, nullptr);
        if (Client == INVALID_SOCKET)
            return;
        Send(Client, "220 Scripted greeter\r\n");
        std::string Line;
        char C;
        while (::recv(Client, &C, 1, 0) == 1) {
            Line += C;
            if (C != '\n')
                continue;
            if (Line.rfind("USER", 0) == 0)
                Send(Client, "331 Password required\r\n");
            else if (Line.rfind("PASS", 0) == 0)
                Send(Client, "530-Login incorrect.\r\n530 Not logged in\r\n");
            else
                Send(Client, "500 Unknown command\r\n");
            Line.clear();
        }
        ::closesocket(Client);
    }
    static void Send(SOCKET S, const std::string& Text) { ::send(S, Text.data(), static_cast<int>(Text.size()), 0); }

    SOCKET FListener = INVALID_SOCKET;
    INTERNET_PORT FPort = 0;
    std::thread FThread;
};

// Logs in to the greeter, which refuses; the server's reply is then this
// thread's last response.
void FailLogin(const RefusingFtpServer& Server) {
    InternetApi& Api = Platform();
    HINTERNET Session = Api.InternetOpenW(W(u"Corvane-Test"), INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
    ASSERT_NE(Session, nullptr);
    HINTERNET Connection = Api.InternetConnectW(Session, W(u"127.0.0.1"), Server.Port(), W(u"user"),
                                                W(u"wrong"), INTERNET_SERVICE_FTP, 0, 0);
    EXPECT_EQ(Connection, nullptr);
    EXPECT_NE(Api.GetLastError(), 0u);
    Api.InternetCloseHandle(Session);
}

TEST(WindowsAdapter, TheLastResponseIsSizedInBytesAndReachesTheMessage) {
    RefusingFtpServer Server;
    FailLogin(Server);
    InternetApi& Api = Platform();

    DWORD Error = 0;
    DWORD Size = 0;
    Api.SetLastError(Sentinel);
    EXPECT_FALSE(Api.InternetGetLastResponseInfoW(&Error, nullptr, &Size));
    EXPECT_EQ(Api.GetLastError(), DWORD(ERROR_INSUFFICIENT_BUFFER));
    ASSERT_GE(Size, 8u);
    ASSERT_EQ(Size % sizeof(WCHAR), 0u) << "bytes of UTF-16 text";

    std::vector<WCHAR> Buffer(Size / sizeof(WCHAR) + 1, L'#');
    DWORD Short = Size - 1;
    EXPECT_FALSE(Api.InternetGetLastResponseInfoW(&Error, Buffer.data(), &Short));
    EXPECT_EQ(Api.GetLastError(), DWORD(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(Short, Size);
    EXPECT_EQ(Buffer[0], L'#') << "nothing written";

    DWORD Exact = Size;
    Api.SetLastError(Sentinel);
    ASSERT_TRUE(Api.InternetGetLastResponseInfoW(&Error, Buffer.data(), &Exact));
    EXPECT_EQ(Api.GetLastError(), Sentinel) << "success keeps the last error";
    EXPECT_EQ(Exact, Size - sizeof(WCHAR));
    const std::u16string Text(WideText::U(Buffer.data(), Exact / sizeof(WCHAR)));
    EXPECT_EQ(Buffer[Exact / sizeof(WCHAR)], 0);
    EXPECT_EQ(Buffer.back(), L'#') << "nothing past the terminator";
    EXPECT_EQ(Text.substr(0, 3), u"530");
    EXPECT_NE(Text.find(u"Not logged in"), std::u16string::npos);

    // The runtime unit's routine and the extended error's message use it.
    EXPECT_EQ(GetInternetLastResponseInfo(), Text);
    try {
        CheckSuccess(ERROR_INTERNET_EXTENDED_ERROR);
        FAIL() << "CheckSuccess(12003) raised nothing";
    } catch (const EINetError& E) {
        const std::u16string Message = E.Message();
        ASSERT_GE(Message.size(), Text.size() + 1);
        EXPECT_EQ(Message.substr(0, 12), u"Error 12003:");
        EXPECT_EQ(Message.substr(Message.size() - Text.size() - 1), u":" + Text);
    }
}

// Text options: the size needed in bytes with the terminator, the bytes
// copied without it; the component reads the text back whole.
TEST(WindowsAdapter, TextOptionSizesAreBytes) {
    const std::u16string Agent = u"Corvane-Agent/4.4";
    InternetApi& Api = Platform();
    HINTERNET Session = Api.InternetOpenW(W(Agent.c_str()), INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
    ASSERT_NE(Session, nullptr);
    const DWORD Bytes = static_cast<DWORD>(Agent.size() * sizeof(WCHAR));

    DWORD Size = 0;
    EXPECT_FALSE(Api.InternetQueryOptionW(Session, INTERNET_OPTION_USER_AGENT, nullptr, &Size));
    EXPECT_EQ(Api.GetLastError(), DWORD(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(Size, Bytes + sizeof(WCHAR));

    std::vector<WCHAR> Buffer(Agent.size() + 1, L'#');
    ASSERT_TRUE(Api.InternetQueryOptionW(Session, INTERNET_OPTION_USER_AGENT, Buffer.data(), &Size));
    EXPECT_EQ(Size, Bytes);
    EXPECT_EQ(WideText::U(Buffer.data(), Agent.size()), Agent);

    DWORD Timeout = 0;
    Size = sizeof Timeout;
    ASSERT_TRUE(Api.InternetQueryOptionW(Session, INTERNET_OPTION_CONNECT_TIMEOUT, &Timeout, &Size));
    EXPECT_EQ(Size, sizeof Timeout) << "a number keeps its size";
    Api.InternetCloseHandle(Session);

    TINetSession Component(nullptr);
    Component.SetAgent(Agent);
    Component.Open();
    EXPECT_EQ(Component.GetInternetOption(INTERNET_OPTION_USER_AGENT), Agent);
}

// A request to nginx on loopback: the request's URL option and a response
// header are sized in bytes as the contract says, the URL converted by the
// adapter, the header as the DLL gives it.
TEST(WindowsAdapter, RequestTextsAreSizedInBytes) {
    const INTERNET_PORT Port = static_cast<INTERNET_PORT>(std::stoi(TestServers::Setting("CORVANE_HTTP_PORT")));
    const std::string Path = TestServers::Setting("CORVANE_SMALL_PATH");
    const std::u16string WidePath(Path.begin(), Path.end());
    InternetApi& Api = Platform();
    HINTERNET Session = Api.InternetOpenW(W(u"Corvane-Test"), INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
    HINTERNET Connection = Api.InternetConnectW(Session, W(u"127.0.0.1"), Port, W(u""), W(u""),
                                                INTERNET_SERVICE_HTTP, 0, 0);
    ASSERT_NE(Connection, nullptr);
    HINTERNET Request = Api.HttpOpenRequestW(Connection, W(u"GET"), W(WidePath.c_str()), nullptr, nullptr, nullptr,
                                             INTERNET_FLAG_RELOAD, 0);
    ASSERT_NE(Request, nullptr);
    ASSERT_TRUE(Api.HttpSendRequestW(Request, nullptr, 0, nullptr, 0)) << Api.GetLastError();

    const std::u16string Url = u"http://127.0.0.1:" + Framework::IntToStr(Framework::Cardinal(Port)) + WidePath;
    DWORD Size = 0;
    EXPECT_FALSE(Api.InternetQueryOptionW(Request, INTERNET_OPTION_URL, nullptr, &Size));
    EXPECT_EQ(Api.GetLastError(), DWORD(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(Size, (Url.size() + 1) * sizeof(WCHAR));
    std::vector<WCHAR> Buffer(Size / sizeof(WCHAR), L'#');
    ASSERT_TRUE(Api.InternetQueryOptionW(Request, INTERNET_OPTION_URL, Buffer.data(), &Size));
    EXPECT_EQ(Size, Url.size() * sizeof(WCHAR));
    EXPECT_EQ(WideText::U(Buffer.data(), Url.size()), Url);

    const std::u16string ContentLength = u"100";
    Size = 0;
    EXPECT_FALSE(Api.HttpQueryInfoW(Request, HTTP_QUERY_CONTENT_LENGTH, nullptr, &Size, nullptr));
    EXPECT_EQ(Api.GetLastError(), DWORD(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(Size, (ContentLength.size() + 1) * sizeof(WCHAR));
    ASSERT_TRUE(Api.HttpQueryInfoW(Request, HTTP_QUERY_CONTENT_LENGTH, Buffer.data(), &Size, nullptr));
    EXPECT_EQ(Size, ContentLength.size() * sizeof(WCHAR));
    EXPECT_EQ(WideText::U(Buffer.data(), ContentLength.size()), ContentLength);

    Api.InternetCloseHandle(Request);
    Api.InternetCloseHandle(Connection);
    Api.InternetCloseHandle(Session);
}

// A buffer as long as the URL has no room for its terminator: refused with
// the bytes needed, and the character after it stays as it was.
TEST(WindowsAdapter, ComposingNeverWritesPastTheBuffer) {
    const std::u16string Expected = u"http://www.winehq.org/site/about";
    URL_COMPONENTSW Components{};
    Components.dwStructSize = sizeof Components;
    Components.lpszScheme = WideText::WField(u"http");
    Components.lpszHostName = WideText::WField(u"www.winehq.org");
    Components.nPort = 80;
    Components.lpszUrlPath = WideText::WField(u"/site/about");

    std::vector<WCHAR> Buffer(Expected.size() + 1, L'#');
    DWORD Length = static_cast<DWORD>(Expected.size());
    Platform().SetLastError(Sentinel);
    EXPECT_FALSE(Platform().InternetCreateUrlW(&Components, 0, Buffer.data(), &Length));
    EXPECT_EQ(Platform().GetLastError(), DWORD(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(Length, (Expected.size() + 1) * sizeof(WCHAR));
    EXPECT_EQ(Buffer[Expected.size()], L'#');

    Length = static_cast<DWORD>(Expected.size() + 1);
    Platform().SetLastError(Sentinel);
    ASSERT_TRUE(Platform().InternetCreateUrlW(&Components, 0, Buffer.data(), &Length));
    EXPECT_EQ(Platform().GetLastError(), Sentinel);
    EXPECT_EQ(WideText::U(Buffer.data(), Length), Expected);
}

// The canonical form's length is that of the text written, never the
// buffer's (an empty URL gives an empty text).
TEST(WindowsAdapter, CanonicalLengthsAreThoseOfTheText) {
    std::vector<WCHAR> Buffer(64, L'#');
    for (const char16_t* Url : {u"", u"http://h/a b"}) {
        DWORD Length = static_cast<DWORD>(Buffer.size());
        ASSERT_TRUE(Platform().InternetCanonicalizeUrlW(W(Url), Buffer.data(), &Length, 0));
        EXPECT_EQ(Length, wcslen(Buffer.data())) << Framework::Utf16ToUtf8(Url);
    }
    TINetUrl Component(nullptr);
    Component.SetUrl(u"");
    EXPECT_EQ(Component.CanonizedUrl(), u"");
}

}  // namespace
