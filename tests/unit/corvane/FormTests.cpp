// The runtime unit's components in form files, against the mocked platform:
// what each published property stores, the deferred opening of a session
// stored active, and where a failure to open it goes.
#include "TestHelpers.h"

#include <Framework/FormFiles.h>

using namespace Corvane;
using namespace CorvaneTest;
using testing::_;
using testing::InSequence;
using testing::IsNull;
using testing::Return;

namespace {

const HINTERNET kSession = FakeHandle(1);

std::string Text(TComponent& Root) { return U8(Framework::ComponentToText(&Root)); }
void Read(const std::string& Form, TComponent& Root) { Framework::TextToComponent(Framework::Utf8ToUtf16(Form), &Root); }

// A root that can be put in the designer.
class TDesignRoot : public TComponent {
public:
    using TComponent::TComponent;
    using TComponent::SetDesigning;
};

class FormTest : public testing::Test {
protected:
    FormTest()
    {
        ON_CALL(api, InternetOpenW(_, _, _, _, _)).WillByDefault(Return(kSession));
        ON_CALL(api, InternetCloseHandle(_)).WillByDefault(Return(TRUE));
    }

    testing::NiceMock<MockInternetApi> api;
    ScopedInternetApi use{api};
};

TEST_F(FormTest, SessionStoresOnlyWhatDiffersAndAlwaysItsFlags)
{
    TComponent Root(nullptr);
    Root.SetName(u"Form1");
    Root.Handlers().Add<TNotifyEvent>(u"Opened", [](TObject*) {});
    Root.Handlers().Add<TINetErrorEvent>(u"Failed", [](TObject*, EINetError&, TINetAction&) {});
    Root.Handlers().Add<TINetCallbackEvent>(u"Status", [](TObject*, Integer, void*, Integer) {});

    auto* Plain = new TINetSession(&Root);
    Plain->SetName(u"Plain");
    Plain->SetAbout(u"ignored");

    auto* Changed = new TINetSession(&Root);
    Changed->SetName(u"Changed");
    Changed->SetAgent(u"");  // empty: not stored, so it reads back as "Corvane"
    Changed->SetAccessType(atProxy);
    Changed->SetFlags({flOffline, flAsync});
    Changed->SetProxyName(u"proxy:3128");
    Changed->SetProxyBypass(u"<local>");
    Changed->SetAfterOpen(Framework::NamedHandler<TNotifyEvent>(u"Opened", [](TObject*) {}));
    Changed->SetBeforeClose([](TObject*) {});  // anonymous: not stored
    Changed->SetOnCallback(
        Framework::NamedHandler<TINetCallbackEvent>(u"Status", [](TObject*, Integer, void*, Integer) {}));
    Changed->SetOnError(
        Framework::NamedHandler<TINetErrorEvent>(u"Failed", [](TObject*, EINetError&, TINetAction&) {}));

    auto* Open = new TINetSession(&Root);
    Open->SetName(u"Open");
    Open->SetAgent(u"Probe 'one'");
    Open->SetAccessType(atPreconfig);  // the default: not stored
    Open->Open();

    const std::string Form = Text(Root);
    EXPECT_EQ(Form,
              "object Form1: TComponent\n"
              "  object Plain: TINetSession\n"
              "    Agent = 'Corvane'\n"
              "    Flags = []\n"
              "  end\n"
              "  object Changed: TINetSession\n"
              "    AccessType = atProxy\n"
              "    Flags = [flOffline, flAsync]\n"
              "    ProxyBypass = '<local>'\n"
              "    ProxyName = 'proxy:3128'\n"
              "    AfterOpen = Opened\n"
              "    OnCallback = Status\n"
              "    OnError = Failed\n"
              "  end\n"
              "  object Open: TINetSession\n"
              "    Active = True\n"
              "    Agent = 'Probe ''one'''\n"
              "    Flags = []\n"
              "  end\n"
              "end\n");

    // Read back into a root with the same handlers: the same text, except
    // that the cleared agent is the constructor's again and so is stored.
    TComponent Copy(nullptr);
    Copy.Handlers().Add<TNotifyEvent>(u"Opened", [](TObject*) {});
    Copy.Handlers().Add<TINetErrorEvent>(u"Failed", [](TObject*, EINetError&, TINetAction&) {});
    Copy.Handlers().Add<TINetCallbackEvent>(u"Status", [](TObject*, Integer, void*, Integer) {});
    Read(Form, Copy);
    std::string Expected = Form;
    Expected.insert(Expected.find("    Flags = [flOffline"), "    Agent = 'Corvane'\n");
    EXPECT_EQ(Text(Copy), Expected);
    auto* Back = dynamic_cast<TINetSession*>(Copy.FindComponent(u"Changed"));
    ASSERT_NE(Back, nullptr);
    EXPECT_EQ(U8(Back->Agent()), "Corvane");
    EXPECT_EQ(Back->AccessType(), atProxy);
    EXPECT_FALSE(Back->Active());
    EXPECT_TRUE(static_cast<bool>(Back->OnError()));
    EXPECT_FALSE(static_cast<bool>(Back->BeforeClose()));
}

// Active precedes Agent and the proxy settings in publishing order; opening
// at once would make their setters raise on an open session.
TEST_F(FormTest, StoredActiveOpensInLoadedWithEverySettingInPlace)
{
    TComponent Root(nullptr);
    std::vector<std::string> Log;
    Root.Handlers().Add<TNotifyEvent>(u"Opened", [&](TObject* Sender) {
        auto* S = dynamic_cast<TINetSession*>(Sender);
        EXPECT_FALSE(S->ComponentState().Contains(Framework::csReading));
        Log.push_back("opened " + U8(S->Name()));
    });
    EXPECT_CALL(api, InternetOpenW(WStrEq(u"Agent/1"), DWORD{INTERNET_OPEN_TYPE_PROXY}, WStrEq(u"proxy:8080"),
                                   WStrEq(u"*.local"), DWORD{INTERNET_FLAG_ASYNC}))
        .WillOnce([&](auto&&...) {
            Log.push_back("InternetOpenW");
            return kSession;
        });

    Read("object F: TComponent\n"
         "  object S1: TINetSession\n"
         "    AccessType = atProxy\n"
         "    Active = True\n"
         "    Agent = 'Agent/1'\n"
         "    Flags = [flAsync]\n"
         "    ProxyBypass = '*.local'\n"
         "    ProxyName = 'proxy:8080'\n"
         "    AfterOpen = Opened\n"
         "  end\n"
         "  object S2: TINetSession\n"
         "    Active = False\n"
         "    Flags = []\n"
         "  end\n"
         "end\n",
         Root);
    EXPECT_EQ(Log, (std::vector<std::string>{"InternetOpenW", "opened S1"}));
    auto* S1 = dynamic_cast<TINetSession*>(Root.FindComponent(u"S1"));
    auto* S2 = dynamic_cast<TINetSession*>(Root.FindComponent(u"S2"));
    ASSERT_TRUE(S1 && S2);
    EXPECT_TRUE(S1->Active());
    EXPECT_FALSE(S2->Active());
}

TEST_F(FormTest, FailureToOpenInTheDesignerIsShownAndTheFormStillLoads)
{
    TDesignRoot Root(nullptr);
    Root.SetDesigning(true);
    EXPECT_CALL(api, InternetOpenW(_, _, _, _, _)).WillOnce(api.Fail(ERROR_INTERNET_NAME_NOT_RESOLVED));
    ShownExceptions Shown;

    Read("object F: TComponent\n"
         "  object S: TINetSession\n"
         "    Active = True\n"
         "    Agent = 'A'\n"
         "  end\n"
         "  object U: TINetUrl\n"
         "    Flags = flNone\n"
         "  end\n"
         "end\n",
         Root);
    auto* S = dynamic_cast<TINetSession*>(Root.FindComponent(u"S"));
    ASSERT_NE(S, nullptr);
    EXPECT_FALSE(S->Active());
    EXPECT_EQ(U8(S->Agent()), "A");
    EXPECT_NE(Root.FindComponent(u"U"), nullptr);
    ASSERT_EQ(Shown.Messages.size(), 1u);
    EXPECT_EQ(Shown.Messages[0].rfind("Error 12007", 0), 0u) << Shown.Messages[0];
    EXPECT_EQ(Shown.Senders[0], static_cast<TObject*>(S));
}

TEST_F(FormTest, FailureToOpenAtRunTimePropagatesOutOfTheRead)
{
    TComponent Root(nullptr);
    EXPECT_CALL(api, InternetOpenW(_, _, _, _, _)).WillOnce(api.Fail(ERROR_INTERNET_NAME_NOT_RESOLVED));
    ShownExceptions Shown;

    const std::string Message = RaisedMessage([&] {
        Read("object F: TComponent\n  object S: TINetSession\n    Active = True\n  end\nend\n", Root);
    });
    EXPECT_EQ(Message.rfind("Error 12007", 0), 0u) << Message;
    EXPECT_TRUE(Shown.Messages.empty());
    EXPECT_EQ(Root.ComponentCount(), 0);  // what the read created is gone
}

TEST_F(FormTest, UrlStoresFlagsAlwaysUrlWhenNotEmptyAndNeverItsParts)
{
    // The mock composes "" for the new components and cracks every text
    // into non-empty parts, so only the storage rules decide what appears.
    ON_CALL(api, InternetCreateUrlW(_, _, _, _)).WillByDefault(Return(FALSE));
    ON_CALL(api, InternetCrackUrlW(_, _, _, _)).WillByDefault([](LPCWSTR, DWORD, DWORD, LPURL_COMPONENTSW C) {
        C->lpszHostName[0] = u'h';
        C->dwHostNameLength = 1;
        C->lpszUrlPath[0] = u'/';
        C->dwUrlPathLength = 1;
        C->dwSchemeLength = C->dwUserNameLength = C->dwPasswordLength = C->dwExtraInfoLength = 0;
        C->nPort = 8080;
        return TRUE;
    });
    TComponent Root(nullptr);
    auto* Empty = new TINetUrl(&Root);
    Empty->SetName(u"Empty");
    auto* Full = new TINetUrl(&Root);
    Full->SetName(u"Full");
    Full->SetUrl(u"http://h:8080/");
    Full->SetAbout(u"x");
    const std::string Form = Text(Root);
    EXPECT_EQ(Form,
              "object TComponent\n"
              "  object Empty: TINetUrl\n"
              "    Flags = flNone\n"
              "  end\n"
              "  object Full: TINetUrl\n"
              "    Flags = flNone\n"
              "    Url = 'http://h:8080/'\n"
              "  end\n"
              "end\n");
}

// Flags comes first: the stored choice composes from the defaults once, then
// the stored Url is cracked under it, which restores the parts.
TEST_F(FormTest, UrlReadsFlagsBeforeCrackingTheStoredUrl)
{
    TComponent Root(nullptr);
    InSequence Order;
    EXPECT_CALL(api, InternetCreateUrlW(_, 0u, _, _));        // the constructor
    EXPECT_CALL(api, InternetCreateUrlW(_, DWORD{ICU_ESCAPE}, _, _));  // Flags
    EXPECT_CALL(api, InternetCrackUrlW(WStrEq(u"http://x/a b"), 12u, DWORD{ICU_ESCAPE}, _))
        .WillOnce([](LPCWSTR, DWORD, DWORD, LPURL_COMPONENTSW C) {
            C->lpszHostName[0] = u'x';
            C->dwHostNameLength = 1;
            C->dwSchemeLength = C->dwUserNameLength = C->dwPasswordLength = C->dwUrlPathLength =
                C->dwExtraInfoLength = 0;
            C->nPort = 80;
            return TRUE;
        });
    Read("object F: TComponent\n  object U: TINetUrl\n    Flags = flEscape\n    Url = 'http://x/a b'\n  end\nend\n",
         Root);
    auto* U = dynamic_cast<TINetUrl*>(Root.FindComponent(u"U"));
    ASSERT_NE(U, nullptr);
    EXPECT_EQ(U->Flags(), flEscape);
    EXPECT_EQ(U8(U->Url()), "http://x/a b");
    EXPECT_EQ(U8(U->HostName()), "x");
}

}  // namespace
