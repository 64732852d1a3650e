// corvane form check|dump: form files read through the framework's reader,
// with the runtime unit's component classes.
#include <memory>
#include <string>

#include <Framework/Classes.h>
#include <Framework/FormFiles.h>
#include <Framework/Properties.h>
#include <Framework/SysUtils.h>

#include "CommandLine.h"
#include "Files.h"
#include "Tool.h"

namespace Tool {

namespace {

using Framework::TComponent;

const char* const FormHelp =
    "Usage: corvane form check FILE\n"
    "       corvane form dump FILE\n"
    "\n"
    "Reads a form file (UTF-8 text: a root component, its published properties\n"
    "and the components it owns) with the component classes of Corvane.\n"
    "\n"
    "  check   reports the first error as FILE:LINE:COLUMN: reason (exit status 3),\n"
    "          or that the file reads without error\n"
    "  dump    prints every component with all its published properties and\n"
    "          their current values, derived ones included\n"
    "\n"
    "Reading a form opens the components stored with Active = True.\n"
    "\n"
    "Options:\n"
    "  -h, --help          show this help\n";

// A string value in the form files' notation ('it''s'#13#10), except that
// characters outside ASCII stay as they are, in UTF-8, for reading.
std::string StringLiteral(const UnicodeString& Value)
{
    std::string Result;
    bool Quoted = false;
    std::u16string Run;
    auto Flush = [&] {
        if (!Run.empty()) Result += U8(Run);
        Run.clear();
    };
    for (char16_t C : Value) {
        const bool Control = C < 0x20 || C == 0x7F;
        if (Control) {
            Flush();
            if (Quoted) Result += '\'';
            Quoted = false;
            Result += "#" + std::to_string(static_cast<unsigned>(C));
            continue;
        }
        if (!Quoted) {
            Result += '\'';
            Quoted = true;
        }
        if (C == u'\'') Run += u"''";
        else Run += C;
    }
    Flush();
    if (Quoted) Result += '\'';
    if (Result.empty()) Result = "''";
    return Result;
}

// How a form file names Target from Root: "Name", "Owner.Name", or with the
// name of another root in front.
std::string ReferenceName(const TComponent* Target, const TComponent* Root)
{
    if (Target == nullptr) return "nil";
    if (Target == Root) return U8(Target->Name());
    std::string Path;
    for (const TComponent* C = Target; C != nullptr && C != Root; C = C->Owner()) {
        const std::string Name = C->Name().empty() ? "(unnamed)" : U8(C->Name());
        Path = Path.empty() ? Name : Name + "." + Path;
    }
    return Path;
}

std::string ClassNameOf(const TComponent& C)
{
    const Framework::TClassInfo* Info = Framework::ComponentClassOf(C);
    return U8(Info != nullptr ? Info->ClassName() : C.ClassName());
}

// The value of one published property as text; an empty result means that
// there is nothing to show (an unassigned event).
std::string PropertyValue(const Framework::TPropInfo& Prop, const TComponent& C, const TComponent* Root)
{
    switch (Prop.Kind()) {
    case Framework::pkString:
        return StringLiteral(Prop.GetString(C));
    case Framework::pkBoolean:
        return Prop.GetOrd(C) != 0 ? "True" : "False";
    case Framework::pkInteger: {
        const Framework::Int64 Value = Prop.GetOrd(C);
        if (!Prop.IntegerSigned() && Prop.IntegerBits() == 64)
            return std::to_string(static_cast<unsigned long long>(Value));
        return std::to_string(Value);
    }
    case Framework::pkEnumeration:
        return U8(Prop.EnumType()->ToText(Prop.GetOrd(C)));
    case Framework::pkSet:
        return U8(Prop.EnumType()->SetToText(static_cast<Framework::UInt64>(Prop.GetOrd(C))));
    case Framework::pkComponent:
        return ReferenceName(Prop.GetComponent(C), Root);
    case Framework::pkEvent:
        return U8(Prop.GetHandlerName(C));
    }
    return {};
}

// One component, its properties and the components it owns, indented by
// nesting depth.
void Dump(const TComponent& C, const TComponent* Root, int Depth)
{
    const std::string Indent(static_cast<std::size_t>(Depth) * 2, ' ');
    const std::string Name = U8(C.Name());
    Out(Indent + "object " + (Name.empty() ? "" : Name + ": ") + ClassNameOf(C) + "\n");
    if (const Framework::TClassInfo* Info = Framework::ComponentClassOf(C)) {
        for (int I = 0; I < Info->PropertyCount(); ++I) {
            const Framework::TPropInfo& Prop = Info->Property(I);
            std::string Value;
            try {
                Value = PropertyValue(Prop, C, Root);
            } catch (const Framework::Exception& E) {
                Value = "(cannot be read: " + std::string(E.what()) + ")";
            }
            if (!Value.empty()) Out(Indent + "  " + U8(Prop.Name()) + " = " + Value + "\n");
        }
    }
    for (int I = 0; I < C.ComponentCount(); ++I) Dump(*C.Components(I), Root, Depth + 1);
    Out(Indent + "end\n");
}

int CountComponents(const TComponent& C)
{
    int Count = 1;
    for (int I = 0; I < C.ComponentCount(); ++I) Count += CountComponents(*C.Components(I));
    return Count;
}

}  // namespace

std::unique_ptr<TComponent> LoadFormFile(const std::string& Path)
{
    CheckNotDirectory(Path);
    try {
        return std::unique_ptr<TComponent>(Framework::ReadComponentFile(U16(Path), nullptr));
    } catch (const Framework::EReadError& E) {
        throw ECommandError(ExitInvalidInput, Path + ":" + std::to_string(E.Line()) + ":" +
                                                  std::to_string(E.Column()) + ": " + U8(E.Reason()));
    } catch (const Framework::EClassNotFound& E) {
        throw ECommandError(ExitInvalidInput, Path + ": " + E.what());
    } catch (const Framework::EStreamError& E) {
        throw ECommandError(ExitFileError, E.what());
    }
}

int RunForm(const TArgs& Args)
{
    if (!Args.empty() && (Args[0] == "-h" || Args[0] == "--help")) {
        Out(FormHelp);
        return ExitSuccess;
    }
    if (Args.empty()) UsageError("no command given: check or dump");
    const std::string& Command = Args[0];
    if (Command != "check" && Command != "dump")
        UsageError("unknown command " + Quoted(Command) + "; choose check or dump");
    const TCommandLine Line({{'h', "help", false}}, TArgs(Args.begin() + 1, Args.end()));
    if (Line.Has("help")) {
        Out(FormHelp);
        return ExitSuccess;
    }
    if (Line.Operands().empty()) UsageError("no form file given");
    if (Line.Operands().size() > 1) UsageError("unexpected argument " + Quoted(Line.Operands()[1]));
    const std::string& Path = Line.Operands()[0];

    const std::unique_ptr<TComponent> Root = LoadFormFile(Path);
    if (Command == "check") {
        const int Count = CountComponents(*Root);
        Out(Path + ": OK, " + std::to_string(Count) + (Count == 1 ? " component\n" : " components\n"));
    } else {
        Dump(*Root, Root.get(), 0);
    }
    return ExitSuccess;
}

}  // namespace Tool
