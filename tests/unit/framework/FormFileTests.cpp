// Published properties, the class registry and text form files.
#include <filesystem>
#include <memory>
#include <string>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "FormTestClasses.h"

using namespace Framework;
using namespace FormTest;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

namespace {

std::string Narrow(const UnicodeString& s) {
    return Utf16ToUtf8(s);
}
UnicodeString Widen(const std::string& s) {
    return Utf8ToUtf16(s);
}

class FormFiles : public ::testing::Test {
protected:
    void SetUp() override {
        RegisterFormTestClasses();
        LoadLog().Clear();
    }
};

TTestItem* Item(TComponent& owner, const char16_t* name) {
    auto* i = new TTestItem(&owner);
    i->SetName(name);
    return i;
}

// Reads Text into a fresh root, writes it again, and returns the second text.
std::string Reread(const std::string& text) {
    TComponent root(nullptr);
    TextToComponent(Widen(text), &root);
    return Narrow(ComponentToText(&root));
}

}  // namespace

TEST_F(FormFiles, StorageRulesDecideWhatIsWritten) {
    TComponent root(nullptr);
    root.SetName(u"Form1");
    Item(root, u"Plain");  // only what has no default: Visible and Offset, Options
    TTestItem* changed = Item(root, u"Changed");
    changed->SetCaption(u"Hello");
    changed->SetTitle(u"");  // empty: not written, so it reads back as "Untitled"
    changed->SetEnabled(false);
    changed->SetMode(tmThird);
    changed->SetPort(8080);
    changed->SetOptions({toAlpha, toGamma});
    TTestItem* defaults = Item(root, u"Defaults");
    defaults->SetTitle(u"Untitled");  // equal to the declared default
    defaults->SetMode(tmSecond);
    defaults->SetOnChange([](TObject*) {});  // anonymous handler: not written

    EXPECT_EQ(Narrow(ComponentToText(&root)),
              "object Form1: TComponent\n"
              "  object Plain: TTestItem\n"
              "    Visible = False\n"
              "    Offset = 0\n"
              "    Options = []\n"
              "  end\n"
              "  object Changed: TTestItem\n"
              "    Caption = 'Hello'\n"
              "    Enabled = False\n"
              "    Visible = False\n"
              "    Offset = 0\n"
              "    Port = 8080\n"
              "    Mode = tmThird\n"
              "    Options = [toAlpha, toGamma]\n"
              "  end\n"
              "  object Defaults: TTestItem\n"
              "    Visible = False\n"
              "    Offset = 0\n"
              "    Options = []\n"
              "  end\n"
              "end\n");

    TComponent copy(nullptr);
    TextToComponent(ComponentToText(&root), &copy);
    auto* back = dynamic_cast<TTestItem*>(copy.FindComponent(u"Changed"));
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(back->Title(), u"Untitled");
    EXPECT_EQ(back->Port(), 8080);
    EXPECT_EQ(back->Options(), (TTestOptions{toAlpha, toGamma}));
}

TEST_F(FormFiles, EveryComponentPublishesTagWithDefaultZero) {
    TComponent root(nullptr);
    auto* tagged = new TComponent(&root);
    tagged->SetName(u"Tagged");
    tagged->SetTag(-7);
    (new TComponent(&root))->SetName(u"Untagged");
    const std::string text = Narrow(ComponentToText(&root));
    EXPECT_THAT(text, HasSubstr("object Tagged: TComponent\n    Tag = -7\n  end"));
    EXPECT_THAT(text, HasSubstr("object Untagged: TComponent\n  end"));
    EXPECT_EQ(Reread(text), text);

    TComponent copy(nullptr);
    TextToComponent(Widen(text), &copy);
    ASSERT_NE(copy.FindComponent(u"Tagged"), nullptr);
    EXPECT_EQ(copy.FindComponent(u"Tagged")->Tag(), -7);
}

TEST_F(FormFiles, RoundTripOfEveryPropertyKindIsStable) {
    TTestRoot root(nullptr);
    root.SetName(u"MainForm");
    root.SetCaption(u"Main");
    root.Handlers().Add<TNotifyEvent>(u"ItemChanged", [](TObject*) {});
    root.Handlers().Add<TValueEvent>(u"ValueWanted", [](TObject*, int& v) { v = 42; });

    TTestItem* a = Item(root, u"A");
    TTestItem* b = Item(root, u"B");
    auto* box = new TTestContainer(&root);
    box->SetName(u"Box");
    box->SetNote(u"it's #1");
    TTestItem* inner = Item(*box, u"Inner");

    a->SetCaption(u"line one\r\nline two \u00e9\U0001F600 'quoted'");
    a->SetCount(255);
    a->SetOffset(-32768);
    a->SetBig(INT64_MIN);
    a->SetHuge(UINT64_MAX);
    a->SetPort(65535);
    a->SetMode(tmFirst);
    a->SetOptions({toAlpha, toBeta, toGamma});
    a->SetPeer(b);
    a->SetLink(inner);
    a->SetOnChange(NamedHandler<TNotifyEvent>(u"ItemChanged", [](TObject*) {}));
    a->SetOnValue(NamedHandler<TValueEvent>(u"ValueWanted", [](TObject*, int&) {}));
    b->SetCaption(std::u16string(150, u'x') + u"\t");
    b->SetPeer(a);
    b->SetLink(&root);
    inner->SetPeer(a);
    inner->SetVisible(true);

    const UnicodeString first = ComponentToText(&root);
    EXPECT_THAT(Narrow(first),
                HasSubstr("    Caption = 'line one'#13#10'line two '#233#55357#56832' ''quoted'''\n"));
    EXPECT_THAT(Narrow(first), HasSubstr("    Huge = 18446744073709551615\n"));
    EXPECT_THAT(Narrow(first), HasSubstr("    Link = Box.Inner\n"));
    EXPECT_THAT(Narrow(first), HasSubstr("    Link = MainForm\n"));
    EXPECT_THAT(Narrow(first), HasSubstr("    OnValue = ValueWanted\n"));
    EXPECT_THAT(Narrow(first), HasSubstr("    Caption =\n      '" + std::string(64, 'x') + "' +\n"));

    TTestRoot copy(nullptr);
    copy.Handlers().Add<TNotifyEvent>(u"ItemChanged", [](TObject*) {});
    copy.Handlers().Add<TValueEvent>(u"ValueWanted", [](TObject*, int& v) { v = 42; });
    TextToComponent(first, &copy);
    EXPECT_EQ(ComponentToText(&copy), first);

    auto* ca = dynamic_cast<TTestItem*>(copy.FindComponent(u"A"));
    ASSERT_NE(ca, nullptr);
    EXPECT_EQ(ca->Caption(), a->Caption());
    EXPECT_EQ(ca->Big(), INT64_MIN);
    EXPECT_EQ(ca->Peer(), copy.FindComponent(u"B"));
    EXPECT_EQ(ca->Link(), copy.FindComponent(u"Box")->FindComponent(u"Inner"));
    int value = 0;
    ca->OnValue()(ca, value);  // the handler from Copy's table is bound
    EXPECT_EQ(value, 42);
    EXPECT_EQ(copy.Caption(), u"Main");
}

TEST_F(FormFiles, StringSyntaxAcceptsConcatenationHexCodesAndAllLineEnds) {
    const std::string text =
        "object R: TComponent\r\n"
        "  object I: TTestItem\r"
        "    Caption = 'a'#$41'b'#10 +\n"
        "      '''' + #0'z'\n"
        "  end\n"
        "end";
    TComponent root(nullptr);
    TextToComponent(Widen(text), &root);
    auto* i = dynamic_cast<TTestItem*>(root.FindComponent(u"I"));
    ASSERT_NE(i, nullptr);
    EXPECT_EQ(i->Caption(), std::u16string(u"aAb\n'\0z", 7));
    // Names and keywords ignore case; unnamed objects are created too.
    EXPECT_EQ(
        Reread(
            "OBJECT r: tcomponent OBJECT ttestitem visible = TRUE offset = $10 options = [ TOBETA ] END END"),
        "object r: TComponent\n"
        "  object TTestItem\n"
        "    Visible = True\n"
        "    Offset = 16\n"
        "    Options = [toBeta]\n"
        "  end\n"
        "end\n");
}

TEST_F(FormFiles, ReadingMarksStatesResolvesForwardReferencesAndLoadsInOrder) {
    TComponent root(nullptr);
    TextToComponent(
        u"object Form: TComponent\n"
        "  object First: TTestItem\n"
        "    Active = True\n"
        "    Peer = Second\n"
        "    Caption = 'x'\n"
        "  end\n"
        "  object Second: TTestItem\n"
        "    Peer = First\n"
        "  end\n"
        "end\n",
        &root);
    auto* first = dynamic_cast<TTestItem*>(root.FindComponent(u"First"));
    ASSERT_NE(first, nullptr);
    EXPECT_TRUE(first->StateInSetter.Contains(csReading));
    EXPECT_TRUE(first->StateInSetter.Contains(csLoading));
    // Loaded ran once per component, in creation order, after every
    // reference was in place and csReading was gone.
    EXPECT_THAT(LoadLog().Lines, ElementsAre("loaded First peer=Second", "loaded Second peer=First"));
    EXPECT_TRUE(first->Active());  // deferred to Loaded
    const TComponentState reading{csLoading, csReading};
    EXPECT_TRUE((first->ComponentState() * reading).Empty());
    EXPECT_TRUE((root.ComponentState() * reading).Empty());
    EXPECT_EQ(root.Name(), u"Form");
    EXPECT_EQ(FindLoadedRoot(u"form"), &root);
}

TEST_F(FormFiles, ExistingComponentsAreReusedAndDesigningSpreadsToNewOnes) {
    struct TDesignRoot : TComponent {
        using TComponent::SetDesigning;
        using TComponent::TComponent;
    } root(nullptr);
    root.SetDesigning(true);
    TTestItem* existing = Item(root, u"Kept");
    TextToComponent(
        u"object Form: TComponent object Kept: TTestItem Caption = 'new' end "
        "object Added: TTestItem end end",
        &root);
    EXPECT_EQ(root.ComponentCount(), 2);
    EXPECT_EQ(root.Components(0), existing);
    EXPECT_EQ(existing->Caption(), u"new");
    EXPECT_TRUE(root.Components(1)->ComponentState().Contains(csDesigning));
}

TEST_F(FormFiles, ReferencesAcrossRootsResolveAndAreClearedWhenTheTargetGoes) {
    auto other = std::make_unique<TComponent>(nullptr);
    TextToComponent(u"object Shared: TComponent object Target: TTestItem end end", other.get());

    TComponent root(nullptr);
    TextToComponent(
        u"object Form: TComponent\n"
        "  object User: TTestItem\n"
        "    Peer = Shared.Target\n"
        "    Link = Shared\n"
        "  end\n"
        "end\n",
        &root);
    auto* user = dynamic_cast<TTestItem*>(root.FindComponent(u"User"));
    ASSERT_NE(user, nullptr);
    ASSERT_EQ(user->Peer(), other->FindComponent(u"Target"));
    EXPECT_THAT(Narrow(ComponentToText(&root)), HasSubstr("Peer = Shared.Target\n    Link = Shared\n"));

    // TTestItem's setters keep plain pointers; the framework clears them.
    other.reset();
    EXPECT_EQ(user->Peer(), nullptr);
    EXPECT_EQ(user->Link(), nullptr);
    EXPECT_EQ(FindLoadedRoot(u"Shared"), nullptr);

    // The same within one owner, for a reference set in code.
    TTestItem* sibling = Item(root, u"Sibling");
    user->SetPeer(sibling);
    delete sibling;
    EXPECT_EQ(user->Peer(), nullptr);
}

TEST_F(FormFiles, EventsBindThroughTheRootsHandlerTable) {
    TComponent root(nullptr);
    int calls = 0;
    root.Handlers().Add<TNotifyEvent>(u"Changed", [&](TObject*) { ++calls; });
    TextToComponent(u"object Form: TComponent object I: TTestItem OnChange = changed end end", &root);
    auto* i = dynamic_cast<TTestItem*>(root.FindComponent(u"I"));
    ASSERT_NE(i, nullptr);
    i->OnChange()(i);
    EXPECT_EQ(calls, 1);
    EXPECT_THAT(Narrow(ComponentToText(&root)), HasSubstr("OnChange = Changed\n"));

    // Replacing the handler in code drops the name: nothing is written.
    i->SetOnChange([](TObject*) {});
    EXPECT_THAT(Narrow(ComponentToText(&root)), ::testing::Not(HasSubstr("OnChange")));
    TextToComponent(u"object Form: TComponent object I: TTestItem OnChange = nil end end", &root);
    EXPECT_FALSE(i->OnChange());
}

namespace {

struct TBadCase {
    const char* Text;
    int Line;
    int Column;
    const char* Reason;
};

}  // namespace

// Every malformed or unfitting text raises EReadError with its position, and
// the root is left as it was: no created component survives, names and
// states are restored, no Loaded ran.
TEST_F(FormFiles, BadInputRaisesReadErrorWithPositionAndLeavesNothingBehind) {
    const TBadCase cases[] = {
        {"", 1, 1, "expected 'object' but found end of text"},
        {"object", 1, 7, "expected a name but found end of text"},
        {"object R: TComponent\n  object A: TNoSuch\n  end\nend", 2, 13, "Class TNoSuch not found"},
        {"object R: TComponent\n  object A: TTestItem\n    Colour = 1\n  end\nend", 3, 5,
         "unknown property Colour of class TTestItem"},
        {"object R: TComponent object A: TTestItem Caption = 12 end end", 1, 52,
         "expected a string for property Caption but found 12"},
        {"object R: TComponent object A: TTestItem Mode = tmFourth end end", 1, 49,
         "expected one of tmFirst, tmSecond, tmThird for property Mode but found 'tmFourth'"},
        {"object R: TComponent object A: TTestItem Options = [toAlpha, toDelta] end end", 1, 62,
         "for property Options but found 'toDelta'"},
        {"object R: TComponent object A: TTestItem Options = toAlpha end end", 1, 52,
         "expected a set for property Options"},
        {"object R: TComponent object A: TTestItem Count = 256 end end", 1, 50,
         "256 is outside the range of property Count (0 to 255)"},
        {"object R: TComponent object A: TTestItem Offset = -32769 end end", 1, 51,
         "-32769 is outside the range of property Offset (-32768 to 32767)"},
        {"object R: TComponent object A: TTestItem Huge = -1 end end", 1, 49, "outside the range"},
        {"object R: TComponent object A: TTestItem Big = 9223372036854775808 end end", 1, 48,
         "outside the range"},
        {"object R: TComponent object A: TTestItem Count = 99999999999999999999 end end", 1, 50, "too large"},
        {"object R: TComponent object A: TTestItem Count = 12x end end", 1, 50, "invalid number 12x"},
        {"object R: TComponent object A: TTestItem Visible = 1 end end", 1, 52, "expected True or False"},
        {"object R: TComponent object A: TTestItem\n Peer = Nobody end end", 2, 9,
         "unresolved reference Nobody for property Peer"},
        {"object R: TComponent object A: TTestItem Peer = A end object B: TTestContainer end "
         "object C: TTestItem Peer = B end end",
         1, 111, "B is a TTestContainer, not a TTestItem"},
        {"object R: TComponent object A: TTestItem Caption = 'open\n end end", 1, 52, "unterminated string"},
        {"object R: TComponent object A: TTestItem Caption = #65536 end end", 1, 52, "65536"},
        {"object R: TComponent object A: TTestItem Caption = 'a' + end end", 1, 58,
         "expected a string but found 'end'"},
        {"object R: TComponent object A: TTestItem Count = 13 end end", 1, 50,
         "cannot set property Count: unlucky"},
        {"object R: TComponent object A: TTestItem OnChange = Missing end end", 1, 53,
         "unknown handler Missing for event OnChange"},
        {"object R: TComponent object A: TTestItem Caption @ end end", 1, 50, "unexpected character '@'"},
        {"object R: TComponent object A: TTestItem Caption 'x' end end", 1, 50,
         "expected '=' but found a string"},
        {"object R: TComponent object A: TTestItem end", 1, 45,
         "expected a property name, 'object' or 'end'"},
        {"object R: TComponent end end", 1, 26, "expected end of text but found 'end'"},
        {"object R: TComponent object 9A: TTestItem end end", 1, 29, "invalid number 9A"},
        {"object R: TComponent object A: TTestAbstract end end", 1, 32,
         "Class TTestAbstract cannot be created"},
        {"object R: TComponent object Twin: TTestContainer end end", 1, 35,
         "component Twin is a TTestItem, not a TTestContainer"},
        {"object R: TComponent object A: TTestItem end object a: TTestItem Peer = x.y end end", 1, 73,
         "unresolved reference x.y"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Text);
        LoadLog().Clear();
        TComponent root(nullptr);
        root.SetName(u"Original");
        TTestItem* twin = Item(root, u"Twin");
        try {
            TextToComponent(Widen(c.Text), &root);
            ADD_FAILURE() << "no error";
        } catch (const EReadError& e) {
            EXPECT_EQ(e.Line(), c.Line);
            EXPECT_EQ(e.Column(), c.Column);
            EXPECT_THAT(Narrow(e.Reason()), HasSubstr(c.Reason));
            EXPECT_EQ(Narrow(e.Message()), "Line " + std::to_string(c.Line) + ", column " +
                                               std::to_string(c.Column) + ": " + Narrow(e.Reason()));
        }
        EXPECT_EQ(root.ComponentCount(), 1);
        EXPECT_EQ(root.Components(0), twin);
        EXPECT_EQ(root.Name(), u"Original");
        EXPECT_TRUE(root.ComponentState().Empty());
        EXPECT_TRUE(twin->ComponentState().Empty());
        EXPECT_TRUE(LoadLog().Lines.empty());
    }
}

TEST_F(FormFiles, DeepNestingIsRefusedWithoutExhaustingTheStack) {
    std::string text;
    for (int i = 0; i < 5000; ++i) text += "object TTestContainer ";
    TComponent root(nullptr);
    try {
        TextToComponent(Widen(text), &root);
        ADD_FAILURE();
    } catch (const EReadError& e) {
        EXPECT_THAT(Narrow(e.Reason()), HasSubstr("nested too deeply"));
    }
    EXPECT_EQ(root.ComponentCount(), 0);
}

TEST_F(FormFiles, FailureInLoadedPropagatesUnchangedAndUndoesTheRead) {
    TComponent root(nullptr);
    EXPECT_THROW(TextToComponent(u"object Form: TComponent object A: TTestItem end "
                                 "object B: TTestItem FailOnLoad = True end end",
                                 &root),
                 EConvertError);
    EXPECT_THAT(LoadLog().Lines, ElementsAre("loaded A", "loaded B"));
    EXPECT_EQ(root.ComponentCount(), 0);
    EXPECT_TRUE(root.ComponentState().Empty());
}

TEST_F(FormFiles, ANullRootIsCreatedFromTheFilesClass) {
    std::unique_ptr<TComponent> root(TextToComponent(u"object Made: TTestRoot Caption = 'c' end", nullptr));
    auto* typed = dynamic_cast<TTestRoot*>(root.get());
    ASSERT_NE(typed, nullptr);
    EXPECT_EQ(typed->Caption(), u"c");
    EXPECT_EQ(typed->Name(), u"Made");
    EXPECT_THROW(TextToComponent(u"object Made: TTestRoot Colour = 1 end", nullptr), EReadError);
}

TEST_F(FormFiles, FilesRoundTripInUtf8WithOrWithoutByteOrderMark) {
    const auto dir = std::filesystem::temp_directory_path() / "corvane-form-tests";
    std::filesystem::create_directories(dir);
    const UnicodeString path = (dir / "form.txt").u16string();
    TComponent root(nullptr);
    root.SetName(u"FileForm");
    Item(root, u"A")->SetCaption(u"\u00fcber");
    WriteComponentFile(path, &root);

    TComponent copy(nullptr);
    ReadComponentFile(path, &copy);
    EXPECT_EQ(ComponentToText(&copy), ComponentToText(&root));

    TMemoryStream bom;
    bom.Write(
        "\xEF\xBB\xBF"
        "object X: TComponent end",
        27);
    bom.SaveToFile(path);
    TComponent third(nullptr);
    ReadComponentFile(path, &third);
    EXPECT_EQ(third.Name(), u"X");
    std::filesystem::remove_all(dir);
    EXPECT_THROW(ReadComponentFile(path, &third), EStreamError);
}

TEST_F(FormFiles, WriterRefusesWhatCouldNotBeReadBack) {
    struct TUnregistered : TComponent {
        using TComponent::TComponent;
    };
    TComponent root(nullptr);
    new TUnregistered(&root);
    EXPECT_THROW(ComponentToText(&root), EWriteError);

    TComponent root2(nullptr);
    TTestItem* a = Item(root2, u"A");
    auto* nameless = new TTestItem(&root2);
    a->SetPeer(nameless);
    EXPECT_THROW(ComponentToText(&root2), EWriteError);
    EXPECT_TRUE(a->ComponentState().Empty());  // csWriting cleared after the failure
}

TEST(PropertyText, EnumerationsAndSetsConvertInOnePlace) {
    RegisterFormTestClasses();
    EXPECT_EQ(EnumToText(tmThird), u"tmThird");
    EXPECT_EQ(TextToEnum<TTestMode>(u"TMFIRST"), tmFirst);
    EXPECT_EQ(SetToText(TTestOptions{toGamma, toAlpha}), u"[toAlpha, toGamma]");
    EXPECT_EQ(SetToText(TTestOptions{}), u"[]");
    EXPECT_EQ(TextToSet<TTestOption>(u" [ toBeta ,toBeta, toAlpha ] "), (TTestOptions{toAlpha, toBeta}));
    EXPECT_EQ(TextToSet<TTestOption>(u"[]"), TTestOptions{});
    for (const char16_t* bad : {u"", u"toAlpha", u"[toAlpha", u"[toAlpha,]", u"[,]", u"[toOmega]", u"[] x"})
        EXPECT_THROW(TextToSet<TTestOption>(bad), EConvertError) << Narrow(bad);
    try {
        TextToEnum<TTestMode>(u"tmNone");
        ADD_FAILURE();
    } catch (const EConvertError& e) {
        EXPECT_EQ(e.Message(),
                  u"'tmNone' is not a value of TTestMode (expected one of tmFirst, tmSecond, tmThird)");
    }
    EXPECT_THROW(EnumToText(static_cast<TTestMode>(7)), EPropertyError);
    EXPECT_THROW(SetToText(TTestOptions::FromMask(0b1000)), EPropertyError);
    enum TUndefined { uA };
    EXPECT_THROW(EnumToText(uA), EPropertyError);
    EXPECT_THROW(DefineEnum<TTestMode>(u"TTestMode", {u"tmFirst"}), EPropertyError);
    EXPECT_NO_THROW(DefineEnum<TTestMode>(u"TTestMode", {u"tmFirst", u"tmSecond", u"tmThird"}));
}

TEST(PropertyMetadata, AccessorsCheckKindRangeAndClass) {
    RegisterFormTestClasses();
    const TClassInfo* info = FindComponentClass(u"ttestitem");
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->Property(0).Name(), u"Caption");
    const TPropInfo* count = info->FindProperty(u"count");
    ASSERT_NE(count, nullptr);
    EXPECT_EQ(count->Kind(), pkInteger);
    EXPECT_EQ(count->IntegerBits(), 8);
    EXPECT_FALSE(count->IntegerSigned());

    TComponent owner(nullptr);
    auto* i = new TTestItem(&owner);
    EXPECT_THROW(count->SetOrd(*i, 256), EPropertyError);
    EXPECT_THROW(count->SetString(*i, u"1"), EPropertyError);
    EXPECT_THROW(info->FindProperty(u"Mode")->SetOrd(*i, 3), EPropertyError);
    EXPECT_THROW(info->FindProperty(u"Options")->SetOrd(*i, 8), EPropertyError);
    info->FindProperty(u"Options")->SetOrd(*i, 5);
    EXPECT_EQ(i->Options(), (TTestOptions{toAlpha, toGamma}));
    EXPECT_THROW(count->GetOrd(owner), EPropertyError);  // not a TTestItem
    auto* box = new TTestContainer(&owner);
    EXPECT_THROW(info->FindProperty(u"Peer")->SetComponent(*i, box), EPropertyError);
    EXPECT_EQ(i->Peer(), nullptr);

    const std::any wrong = TValueEvent([](TObject*, int&) {});
    EXPECT_THROW(info->FindProperty(u"OnChange")->BindHandler(*i, u"H", &wrong), EPropertyError);
}

TEST(ClassRegistry, CreatesByNameAndRefusesUnknownAbstractAndConflictingClasses) {
    RegisterFormTestClasses();
    TComponent owner(nullptr);
    TComponent* made = CreateComponent(u"TTestContainer", &owner);
    EXPECT_NE(dynamic_cast<TTestContainer*>(made), nullptr);
    EXPECT_EQ(made->Owner(), &owner);
    EXPECT_EQ(ComponentClassOf(*made), FindComponentClass(u"TTestContainer"));
    EXPECT_THROW(CreateComponent(u"TNothing", &owner), EClassNotFound);
    EXPECT_THROW(CreateComponent(u"TTestAbstract", &owner), EClassNotFound);
    EXPECT_EQ(owner.ComponentCount(), 1);
    EXPECT_THROW(RegisterComponentClass<TTestRoot>(u"TTestContainer"), EPropertyError);
    EXPECT_THROW(RegisterComponentClass<TTestRoot>(u"Not A Name"), EPropertyError);
    EXPECT_EQ(FindComponentClass(u"TTestRoot")->PropertyCount(), 1);  // untouched by the refusals
}
