// InternetOpenW and the options of a session handle.
#include "BackendTesting.h"

#include "posix/session/Session.h"

#include <cstdlib>
#include <cstring>
#include <map>
#include <optional>
#include <string>

using namespace BackendTesting;

namespace {

// Clears the proxy variables of the environment for the length of a test
// and puts back what was there.
class ProxyEnvironment {
public:
    ProxyEnvironment() {
        for (const char* name : kNames) {
            if (const char* value = std::getenv(name)) FSaved[name] = value;
            unsetenv(name);
        }
    }
    ~ProxyEnvironment() {
        for (const char* name : kNames) unsetenv(name);
        for (const auto& [name, value] : FSaved) setenv(name.c_str(), value.c_str(), 1);
    }
    void Set(const char* name, const char* value) { setenv(name, value, 1); }

private:
    static constexpr const char* kNames[] = {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY",
                                             "ftp_proxy",  "FTP_PROXY",  "all_proxy",   "ALL_PROXY",
                                             "no_proxy",   "NO_PROXY"};
    std::map<std::string, std::string> FSaved;
};

// A session that is closed when the test ends.
struct OpenSession {
    HINTERNET handle;
    explicit OpenSession(HINTERNET h) : handle(h) {}
    ~OpenSession() {
        if (handle) InternetCloseHandle(handle);
    }
};

struct ProxyAnswer {
    DWORD accessType;
    std::optional<std::u16string> proxy;
    std::optional<std::u16string> bypass;
};

ProxyAnswer QueryProxy(HINTERNET session) {
    DWORD size = 0;
    EXPECT_FALSE(InternetQueryOptionW(session, INTERNET_OPTION_PROXY, nullptr, &size));
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    std::string buffer(size, '\0');
    EXPECT_TRUE(InternetQueryOptionW(session, INTERNET_OPTION_PROXY, buffer.data(), &size));
    INTERNET_PROXY_INFOW info;
    std::memcpy(&info, buffer.data(), sizeof(info));
    // The texts must lie inside the buffer that was passed.
    const auto inside = [&](LPCWSTR p) {
        const char* at = reinterpret_cast<const char*>(p);
        return at >= buffer.data() + sizeof(info) && at < buffer.data() + buffer.size();
    };
    ProxyAnswer answer{info.dwAccessType, std::nullopt, std::nullopt};
    if (info.lpszProxy) {
        EXPECT_TRUE(inside(info.lpszProxy));
        answer.proxy = info.lpszProxy;
    }
    if (info.lpszProxyBypass) {
        EXPECT_TRUE(inside(info.lpszProxyBypass));
        answer.bypass = info.lpszProxyBypass;
    }
    return answer;
}

std::u16string QueryAgent(HINTERNET session) {
    DWORD size = 0;
    InternetQueryOptionW(session, INTERNET_OPTION_USER_AGENT, nullptr, &size);
    std::u16string agent(size / sizeof(WCHAR), u'\0');
    EXPECT_TRUE(InternetQueryOptionW(session, INTERNET_OPTION_USER_AGENT, agent.data(), &size));
    agent.resize(size / sizeof(WCHAR));
    return agent;
}

TEST(InternetOpen, ArgumentsAreCheckedExactly) {
    ProxyEnvironment environment;
    const struct {
        const char* what;
        const char16_t* agent;
        DWORD accessType;
        const char16_t* proxy;
        DWORD flags;
        DWORD expected;  // ERROR_SUCCESS: a session is opened
    } cases[] = {
        {"direct", u"Corvane", INTERNET_OPEN_TYPE_DIRECT, nullptr, 0, ERROR_SUCCESS},
        {"preconfigured", u"Corvane", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, 0, ERROR_SUCCESS},
        {"preconfigured, no autoproxy", u"", INTERNET_OPEN_TYPE_PRECONFIG_WITH_NO_AUTOPROXY, nullptr, 0,
         ERROR_SUCCESS},
        {"proxy", u"Corvane", INTERNET_OPEN_TYPE_PROXY, u"proxy.test:3128", 0, ERROR_SUCCESS},
        {"no agent", nullptr, INTERNET_OPEN_TYPE_DIRECT, nullptr, 0, ERROR_SUCCESS},
        {"async and offline", u"Corvane", INTERNET_OPEN_TYPE_DIRECT, nullptr,
         INTERNET_FLAG_ASYNC | INTERNET_FLAG_OFFLINE, ERROR_SUCCESS},
        {"proxy without a name", u"Corvane", INTERNET_OPEN_TYPE_PROXY, nullptr, 0, ERROR_INVALID_PARAMETER},
        {"proxy with an empty name", u"Corvane", INTERNET_OPEN_TYPE_PROXY, u"  ", 0, ERROR_INVALID_PARAMETER},
        {"access type 2", u"Corvane", 2, nullptr, 0, ERROR_INVALID_PARAMETER},
        {"access type 5", u"Corvane", 5, nullptr, 0, ERROR_INVALID_PARAMETER},
        {"a request flag", u"Corvane", INTERNET_OPEN_TYPE_DIRECT, nullptr, INTERNET_FLAG_SECURE,
         ERROR_INVALID_PARAMETER},
        {"an unknown flag", u"Corvane", INTERNET_OPEN_TYPE_DIRECT, nullptr, 0x00000004,
         ERROR_INVALID_PARAMETER},
    };
    const std::size_t openBefore = Corvane::Backend::HandleTable::OpenCount();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ArmLastError();
        OpenSession session(InternetOpenW(c.agent, c.accessType, c.proxy, nullptr, c.flags));
        if (c.expected == ERROR_SUCCESS) {
            ASSERT_NE(session.handle, nullptr) << "last error " << ::GetLastError();
            EXPECT_EQ(::GetLastError(), kSentinel);
            DWORD type = 0, size = sizeof(type);
            EXPECT_TRUE(InternetQueryOptionW(session.handle, INTERNET_OPTION_HANDLE_TYPE, &type, &size));
            EXPECT_EQ(type, static_cast<DWORD>(INTERNET_HANDLE_TYPE_INTERNET));
        } else {
            EXPECT_EQ(session.handle, nullptr);
            EXPECT_EQ(::GetLastError(), c.expected);
        }
    }
    EXPECT_EQ(Corvane::Backend::HandleTable::OpenCount(), openBefore);
}

TEST(InternetOpen, KeepsItsSettingsForTheWorkBeneath) {
    ProxyEnvironment environment;
    OpenSession session(InternetOpenW(u"Agent/1.0", INTERNET_OPEN_TYPE_PROXY, u"http=proxy:80", u"<local>",
                                      INTERNET_FLAG_ASYNC));
    ASSERT_NE(session.handle, nullptr);
    DWORD error = 0;
    const auto found = Corvane::Backend::HandleTable::FindAs<Corvane::Backend::Session>(
        session.handle, Corvane::Backend::Session::Ops, &error);
    ASSERT_NE(found, nullptr);
    const Corvane::Backend::SessionSettings settings = found->Settings();
    EXPECT_EQ(settings.agent, u"Agent/1.0");
    EXPECT_EQ(settings.accessType, static_cast<DWORD>(INTERNET_OPEN_TYPE_PROXY));
    EXPECT_EQ(settings.proxyAccessType, static_cast<DWORD>(INTERNET_OPEN_TYPE_PROXY));
    EXPECT_EQ(settings.proxy, u"http=proxy:80");
    EXPECT_EQ(settings.proxyBypass, u"<local>");
    EXPECT_EQ(settings.flags, static_cast<DWORD>(INTERNET_FLAG_ASYNC));
    EXPECT_EQ(QueryAgent(session.handle), u"Agent/1.0");
}

TEST(InternetOpen, DirectAccessIgnoresTheProxyArguments) {
    OpenSession session(InternetOpenW(u"", INTERNET_OPEN_TYPE_DIRECT, u"proxy:80", u"bypass", 0));
    const ProxyAnswer answer = QueryProxy(session.handle);
    EXPECT_EQ(answer.accessType, static_cast<DWORD>(INTERNET_OPEN_TYPE_DIRECT));
    EXPECT_FALSE(answer.proxy);
    EXPECT_FALSE(answer.bypass);
}

TEST(InternetOpen, PreconfiguredTakesTheEnvironmentsProxies) {
    ProxyEnvironment environment;
    environment.Set("http_proxy", "http://lower.test:3128/");
    environment.Set("HTTP_PROXY", "http://upper.test:1/");  // the lower-case one wins
    environment.Set("HTTPS_PROXY", " http://secure.test:8443 ");
    environment.Set("all_proxy", "socks5://all.test:1080");
    environment.Set("no_proxy", "localhost, .example.org,10.0.0.1");
    for (DWORD type :
         {DWORD{INTERNET_OPEN_TYPE_PRECONFIG}, DWORD{INTERNET_OPEN_TYPE_PRECONFIG_WITH_NO_AUTOPROXY}}) {
        OpenSession session(InternetOpenW(u"", type, nullptr, nullptr, 0));
        const ProxyAnswer answer = QueryProxy(session.handle);
        EXPECT_EQ(answer.accessType, static_cast<DWORD>(INTERNET_OPEN_TYPE_PROXY));
        EXPECT_EQ(answer.proxy.value_or(u"-"),
                  u"http=http://lower.test:3128 https=http://secure.test:8443 "
                  u"socks5://all.test:1080");
        EXPECT_EQ(answer.bypass.value_or(u"-"), u"localhost;*.example.org;10.0.0.1");
    }
}

TEST(InternetOpen, PreconfiguredWithoutProxiesIsDirect) {
    ProxyEnvironment environment;
    environment.Set("no_proxy", "localhost");  // a bypass list alone means nothing
    OpenSession session(InternetOpenW(u"", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
    const ProxyAnswer answer = QueryProxy(session.handle);
    EXPECT_EQ(answer.accessType, static_cast<DWORD>(INTERNET_OPEN_TYPE_DIRECT));
    EXPECT_FALSE(answer.proxy);
    EXPECT_FALSE(answer.bypass);
}

class SessionOptions : public testing::Test {
protected:
    OpenSession FSession{InternetOpenW(u"Corvane", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0)};
    HINTERNET Session() const { return FSession.handle; }
};

TEST_F(SessionOptions, TimeoutsAndRetriesReadBackWithExactSizes) {
    const DWORD options[] = {INTERNET_OPTION_CONNECT_TIMEOUT,      INTERNET_OPTION_SEND_TIMEOUT,
                             INTERNET_OPTION_RECEIVE_TIMEOUT,      INTERNET_OPTION_DATA_SEND_TIMEOUT,
                             INTERNET_OPTION_DATA_RECEIVE_TIMEOUT, INTERNET_OPTION_CONNECT_RETRIES};
    DWORD value = 1000;
    for (DWORD option : options) {
        SCOPED_TRACE(option);
        ++value;
        ArmLastError();
        EXPECT_TRUE(Succeeded(InternetSetOptionW(Session(), option, &value, sizeof(value))));

        DWORD read = 0, size = sizeof(read);
        ArmLastError();
        EXPECT_TRUE(Succeeded(InternetQueryOptionW(Session(), option, &read, &size)));
        EXPECT_EQ(read, value);
        EXPECT_EQ(size, sizeof(DWORD));

        size = 0;
        ArmLastError();
        EXPECT_TRUE(
            FailedWith(InternetQueryOptionW(Session(), option, nullptr, &size), ERROR_INSUFFICIENT_BUFFER));
        EXPECT_EQ(size, sizeof(DWORD));

        size = 2;
        ArmLastError();
        EXPECT_TRUE(
            FailedWith(InternetQueryOptionW(Session(), option, &read, &size), ERROR_INSUFFICIENT_BUFFER));

        const unsigned long long wide = 5;
        ArmLastError();
        EXPECT_TRUE(FailedWith(
            InternetSetOptionW(Session(), option, const_cast<unsigned long long*>(&wide), sizeof(wide)),
            ERROR_INTERNET_BAD_OPTION_LENGTH));
        ArmLastError();
        EXPECT_TRUE(
            FailedWith(InternetSetOptionW(Session(), option, &value, 2), ERROR_INTERNET_BAD_OPTION_LENGTH));
        ArmLastError();
        EXPECT_TRUE(FailedWith(InternetSetOptionW(Session(), option, nullptr, sizeof(DWORD)),
                               ERROR_INVALID_PARAMETER));

        size = sizeof(read);
        EXPECT_TRUE(InternetQueryOptionW(Session(), option, &read, &size));
        EXPECT_EQ(read, value) << "a refused set changed the value";
    }
}

TEST_F(SessionOptions, UserAgentIsSizedInBytesAndSetInCharacters) {
    const DWORD needed = sizeof(u"Corvane");
    DWORD size = 0;
    ArmLastError();
    EXPECT_TRUE(FailedWith(InternetQueryOptionW(Session(), INTERNET_OPTION_USER_AGENT, nullptr, &size),
                           ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(size, needed);

    std::u16string buffer(8, u'#');
    size = needed - 1;
    ArmLastError();
    EXPECT_TRUE(FailedWith(InternetQueryOptionW(Session(), INTERNET_OPTION_USER_AGENT, buffer.data(), &size),
                           ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(buffer, u"########");

    size = needed;
    ArmLastError();
    EXPECT_TRUE(Succeeded(InternetQueryOptionW(Session(), INTERNET_OPTION_USER_AGENT, buffer.data(), &size)));
    EXPECT_EQ(std::u16string(buffer.c_str()), u"Corvane");
    EXPECT_EQ(size, needed - sizeof(WCHAR));

    // The length of a text being set counts characters, not bytes.
    char16_t agent[] = u"Netscape/3.0";
    ArmLastError();
    EXPECT_TRUE(Succeeded(InternetSetOptionW(Session(), INTERNET_OPTION_USER_AGENT, agent, 8)));
    EXPECT_EQ(QueryAgent(Session()), u"Netscape");

    // An empty text is passed as no buffer and length 0; it reads back as
    // a lone terminator (2 bytes).
    EXPECT_TRUE(InternetSetOptionW(Session(), INTERNET_OPTION_USER_AGENT, nullptr, 0));
    size = 0;
    InternetQueryOptionW(Session(), INTERNET_OPTION_USER_AGENT, nullptr, &size);
    EXPECT_EQ(size, sizeof(WCHAR));

    ArmLastError();
    EXPECT_TRUE(FailedWith(InternetSetOptionW(Session(), INTERNET_OPTION_USER_AGENT, nullptr, 4),
                           ERROR_INVALID_PARAMETER));
}

TEST_F(SessionOptions, ContextValueIsPointerSized) {
    DWORD_PTR context = 1;
    DWORD size = sizeof(context);
    EXPECT_TRUE(InternetQueryOptionW(Session(), INTERNET_OPTION_CONTEXT_VALUE, &context, &size));
    EXPECT_EQ(context, 0u);

    context = static_cast<DWORD_PTR>(0x1234567890ABCDEFull & UINTPTR_MAX);
    ArmLastError();
    EXPECT_TRUE(
        Succeeded(InternetSetOptionW(Session(), INTERNET_OPTION_CONTEXT_VALUE, &context, sizeof(context))));
    DWORD_PTR read = 0;
    size = sizeof(read);
    EXPECT_TRUE(InternetQueryOptionW(Session(), INTERNET_OPTION_CONTEXT_VALUE, &read, &size));
    EXPECT_EQ(read, context);

    if constexpr (sizeof(DWORD_PTR) > sizeof(DWORD)) {
        DWORD narrow = 0;
        size = sizeof(narrow);
        ArmLastError();
        EXPECT_TRUE(FailedWith(InternetQueryOptionW(Session(), INTERNET_OPTION_CONTEXT_VALUE, &narrow, &size),
                               ERROR_INSUFFICIENT_BUFFER));
        EXPECT_EQ(size, sizeof(DWORD_PTR));
        ArmLastError();
        EXPECT_TRUE(
            FailedWith(InternetSetOptionW(Session(), INTERNET_OPTION_CONTEXT_VALUE, &narrow, sizeof(narrow)),
                       ERROR_INTERNET_BAD_OPTION_LENGTH));
    }
}

TEST_F(SessionOptions, VersionAlsoWithoutAHandleAndNeverSettable) {
    for (HINTERNET handle : {static_cast<HINTERNET>(nullptr), Session()}) {
        INTERNET_VERSION_INFO version{0, 0};
        DWORD size = sizeof(version);
        ArmLastError();
        EXPECT_TRUE(Succeeded(InternetQueryOptionW(handle, INTERNET_OPTION_VERSION, &version, &size)));
        EXPECT_EQ(version.dwMajorVersion, 1u);
        EXPECT_EQ(version.dwMinorVersion, 2u);
        ArmLastError();
        EXPECT_TRUE(FailedWith(InternetSetOptionW(handle, INTERNET_OPTION_VERSION, &version, size),
                               ERROR_INTERNET_OPTION_NOT_SETTABLE));
    }
}

TEST_F(SessionOptions, RefusalsCarryTheExactReason) {
    DWORD value = 0;
    DWORD size = sizeof(value);
    const struct {
        const char* what;
        HINTERNET handle;
        DWORD option;
        DWORD expected;
    } queries[] = {
        {"an option that does not exist", Session(), 9999, ERROR_INTERNET_INVALID_OPTION},
        {"a gap in the option numbers", Session(), 10, ERROR_INTERNET_INVALID_OPTION},
        {"a request option on a session", Session(), INTERNET_OPTION_SECURITY_FLAGS,
         ERROR_INTERNET_INCORRECT_HANDLE_TYPE},
        {"a session option without a handle", nullptr, INTERNET_OPTION_USER_AGENT,
         ERROR_INTERNET_INCORRECT_HANDLE_TYPE},
        {"a handle that was never given out", reinterpret_cast<HINTERNET>(0x7FFF0000),
         INTERNET_OPTION_HANDLE_TYPE, ERROR_INVALID_HANDLE},
    };
    for (const auto& q : queries) {
        SCOPED_TRACE(q.what);
        size = sizeof(value);
        ArmLastError();
        EXPECT_TRUE(FailedWith(InternetQueryOptionW(q.handle, q.option, &value, &size), q.expected));
        ArmLastError();
        EXPECT_TRUE(FailedWith(InternetSetOptionW(q.handle, q.option, &value, sizeof(value)), q.expected));
    }

    ArmLastError();
    EXPECT_TRUE(FailedWith(InternetQueryOptionW(Session(), INTERNET_OPTION_HANDLE_TYPE, &value, nullptr),
                           ERROR_INVALID_PARAMETER));
    for (DWORD readOnly : {DWORD{INTERNET_OPTION_HANDLE_TYPE}, DWORD{INTERNET_OPTION_PARENT_HANDLE},
                           DWORD{INTERNET_OPTION_CALLBACK}}) {
        ArmLastError();
        EXPECT_TRUE(FailedWith(InternetSetOptionW(Session(), readOnly, &value, sizeof(value)),
                               ERROR_INTERNET_OPTION_NOT_SETTABLE));
    }
}

TEST_F(SessionOptions, ProxyCanBeReplacedAndABadOneLeavesItAlone) {
    ProxyEnvironment environment;
    INTERNET_PROXY_INFOW info{INTERNET_OPEN_TYPE_PROXY, u"proxy.test:8080", u"*.local"};
    ArmLastError();
    EXPECT_TRUE(Succeeded(InternetSetOptionW(Session(), INTERNET_OPTION_PROXY, &info, sizeof(info))));
    ProxyAnswer answer = QueryProxy(Session());
    EXPECT_EQ(answer.accessType, static_cast<DWORD>(INTERNET_OPEN_TYPE_PROXY));
    EXPECT_EQ(answer.proxy.value_or(u"-"), u"proxy.test:8080");
    EXPECT_EQ(answer.bypass.value_or(u"-"), u"*.local");

    INTERNET_PROXY_INFOW bad{INTERNET_OPEN_TYPE_PROXY, nullptr, nullptr};
    ArmLastError();
    EXPECT_TRUE(FailedWith(InternetSetOptionW(Session(), INTERNET_OPTION_PROXY, &bad, sizeof(bad)),
                           ERROR_INVALID_PARAMETER));
    ArmLastError();
    EXPECT_TRUE(FailedWith(InternetSetOptionW(Session(), INTERNET_OPTION_PROXY, &info, sizeof(info) - 1),
                           ERROR_INTERNET_BAD_OPTION_LENGTH));
    answer = QueryProxy(Session());
    EXPECT_EQ(answer.proxy.value_or(u"-"), u"proxy.test:8080");

    // A buffer one byte short of the record and its texts is refused whole.
    DWORD size = 0;
    InternetQueryOptionW(Session(), INTERNET_OPTION_PROXY, nullptr, &size);
    EXPECT_EQ(size, sizeof(INTERNET_PROXY_INFOW) + sizeof(u"proxy.test:8080") + sizeof(u"*.local"));
    std::string buffer(size, '\0');
    DWORD shortSize = size - 1;
    ArmLastError();
    EXPECT_TRUE(FailedWith(InternetQueryOptionW(Session(), INTERNET_OPTION_PROXY, buffer.data(), &shortSize),
                           ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(shortSize, size);
}

}  // namespace
