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

std::string Narrow(const UnicodeString& S) { return Utf16ToUtf8(S); }
UnicodeString Widen(const std::string& S) { return Utf8ToUtf16(S); }

class FormFiles : public ::testing::Test {
protected:
    void SetUp() override {
        RegisterFormTestClasses();
        LoadLog().Clear();
    }
};

TTestItem* Item(TComponent& Owner, const char16_t* Name) {
    auto* I = new TTestItem(&Owner);
    I->SetName(Name);
    return I;
}

// Reads Text into a fresh root, writes it again, and returns the second text.
std::string Reread(const std::string& Text) {
    TComponent Root(nullptr);
    TextToComponent(Widen(Text), &Root);
    return Narrow(ComponentToText(&Root));
}

}  // namespace

TEST_F(FormFiles, StorageRulesDecideWhatIsWritten) {
    TComponent Root(nullptr);
    Root.SetName(u"Form1");
    Item(Root, u"Plain");  // only what has no default: Visible and Offset, Options
    TTestItem* Changed = Item(Root, u"Changed");
    Changed->SetCaption(u"Hello");
    Changed->SetTitle(u"");     // empty: not written, so it reads back as "Untitled"
    Changed->SetEnabled(false);
    Changed->SetMode(tmThird);
    Changed->SetPort(8080);
    Changed->SetOptions({toAlpha, toGamma});
    TTestItem* Defaults = Item(Root, u"Defaults");
    Defaults->SetTitle(u"Untitled");  // equal to the declared default
    Defaults->SetMode(tmSecond);
    Defaults->SetOnChange([](TObject*) {});  // anonymous handler: not written

    EXPECT_EQ(Narrow(ComponentToText(&Root)),
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

    TComponent Copy(nullptr);
    TextToComponent(ComponentToText(&Root), &Copy);
    auto* Back = dynamic_cast<TTestItem*>(Copy.FindComponent(u"Changed"));
    ASSERT_NE(Back, nullptr);
    EXPECT_EQ(Back->Title(), u"Untitled");
    EXPECT_EQ(Back->Port(), 8080);
    EXPECT_EQ(Back->Options(), (TTestOptions{toAlpha, toGamma}));
}

TEST_F(FormFiles, EveryComponentPublishesTagWithDefaultZero) {
    TComponent Root(nullptr);
    auto* Tagged = new TComponent(&Root);
    Tagged->SetName(u"Tagged");
    Tagged->SetTag(-7);
    (new TComponent(&Root))->SetName(u"Untagged");
    const std::string Text = Narrow(ComponentToText(&Root));
    EXPECT_THAT(Text, HasSubstr("object Tagged: TComponent\n    Tag = -7\n  end"));
    EXPECT_THAT(Text, HasSubstr("object Untagged: TComponent\n  end"));
    EXPECT_EQ(Reread(Text), Text);

    TComponent Copy(nullptr);
    TextToComponent(Widen(Text), &Copy);
    ASSERT_NE(Copy.FindComponent(u"Tagged"), nullptr);
    EXPECT_EQ(Copy.FindComponent(u"Tagged")->Tag(), -7);
}

TEST_F(FormFiles, RoundTripOfEveryPropertyKindIsStable) {
    TTestRoot Root(nullptr);
    Root.SetName(u"MainForm");
    Root.SetCaption(u"Main");
    Root.Handlers().Add<TNotifyEvent>(u"ItemChanged", [](TObject*) {});
    Root.Handlers().Add<TValueEvent>(u"ValueWanted", [](TObject*, int& V) { V = 42; });

    TTestItem* A = Item(Root, u"A");
    TTestItem* B = Item(Root, u"B");
    auto* Box = new TTestContainer(&Root);
    Box->SetName(u"Box");
    Box->SetNote(u"it's #1");
    TTestItem* Inner = Item(*Box, u"Inner");

    A->SetCaption(u"line one\r\nline two \u00e9\U0001F600 'quoted'");
    A->SetCount(255);
    A->SetOffset(-32768);
    A->SetBig(INT64_MIN);
    A->SetHuge(UINT64_MAX);
    A->SetPort(65535);
    A->SetMode(tmFirst);
    A->SetOptions({toAlpha, toBeta, toGamma});
    A->SetPeer(B);
    A->SetLink(Inner);
    A->SetOnChange(NamedHandler<TNotifyEvent>(u"ItemChanged", [](TObject*) {}));
    A->SetOnValue(NamedHandler<TValueEvent>(u"ValueWanted", [](TObject*, int&) {}));
    B->SetCaption(std::u16string(150, u'x') + u"\t");
    B->SetPeer(A);
    B->SetLink(&Root);
    Inner->SetPeer(A);
    Inner->SetVisible(true);

    const UnicodeString First = ComponentToText(&Root);
    EXPECT_THAT(Narrow(First), HasSubstr("    Caption = 'line one'#13#10'line two '#233#55357#56832' ''quoted'''\n"));
    EXPECT_THAT(Narrow(First), HasSubstr("    Huge = 18446744073709551615\n"));
    EXPECT_THAT(Narrow(First), HasSubstr("    Link = Box.Inner\n"));
    EXPECT_THAT(Narrow(First), HasSubstr("    Link = MainForm\n"));
    EXPECT_THAT(Narrow(First), HasSubstr("    OnValue = ValueWanted\n"));
    EXPECT_THAT(Narrow(First), HasSubstr("    Caption =\n      '" + std::string(64, 'x') + "' +\n"));

    TTestRoot Copy(nullptr);
    Copy.Handlers().Add<TNotifyEvent>(u"ItemChanged", [](TObject*) {});
    Copy.Handlers().Add<TValueEvent>(u"ValueWanted", [](TObject*, int& V) { V = 42; });
    TextToComponent(First, &Copy);
    EXPECT_EQ(ComponentToText(&Copy), First);

    auto* CA = dynamic_cast<TTestItem*>(Copy.FindComponent(u"A"));
    ASSERT_NE(CA, nullptr);
    EXPECT_EQ(CA->Caption(), A->Caption());
    EXPECT_EQ(CA->Big(), INT64_MIN);
    EXPECT_EQ(CA->Peer(), Copy.FindComponent(u"B"));
    EXPECT_EQ(CA->Link(), Copy.FindComponent(u"Box")->FindComponent(u"Inner"));
    int Value = 0;
    CA->OnValue()(CA, Value);  // the handler from Copy's table is bound
    EXPECT_EQ(Value, 42);
    EXPECT_EQ(Copy.Caption(), u"Main");
}

TEST_F(FormFiles, StringSyntaxAcceptsConcatenationHexCodesAndAllLineEnds) {
    const std::string Text =
        "object R: TComponent\r\n"
        "  object I: TTestItem\r"
        "    Caption = 'a'#$41'b'#10 +\n"
        "      '''' + #0'z'\n"
        "  end\n"
        "end";
    TComponent Root(nullptr);
    TextToComponent(Widen(Text), &Root);
    auto* I = dynamic_cast<TTestItem*>(Root.FindComponent(u"I"));
    ASSERT_NE(I, nullptr);
    EXPECT_EQ(I->Caption(), std::u16string(u"aAb\n'\0z", 7));
    // Names and keywords ignore case; unnamed objects are created too.
    EXPECT_EQ(Reread("OBJECT r: tcomponent OBJECT ttestitem visible = TRUE offset = $10 options = [ TOBETA ] END END"),
              "object r: TComponent\n"
              "  object TTestItem\n"
              "    Visible = True\n"
              "    Offset = 16\n"
              "    Options = [toBeta]\n"
              "  end\n"
              "end\n");
}

TEST_F(FormFiles, ReadingMarksStatesResolvesForwardReferencesAndLoadsInOrder) {
    TComponent Root(nullptr);
    TextToComponent(u"object Form: TComponent\n"
                    "  object First: TTestItem\n"
                    "    Active = True\n"
                    "    Peer = Second\n"
                    "    Caption = 'x'\n"
                    "  end\n"
                    "  object Second: TTestItem\n"
                    "    Peer = First\n"
                    "  end\n"
                    "end\n",
                    &Root);
    auto* First = dynamic_cast<TTestItem*>(Root.FindComponent(u"First"));
    ASSERT_NE(First, nullptr);
    EXPECT_TRUE(First->StateInSetter.Contains(csReading));
    EXPECT_TRUE(First->StateInSetter.Contains(csLoading));
    // Loaded ran once per component, in creation order, after every
    // reference was in place and csReading was gone.
    EXPECT_THAT(LoadLog().Lines, ElementsAre("loaded First peer=Second", "loaded Second peer=First"));
    EXPECT_TRUE(First->Active());  // deferred to Loaded
    const TComponentState Reading{csLoading, csReading};
    EXPECT_TRUE((First->ComponentState() * Reading).Empty());
    EXPECT_TRUE((Root.ComponentState() * Reading).Empty());
    EXPECT_EQ(Root.Name(), u"Form");
    EXPECT_EQ(FindLoadedRoot(u"form"), &Root);
}

TEST_F(FormFiles, ExistingComponentsAreReusedAndDesigningSpreadsToNewOnes) {
    struct TDesignRoot : TComponent {
        using TComponent::SetDesigning;
        using TComponent::TComponent;
    } Root(nullptr);
    Root.SetDesigning(true);
    TTestItem* Existing = Item(Root, u"Kept");
    TextToComponent(u"object Form: TComponent object Kept: TTestItem Caption = 'new' end "
                    "object Added: TTestItem end end",
                    &Root);
    EXPECT_EQ(Root.ComponentCount(), 2);
    EXPECT_EQ(Root.Components(0), Existing);
    EXPECT_EQ(Existing->Caption(), u"new");
    EXPECT_TRUE(Root.Components(1)->ComponentState().Contains(csDesigning));
}

TEST_F(FormFiles, ReferencesAcrossRootsResolveAndAreClearedWhenTheTargetGoes) {
    auto Other = std::make_unique<TComponent>(nullptr);
    TextToComponent(u"object Shared: TComponent object Target: TTestItem end end", Other.get());

    TComponent Root(nullptr);
    TextToComponent(u"object Form: TComponent\n"
                    "  object User: TTestItem\n"
                    "    Peer = Shared.Target\n"
                    "    Link = Shared\n"
                    "  end\n"
                    "end\n",
                    &Root);
    auto* User = dynamic_cast<TTestItem*>(Root.FindComponent(u"User"));
    ASSERT_NE(User, nullptr);
    ASSERT_EQ(User->Peer(), Other->FindComponent(u"Target"));
    EXPECT_THAT(Narrow(ComponentToText(&Root)), HasSubstr("Peer = Shared.Target\n    Link = Shared\n"));

    // TTestItem's setters keep plain pointers; the framework clears them.
    Other.reset();
    EXPECT_EQ(User->Peer(), nullptr);
    EXPECT_EQ(User->Link(), nullptr);
    EXPECT_EQ(FindLoadedRoot(u"Shared"), nullptr);

    // The same within one owner, for a reference set in code.
    TTestItem* Sibling = Item(Root, u"Sibling");
    User->SetPeer(Sibling);
    delete Sibling;
    EXPECT_EQ(User->Peer(), nullptr);
}

TEST_F(FormFiles, EventsBindThroughTheRootsHandlerTable) {
    TComponent Root(nullptr);
    int Calls = 0;
    Root.Handlers().Add<TNotifyEvent>(u"Changed", [&](TObject*) { ++Calls; });
    TextToComponent(u"object Form: TComponent object I: TTestItem OnChange = changed end end", &Root);
    auto* I = dynamic_cast<TTestItem*>(Root.FindComponent(u"I"));
    ASSERT_NE(I, nullptr);
    I->OnChange()(I);
    EXPECT_EQ(Calls, 1);
    EXPECT_THAT(Narrow(ComponentToText(&Root)), HasSubstr("OnChange = Changed\n"));

    // Replacing the handler in code drops the name: nothing is written.
    I->SetOnChange([](TObject*) {});
    EXPECT_THAT(Narrow(ComponentToText(&Root)), ::testing::Not(HasSubstr("OnChange")));
    TextToComponent(u"object Form: TComponent object I: TTestItem OnChange = nil end end", &Root);
    EXPECT_FALSE(I->OnChange());
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
    const TBadCase Cases[] = {
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
        {"object R: TComponent object A: TTestItem Big = 9223372036854775808 end end", 1, 48, "outside the range"},
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
        {"object R: TComponent object A: TTestItem Count = 13 end end", 1, 50, "cannot set property Count: unlucky"},
        {"object R: TComponent object A: TTestItem OnChange = Missing end end", 1, 53,
         "unknown handler Missing for event OnChange"},
        {"object R: TComponent object A: TTestItem Caption @ end end", 1, 50, "unexpected character '@'"},
        {"object R: TComponent object A: TTestItem Caption 'x' end end", 1, 50, "expected '=' but found a string"},
        {"object R: TComponent object A: TTestItem end", 1, 45, "expected a property name, 'object' or 'end'"},
        {"object R: TComponent end end", 1, 26, "expected end of text but found 'end'"},
        {"object R: TComponent object 9A: TTestItem end end", 1, 29, "invalid number 9A"},
        {"object R: TComponent object A: TTestAbstract end end", 1, 32, "Class TTestAbstract cannot be created"},
        {"object R: TComponent object Twin: TTestContainer end end", 1, 35,
         "component Twin is a TTestItem, not a TTestContainer"},
        {"object R: TComponent object A: TTestItem end object a: TTestItem Peer = x.y end end", 1, 73,
         "unresolved reference x.y"},
    };
    for (const auto& C : Cases) {
        SCOPED_TRACE(C.Text);
        LoadLog().Clear();
        TComponent Root(nullptr);
        Root.SetName(u"Original");
        TTestItem* Twin = Item(Root, u"Twin");
        try {
            TextToComponent(Widen(C.Text), &Root);
            ADD_FAILURE() << "no error";
        } catch (const EReadError& E) {
            EXPECT_EQ(E.Line(), C.Line);
            EXPECT_EQ(E.Column(), C.Column);
            EXPECT_THAT(Narrow(E.Reason()), HasSubstr(C.Reason));
            EXPECT_EQ(Narrow(E.Message()), "Line " + std::to_string(C.Line) + ", column " +
                                               std::to_string(C.Column) + ": " + Narrow(E.Reason()));
        }
        EXPECT_EQ(Root.ComponentCount(), 1);
        EXPECT_EQ(Root.Components(0), Twin);
        EXPECT_EQ(Root.Name(), u"Original");
        EXPECT_TRUE(Root.ComponentState().Empty());
        EXPECT_TRUE(Twin->ComponentState().Empty());
        EXPECT_TRUE(LoadLog().Lines.empty());
    }
}

TEST_F(FormFiles, DeepNestingIsRefusedWithoutExhaustingTheStack) {
    std::string Text;
    for (int I = 0; I < 5000; ++I) Text += "object TTestContainer ";
    TComponent Root(nullptr);
    try {
        TextToComponent(Widen(Text), &Root);
        ADD_FAILURE();
    } catch (const EReadError& E) {
        EXPECT_THAT(Narrow(E.Reason()), HasSubstr("nested too deeply"));
    }
    EXPECT_EQ(Root.ComponentCount(), 0);
}

TEST_F(FormFiles, FailureInLoadedPropagatesUnchangedAndUndoesTheRead) {
    TComponent Root(nullptr);
    EXPECT_THROW(TextToComponent(u"object Form: TComponent object A: TTestItem end "
                                 "object B: TTestItem FailOnLoad = True end end",
                                 &Root),
                 EConvertError);
    EXPECT_THAT(LoadLog().Lines, ElementsAre("loaded A", "loaded B"));
    EXPECT_EQ(Root.ComponentCount(), 0);
    EXPECT_TRUE(Root.ComponentState().Empty());
}

TEST_F(FormFiles, ANullRootIsCreatedFromTheFilesClass) {
    std::unique_ptr<TComponent> Root(TextToComponent(u"object Made: TTestRoot Caption = 'c' end", nullptr));
    auto* Typed = dynamic_cast<TTestRoot*>(Root.get());
    ASSERT_NE(Typed, nullptr);
    EXPECT_EQ(Typed->Caption(), u"c");
    EXPECT_EQ(Typed->Name(), u"Made");
    EXPECT_THROW(TextToComponent(u"object Made: TTestRoot Colour = 1 end", nullptr), EReadError);
}

TEST_F(FormFiles, FilesRoundTripInUtf8WithOrWithoutByteOrderMark) {
    const auto Dir = std::filesystem::temp_directory_path() / "corvane-form-tests";
    std::filesystem::create_directories(Dir);
    const UnicodeString Path = (Dir / "form.txt").u16string();
    TComponent Root(nullptr);
    Root.SetName(u"FileForm");
    Item(Root, u"A")->SetCaption(u"\u00fcber");
    WriteComponentFile(Path, &Root);

    TComponent Copy(nullptr);
    ReadComponentFile(Path, &Copy);
    EXPECT_EQ(ComponentToText(&Copy), ComponentToText(&Root));

    TMemoryStream Bom;
    Bom.Write("\xEF\xBB\xBF" "object X: TComponent end", 27);
    Bom.SaveToFile(Path);
    TComponent Third(nullptr);
    ReadComponentFile(Path, &Third);
    EXPECT_EQ(Third.Name(), u"X");
    std::filesystem::remove_all(Dir);
    EXPECT_THROW(ReadComponentFile(Path, &Third), EStreamError);
}

TEST_F(FormFiles, WriterRefusesWhatCouldNotBeReadBack) {
    struct TUnregistered : TComponent {
        using TComponent::TComponent;
    };
    TComponent Root(nullptr);
    new TUnregistered(&Root);
    EXPECT_THROW(ComponentToText(&Root), EWriteError);

    TComponent Root2(nullptr);
    TTestItem* A = Item(Root2, u"A");
    auto* Nameless = new TTestItem(&Root2);
    A->SetPeer(Nameless);
    EXPECT_THROW(ComponentToText(&Root2), EWriteError);
    EXPECT_TRUE(A->ComponentState().Empty());  // csWriting cleared after the failure
}

TEST(PropertyText, EnumerationsAndSetsConvertInOnePlace) {
    RegisterFormTestClasses();
    EXPECT_EQ(EnumToText(tmThird), u"tmThird");
    EXPECT_EQ(TextToEnum<TTestMode>(u"TMFIRST"), tmFirst);
    EXPECT_EQ(SetToText(TTestOptions{toGamma, toAlpha}), u"[toAlpha, toGamma]");
    EXPECT_EQ(SetToText(TTestOptions{}), u"[]");
    EXPECT_EQ(TextToSet<TTestOption>(u" [ toBeta ,toBeta, toAlpha ] "), (TTestOptions{toAlpha, toBeta}));
    EXPECT_EQ(TextToSet<TTestOption>(u"[]"), TTestOptions{});
    for (const char16_t* Bad : {u"", u"toAlpha", u"[toAlpha", u"[toAlpha,]", u"[,]", u"[toOmega]", u"[] x"})
        EXPECT_THROW(TextToSet<TTestOption>(Bad), EConvertError) << Narrow(Bad);
    try {
        TextToEnum<TTestMode>(u"tmNone");
        ADD_FAILURE();
    } catch (const EConvertError& E) {
        EXPECT_EQ(E.Message(), u"'tmNone' is not a value of TTestMode (expected one of tmFirst, tmSecond, tmThird)");
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
    const TClassInfo* Info = FindComponentClass(u"ttestitem");
    ASSERT_NE(Info, nullptr);
    EXPECT_EQ(Info->Property(0).Name(), u"Caption");
    const TPropInfo* Count = Info->FindProperty(u"count");
    ASSERT_NE(Count, nullptr);
    EXPECT_EQ(Count->Kind(), pkInteger);
    EXPECT_EQ(Count->IntegerBits(), 8);
    EXPECT_FALSE(Count->IntegerSigned());

    TComponent Owner(nullptr);
    auto* I = new TTestItem(&Owner);
    EXPECT_THROW(Count->SetOrd(*I, 256), EPropertyError);
    EXPECT_THROW(Count->SetString(*I, u"1"), EPropertyError);
    EXPECT_THROW(Info->FindProperty(u"Mode")->SetOrd(*I, 3), EPropertyError);
    EXPECT_THROW(Info->FindProperty(u"Options")->SetOrd(*I, 8), EPropertyError);
    Info->FindProperty(u"Options")->SetOrd(*I, 5);
    EXPECT_EQ(I->Options(), (TTestOptions{toAlpha, toGamma}));
    EXPECT_THROW(Count->GetOrd(Owner), EPropertyError);  // not a TTestItem
    auto* Box = new TTestContainer(&Owner);
    EXPECT_THROW(Info->FindProperty(u"Peer")->SetComponent(*I, Box), EPropertyError);
    EXPECT_EQ(I->Peer(), nullptr);

    const std::any Wrong = TValueEvent([](TObject*, int&) {});
    EXPECT_THROW(Info->FindProperty(u"OnChange")->BindHandler(*I, u"H", &Wrong), EPropertyError);
}

TEST(ClassRegistry, CreatesByNameAndRefusesUnknownAbstractAndConflictingClasses) {
    RegisterFormTestClasses();
    TComponent Owner(nullptr);
    TComponent* Made = CreateComponent(u"TTestContainer", &Owner);
    EXPECT_NE(dynamic_cast<TTestContainer*>(Made), nullptr);
    EXPECT_EQ(Made->Owner(), &Owner);
    EXPECT_EQ(ComponentClassOf(*Made), FindComponentClass(u"TTestContainer"));
    EXPECT_THROW(CreateComponent(u"TNothing", &Owner), EClassNotFound);
    EXPECT_THROW(CreateComponent(u"TTestAbstract", &Owner), EClassNotFound);
    EXPECT_EQ(Owner.ComponentCount(), 1);
    EXPECT_THROW(RegisterComponentClass<TTestRoot>(u"TTestContainer"), EPropertyError);
    EXPECT_THROW(RegisterComponentClass<TTestRoot>(u"Not A Name"), EPropertyError);
    EXPECT_EQ(FindComponentClass(u"TTestRoot")->PropertyCount(), 1);  // untouched by the refusals
}
