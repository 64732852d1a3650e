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
std::string StringLiteral(const UnicodeString& value) {
    std::string result;
    bool quoted = false;
    std::u16string run;
    auto flush = [&] {
        if (!run.empty()) result += U8(run);
        run.clear();
    };
    for (char16_t c : value) {
        const bool control = c < 0x20 || c == 0x7F;
        if (control) {
            flush();
            if (quoted) result += '\'';
            quoted = false;
            result += "#" + std::to_string(static_cast<unsigned>(c));
            continue;
        }
        if (!quoted) {
            result += '\'';
            quoted = true;
        }
        if (c == u'\'')
            run += u"''";
        else
            run += c;
    }
    flush();
    if (quoted) result += '\'';
    if (result.empty()) result = "''";
    return result;
}

// How a form file names Target from Root: "Name", "Owner.Name", or with the
// name of another root in front.
std::string ReferenceName(const TComponent* target, const TComponent* root) {
    if (target == nullptr) return "nil";
    if (target == root) return U8(target->Name());
    std::string path;
    for (const TComponent* c = target; c != nullptr && c != root; c = c->Owner()) {
        const std::string name = c->Name().empty() ? "(unnamed)" : U8(c->Name());
        path = path.empty() ? name : name + "." + path;
    }
    return path;
}

std::string ClassNameOf(const TComponent& c) {
    const Framework::TClassInfo* info = Framework::ComponentClassOf(c);
    return U8(info != nullptr ? info->ClassName() : c.ClassName());
}

// The value of one published property as text; an empty result means that
// there is nothing to show (an unassigned event).
std::string PropertyValue(const Framework::TPropInfo& prop, const TComponent& c, const TComponent* root) {
    switch (prop.Kind()) {
    case Framework::pkString:
        return StringLiteral(prop.GetString(c));
    case Framework::pkBoolean:
        return prop.GetOrd(c) != 0 ? "True" : "False";
    case Framework::pkInteger: {
        const Framework::Int64 value = prop.GetOrd(c);
        if (!prop.IntegerSigned() && prop.IntegerBits() == 64)
            return std::to_string(static_cast<unsigned long long>(value));
        return std::to_string(value);
    }
    case Framework::pkEnumeration:
        return U8(prop.EnumType()->ToText(prop.GetOrd(c)));
    case Framework::pkSet:
        return U8(prop.EnumType()->SetToText(static_cast<Framework::UInt64>(prop.GetOrd(c))));
    case Framework::pkComponent:
        return ReferenceName(prop.GetComponent(c), root);
    case Framework::pkEvent:
        return U8(prop.GetHandlerName(c));
    }
    return {};
}

// One component, its properties and the components it owns, indented by
// nesting depth.
void Dump(const TComponent& c, const TComponent* root, int depth) {
    const std::string indent(static_cast<std::size_t>(depth) * 2, ' ');
    const std::string name = U8(c.Name());
    Out(indent + "object " + (name.empty() ? "" : name + ": ") + ClassNameOf(c) + "\n");
    if (const Framework::TClassInfo* info = Framework::ComponentClassOf(c)) {
        for (int i = 0; i < info->PropertyCount(); ++i) {
            const Framework::TPropInfo& prop = info->Property(i);
            std::string value;
            try {
                value = PropertyValue(prop, c, root);
            } catch (const Framework::Exception& e) {
                value = "(cannot be read: " + std::string(e.what()) + ")";
            }
            if (!value.empty()) Out(indent + "  " + U8(prop.Name()) + " = " + value + "\n");
        }
    }
    for (int i = 0; i < c.ComponentCount(); ++i) Dump(*c.Components(i), root, depth + 1);
    Out(indent + "end\n");
}

int CountComponents(const TComponent& c) {
    int count = 1;
    for (int i = 0; i < c.ComponentCount(); ++i) count += CountComponents(*c.Components(i));
    return count;
}

}  // namespace

std::unique_ptr<TComponent> LoadFormFile(const std::string& path) {
    return std::unique_ptr<TComponent>(ReadFormFile(path, nullptr));
}

TComponent* ReadFormFile(const std::string& path, TComponent* root) {
    CheckNotDirectory(path);
    try {
        return Framework::ReadComponentFile(U16(path), root);
    } catch (const Framework::EReadError& e) {
        throw ECommandError(ExitInvalidInput, path + ":" + std::to_string(e.Line()) + ":" +
                                                  std::to_string(e.Column()) + ": " + U8(e.Reason()));
    } catch (const Framework::EClassNotFound& e) {
        throw ECommandError(ExitInvalidInput, path + ": " + e.what());
    } catch (const Framework::EStreamError& e) {
        throw ECommandError(ExitFileError, e.what());
    }
}

int RunForm(const TArgs& args) {
    if (!args.empty() && (args[0] == "-h" || args[0] == "--help")) {
        Out(FormHelp);
        return ExitSuccess;
    }
    if (args.empty()) UsageError("no command given: check or dump");
    const std::string& command = args[0];
    if (command != "check" && command != "dump")
        UsageError("unknown command " + Quoted(command) + "; choose check or dump");
    const TCommandLine line({{'h', "help", false}}, TArgs(args.begin() + 1, args.end()));
    if (line.Has("help")) {
        Out(FormHelp);
        return ExitSuccess;
    }
    if (line.Operands().empty()) UsageError("no form file given");
    if (line.Operands().size() > 1) UsageError("unexpected argument " + Quoted(line.Operands()[1]));
    const std::string& path = line.Operands()[0];

    const std::unique_ptr<TComponent> root = LoadFormFile(path);
    if (command == "check") {
        const int count = CountComponents(*root);
        Out(path + ": OK, " + std::to_string(count) + (count == 1 ? " component\n" : " components\n"));
    } else {
        Dump(*root, root.get(), 0);
    }
    return ExitSuccess;
}

}  // namespace Tool
