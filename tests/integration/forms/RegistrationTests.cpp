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

std::string U8(const UnicodeString& S) { return Utf16ToUtf8(S); }

std::vector<std::string> PropertyNames(const TClassInfo& Info)
{
    std::vector<std::string> Names;
    for (int I = 0; I < Info.PropertyCount(); ++I)
        Names.push_back(U8(Info.Property(I).Name()));
    return Names;
}

const TPropInfo& Prop(const TComponent& C, const char16_t* Name)
{
    const TPropInfo* P = ComponentClassOf(C)->FindProperty(Name);
    if (P == nullptr)
        throw Exception(u"no property " + UnicodeString(Name));
    return *P;
}

// Every class publishes TComponent's Tag first, then its own properties.
TEST(Registration, ClassesArePublishedInTheirPublishingOrder)
{
    const TClassInfo* Session = FindComponentClass(u"TINetSession");
    ASSERT_NE(Session, nullptr);
    EXPECT_TRUE(Session->CanCreate());
    EXPECT_EQ(PropertyNames(*Session),
              (std::vector<std::string>{"Tag", "About", "AccessType", "Active", "Agent", "Flags", "ProxyBypass", "ProxyName",
                                        "AfterOpen", "BeforeOpen", "AfterClose", "BeforeClose", "OnCallback",
                                        "OnError"}));

    const TClassInfo* Url = FindComponentClass(u"TINetUrl");
    ASSERT_NE(Url, nullptr);
    EXPECT_TRUE(Url->CanCreate());
    EXPECT_EQ(PropertyNames(*Url),
              (std::vector<std::string>{"Tag", "About", "CanonizedUrl", "ExtraInfo", "Flags", "HostName", "Password", "Port",
                                        "Scheme", "Url", "UrlPath", "UserName"}));
}

TEST(Registration, AFormReadByNameCreatesAndOpensTheComponents)
{
    const UnicodeString Form = u"object F: TComponent\n"
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
    TComponent Root(nullptr);
    TextToComponent(Form, &Root);
    EXPECT_EQ(ComponentToText(&Root), Form);

    TComponent* S = Root.FindComponent(u"S");
    ASSERT_NE(S, nullptr);
    EXPECT_EQ(U8(ComponentClassOf(*S)->ClassName()), "TINetSession");
    EXPECT_EQ(Prop(*S, u"Active").GetOrd(*S), 1);  // opened on the real backend
    EXPECT_EQ(U8(Prop(*S, u"Agent").GetString(*S)), "ByName");

    TComponent* U = Root.FindComponent(u"U");
    ASSERT_NE(U, nullptr);
    EXPECT_EQ(U8(ComponentClassOf(*U)->ClassName()), "TINetUrl");
    EXPECT_EQ(U8(Prop(*U, u"HostName").GetString(*U)), "example.com");
    EXPECT_EQ(Prop(*U, u"Port").GetOrd(*U), 81);
    EXPECT_EQ(U8(Prop(*U, u"UrlPath").GetString(*U)), "/a b");
}

}  // namespace
