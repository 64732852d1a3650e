// A package for the loader's tests. CORVANE_TEST_PACKAGE picks how it
// misbehaves: "version" (a table of another version), "no-table",
// "initialize" (Initialize raises), "register" (the second unit raises after
// registering); anything else loads cleanly. Every entry point and unit
// procedure appends its name to a trace the tests read.
#include <Framework/Designer.h>
#include <Framework/Packages.h>

#include <cstdlib>
#include <string>

#ifdef _WIN32
#define TEST_PACKAGE_ENTRY extern "C" __declspec(dllexport)
#else
#define TEST_PACKAGE_ENTRY extern "C" __attribute__((visibility("default")))
#endif

namespace {

std::string Trace;

std::string Mode() {
    const char* mode = std::getenv("CORVANE_TEST_PACKAGE");
    return mode == nullptr ? std::string() : mode;
}

void InitA() {
    Trace += "init:A ";
}
void InitB() {
    Trace += "init:B ";
}
void FiniA() {
    Trace += "fini:A ";
}
void FiniB() {
    Trace += "fini:B ";
}

void RegisterA() {
    Trace += "register:A ";
    Framework::RegisterComponents(u"Test", {Framework::ClassOf<Framework::TComponent>()});
}

void RegisterB() {
    Trace += "register:B ";
    Framework::RegisterPropertyEditor(Framework::TypeInfo<std::intptr_t>(), nullptr, u"Tag",
                                      Framework::EditorClass<Framework::TIntegerProperty>());
    if (Mode() == "register") throw Framework::Exception(u"unit B refuses");
}

// Units in the package's order; B uses A, so A initializes first.
const TPackageUnit Units[] = {{u"B", &InitB, &FiniB, &RegisterB}, {u"A", &InitA, &FiniA, &RegisterA}};
TPackageInfoTable Table = {
    FRAMEWORK_PACKAGE_TABLE_VERSION, 0, u"Test package", 2, Units, 0, nullptr, 0, nullptr};

}  // namespace

TEST_PACKAGE_ENTRY const TPackageInfoTable* GetPackageInfoTable(void) {
    Trace += "table ";
    if (Mode() == "no-table") return nullptr;
    Table.Version =
        Mode() == "version" ? FRAMEWORK_PACKAGE_TABLE_VERSION + 1 : FRAMEWORK_PACKAGE_TABLE_VERSION;
    return &Table;
}

TEST_PACKAGE_ENTRY void Initialize(void) {
    if (Mode() == "initialize") throw Framework::Exception(u"no initialization today");
    InitA();
    InitB();
}

TEST_PACKAGE_ENTRY void Finalize(void) {
    FiniB();
    FiniA();
}

// The trace so far, emptied by reading it.
TEST_PACKAGE_ENTRY const char* TestPackageTrace(void) {
    static std::string last;
    last = Trace;
    Trace.clear();
    return last.c_str();
}
