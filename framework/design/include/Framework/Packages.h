/// \file
/// Design-time packages: shared libraries (libName.so, Name.dll) that a
/// designer host loads to get components and editors onto its palette.
///
/// A package exports three C entry points:
///
///     const TPackageInfoTable* GetPackageInfoTable(void);  // what the package is
///     void Initialize(void);  // runs its units' initializations, a unit after those it uses
///     void Finalize(void);    // runs their finalizations in reverse
///
/// The table describes the package (description, flags, the units it
/// contains in order, the packages it requires) and carries its resources
/// (palette bitmaps by name). The loader:
///   1. loads the library and finds the three entry points;
///   2. checks the table's version;
///   3. runs Initialize, then the Register procedure of each unit that has
///      one, in unit order, both into a staging registry;
///   4. when all of that succeeded, moves the staged entries into the target
///      registry; otherwise runs Finalize (when Initialize ran), and raises
///      EPackageError with the reason: the target registry is as it was.
/// Unloading withdraws the package's entries and runs Finalize.
///
/// A package's code stays mapped until the process ends, also after it is
/// unloaded: the classes its units published into the framework's class
/// registry, and the objects of its runtime, live that long.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "Framework/Designer.h"
#include "Framework/SysUtils.h"
#include "Framework/DesignExport.h"

extern "C" {

/// The layout of TPackageInfoTable this framework reads.
#define FRAMEWORK_PACKAGE_TABLE_VERSION 1u

/// TPackageInfoTable::Flags.
#define FRAMEWORK_PACKAGE_RUN_ONLY 0x1u     ///< for applications only, never loaded by a designer
#define FRAMEWORK_PACKAGE_DESIGN_ONLY 0x2u  ///< for designers only, never linked into an application

/// One unit of a package. Initialization and Finalization may be null; so
/// is Register for a unit that registers nothing.
struct TPackageUnit {
    const char16_t* Name;          ///< the unit's name
    void (*Initialization)(void);  ///< the unit's initialization, run by Initialize
    void (*Finalization)(void);    ///< the unit's finalization, run by Finalize
    void (*Register)(void);        ///< registers the unit's classes and editors, when a designer loads it
};

/// A resource the package carries: a palette bitmap is type u"BITMAP",
/// named after its class in upper case, and holds a device-independent
/// bitmap (a BMP file without its 14-byte file header).
struct TPackageResource {
    const char16_t* Name;       ///< the resource's name
    const char16_t* Type;       ///< its type (u"BITMAP")
    const unsigned char* Data;  ///< its bytes
    size_t Size;                ///< the number of bytes
};

/// What a package tells about itself: the table its exported entry point
/// returns.
struct TPackageInfoTable {
    uint32_t Version;                   ///< FRAMEWORK_PACKAGE_TABLE_VERSION
    uint32_t Flags;                     ///< FRAMEWORK_PACKAGE_* bits
    const char16_t* Description;        ///< the package's description, for designers
    uint32_t UnitCount;                 ///< the number of Units
    const TPackageUnit* Units;          ///< the units the package contains, in its order
    uint32_t RequiresCount;             ///< the number of Requires
    const char16_t* const* Requires;    ///< names of the packages it requires
    uint32_t ResourceCount;             ///< the number of Resources
    const TPackageResource* Resources;  ///< the resources the package carries
};

/// The package's function that returns its information table.
typedef const TPackageInfoTable* (*TGetPackageInfoTableProc)(void);
/// The package's initialization and finalization functions.
typedef void (*TPackageProc)(void);

}  // extern "C"

namespace Framework {

/// A package could not be loaded or registered; the message says why.
class CORVANE_DESIGN_EXPORT EPackageError : public Exception {
public:
    /// An error with the message Msg.
    using Exception::Exception;
};

/// A loaded package. Destroying it unloads it (see the header comment).
class CORVANE_DESIGN_EXPORT TPackage {
public:
    ~TPackage();
    TPackage(const TPackage&) = delete;
    TPackage& operator=(const TPackage&) = delete;

    /// The file the package was loaded from.
    const UnicodeString& FileName() const noexcept { return FFileName; }
    /// The package's information table.
    const TPackageInfoTable& Info() const noexcept { return *FInfo; }
    /// The package's description (empty when it has none).
    UnicodeString Description() const;
    /// Whether the package is for designers only.
    bool DesignOnly() const noexcept { return (FInfo->Flags & FRAMEWORK_PACKAGE_DESIGN_ONLY) != 0; }
    /// The names of its units, in its order.
    std::vector<UnicodeString> Units() const;
    /// The names of the packages it requires.
    std::vector<UnicodeString> Requires() const;
    /// The resource of that type and name (names ignore ASCII case), or null.
    const TPackageResource* Resource(const UnicodeString& type, const UnicodeString& name) const noexcept;

private:
    friend std::unique_ptr<TPackage> LoadPackage(const UnicodeString&, TDesignRegistry&);
    TPackage() = default;

    UnicodeString FFileName;
    void* FModule = nullptr;
    const TPackageInfoTable* FInfo = nullptr;
    TPackageProc FFinalize = nullptr;
    TDesignRegistry* FRegistry = nullptr;
    int FId = 0;
};

/// Loads the package in the file Path (a path, or a bare file name the
/// system's library search finds) and registers it into Registry, which
/// must outlive the returned package. EPackageError, with Registry
/// unchanged, when it cannot, also when the package is loaded already.
CORVANE_DESIGN_EXPORT std::unique_ptr<TPackage> LoadPackage(const UnicodeString& path,
                                                            TDesignRegistry& registry = DesignRegistry());

/// The file name of a package called Name on this system: "libName.so",
/// "Name.dll".
CORVANE_DESIGN_EXPORT UnicodeString PackageFileName(const UnicodeString& name);

}  // namespace Framework
