// The design-time package loaded by a host that shares the framework with it,
// the port editor as a designer uses it, the framework's default editors and
// how registrations are resolved, and the loader's refusals.
#include <gtest/gtest.h>

#include <Corvane/Corvane.h>
#include <Framework/Designer.h>
#include <Framework/Packages.h>

#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace {

using namespace Corvane;
using Framework::ClassOf;
using Framework::TDesignRegistry;
using Framework::TPropertyEditor;

std::vector<UnicodeString> ClassNames(const Framework::TPalettePage& page) {
    std::vector<UnicodeString> names;
    for (const auto* c : page.Classes) names.push_back(c->ClassName());
    return names;
}

void SetMode(const char* mode) {
#ifdef _WIN32
    _putenv_s("CORVANE_TEST_PACKAGE", mode);
#else
    setenv("CORVANE_TEST_PACKAGE", mode, 1);
#endif
}

// What the test package's procedures ran since the last call.
std::string TestPackageTrace() {
#ifdef _WIN32
    HMODULE module = GetModuleHandleA(TEST_PACKAGE_FILE);
    auto proc = reinterpret_cast<const char* (*)()>(
        module == nullptr ? nullptr : reinterpret_cast<void*>(GetProcAddress(module, "TestPackageTrace")));
#else
    void* module = dlopen(TEST_PACKAGE_FILE, RTLD_NOW | RTLD_NOLOAD);
    auto proc =
        reinterpret_cast<const char* (*)()>(module == nullptr ? nullptr : dlsym(module, "TestPackageTrace"));
    if (module != nullptr) dlclose(module);
#endif
    return proc == nullptr ? std::string("(not loaded)") : proc();
}

// Records that a component it watches went away.
class TWatcher : public Framework::TComponent {
public:
    using TComponent::TComponent;
    const Framework::TComponent* Removed = nullptr;

protected:
    void Notification(TComponent* component, Framework::TOperation operation) override {
        TComponent::Notification(component, operation);
        if (operation == Framework::opRemove) Removed = component;
    }
};

// The package registers exactly the palette page and the three port editors;
// its classes are the host's own (one class registry); its table and bitmaps
// are as built; unloading withdraws it and frees the default session.
TEST(DesignPackage, RegistersIntoTheHostsRegistryAndUnloadsCleanly) {
    TDesignRegistry registry;
    auto package = Framework::LoadPackage(u"" CORVANE_PACKAGE_FILE, registry);

    const auto pages = registry.Pages();
    ASSERT_EQ(pages.size(), 1u);
    EXPECT_EQ(pages[0].Name, u"Ostrel");
    EXPECT_EQ(ClassNames(pages[0]),
              (std::vector<UnicodeString>{u"TINetConnection", u"TINetSession", u"TINetFtp", u"TINetHttp",
                                          u"TINetUrl", u"TINetCookie"}));
    EXPECT_EQ(pages[0].Classes[2], ClassOf<TINetFtp>()) << "the package sees another class registry";
    const auto editors = registry.Editors();
    ASSERT_EQ(editors.size(), 3u);
    const Framework::TClassInfo* expected[] = {ClassOf<TINetFtp>(), ClassOf<TINetHttp>(),
                                               ClassOf<TINetUrl>()};
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(editors[i].ComponentClass, expected[i]);
        EXPECT_EQ(editors[i].PropertyName, u"Port");
        EXPECT_EQ(editors[i].PropertyType.Name(), u"Word");
        EXPECT_EQ(editors[i].EditorClass.ClassName, u"TInternetPortProperty");
    }
    EXPECT_TRUE(Framework::DesignRegistry().Pages().empty()) << "a load into one registry reached another";

    EXPECT_EQ(package->Description(), u"Ostrel Corvane");
    EXPECT_TRUE(package->DesignOnly());
    EXPECT_EQ(package->Units(),
              (std::vector<UnicodeString>{u"CorvaneP", u"CorvaneE", u"Corvane", u"SysInit"}));
    EXPECT_EQ(package->Requires(), (std::vector<UnicodeString>{u"designide250", u"vcl250"}));

    // Each bitmap: an uncompressed 24 x 24 DIB at 4 bits per pixel with 16
    // colours, each picture its own.
    std::set<std::string> pictures;
    for (const auto* c : pages[0].Classes) {
        const TPackageResource* r = package->Resource(u"BITMAP", Framework::UpperCase(c->ClassName()));
        ASSERT_NE(r, nullptr) << Framework::Utf16ToUtf8(c->ClassName());
        ASSERT_EQ(r->Size, 40u + 16 * 4 + 24 * 12);
        auto at = [r](std::size_t offset, int bytes) {
            std::uint32_t v = 0;
            for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | r->Data[offset + static_cast<std::size_t>(i)];
            return v;
        };
        EXPECT_EQ(at(0, 4), 40u);
        EXPECT_EQ(at(4, 4), 24u);
        EXPECT_EQ(at(8, 4), 24u);
        EXPECT_EQ(at(12, 2), 1u);
        EXPECT_EQ(at(14, 2), 4u);
        EXPECT_EQ(at(16, 4), 0u) << "compressed";
        EXPECT_TRUE(at(32, 4) == 16u || at(32, 4) == 0u);
        pictures.insert(std::string(reinterpret_cast<const char*>(r->Data) + 104, 24 * 12));
    }
    EXPECT_EQ(pictures.size(), 6u);

    TWatcher watcher(nullptr);
    TINetSession* session = GetDefaultSession();
    ASSERT_NE(session, nullptr);
    session->FreeNotification(&watcher);
    package.reset();
    EXPECT_EQ(watcher.Removed, session) << "the runtime's finalization did not free the default session";
    EXPECT_NE(GetDefaultSession(), nullptr) << "the host lost its default session for good";
    EXPECT_TRUE(registry.Pages().empty());
    EXPECT_TRUE(registry.Editors().empty());
}

// The port editor on each of its three components, driven as a designer
// drives it: values shown, texts entered, refusals that leave the port.
TEST(DesignPackage, PortEditorShowsAndParsesServiceNames) {
    auto package = Framework::LoadPackage(u"" CORVANE_PACKAGE_FILE);
    Framework::TComponent form(nullptr);
    Framework::TFormDesigner designer(form);
    auto* ftp = new TINetFtp(&form);
    auto* http = new TINetHttp(&form);
    auto* url = new TINetUrl(&form);

    struct Row {
        const char16_t* Text;
        int PortAfter;  // -1: refused, port unchanged
        const char16_t* Shown;
    };
    const Row rows[] = {
        {u"HTTPS", 443, u"HTTPS"}, {u"443", 443, u"HTTPS"},   {u"80", 80, u"HTTP"},
        {u"21", 21, u"FTP"},       {u"1080", 1080, u"SOCKS"}, {u"GOPHER", 70, u"GOPHER"},
        {u"0", 0, u"0"},           {u"8080", 8080, u"8080"},  {u"65535", 65535, u"65535"},
        {u"https", -1, nullptr},   {u"Http", -1, nullptr},    {u"70000", -1, nullptr},
        {u"-1", -1, nullptr},      {u"", -1, nullptr},        {u" HTTP", -1, nullptr},
    };
    for (Framework::TComponent* c : std::initializer_list<Framework::TComponent*>{ftp, http, url}) {
        const Framework::TPropInfo& port = *Framework::ComponentClassOf(*c)->FindProperty(u"Port");
        auto editor = Framework::DesignRegistry().CreateEditor(designer, *c, port);
        EXPECT_EQ(editor->GetAttributes().ToMask(), 0x21u);
        std::vector<UnicodeString> values;
        editor->GetValues([&](const UnicodeString& v) { values.push_back(v); });
        EXPECT_EQ(values, (std::vector<UnicodeString>{u"FTP", u"GOPHER", u"HTTP", u"HTTPS", u"SOCKS"}));
        for (const Row& row : rows) {
            SCOPED_TRACE(
                Framework::Utf16ToUtf8(Framework::ComponentClassOf(*c)->ClassName() + u" " + row.Text));
            editor->SetValue(u"1234");
            designer.SetModified(false);
            if (row.PortAfter < 0) {
                EXPECT_THROW(editor->SetValue(row.Text), Framework::EConvertError);
                EXPECT_EQ(port.GetOrd(*c), 1234);
                EXPECT_FALSE(designer.IsModified());
            } else {
                editor->SetValue(row.Text);
                EXPECT_EQ(port.GetOrd(*c), row.PortAfter);
                EXPECT_EQ(editor->GetValue(), row.Shown);
                EXPECT_TRUE(designer.IsModified());
            }
        }
    }
    // A value that cannot be read shows as "(message)" and raises nothing:
    // the FTP component's Port read from an HTTP component.
    const auto& ftpPort = *ClassOf<TINetFtp>()->FindProperty(u"Port");
    auto misplaced = Framework::DesignRegistry()
                         .FindEditorClass(*ClassOf<TINetFtp>(), ftpPort)
                         .Create(designer, *http, ftpPort);
    const UnicodeString shown = misplaced->GetValue();
    EXPECT_TRUE(shown.size() > 2 && shown.front() == u'(' && shown.back() == u')')
        << Framework::Utf16ToUtf8(shown);
}

// The framework's editor for each kind of property, and the rule that picks
// among registrations: a named one over an unnamed one, then the nearer
// class, then the later one.
TEST(DesignRegistry, DefaultEditorsAndMostSpecificRegistrationWins) {
    Framework::TComponent form(nullptr);
    form.Handlers().Add<TINetErrorEvent>(u"SessionError", [](TObject*, EINetError&, TINetAction&) {});
    Framework::TFormDesigner designer(form);
    auto* session = new TINetSession(&form);
    session->SetName(u"Session1");
    auto* http = new TINetHttp(&form);
    http->SetName(u"Http1");
    TDesignRegistry registry;

    struct Row {
        Framework::TComponent* Component;
        const char16_t* Property;
        const char16_t* Set;
        const char16_t* Shown;
        std::vector<UnicodeString> Values;
        const char16_t* Bad;  // a text the editor refuses, or null
    };
    const Row rows[] = {
        {session,
         u"AccessType",
         u"atDirect",
         u"atDirect",
         {u"atDirect", u"atPreconfig", u"atPreconfigWithNoAutoProxy", u"atProxy"},
         u"atNone"},
        {session, u"Active", u"false", u"False", {u"False", u"True"}, u"maybe"},
        {session, u"Flags", u"[flAsync]", u"[flAsync]", {}, u"[flNone]"},
        {session, u"Agent", u"Designer", u"Designer", {}, nullptr},
        {http, u"Session", u"Session1", u"Session1", {u"Session1"}, u"Http1"},
        {http, u"Tag", u"-5", u"-5", {}, u"five"},
        {session, u"OnError", u"SessionError", u"SessionError", {u"SessionError"}, u"Nobody"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(Framework::Utf16ToUtf8(row.Property));
        const auto& p = *Framework::ComponentClassOf(*row.Component)->FindProperty(row.Property);
        auto editor = registry.CreateEditor(designer, *row.Component, p);
        editor->SetValue(row.Set);
        EXPECT_EQ(editor->GetValue(), row.Shown);
        std::vector<UnicodeString> values;
        editor->GetValues([&](const UnicodeString& v) { values.push_back(v); });
        EXPECT_EQ(values, row.Values);
        if (row.Bad != nullptr) {
            EXPECT_THROW(editor->SetValue(row.Bad), Framework::Exception);
            EXPECT_EQ(editor->GetValue(), row.Shown);
        }
    }

    const auto& port = *ClassOf<TINetHttp>()->FindProperty(u"Port");
    auto winner = [&] { return registry.FindEditorClass(*ClassOf<TINetHttp>(), port).ClassName; };
    EXPECT_EQ(winner(), u"TIntegerProperty");
    const auto word = Framework::TypeInfo<Word>();
    registry.AddPropertyEditor(
        {word, ClassOf<Framework::TComponent>(), u"", Framework::EditorClass<TPropertyEditor>()});
    EXPECT_EQ(winner(), u"TPropertyEditor");
    registry.AddPropertyEditor(
        {word, ClassOf<TINetHttp>(), u"", Framework::EditorClass<Framework::TOrdinalProperty>()});
    registry.AddPropertyEditor(
        {word, ClassOf<Framework::TComponent>(), u"", Framework::EditorClass<TPropertyEditor>()});
    EXPECT_EQ(winner(), u"TOrdinalProperty") << "the nearer class loses to a later, farther one";
    registry.AddPropertyEditor(
        {word, nullptr, u"Port", Framework::EditorClass<Framework::TStringProperty>()});
    EXPECT_EQ(winner(), u"TStringProperty") << "a named registration loses to an unnamed one";
    registry.AddPropertyEditor(
        {word, ClassOf<TINetFtp>(), u"Port", Framework::EditorClass<Framework::TEnumProperty>()});
    registry.AddPropertyEditor(
        {Framework::TypeInfo<int>(), nullptr, u"Port", Framework::EditorClass<Framework::TSetProperty>()});
    EXPECT_EQ(winner(), u"TStringProperty") << "a registration for another class or type applies";
}

// A package that cannot be loaded, initialized or registered is refused
// with its reason, and the registry keeps exactly what it had; a clean load
// runs the table, the initializations in order, each Register, and at
// unload the finalizations in reverse.
TEST(DesignPackage, LoaderRunsUnitsInOrderAndRefusesBrokenPackages) {
    TDesignRegistry registry;
    registry.AddComponents(u"Host", {ClassOf<TINetSession>()});

    struct Row {
        const char* Mode;
        const char* File;
        const char16_t* Reason;
        const char* Trace;
    };
    const Row rows[] = {
        {"version", TEST_PACKAGE_FILE, u"package table version 2", "table "},
        {"no-table", TEST_PACKAGE_FILE, u"no package information table", "table "},
        {"initialize", TEST_PACKAGE_FILE, u"failed to initialize: no initialization today", "table "},
        {"register", TEST_PACKAGE_FILE, u"failed to register unit B: unit B refuses",
         "table init:A init:B register:B fini:B fini:A "},
        {"", NOT_A_PACKAGE_FILE, u"has no entry point GetPackageInfoTable", nullptr},
        {"", "no-such-package-file", u"Cannot load package no-such-package-file", nullptr},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.Mode);
        SetMode(row.Mode);
        try {
            Framework::LoadPackage(Framework::Utf8ToUtf16(row.File), registry);
            ADD_FAILURE() << "loaded";
        } catch (const Framework::EPackageError& e) {
            EXPECT_NE(e.Message().find(row.Reason), UnicodeString::npos) << e.what();
        }
        if (row.Trace != nullptr) {
            EXPECT_EQ(TestPackageTrace(), row.Trace);
        }
        ASSERT_EQ(registry.Pages().size(), 1u);
        EXPECT_EQ(ClassNames(registry.Pages()[0]), std::vector<UnicodeString>{u"TINetSession"});
        EXPECT_TRUE(registry.Editors().empty());
    }

    SetMode("");
    auto package = Framework::LoadPackage(u"" TEST_PACKAGE_FILE, registry);
    EXPECT_EQ(TestPackageTrace(), "table init:A init:B register:B register:A ");
    EXPECT_EQ(registry.Pages().size(), 2u);
    EXPECT_EQ(registry.Editors().size(), 1u);
    EXPECT_THROW(Framework::LoadPackage(u"" TEST_PACKAGE_FILE, registry), Framework::EPackageError);
    EXPECT_EQ(TestPackageTrace(), "") << "a second load ran the package's units again";
    EXPECT_EQ(registry.Editors().size(), 1u);
    package.reset();
    EXPECT_EQ(TestPackageTrace(), "fini:B fini:A ");
    ASSERT_EQ(registry.Pages().size(), 1u);
    EXPECT_EQ(registry.Pages()[0].Name, u"Host");
    EXPECT_TRUE(registry.Editors().empty());
}

}  // namespace
