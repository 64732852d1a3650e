#include <vector>

#include "Framework/FormFiles.h"
#include "FormFilesConsts.h"

namespace Framework {

namespace {

// Longest piece of a string written on one line, in code units.
constexpr std::size_t PieceLength = 64;

// One piece of a string as form text: printable ASCII in quotes (a quote
// doubled), every other code unit as #nnn.
UnicodeString EncodePiece(std::u16string_view S) {
    if (S.empty()) return u"''";
    UnicodeString Out;
    bool Quoted = false;
    for (char16_t C : S) {
        if (C >= 0x20 && C <= 0x7E) {
            if (!Quoted) Out += u'\'';
            Quoted = true;
            Out += C;
            if (C == u'\'') Out += u'\'';
        } else {
            if (Quoted) Out += u'\'';
            Quoted = false;
            Out += u'#';
            Out += IntToStr(static_cast<Integer>(C));
        }
    }
    if (Quoted) Out += u'\'';
    return Out;
}

UnicodeString Indent(int Depth) { return UnicodeString(static_cast<std::size_t>(Depth) * 2, u' '); }

// Writes "Name = value", splitting a long string into pieces joined by "+"
// on the following lines.
void WriteString(UnicodeString& Out, int Depth, const UnicodeString& Name, const UnicodeString& Value) {
    if (Value.size() <= PieceLength) {
        Out += Indent(Depth) + Name + u" = " + EncodePiece(Value) + u"\n";
        return;
    }
    Out += Indent(Depth) + Name + u" =\n";
    for (std::size_t Pos = 0; Pos < Value.size(); Pos += PieceLength) {
        Out += Indent(Depth + 1) + EncodePiece(std::u16string_view(Value).substr(Pos, PieceLength));
        Out += Pos + PieceLength < Value.size() ? u" +\n" : u"\n";
    }
}

// The name by which a reference to Target is written from Root: its path of
// names below Root, or below its own topmost owner (a root of its own) with
// that owner's name in front.
UnicodeString ReferenceText(const TComponent& Target, const TComponent& Root, const TPropInfo& Prop) {
    if (&Target == &Root) {
        if (Root.Name().empty())
            throw EWriteError(Format(LoadResString(Consts::SUnnamedReference), {Prop.Name()}));
        return Root.Name();
    }
    std::vector<const TComponent*> Chain;
    const TComponent* C = &Target;
    for (; C != nullptr && C != &Root; C = C->Owner()) Chain.push_back(C);
    // Outside Root, the topmost owner's name leads the path.
    UnicodeString Path;
    for (auto It = Chain.rbegin(); It != Chain.rend(); ++It) {
        if ((*It)->Name().empty())
            throw EWriteError(Format(LoadResString(Consts::SUnnamedReference), {Prop.Name()}));
        if (!Path.empty()) Path += u'.';
        Path += (*It)->Name();
    }
    return Path;
}

// Clears csWriting even when writing fails.
struct TWritingGuard {
    TComponent& C;
    void (*Set)(TComponent&, TComponentStateItem, bool) noexcept;
    ~TWritingGuard() { Set(C, csWriting, false); }
};

}  // namespace

// Writes one object: header, stored properties in publishing order, the
// owned components, "end".
void TWriter::WriteObject(TComponent& C, TComponent& Root, int Depth) {
    const TClassInfo* Info = ComponentClassOf(C);
    if (Info == nullptr && &C != &Root)
        throw EWriteError(Format(LoadResString(Consts::SClassNotRegistered), {C.ClassName()}));
    SetState(C, csWriting, true);
    TWritingGuard Guard{C, &TWriter::SetState};

    const UnicodeString ClassName = Info != nullptr ? Info->ClassName() : C.ClassName();
    FOut += Indent(Depth) + u"object " + (C.Name().empty() ? ClassName : C.Name() + u": " + ClassName) + u"\n";

    for (int I = 0; Info != nullptr && I < Info->PropertyCount(); ++I) {
        const TPropInfo& P = Info->Property(I);
        if (!P.IsStored(C)) continue;
        const UnicodeString Prefix = Indent(Depth + 1) + P.Name() + u" = ";
        switch (P.Kind()) {
            case pkString:
                WriteString(FOut, Depth + 1, P.Name(), P.GetString(C));
                break;
            case pkBoolean:
                FOut += Prefix + (P.GetOrd(C) != 0 ? u"True" : u"False") + u"\n";
                break;
            case pkInteger: {
                const Int64 V = P.GetOrd(C);
                FOut += Prefix + (P.IntegerSigned() ? IntToStr(V) : IntToStr(static_cast<UInt64>(V))) + u"\n";
                break;
            }
            case pkEnumeration: {
                const Int64 V = P.GetOrd(C);
                if (!P.InRange(V))
                    throw EWriteError(Format(LoadResString(Consts::SValueWithoutName), {IntToStr(V), P.Name()}));
                FOut += Prefix + P.EnumType()->ToText(V) + u"\n";
                break;
            }
            case pkSet: {
                const Int64 V = P.GetOrd(C);
                if (!P.InRange(V))
                    throw EWriteError(Format(LoadResString(Consts::SValueWithoutName), {IntToStr(V), P.Name()}));
                FOut += Prefix + P.EnumType()->SetToText(static_cast<UInt64>(V)) + u"\n";
                break;
            }
            case pkComponent:
                FOut += Prefix + ReferenceText(*P.GetComponent(C), Root, P) + u"\n";
                break;
            case pkEvent: {
                const UnicodeString Handler = P.GetHandlerName(C);
                if (!IsValidIdent(Handler))
                    throw EWriteError(Format(LoadResString(Consts::SBadHandlerReference), {Handler, P.Name()}));
                FOut += Prefix + Handler + u"\n";
                break;
            }
        }
    }
    for (int I = 0; I < C.ComponentCount(); ++I) WriteObject(*C.Components(I), Root, Depth + 1);
    FOut += Indent(Depth) + u"end\n";
}

UnicodeString TWriter::WriteRootComponent(TComponent* Root) {
    if (Root == nullptr) throw EWriteError(LoadResString(Consts::SNoRoot));
    FOut.clear();
    WriteObject(*Root, *Root, 0);
    return std::move(FOut);
}

UnicodeString ComponentToText(TComponent* Root) {
    TWriter Writer;
    return Writer.WriteRootComponent(Root);
}

}  // namespace Framework
