// The design-time package: its information table (description, units,
// required packages, palette bitmaps) and the three entry points a designer
// host's loader calls.
#include <Corvane/Session.h>
#include <CorvaneE/CorvaneE.h>
#include <Framework/Packages.h>

#include <mutex>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#define CORVANEP_ENTRY extern "C" __declspec(dllexport)
#else
#include "PaletteBitmaps.h"
#define CORVANEP_ENTRY extern "C" __attribute__((visibility("default")))
#endif

namespace {

// Corvane's finalization frees the default session; the other units do no
// work at initialization or finalization.
void CorvaneFinalization() {
    Corvane::Finalization();
}

// The units the package contains, in the order it records them.
const TPackageUnit Units[] = {
    {u"CorvaneP", nullptr, nullptr, nullptr},
    {u"CorvaneE", nullptr, nullptr, &CorvaneE::Register},
    {u"Corvane", nullptr, &CorvaneFinalization, nullptr},
    {u"SysInit", nullptr, nullptr, nullptr},
};
// The order their initializations run in: a unit after the units it uses.
constexpr int InitializationOrder[] = {3, 2, 1, 0};

const char16_t* const Requires[] = {u"designide250", u"vcl250"};

const char16_t* const BitmapNames[] = {u"TINETCONNECTION", u"TINETSESSION", u"TINETFTP",
                                       u"TINETHTTP",       u"TINETURL",     u"TINETCOOKIE"};
constexpr std::size_t BitmapCount = sizeof BitmapNames / sizeof BitmapNames[0];

TPackageResource Resources[BitmapCount];
TPackageInfoTable Table;
std::once_flag TableMade;

// The bitmaps: on Windows the DLL's own bitmap resources, elsewhere the
// data compiled in. A bitmap that cannot be found is left out of the table.
void MakeTable() {
    std::size_t count = 0;
#ifdef _WIN32
    HMODULE self = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&MakeTable), &self);
    for (const char16_t* name : BitmapNames) {
        HRSRC found =
            FindResourceW(self, reinterpret_cast<LPCWSTR>(name), MAKEINTRESOURCEW(2) /* RT_BITMAP */);
        HGLOBAL loaded = found == nullptr ? nullptr : LoadResource(self, found);
        const void* data = loaded == nullptr ? nullptr : LockResource(loaded);
        if (data == nullptr) continue;
        Resources[count++] = {name, u"BITMAP", static_cast<const unsigned char*>(data),
                              static_cast<size_t>(SizeofResource(self, found))};
    }
#else
    for (const char16_t* name : BitmapNames)
        for (std::size_t i = 0; i < CorvaneP::PaletteBitmapCount; ++i)
            if (std::u16string_view(CorvaneP::PaletteBitmaps[i].Name) == name)
                Resources[count++] = {name, u"BITMAP", CorvaneP::PaletteBitmaps[i].Data,
                                      CorvaneP::PaletteBitmaps[i].Size};
#endif
    Table = {FRAMEWORK_PACKAGE_TABLE_VERSION,
             FRAMEWORK_PACKAGE_DESIGN_ONLY,
             u"Ostrel Corvane",
             static_cast<uint32_t>(std::size(Units)),
             Units,
             static_cast<uint32_t>(std::size(Requires)),
             Requires,
             static_cast<uint32_t>(count),
             Resources};
}

}  // namespace

CORVANEP_ENTRY const TPackageInfoTable* GetPackageInfoTable(void) {
    std::call_once(TableMade, MakeTable);
    return &Table;
}

CORVANEP_ENTRY void Initialize(void) {
    for (int i : InitializationOrder)
        if (Units[i].Initialization != nullptr) Units[i].Initialization();
}

CORVANEP_ENTRY void Finalize(void) {
    for (auto it = std::rbegin(InitializationOrder); it != std::rend(InitializationOrder); ++it)
        if (Units[*it].Finalization != nullptr) Units[*it].Finalization();
}
