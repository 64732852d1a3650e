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

std::string Text(TComponent& root) {
    return U8(Framework::ComponentToText(&root));
}
void Read(const std::string& form, TComponent& root) {
    Framework::TextToComponent(Framework::Utf8ToUtf16(form), &root);
}

// A root that can be put in the designer.
class TDesignRoot : public TComponent {
public:
    using TComponent::SetDesigning;
    using TComponent::TComponent;
};

class FormTest : public testing::Test {
protected:
    FormTest() {
        ON_CALL(api, InternetOpenW(_, _, _, _, _)).WillByDefault(Return(kSession));
        ON_CALL(api, InternetCloseHandle(_)).WillByDefault(Return(TRUE));
    }

    testing::NiceMock<MockInternetApi> api;
    ScopedInternetApi use{api};
};

TEST_F(FormTest, SessionStoresOnlyWhatDiffersAndAlwaysItsFlags) {
    TComponent root(nullptr);
    root.SetName(u"Form1");
    root.Handlers().Add<TNotifyEvent>(u"Opened", [](TObject*) {});
    root.Handlers().Add<TINetErrorEvent>(u"Failed", [](TObject*, EINetError&, TINetAction&) {});
    root.Handlers().Add<TINetCallbackEvent>(u"Status", [](TObject*, Integer, void*, Integer) {});

    auto* plain = new TINetSession(&root);
    plain->SetName(u"Plain");
    plain->SetAbout(u"ignored");

    auto* changed = new TINetSession(&root);
    changed->SetName(u"Changed");
    changed->SetAgent(u"");  // empty: not stored, so it reads back as "Corvane"
    changed->SetAccessType(atProxy);
    changed->SetFlags({flOffline, flAsync});
    changed->SetProxyName(u"proxy:3128");
    changed->SetProxyBypass(u"<local>");
    changed->SetAfterOpen(Framework::NamedHandler<TNotifyEvent>(u"Opened", [](TObject*) {}));
    changed->SetBeforeClose([](TObject*) {});  // anonymous: not stored
    changed->SetOnCallback(
        Framework::NamedHandler<TINetCallbackEvent>(u"Status", [](TObject*, Integer, void*, Integer) {}));
    changed->SetOnError(
        Framework::NamedHandler<TINetErrorEvent>(u"Failed", [](TObject*, EINetError&, TINetAction&) {}));

    auto* open = new TINetSession(&root);
    open->SetName(u"Open");
    open->SetAgent(u"Probe 'one'");
    open->SetAccessType(atPreconfig);  // the default: not stored
    open->Open();

    const std::string form = Text(root);
    EXPECT_EQ(form,
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
    TComponent copy(nullptr);
    copy.Handlers().Add<TNotifyEvent>(u"Opened", [](TObject*) {});
    copy.Handlers().Add<TINetErrorEvent>(u"Failed", [](TObject*, EINetError&, TINetAction&) {});
    copy.Handlers().Add<TINetCallbackEvent>(u"Status", [](TObject*, Integer, void*, Integer) {});
    Read(form, copy);
    std::string expected = form;
    expected.insert(expected.find("    Flags = [flOffline"), "    Agent = 'Corvane'\n");
    EXPECT_EQ(Text(copy), expected);
    auto* back = dynamic_cast<TINetSession*>(copy.FindComponent(u"Changed"));
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(U8(back->Agent()), "Corvane");
    EXPECT_EQ(back->AccessType(), atProxy);
    EXPECT_FALSE(back->Active());
    EXPECT_TRUE(static_cast<bool>(back->OnError()));
    EXPECT_FALSE(static_cast<bool>(back->BeforeClose()));
}

// Active precedes Agent and the proxy settings in publishing order; opening
// at once would make their setters raise on an open session.
TEST_F(FormTest, StoredActiveOpensInLoadedWithEverySettingInPlace) {
    TComponent root(nullptr);
    std::vector<std::string> log;
    root.Handlers().Add<TNotifyEvent>(u"Opened", [&](TObject* sender) {
        auto* s = dynamic_cast<TINetSession*>(sender);
        EXPECT_FALSE(s->ComponentState().Contains(Framework::csReading));
        log.push_back("opened " + U8(s->Name()));
    });
    EXPECT_CALL(api, InternetOpenW(WStrEq(u"Agent/1"), DWORD{INTERNET_OPEN_TYPE_PROXY}, WStrEq(u"proxy:8080"),
                                   WStrEq(u"*.local"), DWORD{INTERNET_FLAG_ASYNC}))
        .WillOnce([&](auto&&...) {
            log.push_back("InternetOpenW");
            return kSession;
        });

    Read(
        "object F: TComponent\n"
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
        root);
    EXPECT_EQ(log, (std::vector<std::string>{"InternetOpenW", "opened S1"}));
    auto* s1 = dynamic_cast<TINetSession*>(root.FindComponent(u"S1"));
    auto* s2 = dynamic_cast<TINetSession*>(root.FindComponent(u"S2"));
    ASSERT_TRUE(s1 && s2);
    EXPECT_TRUE(s1->Active());
    EXPECT_FALSE(s2->Active());
}

TEST_F(FormTest, FailureToOpenInTheDesignerIsShownAndTheFormStillLoads) {
    TDesignRoot root(nullptr);
    root.SetDesigning(true);
    EXPECT_CALL(api, InternetOpenW(_, _, _, _, _)).WillOnce(api.Fail(ERROR_INTERNET_NAME_NOT_RESOLVED));
    ShownExceptions shown;

    Read(
        "object F: TComponent\n"
        "  object S: TINetSession\n"
        "    Active = True\n"
        "    Agent = 'A'\n"
        "  end\n"
        "  object U: TINetUrl\n"
        "    Flags = flNone\n"
        "  end\n"
        "end\n",
        root);
    auto* s = dynamic_cast<TINetSession*>(root.FindComponent(u"S"));
    ASSERT_NE(s, nullptr);
    EXPECT_FALSE(s->Active());
    EXPECT_EQ(U8(s->Agent()), "A");
    EXPECT_NE(root.FindComponent(u"U"), nullptr);
    ASSERT_EQ(shown.Messages.size(), 1u);
    EXPECT_EQ(shown.Messages[0].rfind("Error 12007", 0), 0u) << shown.Messages[0];
    EXPECT_EQ(shown.Senders[0], static_cast<TObject*>(s));
}

TEST_F(FormTest, FailureToOpenAtRunTimePropagatesOutOfTheRead) {
    TComponent root(nullptr);
    EXPECT_CALL(api, InternetOpenW(_, _, _, _, _)).WillOnce(api.Fail(ERROR_INTERNET_NAME_NOT_RESOLVED));
    ShownExceptions shown;

    const std::string message = RaisedMessage([&] {
        Read("object F: TComponent\n  object S: TINetSession\n    Active = True\n  end\nend\n", root);
    });
    EXPECT_EQ(message.rfind("Error 12007", 0), 0u) << message;
    EXPECT_TRUE(shown.Messages.empty());
    EXPECT_EQ(root.ComponentCount(), 0);  // what the read created is gone
}

TEST_F(FormTest, UrlStoresFlagsAlwaysUrlWhenNotEmptyAndNeverItsParts) {
    // The mock composes "" for the new components and cracks every text
    // into non-empty parts, so only the storage rules decide what appears.
    ON_CALL(api, InternetCreateUrlW(_, _, _, _)).WillByDefault(Return(FALSE));
    ON_CALL(api, InternetCrackUrlW(_, _, _, _)).WillByDefault([](LPCWSTR, DWORD, DWORD, LPURL_COMPONENTSW c) {
        c->lpszHostName[0] = u'h';
        c->dwHostNameLength = 1;
        c->lpszUrlPath[0] = u'/';
        c->dwUrlPathLength = 1;
        c->dwSchemeLength = c->dwUserNameLength = c->dwPasswordLength = c->dwExtraInfoLength = 0;
        c->nPort = 8080;
        return TRUE;
    });
    TComponent root(nullptr);
    auto* empty = new TINetUrl(&root);
    empty->SetName(u"Empty");
    auto* full = new TINetUrl(&root);
    full->SetName(u"Full");
    full->SetUrl(u"http://h:8080/");
    full->SetAbout(u"x");
    const std::string form = Text(root);
    EXPECT_EQ(form,
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
TEST_F(FormTest, UrlReadsFlagsBeforeCrackingTheStoredUrl) {
    TComponent root(nullptr);
    InSequence order;
    EXPECT_CALL(api, InternetCreateUrlW(_, 0u, _, _));                 // the constructor
    EXPECT_CALL(api, InternetCreateUrlW(_, DWORD{ICU_ESCAPE}, _, _));  // Flags
    EXPECT_CALL(api, InternetCrackUrlW(WStrEq(u"http://x/a b"), 12u, DWORD{ICU_ESCAPE}, _))
        .WillOnce([](LPCWSTR, DWORD, DWORD, LPURL_COMPONENTSW c) {
            c->lpszHostName[0] = u'x';
            c->dwHostNameLength = 1;
            c->dwSchemeLength = c->dwUserNameLength = c->dwPasswordLength = c->dwUrlPathLength =
                c->dwExtraInfoLength = 0;
            c->nPort = 80;
            return TRUE;
        });
    Read(
        "object F: TComponent\n  object U: TINetUrl\n    Flags = flEscape\n    Url = 'http://x/a b'\n  "
        "end\nend\n",
        root);
    auto* u = dynamic_cast<TINetUrl*>(root.FindComponent(u"U"));
    ASSERT_NE(u, nullptr);
    EXPECT_EQ(u->Flags(), flEscape);
    EXPECT_EQ(U8(u->Url()), "http://x/a b");
    EXPECT_EQ(U8(u->HostName()), "x");
}

}  // namespace
