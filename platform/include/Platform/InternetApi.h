// The seam between the components and the platform's Internet API.
//
// Components never call the C functions of <Platform/WinInet.h> directly: they
// call Platform(), an InternetApi with one method per platform function, named
// and typed exactly as the C function. The default implementation forwards to
// the C functions of the platform in use (the portable backend, or
// wininet.dll on Windows); unit tests install a scripted implementation with
// ScopedInternetApi.
//
// The methods are made from one list, <Platform/InternetApi.def>, which
// carries every function of the contract header: adding a platform function
// to the seam is one entry there.
#pragma once

#include <Platform/WinInet.h>

#include "Platform/PlatformExport.h"

namespace Corvane {

/// One method per platform function (see InternetApi.def). Every method
/// behaves as the C function of the same name does, including what it leaves
/// in the calling thread's last error.
class CORVANE_PLATFORM_EXPORT InternetApi {
public:
    virtual ~InternetApi() = default;

#define CORVANE_INTERNET_API(Return, Name, Parameters, Arguments, Failure) virtual Return Name Parameters = 0;
#include <Platform/InternetApi.def>
#undef CORVANE_INTERNET_API

protected:
    InternetApi() = default;
    InternetApi(const InternetApi&) = default;
    InternetApi& operator=(const InternetApi&) = default;
};

/// The default implementation: each method calls the C function of the same
/// name of the platform in use.
class CORVANE_PLATFORM_EXPORT ForwardingInternetApi : public InternetApi {
public:
#define CORVANE_INTERNET_API(Return, Name, Parameters, Arguments, Failure) Return Name Parameters override;
#include <Platform/InternetApi.def>
#undef CORVANE_INTERNET_API
};

/// The implementation installed for the process: the forwarding one unless a
/// ScopedInternetApi has replaced it.
CORVANE_PLATFORM_EXPORT InternetApi& Platform();

/// For tests: installs `api` as the process's InternetApi for the lifetime of
/// this object and restores the previously installed one when destroyed.
/// Scopes nest (restore in reverse order of creation). `api` must outlive the
/// scope. Typical use:
///
///     testing::NiceMock<MockInternetApi> api;
///     Corvane::ScopedInternetApi use(api);
class CORVANE_PLATFORM_EXPORT ScopedInternetApi {
public:
    explicit ScopedInternetApi(InternetApi& api);
    ~ScopedInternetApi();
    ScopedInternetApi(const ScopedInternetApi&) = delete;
    ScopedInternetApi& operator=(const ScopedInternetApi&) = delete;

private:
    InternetApi* FPrevious;
};

}  // namespace Corvane
