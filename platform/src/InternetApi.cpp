// The forwarding InternetApi and the process-wide slot that Platform() reads.
#include <Platform/InternetApi.h>

#include <atomic>
#include <string_view>
#include <type_traits>

#if defined(_WIN32)
#include "windows/WinInetAdapter.h"
#endif

namespace Corvane {

namespace {

// On Windows the forwarding goes through the adapter, which converts where
// wininet.dll's conventions differ from the contract.
InternetApi& DefaultApi() {
#if defined(_WIN32)
    static WinInetAdapter api;
#else
    static ForwardingInternetApi api;
#endif
    return api;
}

// Null means "the default"; an atomic so a scope installed on one thread is
// seen by calls made on another (asynchronous status callbacks, for one).
std::atomic<InternetApi*> InstalledApi{nullptr};

// The C functions the forwarding calls: the contract header's.
namespace Native {
#define CORVANE_INTERNET_API(Return, Name, Parameters, Arguments, Failure) using ::Name;
#include <Platform/InternetApi.def>
#undef CORVANE_INTERNET_API
#if defined(_WIN32)
// wininet.h declares the URL without const; the function only reads it.
BOOL InternetGoOnlineW(LPCWSTR lpszURL, HWND hwndParent, DWORD dwFlags) {
    return ::InternetGoOnlineW(const_cast<LPWSTR>(lpszURL), hwndParent, dwFlags);
}
#endif
}  // namespace Native

// The name a parameter declares or an argument passes: its last identifier.
constexpr std::string_view LastIdentifier(std::string_view item) {
    const auto isIdentifier = [](char c) {
        return c == '_' || (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    };
    std::size_t end = item.size();
    while (end > 0 && !isIdentifier(item[end - 1])) --end;
    std::size_t begin = end;
    while (begin > 0 && isIdentifier(item[begin - 1])) --begin;
    return item.substr(begin, end - begin);
}

// Whether a parenthesized argument list passes the parameters of a
// parenthesized parameter list, each once and in their order, so an entry of
// InternetApi.def cannot forward two arguments of one type swapped.
constexpr bool PassesInOrder(std::string_view parameters, std::string_view arguments) {
    parameters = parameters.substr(1, parameters.size() - 2);
    arguments = arguments.substr(1, arguments.size() - 2);
    for (;;) {
        const std::size_t p = parameters.find(',');
        const std::size_t a = arguments.find(',');
        if (LastIdentifier(parameters.substr(0, p)) != LastIdentifier(arguments.substr(0, a))) return false;
        if (p == std::string_view::npos || a == std::string_view::npos) return p == a;
        parameters.remove_prefix(p + 1);
        arguments.remove_prefix(a + 1);
    }
}

#define CORVANE_INTERNET_API(Return, Name, Parameters, Arguments, Failure) \
    static_assert(PassesInOrder(#Parameters, #Arguments), #Name ": arguments differ from parameters");
#include <Platform/InternetApi.def>
#undef CORVANE_INTERNET_API

#if !defined(_WIN32)
// The list against the contract header: the same type for every function.
// (wininet.h declares a few with other but compatible types, such as a
// pointer without const, so this holds only for the portable backend.)
#define CORVANE_INTERNET_API(Return, Name, Parameters, Arguments, Failure) \
    static_assert(std::is_same_v<decltype(::Name), Return Parameters>,     \
                  #Name ": the seam's signature differs from the contract header's");
#include <Platform/InternetApi.def>
#undef CORVANE_INTERNET_API
#endif

}  // namespace

InternetApi& Platform() {
    InternetApi* api = InstalledApi.load(std::memory_order_acquire);
    return api ? *api : DefaultApi();
}

ScopedInternetApi::ScopedInternetApi(InternetApi& api)
    : FPrevious(InstalledApi.exchange(&api, std::memory_order_acq_rel)) {}

ScopedInternetApi::~ScopedInternetApi() {
    InstalledApi.store(FPrevious, std::memory_order_release);
}

// Each method calls the C function of its name (Native, above).
#define CORVANE_INTERNET_API(Return, Name, Parameters, Arguments, Failure) \
    Return ForwardingInternetApi::Name Parameters {                        \
        return Native::Name Arguments;                                     \
    }
#include <Platform/InternetApi.def>
#undef CORVANE_INTERNET_API

}  // namespace Corvane
