// The HTTP component in form files: what is stored (Url but not its parts,
// Flags always, Port never, the session by name), and a component stored
// active that connects once loading has put its session and URL in place.
#include "HttpMock.h"

#include <Framework/FormFiles.h>

using namespace HttpUnit;
using testing::_;
using testing::Return;

namespace {

std::string Text(TComponent& root) {
    return U8(Framework::ComponentToText(&root));
}

class HttpFormTest : public HttpMockTest {};

TEST_F(HttpFormTest, OnlyWhatCannotBeDerivedIsStored) {
    TComponent root(nullptr);
    root.SetName(u"Form1");
    auto* session = new TINetSession(&root);
    session->SetName(u"Session1");
    auto* plain = new TINetHttp(&root);
    plain->SetName(u"Plain");
    plain->SetUrl(u"");
    auto* http = new TINetHttp(&root);
    http->SetName(u"Http1");
    http->SetUrl(u"http://ann:pw@example.com:8080/a.txt?b=1");
    http->SetFlags({flKeepConnection, flNoCookies});
    http->SetSession(session);
    http->SetVerb(veGet);
    http->SetVersion(u"HTTP/1.0");
    http->SetReferer(u"http://example.com/");
    http->SetSecurityFlags({sfIgnoreUnknownCA});
    http->SetOnError([](TObject*, EINetError&, TINetAction&) {});  // anonymous: not stored
    http->Open();

    EXPECT_EQ(Text(root),
              "object Form1: TComponent\n"
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

TEST_F(HttpFormTest, StoredActiveComponentConnectsAfterLoading) {
    TComponent root(nullptr);
    std::vector<std::string> order;
    EXPECT_CALL(api, InternetConnectW(kSession, WStrEq(u"example.com"), INTERNET_PORT{8080}, WStrEq(u"ann"),
                                      WStrEq(u"pw"), DWORD{INTERNET_SERVICE_HTTP}, 0u, _))
        .WillOnce([&](auto&&...) {
            order.push_back("connect");
            return kConnection;
        });
    Framework::TextToComponent(
        u"object Form1: TComponent\n"
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
        &root);
    auto* http = static_cast<TINetHttp*>(root.FindComponent(u"Http1"));
    auto* session = static_cast<TINetSession*>(root.FindComponent(u"Session1"));
    ASSERT_NE(http, nullptr);
    EXPECT_TRUE(http->Active());
    EXPECT_EQ(http->Session(), session);
    EXPECT_TRUE(session->Active());
    EXPECT_EQ(http->Flags(), THttpFlags{flReload});
    EXPECT_EQ(http->Verb(), vePost);
    EXPECT_EQ(U8(http->UrlPath()), "/a.txt");
    EXPECT_EQ(order, std::vector<std::string>{"connect"});

    // Opened beneath an assigned session, it closes with that session.
    session->Close();
    EXPECT_FALSE(http->Active());
}

}  // namespace
