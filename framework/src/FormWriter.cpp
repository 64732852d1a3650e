#include <vector>

#include "Framework/FormFiles.h"
#include "FormFilesConsts.h"

namespace Framework {

namespace {

// Longest piece of a string written on one line, in code units.
constexpr std::size_t PieceLength = 64;

// One piece of a string as form text: printable ASCII in quotes (a quote
// doubled), every other code unit as #nnn.
UnicodeString EncodePiece(std::u16string_view s) {
    if (s.empty()) return u"''";
    UnicodeString out;
    bool quoted = false;
    for (char16_t c : s) {
        if (c >= 0x20 && c <= 0x7E) {
            if (!quoted) out += u'\'';
            quoted = true;
            out += c;
            if (c == u'\'') out += u'\'';
        } else {
            if (quoted) out += u'\'';
            quoted = false;
            out += u'#';
            out += IntToStr(static_cast<Integer>(c));
        }
    }
    if (quoted) out += u'\'';
    return out;
}

UnicodeString Indent(int depth) {
    return UnicodeString(static_cast<std::size_t>(depth) * 2, u' ');
}

// Writes "Name = value", splitting a long string into pieces joined by "+"
// on the following lines.
void WriteString(UnicodeString& out, int depth, const UnicodeString& name, const UnicodeString& value) {
    if (value.size() <= PieceLength) {
        out += Indent(depth) + name + u" = " + EncodePiece(value) + u"\n";
        return;
    }
    out += Indent(depth) + name + u" =\n";
    for (std::size_t pos = 0; pos < value.size(); pos += PieceLength) {
        out += Indent(depth + 1) + EncodePiece(std::u16string_view(value).substr(pos, PieceLength));
        out += pos + PieceLength < value.size() ? u" +\n" : u"\n";
    }
}

// The name by which a reference to Target is written from Root: its path of
// names below Root, or below its own topmost owner (a root of its own) with
// that owner's name in front.
UnicodeString ReferenceText(const TComponent& target, const TComponent& root, const TPropInfo& prop) {
    if (&target == &root) {
        if (root.Name().empty())
            throw EWriteError(Format(LoadResString(Consts::SUnnamedReference), {prop.Name()}));
        return root.Name();
    }
    std::vector<const TComponent*> chain;
    const TComponent* c = &target;
    for (; c != nullptr && c != &root; c = c->Owner()) chain.push_back(c);
    // Outside Root, the topmost owner's name leads the path.
    UnicodeString path;
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
        if ((*it)->Name().empty())
            throw EWriteError(Format(LoadResString(Consts::SUnnamedReference), {prop.Name()}));
        if (!path.empty()) path += u'.';
        path += (*it)->Name();
    }
    return path;
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
void TWriter::WriteObject(TComponent& c, TComponent& root, int depth) {
    const TClassInfo* info = ComponentClassOf(c);
    if (info == nullptr && &c != &root)
        throw EWriteError(Format(LoadResString(Consts::SClassNotRegistered), {c.ClassName()}));
    SetState(c, csWriting, true);
    TWritingGuard guard{c, &TWriter::SetState};

    const UnicodeString className = info != nullptr ? info->ClassName() : c.ClassName();
    FOut +=
        Indent(depth) + u"object " + (c.Name().empty() ? className : c.Name() + u": " + className) + u"\n";

    for (int i = 0; info != nullptr && i < info->PropertyCount(); ++i) {
        const TPropInfo& p = info->Property(i);
        if (!p.IsStored(c)) continue;
        const UnicodeString prefix = Indent(depth + 1) + p.Name() + u" = ";
        switch (p.Kind()) {
        case pkString:
            WriteString(FOut, depth + 1, p.Name(), p.GetString(c));
            break;
        case pkBoolean:
            FOut += prefix + (p.GetOrd(c) != 0 ? u"True" : u"False") + u"\n";
            break;
        case pkInteger: {
            const Int64 v = p.GetOrd(c);
            FOut += prefix + (p.IntegerSigned() ? IntToStr(v) : IntToStr(static_cast<UInt64>(v))) + u"\n";
            break;
        }
        case pkEnumeration: {
            const Int64 v = p.GetOrd(c);
            if (!p.InRange(v))
                throw EWriteError(Format(LoadResString(Consts::SValueWithoutName), {IntToStr(v), p.Name()}));
            FOut += prefix + p.EnumType()->ToText(v) + u"\n";
            break;
        }
        case pkSet: {
            const Int64 v = p.GetOrd(c);
            if (!p.InRange(v))
                throw EWriteError(Format(LoadResString(Consts::SValueWithoutName), {IntToStr(v), p.Name()}));
            FOut += prefix + p.EnumType()->SetToText(static_cast<UInt64>(v)) + u"\n";
            break;
        }
        case pkComponent:
            FOut += prefix + ReferenceText(*p.GetComponent(c), root, p) + u"\n";
            break;
        case pkEvent: {
            const UnicodeString handler = p.GetHandlerName(c);
            if (!IsValidIdent(handler))
                throw EWriteError(Format(LoadResString(Consts::SBadHandlerReference), {handler, p.Name()}));
            FOut += prefix + handler + u"\n";
            break;
        }
        }
    }
    for (int i = 0; i < c.ComponentCount(); ++i) WriteObject(*c.Components(i), root, depth + 1);
    FOut += Indent(depth) + u"end\n";
}

UnicodeString TWriter::WriteRootComponent(TComponent* root) {
    if (root == nullptr) throw EWriteError(LoadResString(Consts::SNoRoot));
    FOut.clear();
    WriteObject(*root, *root, 0);
    return std::move(FOut);
}

UnicodeString ComponentToText(TComponent* root) {
    TWriter writer;
    return writer.WriteRootComponent(root);
}

}  // namespace Framework
