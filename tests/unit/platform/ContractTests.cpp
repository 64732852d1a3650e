// The whole contract is there: every function of <Platform/WinInet.h> is in
// the seam's list and links (on Windows against wininet.dll and kernel32),
// the portable backend answers the ones it does not carry yet as failing
// calls with ERROR_CALL_NOT_IMPLEMENTED, directly and through the seam, and
// the mock fails every seam function with its listed failure value.
#include "MockInternetApi.h"
#include "PlatformDifferences.h"

#include <Platform/InternetApi.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <type_traits>

namespace {

// What each function returns when it fails with `error`, by name.
namespace Failures {
#define CORVANE_INTERNET_API(Return, Name, Parameters, Arguments, Failure) \
    Return Name([[maybe_unused]] DWORD error) {                            \
        return Failure;                                                    \
    }
#include <Platform/InternetApi.def>
#undef CORVANE_INTERNET_API
}  // namespace Failures

// Every function of the list with its address: this program links against
// all of them.
const struct {
    const char* Name;
    std::uintptr_t Address;
} kFunctions[] = {
#define CORVANE_INTERNET_API(Return, Name, Parameters, Arguments, Failure) \
    {#Name, reinterpret_cast<std::uintptr_t>(&::Name)},
#include <Platform/InternetApi.def>
#undef CORVANE_INTERNET_API
};

// The functions the contract header declares, read from the header itself.
std::set<std::string> FunctionsOfTheHeader() {
    std::ifstream in(CORVANE_WININET_HEADER);
    std::stringstream content;
    content << in.rdbuf();
    const std::string text = content.str();
    const std::regex declaration(R"(\bWINAPI\s+(\w+)\s*\()");
    std::set<std::string> names;
    for (auto it = std::sregex_iterator(text.begin(), text.end(), declaration); it != std::sregex_iterator();
         ++it)
        names.insert((*it)[1].str());
    return names;
}

TEST(Contract, EveryDeclaredFunctionLinksAndIsInTheSeam) {
    std::set<std::string> listed;
    for (const auto& function : kFunctions) {
        EXPECT_NE(function.Address, 0u) << function.Name;
        EXPECT_TRUE(listed.insert(function.Name).second) << function.Name << " listed twice";
    }
    // The header is read from the build machine's tree, which a Windows
    // program cannot count on reaching.
    if (PlatformDifferences::OnWindowsApi()) return;
    const auto declared = FunctionsOfTheHeader();
    ASSERT_GT(declared.size(), 50u) << "could not read " << CORVANE_WININET_HEADER;
    EXPECT_EQ(listed, declared);
}

// Calls `function` and the seam's `method` with zero and null arguments, and
// expects both to fail as `failure` says, with ERROR_CALL_NOT_IMPLEMENTED.
template <typename Return, typename... FunctionParameters, typename... MethodParameters>
void ExpectNotImplemented(const char* name, Return(WINAPI* function)(FunctionParameters...),
                          Return (Corvane::InternetApi::*method)(MethodParameters...),
                          Return (*failure)(DWORD)) {
    SCOPED_TRACE(name);
    const Return expected = failure(ERROR_CALL_NOT_IMPLEMENTED);
    ::SetLastError(ERROR_SUCCESS);
    EXPECT_EQ(function(FunctionParameters{}...), expected);
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_CALL_NOT_IMPLEMENTED));
    ::SetLastError(ERROR_SUCCESS);
    EXPECT_EQ((Corvane::Platform().*method)(MethodParameters{}...), expected);
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_CALL_NOT_IMPLEMENTED));
}

TEST(Contract, FunctionsNotBuiltYetFailWithCallNotImplemented) {
    if (PlatformDifferences::OnWindowsApi()) GTEST_SKIP() << "wininet.dll carries these functions";
#define NOT_BUILT(Name) ExpectNotImplemented(#Name, &::Name, &Corvane::InternetApi::Name, &Failures::Name)
    NOT_BUILT(InternetSetFilePointer);
#undef NOT_BUILT
}

// Calls the mock's `method` with zero and null arguments after scripting it
// with Fail(code), and expects `failure`'s value and the mock's last error.
template <typename Return, typename... Parameters>
void ExpectMockFailure(const char* name, MockInternetApi& api,
                       Return (Corvane::InternetApi::*method)(Parameters...), Return (*failure)(DWORD),
                       DWORD code) {
    SCOPED_TRACE(name);
    api.SetMockLastError(ERROR_SUCCESS);
    if constexpr (std::is_void_v<Return>)
        (api.*method)(Parameters{}...);
    else
        EXPECT_EQ((api.*method)(Parameters{}...), failure(code));
    EXPECT_EQ(api.LastError(), code);
}

TEST(Contract, MockFailsEverySeamFunctionWithItsFailureValue) {
    MockInternetApi api;
    constexpr DWORD kCode = ERROR_INTERNET_TIMEOUT;
#define CORVANE_INTERNET_API(Return, Name, Parameters, Arguments, Failure) \
    EXPECT_CALL(api, Name).WillOnce(api.Fail(kCode));                      \
    ExpectMockFailure(#Name, api, &Corvane::InternetApi::Name, &Failures::Name, kCode);
#include <Platform/InternetApi.def>
#undef CORVANE_INTERNET_API
}

}  // namespace
