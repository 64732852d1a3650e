// The package loader: loads a design-time package, checks its table, runs
// its initialization and registration into a staging registry, and adopts
// what it registered only when all of that succeeded.
#include <atomic>
#include <mutex>
#include <set>

#include <Framework/Packages.h>

#include "DesignConsts.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace Framework {

namespace {

UnicodeString Text(const char16_t* text) {
    return text == nullptr ? UnicodeString() : UnicodeString(text);
}

// The operating system's side: load a library and pin it (its code stays
// mapped until the process ends), find a symbol, say why loading failed.
#ifdef _WIN32
void* OpenLibrary(const UnicodeString& path, UnicodeString& error) {
    HMODULE module = LoadLibraryW(reinterpret_cast<const wchar_t*>(path.c_str()));
    if (module == nullptr) {
        error = SysErrorMessage(static_cast<Cardinal>(GetLastError()));
        return nullptr;
    }
    HMODULE pinned = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                       reinterpret_cast<LPCWSTR>(module), &pinned);
    return module;
}
void* FindSymbol(void* module, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(module), name));
}
#else
void* OpenLibrary(const UnicodeString& path, UnicodeString& error) {
    void* module = dlopen(Utf16ToUtf8(path).c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    if (module == nullptr) {
        const char* reason = dlerror();
        error = reason == nullptr ? UnicodeString(u"unknown error") : Utf8ToUtf16(reason);
    }
    return module;
}
void* FindSymbol(void* module, const char* name) {
    return dlsym(module, name);
}
#endif

// Drops the loader's reference; a pinned library stays mapped.
void CloseLibrary(void* module) noexcept {
#ifdef _WIN32
    FreeLibrary(static_cast<HMODULE>(module));
#else
    dlclose(module);
#endif
}

UnicodeString ErrorText(std::exception_ptr error) {
    try {
        std::rethrow_exception(error);
    } catch (const Exception& e) {
        return e.Message();
    } catch (const std::exception& e) {
        return Utf8ToUtf16(e.what());
    } catch (...) {
        return u"unknown exception";
    }
}

std::atomic<int> NextPackageId{1};

// The modules loaded as packages: loading one again would run its units a
// second time and put its editors in twice.
std::mutex LoadedLock;
std::set<void*> Loaded;

}  // namespace

std::unique_ptr<TPackage> LoadPackage(const UnicodeString& path, TDesignRegistry& registry) {
    UnicodeString reason;
    void* module = OpenLibrary(path, reason);
    if (module == nullptr)
        throw EPackageError(Format(LoadResString(DesignConsts::SPackageLoad), {path, reason}));

    {
        std::lock_guard guard(LoadedLock);
        if (!Loaded.insert(module).second) {
            CloseLibrary(module);
            throw EPackageError(Format(LoadResString(DesignConsts::SPackageLoaded), {path}));
        }
    }
    // From here on a refusal also forgets the module.
    auto refuse = [module](const UnicodeString& message) {
        {
            std::lock_guard guard(LoadedLock);
            Loaded.erase(module);
        }
        CloseLibrary(module);
        throw EPackageError(message);
    };
    TGetPackageInfoTableProc getTable = nullptr;
    TPackageProc initialize = nullptr;
    TPackageProc finalize = nullptr;
    const char* missing = nullptr;
    if ((getTable = reinterpret_cast<TGetPackageInfoTableProc>(FindSymbol(module, "GetPackageInfoTable"))) ==
        nullptr)
        missing = "GetPackageInfoTable";
    else if ((initialize = reinterpret_cast<TPackageProc>(FindSymbol(module, "Initialize"))) == nullptr)
        missing = "Initialize";
    else if ((finalize = reinterpret_cast<TPackageProc>(FindSymbol(module, "Finalize"))) == nullptr)
        missing = "Finalize";
    if (missing != nullptr)
        refuse(Format(LoadResString(DesignConsts::SPackageNoEntry), {path, Utf8ToUtf16(missing)}));

    const TPackageInfoTable* table = nullptr;
    try {
        table = getTable();
    } catch (...) {
        refuse(Format(LoadResString(DesignConsts::SPackageNoTable), {path}));
    }
    if (table == nullptr) refuse(Format(LoadResString(DesignConsts::SPackageNoTable), {path}));
    if (table->Version != FRAMEWORK_PACKAGE_TABLE_VERSION)
        refuse(Format(LoadResString(DesignConsts::SPackageVersion),
                      {path, IntToStr(table->Version), IntToStr(FRAMEWORK_PACKAGE_TABLE_VERSION)}));

    // Initialize, then register, into a staging registry; the target sees
    // the package only when every step succeeded. A unit that registers in
    // its initialization is staged too.
    TDesignRegistry staging;
    try {
        TRegistrationTarget target(staging);
        initialize();
    } catch (...) {
        refuse(Format(LoadResString(DesignConsts::SPackageInitialize),
                      {path, ErrorText(std::current_exception())}));
    }
    for (uint32_t i = 0; i < table->UnitCount; ++i) {
        const TPackageUnit& unit = table->Units[i];
        if (unit.Register == nullptr) continue;
        try {
            TRegistrationTarget target(staging);
            unit.Register();
        } catch (...) {
            const UnicodeString why = ErrorText(std::current_exception());
            try {
                finalize();
            } catch (...) {
                // The registration's failure is the one reported.
            }
            refuse(Format(LoadResString(DesignConsts::SPackageRegister), {path, Text(unit.Name), why}));
        }
    }

    std::unique_ptr<TPackage> package(new TPackage);
    package->FFileName = path;
    package->FModule = module;
    package->FInfo = table;
    package->FFinalize = finalize;
    package->FRegistry = &registry;
    package->FId = NextPackageId++;
    registry.Adopt(staging, package->FId);
    return package;
}

TPackage::~TPackage() {
    FRegistry->Withdraw(FId);
    try {
        FFinalize();
    } catch (...) {
        // A destructor reports nothing; the package is unloaded regardless.
    }
    {
        std::lock_guard guard(LoadedLock);
        Loaded.erase(FModule);
    }
    CloseLibrary(FModule);
}

UnicodeString TPackage::Description() const {
    return Text(FInfo->Description);
}

std::vector<UnicodeString> TPackage::Units() const {
    std::vector<UnicodeString> result;
    for (uint32_t i = 0; i < FInfo->UnitCount; ++i) result.push_back(Text(FInfo->Units[i].Name));
    return result;
}

std::vector<UnicodeString> TPackage::Requires() const {
    std::vector<UnicodeString> result;
    for (uint32_t i = 0; i < FInfo->RequiresCount; ++i) result.push_back(Text(FInfo->Requires[i]));
    return result;
}

const TPackageResource* TPackage::Resource(const UnicodeString& type,
                                           const UnicodeString& name) const noexcept {
    for (uint32_t i = 0; i < FInfo->ResourceCount; ++i) {
        const TPackageResource& r = FInfo->Resources[i];
        if (SameText(Text(r.Type), type) && SameText(Text(r.Name), name)) return &r;
    }
    return nullptr;
}

UnicodeString PackageFileName(const UnicodeString& name) {
#ifdef _WIN32
    return name + u".dll";
#else
    return u"lib" + name + u".so";
#endif
}

}  // namespace Framework
