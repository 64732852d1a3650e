// Forms holding sessions, URL and cookie components, on the real backend: stable
// round trips, and a session stored active that
// really opens once loading ends, with the settings read from the form.
#include <Corvane/Corvane.h>
#include <Framework/FormFiles.h>
#include <Framework/Forms.h>
#include <Framework/SysUtils.h>

#include <gtest/gtest.h>

#include <string>

#include "TestText.h"

using namespace Corvane;

namespace {

std::string Text(TComponent& root) {
    return U8(Framework::ComponentToText(&root));
}

template <class C>
C* Find(TComponent& root, const char16_t* name) {
    return dynamic_cast<C*>(root.FindComponent(name));
}

// The handlers a form of these tests may bind to, under their names.
void AddHandlers(TComponent& root, std::vector<std::string>* log = nullptr) {
    root.Handlers().Add<TNotifyEvent>(u"SessionOpened", [log](TObject* sender) {
        if (log != nullptr) log->push_back("opened " + U8(dynamic_cast<TComponent*>(sender)->Name()));
    });
    root.Handlers().Add<TNotifyEvent>(u"SessionClosing", [](TObject*) {});
    root.Handlers().Add<TINetCallbackEvent>(u"SessionStatus", [](TObject*, Integer, void*, Integer) {});
    root.Handlers().Add<TINetErrorEvent>(u"SessionError", [](TObject*, EINetError&, TINetAction&) {});
}

// A form of every property kind the components publish: strings with
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
    "  object Visit: TINetCookie\n"
    "    CookieName = 'visit'\n"
    "    Url = 'http://example.com/shop'\n"
    "  end\n"
    "  object Unnamed: TINetCookie\n"
    "  end\n"
    "end\n";

TEST(FormsIntegration, FormsOfSessionsAndUrlsRoundTripUnchanged) {
    TComponent root(nullptr);
    AddHandlers(root);
    Framework::TextToComponent(Framework::Utf8ToUtf16(kForm), &root);
    EXPECT_EQ(Text(root), kForm);

    auto* direct = Find<TINetSession>(root, u"Direct");
    ASSERT_NE(direct, nullptr);
    EXPECT_TRUE(direct->Active());
    EXPECT_EQ(U8(direct->Agent()), "Corvane form 'test'\r\nline two \u00e9");

    auto* page = Find<TINetUrl>(root, u"Page");
    ASSERT_NE(page, nullptr);
    EXPECT_EQ(U8(page->HostName()), "example.com");
    EXPECT_EQ(page->Port(), 8443);
    EXPECT_EQ(U8(page->UserName()), "ann");
    EXPECT_EQ(U8(page->ExtraInfo()), "?x=1#top");

    // What was written reads into a second root and writes the same again.
    TComponent copy(nullptr);
    AddHandlers(copy);
    Framework::TextToComponent(Framework::ComponentToText(&root), &copy);
    EXPECT_EQ(Text(copy), kForm);
}

// The stored session is opened by Loaded after every property was read, so
// the backend's session carries the agent and proxy stored after Active.
TEST(FormsIntegration, StoredActiveSessionReallyOpensWithTheStoredSettings) {
    TComponent root(nullptr);
    std::vector<std::string> log;
    AddHandlers(root, &log);
    Framework::TextToComponent(
        u"object F: TComponent\n"
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
        &root);
    auto* s = Find<TINetSession>(root, u"S");
    ASSERT_NE(s, nullptr);
    ASSERT_TRUE(s->Active());
    EXPECT_NE(s->Handle(), nullptr);
    EXPECT_EQ(log, std::vector<std::string>{"opened S"});
    EXPECT_EQ(U8(s->GetInternetOption(INTERNET_OPTION_USER_AGENT)), "Loaded/2.0");

    Cardinal size = 1024;
    alignas(INTERNET_PROXY_INFOW) unsigned char buffer[1024] = {};
    s->GetInternetOption(INTERNET_OPTION_PROXY, buffer, size);
    const auto* proxy = reinterpret_cast<const INTERNET_PROXY_INFOW*>(buffer);
    EXPECT_EQ(proxy->dwAccessType, DWORD{INTERNET_OPEN_TYPE_PROXY});
    EXPECT_EQ(U8(reinterpret_cast<const char16_t*>(proxy->lpszProxy)), "http=127.0.0.1:3128");
    EXPECT_EQ(U8(reinterpret_cast<const char16_t*>(proxy->lpszProxyBypass)), "<local>");

    // Written again, the open session is stored active.
    EXPECT_NE(Text(root).find("    Active = True\n"), std::string::npos);
}

}  // namespace
