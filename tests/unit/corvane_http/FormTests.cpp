// The HTTP component in form files: what is stored (Url but not its parts,
// Flags always, Port never, the session by name), and a component stored
// active that connects once loading has put its session and URL in place.
#include "HttpMock.h"

#include <Framework/FormFiles.h>

using namespace HttpUnit;
using testing::_;
using testing::Return;

namespace {

std::string Text(TComponent& Root) { return U8(Framework::ComponentToText(&Root)); }

class HttpFormTest : public HttpMockTest {};

TEST_F(HttpFormTest, OnlyWhatCannotBeDerivedIsStored)
{
    TComponent Root(nullptr);
    Root.SetName(u"Form1");
    auto* Session = new TINetSession(&Root);
    Session->SetName(u"Session1");
    auto* Plain = new TINetHttp(&Root);
    Plain->SetName(u"Plain");
    Plain->SetUrl(u"");
    auto* Http = new TINetHttp(&Root);
    Http->SetName(u"Http1");
    Http->SetUrl(u"http://ann:pw@example.com:8080/a.txt?b=1");
    Http->SetFlags({flKeepConnection, flNoCookies});
    Http->SetSession(Session);
    Http->SetVerb(veGet);
    Http->SetVersion(u"HTTP/1.0");
    Http->SetReferer(u"http://example.com/");
    Http->SetSecurityFlags({sfIgnoreUnknownCA});
    Http->SetOnError([](TObject*, EINetError&, TINetAction&) {});  // anonymous: not stored
    Http->Open();

    EXPECT_EQ(Text(Root), "object Form1: TComponent\n"
                          "  object Session1: TINetSession\n"
                          "    Active = True\n"
                          "    Agent = 'Corvane'\n"
                          "    Flags = []\n"
                          "  end\n"
                          "  object Plain: TINetHttp\n"
                          "    Flags = []\n"
                          "  end\n"
                          "  object Http1: TINetHttp\n"
                          "    Active = True\n"
                          "    Flags = [flKeepConnection, flNoCookies]\n"
                          "    Referer = 'http://example.com/'\n"
                          "    SecurityFlags = [sfIgnoreUnknownCA]\n"
                          "    Session = Session1\n"
                          "    Url = 'http://ann:pw@example.com:8080/a.txt?b=1'\n"
                          "    Verb = veGet\n"
                          "    Version = 'HTTP/1.0'\n"
                          "  end\n"
                          "end\n");
}

TEST_F(HttpFormTest, StoredActiveComponentConnectsAfterLoading)
{
    TComponent Root(nullptr);
    std::vector<std::string> Order;
    EXPECT_CALL(api, InternetConnectW(kSession, WStrEq(u"example.com"), INTERNET_PORT{8080}, WStrEq(u"ann"),
                                      WStrEq(u"pw"), DWORD{INTERNET_SERVICE_HTTP}, 0u, _))
        .WillOnce([&](auto&&...) {
            Order.push_back("connect");
            return kConnection;
        });
    Framework::TextToComponent(u"object Form1: TComponent\n"
                               "  object Http1: TINetHttp\n"
                               "    Active = True\n"
                               "    Flags = [flReload]\n"
                               "    Session = Session1\n"
                               "    Url = 'http://ann:pw@example.com:8080/a.txt?b=1'\n"
                               "    Verb = vePost\n"
                               "  end\n"
                               "  object Session1: TINetSession\n"
                               "  end\n"
                               "end\n",
                               &Root);
    auto* Http = static_cast<TINetHttp*>(Root.FindComponent(u"Http1"));
    auto* Session = static_cast<TINetSession*>(Root.FindComponent(u"Session1"));
    ASSERT_NE(Http, nullptr);
    EXPECT_TRUE(Http->Active());
    EXPECT_EQ(Http->Session(), Session);
    EXPECT_TRUE(Session->Active());
    EXPECT_EQ(Http->Flags(), THttpFlags{flReload});
    EXPECT_EQ(Http->Verb(), vePost);
    EXPECT_EQ(U8(Http->UrlPath()), "/a.txt");
    EXPECT_EQ(Order, std::vector<std::string>{"connect"});

    // Opened beneath an assigned session, it closes with that session.
    Session->Close();
    EXPECT_FALSE(Http->Active());
}

}  // namespace
