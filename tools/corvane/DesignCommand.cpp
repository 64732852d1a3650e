// corvane design: a designer host without a screen. It loads a design-time
// package through the framework's loader, shows the palette the package
// registered, and inspects and edits form files through the registered
// property editors, as a form designer would.
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

#include <Framework/Classes.h>
#include <Framework/Designer.h>
#include <Framework/FormFiles.h>
#include <Framework/Packages.h>
#include <Framework/Properties.h>
#include <Framework/SysUtils.h>

#include "CommandLine.h"
#include "Files.h"
#include "Tool.h"

namespace Tool {

namespace {

using Framework::TComponent;

const char* const DesignHelp =
    "Usage: corvane design package [PATH]\n"
    "       corvane design palette [--draw] [--bitmap CLASS -o FILE.bmp]\n"
    "       corvane design inspect FORM [COMPONENT]\n"
    "       corvane design set FORM COMPONENT PROPERTY VALUE\n"
    "       corvane design set FORM COMPONENT PROPERTY --values\n"
    "       corvane design add FORM CLASS NAME\n"
    "\n"
    "A designer host: loads a design-time package (CorvaneP, installed in\n"
    "lib/corvane/ beside Corvane's libraries, unless --package names another) and\n"
    "works with what it registered.\n"
    "\n"
    "  package   what the package's table says and what it registered\n"
    "  palette   the palette's pages and their components, with their bitmaps\n"
    "            (drawn when standard output is a terminal, or with --draw);\n"
    "            --bitmap CLASS -o FILE writes a component's bitmap as a BMP file\n"
    "  inspect   the published properties of a form's components, as their\n"
    "            editors show them\n"
    "  set       sets a property through its editor and writes the form back;\n"
    "            --values lists the values the editor offers\n"
    "  add       puts a new component of a palette class on the form\n"
    "\n"
    "An editor's refusal ends with exit status 3 and leaves the form file as it was.\n"
    "\n"
    "Options:\n"
    "  --package PATH      the package to load\n"
    "  --draw              draw the bitmaps even when standard output is no terminal\n"
    "  --bitmap CLASS      the component whose bitmap to write (with -o)\n"
    "  -o, --output FILE   where to write it\n"
    "  --values            list an editor's values instead of setting one\n"
    "  -h, --help          show this help\n";

// The installed package: in the library folder's package folder
// (lib/corvane/, lib/ next to bin/), or on Windows beside the program.
std::string DefaultPackagePath() {
    if (ExecutableDirectory().empty())
        throw ECommandError(ExitFailure, "cannot tell where the program is; name the package with --package");
    const std::string name = U8(Framework::PackageFileName(u"CorvaneP"));
#ifdef _WIN32
    const std::u8string path = (std::filesystem::u8path(ExecutableDirectory()) / name).u8string();
    return std::string(path.begin(), path.end());
#else
    return (std::filesystem::path(ExecutableDirectory()) / CORVANE_BIN_TO_PACKAGES / name)
        .lexically_normal()
        .string();
#endif
}

std::unique_ptr<Framework::TPackage> Load(const std::string& path) {
    try {
        return Framework::LoadPackage(U16(path));
    } catch (const Framework::EPackageError& e) {
        throw ECommandError(ExitFailure, e.what());
    }
}

// ---------------------------------------------------------------------------
// Bitmaps

std::uint32_t Read32(const unsigned char* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
std::uint16_t Read16(const unsigned char* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

// An uncompressed device-independent bitmap of 1, 4 or 8 bits per pixel,
// read as colours (0xRRGGBB), top row first.
struct TPicture {
    int Width = 0;
    int Height = 0;
    std::vector<std::uint32_t> Pixels;
};

bool ReadPicture(const ::TPackageResource& r, TPicture& picture) {
    if (r.Size < 40) return false;
    const unsigned char* d = r.Data;
    const std::uint32_t headerSize = Read32(d);
    const auto width = static_cast<std::int32_t>(Read32(d + 4));
    const auto height = static_cast<std::int32_t>(Read32(d + 8));
    const int bits = Read16(d + 14);
    if (headerSize < 40 || headerSize > r.Size || Read32(d + 16) != 0 || width <= 0 || width > 256 ||
        height <= 0 || height > 256 || (bits != 1 && bits != 4 && bits != 8))
        return false;
    const std::uint32_t colours = Read32(d + 32) != 0 ? Read32(d + 32) : (1u << bits);
    const std::size_t stride = ((static_cast<std::size_t>(width) * bits + 31) / 32) * 4;
    const std::size_t pixelsAt = headerSize + static_cast<std::size_t>(colours) * 4;
    if (colours > (1u << bits) || pixelsAt + stride * static_cast<std::size_t>(height) > r.Size) return false;
    picture.Width = width;
    picture.Height = height;
    picture.Pixels.resize(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
    for (int y = 0; y < height; ++y) {
        const unsigned char* row = d + pixelsAt + stride * static_cast<std::size_t>(height - 1 - y);
        for (int x = 0; x < width; ++x) {
            const std::size_t bit = static_cast<std::size_t>(x) * bits;
            const unsigned index = (row[bit / 8] >> (8 - bits - bit % 8)) & ((1u << bits) - 1);
            std::uint32_t colour = 0;
            if (index < colours) {
                const unsigned char* q = d + headerSize + index * 4;
                colour = (static_cast<std::uint32_t>(q[2]) << 16) | (q[1] << 8) | q[0];
            }
            picture.Pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
                           static_cast<std::size_t>(x)] = colour;
        }
    }
    return true;
}

std::string Colour(const char* kind, std::uint32_t rgb) {
    return std::string("\x1b[") + kind + ";2;" + std::to_string(rgb >> 16) + ";" +
           std::to_string((rgb >> 8) & 0xFF) + ";" + std::to_string(rgb & 0xFF) + "m";
}

// Two pixel rows per text row: the upper half block in the upper pixel's
// colour on the lower pixel's.
std::string Draw(const TPicture& p, const std::string& indent) {
    std::string out;
    for (int y = 0; y < p.Height; y += 2) {
        out += indent;
        for (int x = 0; x < p.Width; ++x) {
            const std::uint32_t top = p.Pixels[static_cast<std::size_t>(y * p.Width + x)];
            const std::uint32_t bottom =
                y + 1 < p.Height ? p.Pixels[static_cast<std::size_t>((y + 1) * p.Width + x)] : 0;
            out += Colour("38", top) + Colour("48", bottom) + "\u2580";
        }
        out += "\x1b[0m\n";
    }
    return out;
}

const ::TPackageResource* Bitmap(const Framework::TPackage& package, const Framework::TClassInfo& c) {
    return package.Resource(u"BITMAP", Framework::UpperCase(c.ClassName()));
}

// A BMP file: the 14-byte file header in front of the bitmap.
void WriteBitmapFile(const ::TPackageResource& r, const std::string& path) {
    const std::uint32_t headerSize = r.Size >= 4 ? Read32(r.Data) : 0;
    const int bits = r.Size >= 16 ? Read16(r.Data + 14) : 0;
    const std::uint32_t used = r.Size >= 36 ? Read32(r.Data + 32) : 0;
    const std::uint32_t colours = used != 0 ? used : (bits <= 8 ? (1u << bits) : 0);
    const std::uint32_t fileSize = static_cast<std::uint32_t>(14 + r.Size);
    const std::uint32_t offBits = 14 + headerSize + colours * 4;
    unsigned char header[14] = {'B', 'M'};
    for (int i = 0; i < 4; ++i) {
        header[2 + i] = static_cast<unsigned char>(fileSize >> (8 * i));
        header[10 + i] = static_cast<unsigned char>(offBits >> (8 * i));
    }
    TOutputFile file(path);
    file.Write(header, sizeof header);
    file.Write(r.Data, r.Size);
    file.Commit();
}

// ---------------------------------------------------------------------------
// Forms

// "object Name: Class" on the form's first line names the root's class.
std::string RootClassName(const std::string& text) {
    const std::size_t colon = text.find(':');
    const std::size_t end = text.find_first_of("\r\n");
    if (colon == std::string::npos || (end != std::string::npos && colon > end)) return "TComponent";
    std::size_t from = colon + 1;
    while (from < text.size() && text[from] == ' ') ++from;
    std::size_t to = from;
    while (to < text.size() && (std::isalnum(static_cast<unsigned char>(text[to])) || text[to] == '_')) ++to;
    return text.substr(from, to - from);
}

// A form read for designing: its components carry csDesigning, so one that
// fails to open as the form loads is reported and stays closed.
struct TDesignForm {
    std::string Path;
    std::unique_ptr<TComponent> Root;
    std::unique_ptr<Framework::TFormDesigner> Designer;  // refers to Root: goes first
};

TDesignForm ReadForm(const std::string& path) {
    CheckNotDirectory(path);
    // The root's class comes first: the designer marks the root before the
    // form's components are read into it.
    const std::string text = ReadFileBytes(path);
    const Framework::TClassInfo* rootClass = Framework::FindComponentClass(U16(RootClassName(text)));
    if (rootClass == nullptr || !rootClass->CanCreate())
        throw ECommandError(ExitInvalidInput, path + ": the form's root class is unknown");
    TDesignForm form;
    form.Path = path;
    form.Root.reset(rootClass->Create(nullptr));
    form.Designer = std::make_unique<Framework::TFormDesigner>(*form.Root);
    try {
        ReadFormFile(path, form.Root.get());
    } catch (const Framework::Exception& e) {
        throw ECommandError(ExitInvalidInput, path + ": " + e.what());
    }
    return form;
}

// Writes the form back under a temporary name moved into place, so a
// failure leaves the file as it was.
void SaveForm(const TDesignForm& form) {
    const std::string text = U8(Framework::ComponentToText(form.Root.get()));
    TOutputFile file(form.Path);
    file.Write(text.data(), text.size());
    file.Commit();
}

TComponent& FindComponent(const TDesignForm& form, const std::string& name) {
    const UnicodeString wanted = U16(name);
    if (Framework::SameText(wanted, form.Root->Name())) return *form.Root;
    TComponent* c = form.Root->FindComponent(wanted);
    if (c == nullptr) throw ECommandError(ExitInvalidInput, form.Path + ": no component " + Quoted(name));
    return *c;
}

const Framework::TClassInfo& ClassOfComponent(const TComponent& c) {
    const Framework::TClassInfo* info = Framework::ComponentClassOf(c);
    if (info == nullptr) throw ECommandError(ExitFailure, "a component's class is not registered");
    return *info;
}

void Inspect(const TDesignForm& form, TComponent& c) {
    const Framework::TClassInfo& cls = ClassOfComponent(c);
    Out(U8(c.Name()) + ": " + U8(cls.ClassName()) + "\n");
    for (int i = 0; i < cls.PropertyCount(); ++i) {
        const Framework::TPropInfo& p = cls.Property(i);
        const auto editor = Framework::DesignRegistry().CreateEditor(*form.Designer, c, p);
        std::string value;
        try {
            value = U8(editor->GetValue());
        } catch (const Framework::Exception& e) {
            value = "(" + std::string(e.what()) + ")";
        }
        Out("  " + U8(p.Name()) + " = " + value + "\n");
    }
}

// ---------------------------------------------------------------------------
// The subcommands

int Package(const std::string& path) {
    const auto package = Load(path);
    const ::TPackageInfoTable& t = package->Info();
    Out("package:     " + U8(package->FileName()) + "\n");
    Out("description: " + U8(package->Description()) + "\n");
    Out(std::string("design-only: ") + (package->DesignOnly() ? "yes" : "no") + "\n");
    std::string units;
    for (const auto& u : package->Units()) units += (units.empty() ? "" : ", ") + U8(u);
    Out("units:       " + units + "\n");
    // The framework packages a package names are built into this host: the
    // requirement is shown, never enforced.
    for (const auto& r : package->Requires())
        Out("requires:    " + U8(r) + " (not loaded here; information only)\n");
    for (std::uint32_t i = 0; i < t.ResourceCount; ++i) {
        const ::TPackageResource& r = t.Resources[i];
        TPicture picture;
        std::string shape = ReadPicture(r, picture)
                                ? std::to_string(picture.Width) + "x" + std::to_string(picture.Height) +
                                      ", " + std::to_string(Read16(r.Data + 14)) + " bpp"
                                : "not a bitmap this host reads";
        Out("resource:    " + U8(r.Type != nullptr ? r.Type : u"?") + " " +
            U8(r.Name != nullptr ? r.Name : u"?") + " (" + shape + ")\n");
    }
    for (const auto& page : Framework::DesignRegistry().Pages()) {
        std::string classes;
        for (const auto* c : page.Classes) classes += (classes.empty() ? "" : ", ") + U8(c->ClassName());
        Out("registered:  page " + U8(page.Name) + ": " + classes + "\n");
    }
    for (const auto& e : Framework::DesignRegistry().Editors())
        Out("registered:  editor " + U8(e.EditorClass.ClassName) + " for " + U8(e.PropertyType.Name()) + " " +
            (e.ComponentClass != nullptr ? U8(e.ComponentClass->ClassName()) : "*") + "." +
            (e.PropertyName.empty() ? "*" : U8(e.PropertyName)) + "\n");
    return ExitSuccess;
}

int Palette(const Framework::TPackage& package, const TCommandLine& line) {
    if (line.Has("bitmap")) {
        if (!line.Has("output")) UsageError("--bitmap needs -o FILE");
        const Framework::TClassInfo* c = Framework::FindComponentClass(U16(line.Value("bitmap")));
        const ::TPackageResource* r = c == nullptr ? nullptr : Bitmap(package, *c);
        TPicture picture;
        if (r == nullptr || !ReadPicture(*r, picture))
            throw ECommandError(ExitInvalidInput, "no bitmap for " + Quoted(line.Value("bitmap")));
        WriteBitmapFile(*r, line.Value("output"));
        return ExitSuccess;
    }
    const bool draw = line.Has("draw") || StdoutIsTerminal();
    for (const auto& page : Framework::DesignRegistry().Pages()) {
        Out(U8(page.Name) + "\n");
        for (const auto* c : page.Classes) {
            const ::TPackageResource* r = Bitmap(package, *c);
            TPicture picture;
            const bool readable = r != nullptr && ReadPicture(*r, picture);
            Out("  " + U8(c->ClassName()) + (readable ? "" : " (no bitmap)") + "\n");
            if (draw && readable) Out(Draw(picture, "    "));
        }
    }
    return ExitSuccess;
}

int Set(const TCommandLine& line) {
    const TArgs& ops = line.Operands();
    const bool values = line.Has("values");
    if (ops.size() != (values ? 3u : 4u))
        UsageError(values ? "set --values needs FORM COMPONENT PROPERTY"
                          : "set needs FORM COMPONENT PROPERTY VALUE");
    TDesignForm form = ReadForm(ops[0]);
    TComponent& c = FindComponent(form, ops[1]);
    const Framework::TPropInfo* p = ClassOfComponent(c).FindProperty(U16(ops[2]));
    if (p == nullptr)
        throw ECommandError(ExitInvalidInput, ops[1] + " has no published property " + Quoted(ops[2]));
    const auto editor = Framework::DesignRegistry().CreateEditor(*form.Designer, c, *p);
    if (values) {
        editor->GetValues([](const UnicodeString& v) { Out(U8(v) + "\n"); });
        return ExitSuccess;
    }
    try {
        editor->SetValue(U16(ops[3]));
    } catch (const std::exception& e) {
        throw ECommandError(ExitInvalidInput, ops[1] + "." + U8(p->Name()) + ": " + e.what());
    }
    // An editor that accepted the text may have changed the form without
    // saying so: the form is written whenever it did not refuse.
    SaveForm(form);
    Out(ops[1] + "." + U8(p->Name()) + " = " + U8(editor->GetValue()) + "\n");
    return ExitSuccess;
}

int Add(const TCommandLine& line) {
    const TArgs& ops = line.Operands();
    if (ops.size() != 3) UsageError("add needs FORM CLASS NAME");
    TDesignForm form = ReadForm(ops[0]);
    const Framework::TClassInfo* cls = Framework::FindComponentClass(U16(ops[1]));
    if (cls == nullptr || Framework::DesignRegistry().PageOf(*cls).empty())
        throw ECommandError(ExitInvalidInput, Quoted(ops[1]) + " is not on the palette");
    std::unique_ptr<TComponent> added(cls->Create(nullptr));
    try {
        added->SetName(U16(ops[2]));
        form.Root->InsertComponent(added.get());
    } catch (const Framework::Exception& e) {
        throw ECommandError(ExitInvalidInput, e.what());
    }
    added.release();  // the form owns it now
    SaveForm(form);
    Out("added " + ops[2] + ": " + U8(cls->ClassName()) + " to " + ops[0] + "\n");
    return ExitSuccess;
}

}  // namespace

int RunDesign(const TArgs& args) {
    if (!args.empty() && (args[0] == "-h" || args[0] == "--help")) {
        Out(DesignHelp);
        return ExitSuccess;
    }
    if (args.empty()) UsageError("no command given: package, palette, inspect, set or add");
    const std::string& command = args[0];
    const TCommandLine line({{'h', "help", false},
                             {0, "package", true},
                             {0, "draw", false},
                             {0, "bitmap", true},
                             {'o', "output", true},
                             {0, "values", false}},
                            TArgs(args.begin() + 1, args.end()));
    if (line.Has("help")) {
        Out(DesignHelp);
        return ExitSuccess;
    }
    const TArgs& ops = line.Operands();
    if (command == "package") {
        if (ops.size() > 1) UsageError("unexpected argument " + Quoted(ops[1]));
        return Package(!ops.empty()          ? ops[0]
                       : line.Has("package") ? line.Value("package")
                                             : DefaultPackagePath());
    }
    if (command != "palette" && command != "inspect" && command != "set" && command != "add")
        UsageError("unknown command " + Quoted(command) + "; choose package, palette, inspect, set or add");
    const auto package = Load(line.Has("package") ? line.Value("package") : DefaultPackagePath());
    if (command == "palette") {
        if (!ops.empty()) UsageError("unexpected argument " + Quoted(ops[0]));
        return Palette(*package, line);
    }
    if (command == "inspect") {
        if (ops.empty() || ops.size() > 2) UsageError("inspect needs FORM [COMPONENT]");
        const TDesignForm form = ReadForm(ops[0]);
        if (ops.size() == 2) {
            Inspect(form, FindComponent(form, ops[1]));
        } else {
            for (int i = 0; i < form.Root->ComponentCount(); ++i) Inspect(form, *form.Root->Components(i));
        }
        return ExitSuccess;
    }
    if (command == "set") return Set(line);
    return Add(line);
}

}  // namespace Tool
