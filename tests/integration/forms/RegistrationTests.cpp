// This program names no class of the runtime unit and calls none of its
// functions: everything below goes through the framework. The runtime unit
// must still have published its classes by the time main runs.
#include <Framework/FormFiles.h>
#include <Framework/Properties.h>
#include <Framework/SysUtils.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace Framework;

namespace {

std::string U8(const UnicodeString& s) {
    return Utf16ToUtf8(s);
}

std::vector<std::string> PropertyNames(const TClassInfo& info) {
    std::vector<std::string> names;
    for (int i = 0; i < info.PropertyCount(); ++i) names.push_back(U8(info.Property(i).Name()));
    return names;
}

const TPropInfo& Prop(const TComponent& c, const char16_t* name) {
    const TPropInfo* p = ComponentClassOf(c)->FindProperty(name);
    if (p == nullptr) throw Exception(u"no property " + UnicodeString(name));
    return *p;
}

// Every class publishes TComponent's Tag first, then its own properties.
TEST(Registration, ClassesArePublishedInTheirPublishingOrder) {
    const TClassInfo* session = FindComponentClass(u"TINetSession");
    ASSERT_NE(session, nullptr);
    EXPECT_TRUE(session->CanCreate());
    EXPECT_EQ(PropertyNames(*session),
              (std::vector<std::string>{"Tag", "About", "AccessType", "Active", "Agent", "Flags",
                                        "ProxyBypass", "ProxyName", "AfterOpen", "BeforeOpen", "AfterClose",
                                        "BeforeClose", "OnCallback", "OnError"}));

    const TClassInfo* url = FindComponentClass(u"TINetUrl");
    ASSERT_NE(url, nullptr);
    EXPECT_TRUE(url->CanCreate());
    EXPECT_EQ(PropertyNames(*url),
              (std::vector<std::string>{"Tag", "About", "CanonizedUrl", "ExtraInfo", "Flags", "HostName",
                                        "Password", "Port", "Scheme", "Url", "UrlPath", "UserName"}));

    const TClassInfo* cookie = FindComponentClass(u"TINetCookie");
    ASSERT_NE(cookie, nullptr);
    EXPECT_TRUE(cookie->CanCreate());
    EXPECT_EQ(PropertyNames(*cookie), (std::vector<std::string>{"Tag", "About", "CookieName", "Url"}));
}

TEST(Registration, AFormReadByNameCreatesAndOpensTheComponents) {
    const UnicodeString form =
        u"object F: TComponent\n"
        u"  object S: TINetSession\n"
        u"    Active = True\n"
        u"    Agent = 'ByName'\n"
        u"    Flags = [flOffline]\n"
        u"  end\n"
        u"  object U: TINetUrl\n"
        u"    Flags = flDecode\n"
        u"    Url = 'http://example.com:81/a%20b'\n"
        u"  end\n"
        u"end\n";
    TComponent root(nullptr);
    TextToComponent(form, &root);
    EXPECT_EQ(ComponentToText(&root), form);

    TComponent* s = root.FindComponent(u"S");
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(U8(ComponentClassOf(*s)->ClassName()), "TINetSession");
    EXPECT_EQ(Prop(*s, u"Active").GetOrd(*s), 1);  // opened on the real backend
    EXPECT_EQ(U8(Prop(*s, u"Agent").GetString(*s)), "ByName");

    TComponent* u = root.FindComponent(u"U");
    ASSERT_NE(u, nullptr);
    EXPECT_EQ(U8(ComponentClassOf(*u)->ClassName()), "TINetUrl");
    EXPECT_EQ(U8(Prop(*u, u"HostName").GetString(*u)), "example.com");
    EXPECT_EQ(Prop(*u, u"Port").GetOrd(*u), 81);
    EXPECT_EQ(U8(Prop(*u, u"UrlPath").GetString(*u)), "/a b");
}

}  // namespace
