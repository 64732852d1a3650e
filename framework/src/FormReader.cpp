#include <limits>
#include <memory>
#include <unordered_set>
#include <variant>
#include <vector>

#include "Framework/FormFiles.h"
#include "FormFilesConsts.h"

namespace Framework {

namespace {

// Deepest nesting of objects accepted, so that hostile input cannot exhaust
// the stack.
constexpr int MaxDepth = 100;

struct TPos {
    int Line = 1;
    int Column = 1;
};

[[noreturn]] void Fail(TPos Pos, const UnicodeString& Reason) {
    throw EReadError(Reason, Pos.Line, Pos.Column);
}

enum class TTok { End, Ident, Integer, String, Symbol };

struct TToken {
    TTok Kind = TTok::End;
    TPos Pos;
    UnicodeString Text;  // identifier, decoded string, symbol, or the integer as written
    UInt64 Magnitude = 0;
    bool Negative = false;
};

bool IsIdentStart(char16_t C) { return (C >= u'a' && C <= u'z') || (C >= u'A' && C <= u'Z') || C == u'_'; }
bool IsDigit(char16_t C) { return C >= u'0' && C <= u'9'; }
bool IsIdentChar(char16_t C) { return IsIdentStart(C) || IsDigit(C); }
int HexValue(char16_t C) {
    if (IsDigit(C)) return C - u'0';
    if (C >= u'a' && C <= u'f') return C - u'a' + 10;
    if (C >= u'A' && C <= u'F') return C - u'A' + 10;
    return -1;
}

// How a character appears in a message: 'c' when printable, else #nnn.
UnicodeString Describe(char16_t C) {
    if (C >= 0x21 && C <= 0x7E) return UnicodeString(u"'") + C + u"'";
    return u"#" + IntToStr(static_cast<Integer>(C));
}

// How a token appears in a message.
UnicodeString Describe(const TToken& T) {
    switch (T.Kind) {
        case TTok::End:
            return LoadResString(Consts::SEndOfText);
        case TTok::String:
            return LoadResString(Consts::SAString);
        case TTok::Integer:
            return T.Text;
        default:
            return u"'" + T.Text + u"'";
    }
}

// Splits form text into tokens, tracking line and column (1-based, in
// UTF-16 code units; CR LF, LF and CR each end a line).
class TLexer {
public:
    explicit TLexer(std::u16string_view Text) : S(Text) {}

    TToken Next() {
        SkipBlanks();
        TToken T;
        T.Pos = P;
        if (I >= S.size()) return T;
        const char16_t C = S[I];
        if (IsIdentStart(C)) return LexIdent(T);
        if (IsDigit(C) || C == u'$' || ((C == u'-' || C == u'+') && (IsDigit(Peek(1)) || Peek(1) == u'$')))
            return LexNumber(T);
        if (C == u'\'' || C == u'#') return LexString(T);
        if (C == u'=' || C == u':' || C == u'[' || C == u']' || C == u',' || C == u'+') {
            T.Kind = TTok::Symbol;
            T.Text = UnicodeString(1, C);
            Advance();
            return T;
        }
        Fail(P, Format(LoadResString(Consts::SUnexpectedChar), {Describe(C)}));
    }

private:
    char16_t Peek(std::size_t Ahead = 0) const { return I + Ahead < S.size() ? S[I + Ahead] : char16_t(0); }

    void Advance() {
        const char16_t C = S[I++];
        if (C == u'\n' || (C == u'\r' && Peek() != u'\n')) {
            ++P.Line;
            P.Column = 1;
        } else if (C != u'\r') {
            ++P.Column;
        }
    }

    void SkipBlanks() {
        while (I < S.size()) {
            const char16_t C = S[I];
            if (C == u' ' || C == u'\t' || C == u'\r' || C == u'\n' || C == u'\f' || C == 0xFEFF)
                Advance();
            else
                break;
        }
    }

    // name or dotted.name
    TToken& LexIdent(TToken& T) {
        T.Kind = TTok::Ident;
        for (;;) {
            while (I < S.size() && IsIdentChar(S[I])) {
                T.Text += S[I];
                Advance();
            }
            if (Peek() == u'.' && IsIdentStart(Peek(1))) {
                T.Text += u'.';
                Advance();
                continue;
            }
            return T;
        }
    }

    // [sign] digits, or [sign] $hexdigits; the magnitude must fit 64 bits.
    TToken& LexNumber(TToken& T) {
        T.Kind = TTok::Integer;
        const std::size_t Start = I;
        if (S[I] == u'-' || S[I] == u'+') {
            T.Negative = S[I] == u'-';
            Advance();
        }
        unsigned Base = 10;
        if (Peek() == u'$') {
            Base = 16;
            Advance();
        }
        bool Overflow = false;
        std::size_t Digits = 0;
        for (;;) {
            const int D = Base == 16 ? HexValue(Peek()) : (IsDigit(Peek()) ? Peek() - u'0' : -1);
            if (D < 0) break;
            if (T.Magnitude > (std::numeric_limits<UInt64>::max() - unsigned(D)) / Base) Overflow = true;
            T.Magnitude = T.Magnitude * Base + unsigned(D);
            ++Digits;
            Advance();
        }
        while (I < S.size() && (IsIdentChar(S[I]) || S[I] == u'.')) Advance();
        T.Text = UnicodeString(S.substr(Start, I - Start));
        if (Digits == 0 || T.Text.size() != (Base == 16 ? 1u : 0u) + Digits + (S[Start] == u'-' || S[Start] == u'+'))
            Fail(T.Pos, Format(LoadResString(Consts::SBadNumber), {T.Text}));
        if (Overflow) Fail(T.Pos, Format(LoadResString(Consts::SNumberTooLarge), {T.Text}));
        return T;
    }

    // Adjacent 'quoted' pieces and #nnn / #$hh code units form one string.
    TToken& LexString(TToken& T) {
        T.Kind = TTok::String;
        while (I < S.size() && (S[I] == u'\'' || S[I] == u'#')) {
            if (S[I] == u'\'') {
                Advance();
                for (;;) {
                    if (I >= S.size() || S[I] == u'\r' || S[I] == u'\n')
                        Fail(T.Pos, LoadResString(Consts::SUnterminatedString));
                    if (S[I] == u'\'') {
                        Advance();
                        if (Peek() != u'\'') break;
                        T.Text += u'\'';
                        Advance();
                        continue;
                    }
                    T.Text += S[I];
                    Advance();
                }
            } else {
                const TPos CodePos = P;
                Advance();
                unsigned Base = 10;
                if (Peek() == u'$') {
                    Base = 16;
                    Advance();
                }
                UInt64 Value = 0;
                std::size_t Digits = 0;
                for (;;) {
                    const int D = Base == 16 ? HexValue(Peek()) : (IsDigit(Peek()) ? Peek() - u'0' : -1);
                    if (D < 0) break;
                    if (Value <= 0xFFFFFF) Value = Value * Base + unsigned(D);
                    ++Digits;
                    Advance();
                }
                if (Digits == 0) Fail(CodePos, Format(LoadResString(Consts::SBadNumber), {u"#"}));
                if (Value > 0xFFFF) Fail(CodePos, Format(LoadResString(Consts::SBadCharCode), {IntToStr(Value)}));
                T.Text += static_cast<char16_t>(Value);
            }
        }
        return T;
    }

    std::u16string_view S;
    std::size_t I = 0;
    TPos P;
};

// The parsed text: objects with their properties and nested objects, in
// file order.
struct TValueNode {
    enum TKind { vkString, vkInteger, vkIdent, vkSet } Kind = vkString;
    TPos Pos;
    UnicodeString Text;  // string value, identifier, or the integer as written
    UInt64 Magnitude = 0;
    bool Negative = false;
    std::vector<std::pair<UnicodeString, TPos>> Elements;
};

struct TPropNode {
    UnicodeString Name;
    TPos Pos;
    TValueNode Value;
};

struct TObjectNode;
using TItem = std::variant<TPropNode, std::unique_ptr<TObjectNode>>;

struct TObjectNode {
    UnicodeString Name;
    UnicodeString ClassName;
    TPos NamePos;
    TPos ClassPos;
    std::vector<TItem> Items;
};

// Recursive-descent parser with one token of lookahead.
class TParser {
public:
    explicit TParser(std::u16string_view Text) : L(Text) {}

    std::unique_ptr<TObjectNode> ParseFile() {
        Next();
        auto Root = ParseObject(0);
        if (Tok.Kind != TTok::End) Expected(LoadResString(Consts::SEndOfText));
        return Root;
    }

private:
    void Next() { Tok = L.Next(); }

    [[noreturn]] void Expected(const UnicodeString& What) {
        Fail(Tok.Pos, Format(LoadResString(Consts::SExpectedFound), {What, Describe(Tok)}));
    }

    bool IsKeyword(const char16_t* Word) const { return Tok.Kind == TTok::Ident && SameText(Tok.Text, Word); }

    bool IsSymbol(char16_t C) const { return Tok.Kind == TTok::Symbol && Tok.Text[0] == C; }

    // A plain identifier (no dots), consumed.
    UnicodeString TakeName(const UnicodeString& What, TPos& Pos) {
        if (Tok.Kind != TTok::Ident || Tok.Text.find(u'.') != UnicodeString::npos) Expected(What);
        Pos = Tok.Pos;
        UnicodeString Name = std::move(Tok.Text);
        Next();
        return Name;
    }

    // object [Name:] ClassName { property | object } end
    std::unique_ptr<TObjectNode> ParseObject(int Depth) {
        if (Depth > MaxDepth) Fail(Tok.Pos, LoadResString(Consts::SNestedTooDeeply));
        if (!IsKeyword(u"object")) Expected(u"'object'");
        Next();
        auto Node = std::make_unique<TObjectNode>();
        TPos FirstPos;
        UnicodeString First = TakeName(LoadResString(Consts::SAName), FirstPos);
        if (IsSymbol(u':')) {
            Next();
            Node->Name = std::move(First);
            Node->NamePos = FirstPos;
            Node->ClassName = TakeName(LoadResString(Consts::SAClassName), Node->ClassPos);
        } else {
            Node->ClassName = std::move(First);
            Node->ClassPos = Node->NamePos = FirstPos;
        }
        for (;;) {
            if (IsKeyword(u"end")) {
                Next();
                return Node;
            }
            if (IsKeyword(u"object")) {
                Node->Items.emplace_back(ParseObject(Depth + 1));
                continue;
            }
            if (Tok.Kind != TTok::Ident) Expected(LoadResString(Consts::SPropertyObjectOrEnd));
            TPropNode Prop;
            Prop.Name = std::move(Tok.Text);
            Prop.Pos = Tok.Pos;
            Next();
            if (!IsSymbol(u'=')) Expected(u"'='");
            Next();
            Prop.Value = ParseValue();
            Node->Items.emplace_back(std::move(Prop));
        }
    }

    // string {+ string} | integer | identifier | [ names ]
    TValueNode ParseValue() {
        TValueNode V;
        V.Pos = Tok.Pos;
        switch (Tok.Kind) {
            case TTok::String:
                V.Kind = TValueNode::vkString;
                V.Text = std::move(Tok.Text);
                Next();
                while (IsSymbol(u'+')) {
                    Next();
                    if (Tok.Kind != TTok::String) Expected(LoadResString(Consts::SAString));
                    V.Text += Tok.Text;
                    Next();
                }
                return V;
            case TTok::Integer:
                V.Kind = TValueNode::vkInteger;
                V.Text = std::move(Tok.Text);
                V.Magnitude = Tok.Magnitude;
                V.Negative = Tok.Negative;
                Next();
                return V;
            case TTok::Ident:
                V.Kind = TValueNode::vkIdent;
                V.Text = std::move(Tok.Text);
                Next();
                return V;
            default:
                break;
        }
        if (!IsSymbol(u'[')) Expected(LoadResString(Consts::SAValue));
        V.Kind = TValueNode::vkSet;
        Next();
        if (IsSymbol(u']')) {
            Next();
            return V;
        }
        for (;;) {
            TPos Pos;
            UnicodeString Name = TakeName(LoadResString(Consts::SElementName), Pos);
            V.Elements.emplace_back(std::move(Name), Pos);
            if (IsSymbol(u',')) {
                Next();
                continue;
            }
            if (IsSymbol(u']')) {
                Next();
                return V;
            }
            Expected(LoadResString(Consts::SCommaOrBracket));
        }
    }

    TLexer L;
    TToken Tok;
};

// How a parsed value appears in a message.
UnicodeString Describe(const TValueNode& V) {
    switch (V.Kind) {
        case TValueNode::vkString:
            return LoadResString(Consts::SAString);
        case TValueNode::vkInteger:
            return V.Text;
        case TValueNode::vkIdent:
            return u"'" + V.Text + u"'";
        default:
            return LoadResString(Consts::SASet);
    }
}

// The bounds of an integer property, for messages.
std::pair<UnicodeString, UnicodeString> IntegerBounds(const TPropInfo& P) {
    const int Bits = P.IntegerBits();
    if (!P.IntegerSigned())
        return {u"0", Bits >= 64 ? IntToStr(std::numeric_limits<UInt64>::max())
                                 : IntToStr((UInt64{1} << Bits) - 1)};
    if (Bits >= 64) return {IntToStr(std::numeric_limits<Int64>::min()), IntToStr(std::numeric_limits<Int64>::max())};
    return {IntToStr(-(Int64{1} << (Bits - 1))), IntToStr((Int64{1} << (Bits - 1)) - 1)};
}

}  // namespace

EReadError::EReadError(const UnicodeString& Reason, int Line, int Column)
    : EFilerError(Format(LoadResString(Consts::SReadErrorAt), {IntToStr(Line), IntToStr(Column), Reason})),
      FReason(Reason),
      FLine(Line),
      FColumn(Column) {}

// What one read has done so far, so that a failure can undo it.
struct TReader::TState {
    struct TFixup {
        TComponent* Instance;
        const TPropInfo* Prop;
        UnicodeString Path;
        TPos Pos;
    };

    TComponent* Root = nullptr;
    UnicodeString OldRootName;
    bool RootRenamed = false;
    std::vector<TComponent*> Created;
    std::vector<TComponent*> Touched;
    std::unordered_set<TComponent*> TouchedSet;
    std::vector<TFixup> Fixups;

    // Marks a component as being read, once.
    void Begin(TComponent& C) {
        if (!TouchedSet.insert(&C).second) return;
        Touched.push_back(&C);
        SetState(C, csLoading, true);
        SetState(C, csReading, true);
    }

    // Properties and nested objects in file order.
    void ReadBody(TComponent& C, const TObjectNode& N) {
        const TClassInfo* Info = ComponentClassOf(C);
        for (const TItem& Item : N.Items) {
            if (const auto* Prop = std::get_if<TPropNode>(&Item))
                ApplyProperty(C, Info, *Prop);
            else
                ReadChild(C, *std::get<std::unique_ptr<TObjectNode>>(Item));
        }
    }

    // Finds the named component among Owner's, or creates it; then reads it.
    void ReadChild(TComponent& Owner, const TObjectNode& N) {
        const TClassInfo* Info = FindComponentClass(N.ClassName);
        if (Info == nullptr) Fail(N.ClassPos, Format(LoadResString(Consts::SClassNotFound), {N.ClassName}));
        TComponent* C = N.Name.empty() ? nullptr : Owner.FindComponent(N.Name);
        if (C != nullptr) {
            const TClassInfo* Actual = ComponentClassOf(*C);
            if (Actual != Info)
                Fail(N.ClassPos, Format(LoadResString(Consts::SWrongExistingClass),
                                        {N.Name, Actual != nullptr ? Actual->ClassName() : C->ClassName(),
                                         Info->ClassName()}));
        } else {
            if (!Info->CanCreate())
                Fail(N.ClassPos, Format(LoadResString(Consts::SClassNotCreatable), {Info->ClassName()}));
            Guarded(N.ClassPos, [&] { C = Info->Create(&Owner); });
            Created.push_back(C);
            Guarded(N.NamePos, [&] { C->SetName(N.Name); });
        }
        Begin(*C);
        ReadBody(*C, N);
    }

    // Runs a step that calls component code; its failure becomes an
    // EReadError at Pos (EAbort and non-framework exceptions pass as they are).
    template <class F>
    static void Guarded(TPos Pos, F&& Step) {
        try {
            Step();
        } catch (const EReadError&) {
            throw;
        } catch (const EAbort&) {
            throw;
        } catch (const Exception& E) {
            Fail(Pos, E.Message());
        }
    }

    // Applies one "Name = value" through the property's setter.
    void ApplyProperty(TComponent& C, const TClassInfo* Info, const TPropNode& N) {
        const TPropInfo* P = Info != nullptr ? Info->FindProperty(N.Name) : nullptr;
        if (P == nullptr)
            Fail(N.Pos, Format(LoadResString(Consts::SUnknownProperty),
                               {N.Name, Info != nullptr ? Info->ClassName() : C.ClassName()}));
        const TValueNode& V = N.Value;
        auto WrongKind = [&](const UnicodeString& Expected) {
            Fail(V.Pos, Format(LoadResString(Consts::SExpectedFor), {Expected, P->Name(), Describe(V)}));
        };
        auto Set = [&](auto&& Step) {
            Guarded(V.Pos, [&] {
                try {
                    Step();
                } catch (const EReadError&) {
                    throw;
                } catch (const EAbort&) {
                    throw;
                } catch (const Exception& E) {
                    throw Exception(Format(LoadResString(Consts::SSettingProperty), {P->Name(), E.Message()}));
                }
            });
        };

        switch (P->Kind()) {
            case pkString:
                if (V.Kind != TValueNode::vkString) WrongKind(LoadResString(Consts::SAString));
                Set([&] { P->SetString(C, V.Text); });
                break;
            case pkBoolean: {
                const bool IsTrue = V.Kind == TValueNode::vkIdent && SameText(V.Text, u"True");
                const bool IsFalse = V.Kind == TValueNode::vkIdent && SameText(V.Text, u"False");
                if (!IsTrue && !IsFalse) WrongKind(LoadResString(Consts::SBooleanExpected));
                Set([&] { P->SetOrd(C, IsTrue ? 1 : 0); });
                break;
            }
            case pkInteger: {
                if (V.Kind != TValueNode::vkInteger) WrongKind(LoadResString(Consts::SAnInteger));
                Int64 Value = 0;
                bool Fits;
                if (!P->IntegerSigned() && P->IntegerBits() >= 64) {
                    Fits = !V.Negative || V.Magnitude == 0;
                    Value = static_cast<Int64>(V.Magnitude);
                } else if (V.Negative) {
                    Fits = V.Magnitude <= UInt64{1} << 63;
                    Value = V.Magnitude == 0 ? 0 : -static_cast<Int64>(V.Magnitude - 1) - 1;
                } else {
                    Fits = V.Magnitude <= static_cast<UInt64>(std::numeric_limits<Int64>::max());
                    Value = static_cast<Int64>(V.Magnitude);
                }
                if (!Fits || !P->InRange(Value)) {
                    const auto [Low, High] = IntegerBounds(*P);
                    Fail(V.Pos, Format(LoadResString(Consts::SValueOutOfRange), {V.Text, P->Name(), Low, High}));
                }
                Set([&] { P->SetOrd(C, Value); });
                break;
            }
            case pkEnumeration: {
                const int Ord = V.Kind == TValueNode::vkIdent ? P->EnumType()->Ordinal(V.Text) : -1;
                if (Ord < 0)
                    WrongKind(Format(LoadResString(Consts::SOneOf), {P->EnumType()->NameList()}));
                Set([&] { P->SetOrd(C, Ord); });
                break;
            }
            case pkSet: {
                if (V.Kind != TValueNode::vkSet) WrongKind(LoadResString(Consts::SASet));
                UInt64 Mask = 0;
                for (const auto& [Name, Pos] : V.Elements) {
                    const int Ord = P->EnumType()->Ordinal(Name);
                    if (Ord < 0 || Ord >= 64)
                        Fail(Pos, Format(LoadResString(Consts::SExpectedFor),
                                         {Format(LoadResString(Consts::SOneOf), {P->EnumType()->NameList()}),
                                          P->Name(), u"'" + Name + u"'"}));
                    Mask |= UInt64{1} << Ord;
                }
                Set([&] { P->SetOrd(C, static_cast<Int64>(Mask)); });
                break;
            }
            case pkComponent:
                if (V.Kind != TValueNode::vkIdent) WrongKind(LoadResString(Consts::SReferenceExpected));
                if (SameText(V.Text, u"nil"))
                    Set([&] { P->SetComponent(C, nullptr); });
                else
                    Fixups.push_back({&C, P, V.Text, V.Pos});
                break;
            case pkEvent: {
                if (V.Kind != TValueNode::vkIdent || V.Text.find(u'.') != UnicodeString::npos)
                    WrongKind(LoadResString(Consts::SHandlerExpected));
                if (SameText(V.Text, u"nil")) {
                    Set([&] { P->BindHandler(C, UnicodeString(), nullptr); });
                    break;
                }
                const THandlerTable* Table = Root->HandlersIfAny();
                UnicodeString HandlerName;
                const std::any* Handler = Table != nullptr ? Table->Find(V.Text, &HandlerName) : nullptr;
                if (Handler == nullptr)
                    Fail(V.Pos, Format(LoadResString(Consts::SUnknownHandler), {V.Text, P->Name()}));
                Set([&] { P->BindHandler(C, HandlerName, Handler); });
                break;
            }
        }
    }

    // A dotted path: its first name among the root's components, the root
    // itself, or a loaded root; each further name among the owned components
    // of the one before.
    TComponent* Resolve(std::u16string_view Path) const {
        std::size_t Start = 0;
        std::size_t Dot = Path.find(u'.');
        const std::u16string_view First = Path.substr(0, Dot);
        TComponent* C = Root->FindComponent(UnicodeString(First));
        if (C == nullptr && SameText(Root->Name(), First)) C = Root;
        if (C == nullptr) C = FindLoadedRoot(First);
        while (C != nullptr && Dot != std::u16string_view::npos) {
            Start = Dot + 1;
            Dot = Path.find(u'.', Start);
            C = C->FindComponent(UnicodeString(Path.substr(Start, Dot == std::u16string_view::npos ? Dot : Dot - Start)));
        }
        return C;
    }

    void ResolveFixups() {
        for (const TFixup& F : Fixups) {
            TComponent* Target = Resolve(F.Path);
            if (Target == nullptr)
                Fail(F.Pos, Format(LoadResString(Consts::SUnresolvedReference), {F.Path, F.Prop->Name()}));
            Guarded(F.Pos, [&] {
                try {
                    F.Prop->SetComponent(*F.Instance, Target);
                } catch (const EAbort&) {
                    throw;
                } catch (const Exception& E) {
                    throw Exception(Format(LoadResString(Consts::SSettingProperty), {F.Prop->Name(), E.Message()}));
                }
            });
        }
    }

    // Clears the reading states, deletes what the read created (last first)
    // and gives the root back its name.
    void Rollback() noexcept {
        std::unordered_set<TComponent*> CreatedSet(Created.begin(), Created.end());
        for (TComponent* C : Touched)
            if (CreatedSet.count(C) == 0) {
                SetState(*C, csReading, false);
                SetState(*C, csLoading, false);
            }
        for (auto It = Created.rbegin(); It != Created.rend(); ++It) delete *It;
        Created.clear();
        if (RootRenamed && CreatedSet.count(Root) == 0) {
            try {
                Root->SetName(OldRootName);
            } catch (...) {
            }
        }
    }
};

TReader::TReader(UnicodeString Text) : FText(std::move(Text)) {}

TReader::~TReader() = default;

// Parses everything, applies it, resolves references, then runs Loaded;
// undoes the read when any step before Loaded fails, or Loaded raises.
TComponent* TReader::ReadRootComponent(TComponent* Root) {
    TParser Parser(FText);
    const std::unique_ptr<TObjectNode> Node = Parser.ParseFile();

    TState State;
    try {
        if (Root == nullptr) {
            const TClassInfo* Info = FindComponentClass(Node->ClassName);
            if (Info == nullptr)
                Fail(Node->ClassPos, Format(LoadResString(Consts::SClassNotFound), {Node->ClassName}));
            if (!Info->CanCreate())
                Fail(Node->ClassPos, Format(LoadResString(Consts::SClassNotCreatable), {Info->ClassName()}));
            TState::Guarded(Node->ClassPos, [&] { Root = Info->Create(nullptr); });
            State.Created.push_back(Root);
        }
        State.Root = Root;
        State.Begin(*Root);
        if (!Node->Name.empty() && Node->Name != Root->Name()) {
            State.OldRootName = Root->Name();
            TState::Guarded(Node->NamePos, [&] { Root->SetName(Node->Name); });
            State.RootRenamed = true;
        }
        State.ReadBody(*Root, *Node);
        State.ResolveFixups();
        for (TComponent* C : State.Touched) SetState(*C, csReading, false);
        for (TComponent* C : State.Touched) {
            CallLoaded(*C);
            SetState(*C, csLoading, false);
        }
    } catch (...) {
        State.Rollback();
        throw;
    }
    if (!Root->Name().empty()) AddLoadedRoot(Root);
    return Root;
}

TComponent* TextToComponent(const UnicodeString& Text, TComponent* Root) {
    TReader Reader(Text);
    return Reader.ReadRootComponent(Root);
}

void WriteComponentFile(const UnicodeString& FileName, TComponent* Root) {
    const std::string Utf8 = Utf16ToUtf8(ComponentToText(Root));
    TMemoryStream Stream;
    Stream.Write(Utf8.data(), static_cast<Int64>(Utf8.size()));
    Stream.SaveToFile(FileName);
}

TComponent* ReadComponentFile(const UnicodeString& FileName, TComponent* Root) {
    TMemoryStream Stream;
    Stream.LoadFromFile(FileName);
    std::string_view Bytes(static_cast<const char*>(Stream.Memory()), static_cast<std::size_t>(Stream.Size()));
    if (Bytes.substr(0, 3) == "\xEF\xBB\xBF") Bytes.remove_prefix(3);
    return TextToComponent(Utf8ToUtf16(Bytes), Root);
}

}  // namespace Framework
