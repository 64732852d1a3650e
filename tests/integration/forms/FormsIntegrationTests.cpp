// Forms holding sessions and URL components, on the real backend: stable
// round trips, and a session stored active that
// really opens once loading ends, with the settings read from the form.
#include <Corvane/Corvane.h>
#include <Framework/FormFiles.h>
#include <Framework/Forms.h>
#include <Framework/SysUtils.h>

#include <gtest/gtest.h>

#include <string>

using namespace Corvane;

namespace {

std::string U8(const std::u16string& S) { return Framework::Utf16ToUtf8(S); }
std::string Text(TComponent& Root) { return U8(Framework::ComponentToText(&Root)); }

template <class C>
C* Find(TComponent& Root, const char16_t* Name)
{
    return dynamic_cast<C*>(Root.FindComponent(Name));
}

// The handlers a form of these tests may bind to, under their names.
void AddHandlers(TComponent& Root, std::vector<std::string>* Log = nullptr)
{
    Root.Handlers().Add<TNotifyEvent>(u"SessionOpened", [Log](TObject* Sender) {
        if (Log != nullptr)
            Log->push_back("opened " + U8(dynamic_cast<TComponent*>(Sender)->Name()));
    });
    Root.Handlers().Add<TNotifyEvent>(u"SessionClosing", [](TObject*) {});
    Root.Handlers().Add<TINetCallbackEvent>(u"SessionStatus", [](TObject*, Integer, void*, Integer) {});
    Root.Handlers().Add<TINetErrorEvent>(u"SessionError", [](TObject*, EINetError&, TINetAction&) {});
}

// A form of every property kind the two components publish: strings with
// quotes, control and non-ASCII characters, enumerations, sets, a Boolean,
// events bound by name, and URLs under different encoding choices.
const char* const kForm =
    "object MainForm: TComponent\n"
    "  object Direct: TINetSession\n"
    "    AccessType = atDirect\n"
    "    Active = True\n"
    "    Agent = 'Corvane form ''test'''#13#10'line two '#233\n"
    "    Flags = []\n"
    "    AfterOpen = SessionOpened\n"
    "    BeforeClose = SessionClosing\n"
    "    OnCallback = SessionStatus\n"
    "    OnError = SessionError\n"
    "  end\n"
    "  object Proxied: TINetSession\n"
    "    AccessType = atProxy\n"
    "    Agent = 'Proxied/1.0'\n"
    "    Flags = [flOffline, flAsync]\n"
    "    ProxyBypass = '<local>;*.example.com'\n"
    "    ProxyName = 'http=127.0.0.1:3128'\n"
    "  end\n"
    "  object Offline: TINetSession\n"
    "    AccessType = atPreconfigWithNoAutoProxy\n"
    "    Agent = 'Corvane'\n"
    "    Flags = [flOffline]\n"
    "  end\n"
    "  object Page: TINetUrl\n"
    "    Flags = flNone\n"
    "    Url = 'https://ann:pw@example.com:8443/a/b?x=1#top'\n"
    "  end\n"
    "  object Escaped: TINetUrl\n"
    "    Flags = flEscape\n"
    "    Url = 'http://example.com/a b'\n"
    "  end\n"
    "  object Defaults: TINetUrl\n"
    "    Flags = flNone\n"
    "    Url = 'http://localhost'\n"
    "  end\n"
    "end\n";

TEST(FormsIntegration, FormsOfSessionsAndUrlsRoundTripUnchanged)
{
    TComponent Root(nullptr);
    AddHandlers(Root);
    Framework::TextToComponent(Framework::Utf8ToUtf16(kForm), &Root);
    EXPECT_EQ(Text(Root), kForm);

    auto* Direct = Find<TINetSession>(Root, u"Direct");
    ASSERT_NE(Direct, nullptr);
    EXPECT_TRUE(Direct->Active());
    EXPECT_EQ(U8(Direct->Agent()), "Corvane form 'test'\r\nline two \u00e9");

    auto* Page = Find<TINetUrl>(Root, u"Page");
    ASSERT_NE(Page, nullptr);
    EXPECT_EQ(U8(Page->HostName()), "example.com");
    EXPECT_EQ(Page->Port(), 8443);
    EXPECT_EQ(U8(Page->UserName()), "ann");
    EXPECT_EQ(U8(Page->ExtraInfo()), "?x=1#top");

    // What was written reads into a second root and writes the same again.
    TComponent Copy(nullptr);
    AddHandlers(Copy);
    Framework::TextToComponent(Framework::ComponentToText(&Root), &Copy);
    EXPECT_EQ(Text(Copy), kForm);
}

// The stored session is opened by Loaded after every property was read, so
// the backend's session carries the agent and proxy stored after Active.
TEST(FormsIntegration, StoredActiveSessionReallyOpensWithTheStoredSettings)
{
    TComponent Root(nullptr);
    std::vector<std::string> Log;
    AddHandlers(Root, &Log);
    Framework::TextToComponent(u"object F: TComponent\n"
                               u"  object S: TINetSession\n"
                               u"    AccessType = atProxy\n"
                               u"    Active = True\n"
                               u"    Agent = 'Loaded/2.0'\n"
                               u"    Flags = []\n"
                               u"    ProxyBypass = '<local>'\n"
                               u"    ProxyName = 'http=127.0.0.1:3128'\n"
                               u"    AfterOpen = SessionOpened\n"
                               u"  end\n"
                               u"end\n",
                               &Root);
    auto* S = Find<TINetSession>(Root, u"S");
    ASSERT_NE(S, nullptr);
    ASSERT_TRUE(S->Active());
    EXPECT_NE(S->Handle(), nullptr);
    EXPECT_EQ(Log, std::vector<std::string>{"opened S"});
    EXPECT_EQ(U8(S->GetInternetOption(INTERNET_OPTION_USER_AGENT)), "Loaded/2.0");

    Cardinal Size = 1024;
    alignas(INTERNET_PROXY_INFOW) unsigned char Buffer[1024] = {};
    S->GetInternetOption(INTERNET_OPTION_PROXY, Buffer, Size);
    const auto* Proxy = reinterpret_cast<const INTERNET_PROXY_INFOW*>(Buffer);
    EXPECT_EQ(Proxy->dwAccessType, DWORD{INTERNET_OPEN_TYPE_PROXY});
    EXPECT_EQ(U8(reinterpret_cast<const char16_t*>(Proxy->lpszProxy)), "http=127.0.0.1:3128");
    EXPECT_EQ(U8(reinterpret_cast<const char16_t*>(Proxy->lpszProxyBypass)), "<local>");

    // Written again, the open session is stored active.
    EXPECT_NE(Text(Root).find("    Active = True\n"), std::string::npos);
}

}  // namespace
