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

[[noreturn]] void Fail(TPos pos, const UnicodeString& reason) {
    throw EReadError(reason, pos.Line, pos.Column);
}

enum class TTok { End, Ident, Integer, String, Symbol };

struct TToken {
    TTok Kind = TTok::End;
    TPos Pos;
    UnicodeString Text;  // identifier, decoded string, symbol, or the integer as written
    UInt64 Magnitude = 0;
    bool Negative = false;
};

bool IsIdentStart(char16_t c) {
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || c == u'_';
}
bool IsDigit(char16_t c) {
    return c >= u'0' && c <= u'9';
}
bool IsIdentChar(char16_t c) {
    return IsIdentStart(c) || IsDigit(c);
}
int HexValue(char16_t c) {
    if (IsDigit(c)) return c - u'0';
    if (c >= u'a' && c <= u'f') return c - u'a' + 10;
    if (c >= u'A' && c <= u'F') return c - u'A' + 10;
    return -1;
}

// How a character appears in a message: 'c' when printable, else #nnn.
UnicodeString Describe(char16_t c) {
    if (c >= 0x21 && c <= 0x7E) return UnicodeString(u"'") + c + u"'";
    return u"#" + IntToStr(static_cast<Integer>(c));
}

// How a token appears in a message.
UnicodeString Describe(const TToken& t) {
    switch (t.Kind) {
    case TTok::End:
        return LoadResString(Consts::SEndOfText);
    case TTok::String:
        return LoadResString(Consts::SAString);
    case TTok::Integer:
        return t.Text;
    default:
        return u"'" + t.Text + u"'";
    }
}

// Splits form text into tokens, tracking line and column (1-based, in
// UTF-16 code units; CR LF, LF and CR each end a line).
class TLexer {
public:
    explicit TLexer(std::u16string_view text) : S(text) {}

    TToken Next() {
        SkipBlanks();
        TToken t;
        t.Pos = P;
        if (I >= S.size()) return t;
        const char16_t c = S[I];
        if (IsIdentStart(c)) return LexIdent(t);
        if (IsDigit(c) || c == u'$' || ((c == u'-' || c == u'+') && (IsDigit(Peek(1)) || Peek(1) == u'$')))
            return LexNumber(t);
        if (c == u'\'' || c == u'#') return LexString(t);
        if (c == u'=' || c == u':' || c == u'[' || c == u']' || c == u',' || c == u'+') {
            t.Kind = TTok::Symbol;
            t.Text = UnicodeString(1, c);
            Advance();
            return t;
        }
        Fail(P, Format(LoadResString(Consts::SUnexpectedChar), {Describe(c)}));
    }

private:
    char16_t Peek(std::size_t ahead = 0) const { return I + ahead < S.size() ? S[I + ahead] : char16_t(0); }

    void Advance() {
        const char16_t c = S[I++];
        if (c == u'\n' || (c == u'\r' && Peek() != u'\n')) {
            ++P.Line;
            P.Column = 1;
        } else if (c != u'\r') {
            ++P.Column;
        }
    }

    void SkipBlanks() {
        while (I < S.size()) {
            const char16_t c = S[I];
            if (c == u' ' || c == u'\t' || c == u'\r' || c == u'\n' || c == u'\f' || c == 0xFEFF)
                Advance();
            else
                break;
        }
    }

    // name or dotted.name
    TToken& LexIdent(TToken& t) {
        t.Kind = TTok::Ident;
        for (;;) {
            while (I < S.size() && IsIdentChar(S[I])) {
                t.Text += S[I];
                Advance();
            }
            if (Peek() == u'.' && IsIdentStart(Peek(1))) {
                t.Text += u'.';
                Advance();
                continue;
            }
            return t;
        }
    }

    // [sign] digits, or [sign] $hexdigits; the magnitude must fit 64 bits.
    TToken& LexNumber(TToken& t) {
        t.Kind = TTok::Integer;
        const std::size_t start = I;
        if (S[I] == u'-' || S[I] == u'+') {
            t.Negative = S[I] == u'-';
            Advance();
        }
        unsigned base = 10;
        if (Peek() == u'$') {
            base = 16;
            Advance();
        }
        bool overflow = false;
        std::size_t digits = 0;
        for (;;) {
            const int d = base == 16 ? HexValue(Peek()) : (IsDigit(Peek()) ? Peek() - u'0' : -1);
            if (d < 0) break;
            if (t.Magnitude > (std::numeric_limits<UInt64>::max() - unsigned(d)) / base) overflow = true;
            t.Magnitude = t.Magnitude * base + unsigned(d);
            ++digits;
            Advance();
        }
        while (I < S.size() && (IsIdentChar(S[I]) || S[I] == u'.')) Advance();
        t.Text = UnicodeString(S.substr(start, I - start));
        if (digits == 0 ||
            t.Text.size() != (base == 16 ? 1u : 0u) + digits + (S[start] == u'-' || S[start] == u'+'))
            Fail(t.Pos, Format(LoadResString(Consts::SBadNumber), {t.Text}));
        if (overflow) Fail(t.Pos, Format(LoadResString(Consts::SNumberTooLarge), {t.Text}));
        return t;
    }

    // Adjacent 'quoted' pieces and #nnn / #$hh code units form one string.
    TToken& LexString(TToken& t) {
        t.Kind = TTok::String;
        while (I < S.size() && (S[I] == u'\'' || S[I] == u'#')) {
            if (S[I] == u'\'') {
                Advance();
                for (;;) {
                    if (I >= S.size() || S[I] == u'\r' || S[I] == u'\n')
                        Fail(t.Pos, LoadResString(Consts::SUnterminatedString));
                    if (S[I] == u'\'') {
                        Advance();
                        if (Peek() != u'\'') break;
                        t.Text += u'\'';
                        Advance();
                        continue;
                    }
                    t.Text += S[I];
                    Advance();
                }
            } else {
                const TPos codePos = P;
                Advance();
                unsigned base = 10;
                if (Peek() == u'$') {
                    base = 16;
                    Advance();
                }
                UInt64 value = 0;
                std::size_t digits = 0;
                for (;;) {
                    const int d = base == 16 ? HexValue(Peek()) : (IsDigit(Peek()) ? Peek() - u'0' : -1);
                    if (d < 0) break;
                    if (value <= 0xFFFFFF) value = value * base + unsigned(d);
                    ++digits;
                    Advance();
                }
                if (digits == 0) Fail(codePos, Format(LoadResString(Consts::SBadNumber), {u"#"}));
                if (value > 0xFFFF)
                    Fail(codePos, Format(LoadResString(Consts::SBadCharCode), {IntToStr(value)}));
                t.Text += static_cast<char16_t>(value);
            }
        }
        return t;
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
    explicit TParser(std::u16string_view text) : L(text) {}

    std::unique_ptr<TObjectNode> ParseFile() {
        Next();
        auto root = ParseObject(0);
        if (Tok.Kind != TTok::End) Expected(LoadResString(Consts::SEndOfText));
        return root;
    }

private:
    void Next() { Tok = L.Next(); }

    [[noreturn]] void Expected(const UnicodeString& what) {
        Fail(Tok.Pos, Format(LoadResString(Consts::SExpectedFound), {what, Describe(Tok)}));
    }

    bool IsKeyword(const char16_t* word) const { return Tok.Kind == TTok::Ident && SameText(Tok.Text, word); }

    bool IsSymbol(char16_t c) const { return Tok.Kind == TTok::Symbol && Tok.Text[0] == c; }

    // A plain identifier (no dots), consumed.
    UnicodeString TakeName(const UnicodeString& what, TPos& pos) {
        if (Tok.Kind != TTok::Ident || Tok.Text.find(u'.') != UnicodeString::npos) Expected(what);
        pos = Tok.Pos;
        UnicodeString name = std::move(Tok.Text);
        Next();
        return name;
    }

    // object [Name:] ClassName { property | object } end
    std::unique_ptr<TObjectNode> ParseObject(int depth) {
        if (depth > MaxDepth) Fail(Tok.Pos, LoadResString(Consts::SNestedTooDeeply));
        if (!IsKeyword(u"object")) Expected(u"'object'");
        Next();
        auto node = std::make_unique<TObjectNode>();
        TPos firstPos;
        UnicodeString first = TakeName(LoadResString(Consts::SAName), firstPos);
        if (IsSymbol(u':')) {
            Next();
            node->Name = std::move(first);
            node->NamePos = firstPos;
            node->ClassName = TakeName(LoadResString(Consts::SAClassName), node->ClassPos);
        } else {
            node->ClassName = std::move(first);
            node->ClassPos = node->NamePos = firstPos;
        }
        for (;;) {
            if (IsKeyword(u"end")) {
                Next();
                return node;
            }
            if (IsKeyword(u"object")) {
                node->Items.emplace_back(ParseObject(depth + 1));
                continue;
            }
            if (Tok.Kind != TTok::Ident) Expected(LoadResString(Consts::SPropertyObjectOrEnd));
            TPropNode prop;
            prop.Name = std::move(Tok.Text);
            prop.Pos = Tok.Pos;
            Next();
            if (!IsSymbol(u'=')) Expected(u"'='");
            Next();
            prop.Value = ParseValue();
            node->Items.emplace_back(std::move(prop));
        }
    }

    // string {+ string} | integer | identifier | [ names ]
    TValueNode ParseValue() {
        TValueNode v;
        v.Pos = Tok.Pos;
        switch (Tok.Kind) {
        case TTok::String:
            v.Kind = TValueNode::vkString;
            v.Text = std::move(Tok.Text);
            Next();
            while (IsSymbol(u'+')) {
                Next();
                if (Tok.Kind != TTok::String) Expected(LoadResString(Consts::SAString));
                v.Text += Tok.Text;
                Next();
            }
            return v;
        case TTok::Integer:
            v.Kind = TValueNode::vkInteger;
            v.Text = std::move(Tok.Text);
            v.Magnitude = Tok.Magnitude;
            v.Negative = Tok.Negative;
            Next();
            return v;
        case TTok::Ident:
            v.Kind = TValueNode::vkIdent;
            v.Text = std::move(Tok.Text);
            Next();
            return v;
        default:
            break;
        }
        if (!IsSymbol(u'[')) Expected(LoadResString(Consts::SAValue));
        v.Kind = TValueNode::vkSet;
        Next();
        if (IsSymbol(u']')) {
            Next();
            return v;
        }
        for (;;) {
            TPos pos;
            UnicodeString name = TakeName(LoadResString(Consts::SElementName), pos);
            v.Elements.emplace_back(std::move(name), pos);
            if (IsSymbol(u',')) {
                Next();
                continue;
            }
            if (IsSymbol(u']')) {
                Next();
                return v;
            }
            Expected(LoadResString(Consts::SCommaOrBracket));
        }
    }

    TLexer L;
    TToken Tok;
};

// How a parsed value appears in a message.
UnicodeString Describe(const TValueNode& v) {
    switch (v.Kind) {
    case TValueNode::vkString:
        return LoadResString(Consts::SAString);
    case TValueNode::vkInteger:
        return v.Text;
    case TValueNode::vkIdent:
        return u"'" + v.Text + u"'";
    default:
        return LoadResString(Consts::SASet);
    }
}

// The bounds of an integer property, for messages.
std::pair<UnicodeString, UnicodeString> IntegerBounds(const TPropInfo& p) {
    const int bits = p.IntegerBits();
    if (!p.IntegerSigned())
        return {u"0", bits >= 64 ? IntToStr(std::numeric_limits<UInt64>::max())
                                 : IntToStr((UInt64{1} << bits) - 1)};
    if (bits >= 64)
        return {IntToStr(std::numeric_limits<Int64>::min()), IntToStr(std::numeric_limits<Int64>::max())};
    return {IntToStr(-(Int64{1} << (bits - 1))), IntToStr((Int64{1} << (bits - 1)) - 1)};
}

}  // namespace

EReadError::EReadError(const UnicodeString& reason, int line, int column)
    : EFilerError(Format(LoadResString(Consts::SReadErrorAt), {IntToStr(line), IntToStr(column), reason})),
      FReason(reason),
      FLine(line),
      FColumn(column) {}

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
    void Begin(TComponent& c) {
        if (!TouchedSet.insert(&c).second) return;
        Touched.push_back(&c);
        SetState(c, csLoading, true);
        SetState(c, csReading, true);
    }

    // Properties and nested objects in file order.
    void ReadBody(TComponent& c, const TObjectNode& n) {
        const TClassInfo* info = ComponentClassOf(c);
        for (const TItem& item : n.Items) {
            if (const auto* prop = std::get_if<TPropNode>(&item))
                ApplyProperty(c, info, *prop);
            else
                ReadChild(c, *std::get<std::unique_ptr<TObjectNode>>(item));
        }
    }

    // Finds the named component among Owner's, or creates it; then reads it.
    void ReadChild(TComponent& owner, const TObjectNode& n) {
        const TClassInfo* info = FindComponentClass(n.ClassName);
        if (info == nullptr) Fail(n.ClassPos, Format(LoadResString(Consts::SClassNotFound), {n.ClassName}));
        TComponent* C = n.Name.empty() ? nullptr : owner.FindComponent(n.Name);
        if (C != nullptr) {
            const TClassInfo* actual = ComponentClassOf(*C);
            if (actual != info)
                Fail(n.ClassPos, Format(LoadResString(Consts::SWrongExistingClass),
                                        {n.Name, actual != nullptr ? actual->ClassName() : C->ClassName(),
                                         info->ClassName()}));
        } else {
            if (!info->CanCreate())
                Fail(n.ClassPos, Format(LoadResString(Consts::SClassNotCreatable), {info->ClassName()}));
            Guarded(n.ClassPos, [&] { C = info->Create(&owner); });
            Created.push_back(C);
            Guarded(n.NamePos, [&] { C->SetName(n.Name); });
        }
        Begin(*C);
        ReadBody(*C, n);
    }

    // Runs a step that calls component code; its failure becomes an
    // EReadError at Pos (EAbort and non-framework exceptions pass as they are).
    template <class F>
    static void Guarded(TPos pos, F&& step) {
        try {
            step();
        } catch (const EReadError&) {
            throw;
        } catch (const EAbort&) {
            throw;
        } catch (const Exception& e) {
            Fail(pos, e.Message());
        }
    }

    // Applies one "Name = value" through the property's setter.
    void ApplyProperty(TComponent& C, const TClassInfo* info, const TPropNode& n) {
        const TPropInfo* p = info != nullptr ? info->FindProperty(n.Name) : nullptr;
        if (p == nullptr)
            Fail(n.Pos, Format(LoadResString(Consts::SUnknownProperty),
                               {n.Name, info != nullptr ? info->ClassName() : C.ClassName()}));
        const TValueNode& v = n.Value;
        auto wrongKind = [&](const UnicodeString& expected) {
            Fail(v.Pos, Format(LoadResString(Consts::SExpectedFor), {expected, p->Name(), Describe(v)}));
        };
        auto set = [&](auto&& Step) {
            Guarded(v.Pos, [&] {
                try {
                    Step();
                } catch (const EReadError&) {
                    throw;
                } catch (const EAbort&) {
                    throw;
                } catch (const Exception& e) {
                    throw Exception(
                        Format(LoadResString(Consts::SSettingProperty), {p->Name(), e.Message()}));
                }
            });
        };

        switch (p->Kind()) {
        case pkString:
            if (v.Kind != TValueNode::vkString) wrongKind(LoadResString(Consts::SAString));
            set([&] { p->SetString(C, v.Text); });
            break;
        case pkBoolean: {
            const bool IsTrue = v.Kind == TValueNode::vkIdent && SameText(v.Text, u"True");
            const bool isFalse = v.Kind == TValueNode::vkIdent && SameText(v.Text, u"False");
            if (!IsTrue && !isFalse) wrongKind(LoadResString(Consts::SBooleanExpected));
            set([&] { p->SetOrd(C, IsTrue ? 1 : 0); });
            break;
        }
        case pkInteger: {
            if (v.Kind != TValueNode::vkInteger) wrongKind(LoadResString(Consts::SAnInteger));
            Int64 Value = 0;
            bool fits;
            if (!p->IntegerSigned() && p->IntegerBits() >= 64) {
                fits = !v.Negative || v.Magnitude == 0;
                Value = static_cast<Int64>(v.Magnitude);
            } else if (v.Negative) {
                fits = v.Magnitude <= UInt64{1} << 63;
                Value = v.Magnitude == 0 ? 0 : -static_cast<Int64>(v.Magnitude - 1) - 1;
            } else {
                fits = v.Magnitude <= static_cast<UInt64>(std::numeric_limits<Int64>::max());
                Value = static_cast<Int64>(v.Magnitude);
            }
            if (!fits || !p->InRange(Value)) {
                const auto [Low, High] = IntegerBounds(*p);
                Fail(v.Pos, Format(LoadResString(Consts::SValueOutOfRange), {v.Text, p->Name(), Low, High}));
            }
            set([&] { p->SetOrd(C, Value); });
            break;
        }
        case pkEnumeration: {
            const int Ord = v.Kind == TValueNode::vkIdent ? p->EnumType()->Ordinal(v.Text) : -1;
            if (Ord < 0) wrongKind(Format(LoadResString(Consts::SOneOf), {p->EnumType()->NameList()}));
            set([&] { p->SetOrd(C, Ord); });
            break;
        }
        case pkSet: {
            if (v.Kind != TValueNode::vkSet) wrongKind(LoadResString(Consts::SASet));
            UInt64 Mask = 0;
            for (const auto& [Name, Pos] : v.Elements) {
                const int ord = p->EnumType()->Ordinal(Name);
                if (ord < 0 || ord >= 64)
                    Fail(Pos, Format(LoadResString(Consts::SExpectedFor),
                                     {Format(LoadResString(Consts::SOneOf), {p->EnumType()->NameList()}),
                                      p->Name(), u"'" + Name + u"'"}));
                Mask |= UInt64{1} << ord;
            }
            set([&] { p->SetOrd(C, static_cast<Int64>(Mask)); });
            break;
        }
        case pkComponent:
            if (v.Kind != TValueNode::vkIdent) wrongKind(LoadResString(Consts::SReferenceExpected));
            if (SameText(v.Text, u"nil"))
                set([&] { p->SetComponent(C, nullptr); });
            else
                Fixups.push_back({&C, p, v.Text, v.Pos});
            break;
        case pkEvent: {
            if (v.Kind != TValueNode::vkIdent || v.Text.find(u'.') != UnicodeString::npos)
                wrongKind(LoadResString(Consts::SHandlerExpected));
            if (SameText(v.Text, u"nil")) {
                set([&] { p->BindHandler(C, UnicodeString(), nullptr); });
                break;
            }
            const THandlerTable* table = Root->HandlersIfAny();
            UnicodeString HandlerName;
            const std::any* Handler = table != nullptr ? table->Find(v.Text, &HandlerName) : nullptr;
            if (Handler == nullptr)
                Fail(v.Pos, Format(LoadResString(Consts::SUnknownHandler), {v.Text, p->Name()}));
            set([&] { p->BindHandler(C, HandlerName, Handler); });
            break;
        }
        }
    }

    // A dotted path: its first name among the root's components, the root
    // itself, or a loaded root; each further name among the owned components
    // of the one before.
    TComponent* Resolve(std::u16string_view path) const {
        std::size_t start = 0;
        std::size_t dot = path.find(u'.');
        const std::u16string_view first = path.substr(0, dot);
        TComponent* c = Root->FindComponent(UnicodeString(first));
        if (c == nullptr && SameText(Root->Name(), first)) c = Root;
        if (c == nullptr) c = FindLoadedRoot(first);
        while (c != nullptr && dot != std::u16string_view::npos) {
            start = dot + 1;
            dot = path.find(u'.', start);
            c = c->FindComponent(
                UnicodeString(path.substr(start, dot == std::u16string_view::npos ? dot : dot - start)));
        }
        return c;
    }

    void ResolveFixups() {
        for (const TFixup& f : Fixups) {
            TComponent* target = Resolve(f.Path);
            if (target == nullptr)
                Fail(f.Pos, Format(LoadResString(Consts::SUnresolvedReference), {f.Path, f.Prop->Name()}));
            Guarded(f.Pos, [&] {
                try {
                    f.Prop->SetComponent(*f.Instance, target);
                } catch (const EAbort&) {
                    throw;
                } catch (const Exception& e) {
                    throw Exception(
                        Format(LoadResString(Consts::SSettingProperty), {f.Prop->Name(), e.Message()}));
                }
            });
        }
    }

    // Clears the reading states, deletes what the read created (last first)
    // and gives the root back its name.
    void Rollback() noexcept {
        std::unordered_set<TComponent*> createdSet(Created.begin(), Created.end());
        for (TComponent* c : Touched)
            if (createdSet.count(c) == 0) {
                SetState(*c, csReading, false);
                SetState(*c, csLoading, false);
            }
        for (auto it = Created.rbegin(); it != Created.rend(); ++it) delete *it;
        Created.clear();
        if (RootRenamed && createdSet.count(Root) == 0) {
            try {
                Root->SetName(OldRootName);
            } catch (...) {}
        }
    }
};

TReader::TReader(UnicodeString text) : FText(std::move(text)) {}

TReader::~TReader() = default;

// Parses everything, applies it, resolves references, then runs Loaded;
// undoes the read when any step before Loaded fails, or Loaded raises.
TComponent* TReader::ReadRootComponent(TComponent* root) {
    TParser parser(FText);
    const std::unique_ptr<TObjectNode> node = parser.ParseFile();

    TState state;
    try {
        if (root == nullptr) {
            const TClassInfo* info = FindComponentClass(node->ClassName);
            if (info == nullptr)
                Fail(node->ClassPos, Format(LoadResString(Consts::SClassNotFound), {node->ClassName}));
            if (!info->CanCreate())
                Fail(node->ClassPos, Format(LoadResString(Consts::SClassNotCreatable), {info->ClassName()}));
            TState::Guarded(node->ClassPos, [&] { root = info->Create(nullptr); });
            state.Created.push_back(root);
        }
        state.Root = root;
        state.Begin(*root);
        if (!node->Name.empty() && node->Name != root->Name()) {
            state.OldRootName = root->Name();
            TState::Guarded(node->NamePos, [&] { root->SetName(node->Name); });
            state.RootRenamed = true;
        }
        state.ReadBody(*root, *node);
        state.ResolveFixups();
        for (TComponent* c : state.Touched) SetState(*c, csReading, false);
        for (TComponent* c : state.Touched) {
            CallLoaded(*c);
            SetState(*c, csLoading, false);
        }
    } catch (...) {
        state.Rollback();
        throw;
    }
    if (!root->Name().empty()) AddLoadedRoot(root);
    return root;
}

TComponent* TextToComponent(const UnicodeString& text, TComponent* root) {
    TReader reader(text);
    return reader.ReadRootComponent(root);
}

void WriteComponentFile(const UnicodeString& fileName, TComponent* root) {
    const std::string utf8 = Utf16ToUtf8(ComponentToText(root));
    TMemoryStream stream;
    stream.Write(utf8.data(), static_cast<Int64>(utf8.size()));
    stream.SaveToFile(fileName);
}

TComponent* ReadComponentFile(const UnicodeString& fileName, TComponent* root) {
    TMemoryStream stream;
    stream.LoadFromFile(fileName);
    std::string_view bytes(static_cast<const char*>(stream.Memory()),
                           static_cast<std::size_t>(stream.Size()));
    if (bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);
    return TextToComponent(Utf8ToUtf16(bytes), root);
}

}  // namespace Framework
