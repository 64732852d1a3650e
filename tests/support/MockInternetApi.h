// A GoogleMock InternetApi for unit tests of the components.
//
// Install it for the length of a test:
//
//     testing::NiceMock<MockInternetApi> api;
//     Corvane::ScopedInternetApi use(api);
//
// The mock keeps a last error of its own, per thread: by default
// GetLastError reads it and SetLastError writes it, so a test can still
// EXPECT_CALL(api, SetLastError(0)) and a scripted failure reads back as it
// would from the platform. Script a failure with Fail(code), which sets that
// last error and returns the failure value InternetApi.def gives the call
// (FALSE, a null handle, INTERNET_INVALID_STATUS_CALLBACK, INVALID_FILE_SIZE,
// or the code itself where the result is an error code):
//
//     EXPECT_CALL(api, InternetOpenW(_, _, _, _, _))
//         .WillOnce(api.Fail(ERROR_INTERNET_NAME_NOT_RESOLVED));
#pragma once

#include <Platform/InternetApi.h>

#include <gmock/gmock.h>

#include <map>
#include <mutex>
#include <thread>
#include <type_traits>

class MockInternetApi : public Corvane::InternetApi {
public:
    /// What a seam function whose signature is Return(Parameters...) returns
    /// when it fails with `error`, as InternetApi.def lists it (FALSE, a null
    /// handle, INVALID_FILE_SIZE, the error code itself, ...). The mock's
    /// actions see a call's signature, not the method's name, so seam
    /// functions of one signature must share their failure value.
#if defined(__GNUC__)
#pragma GCC diagnostic push
// mingw-w64's va_list (in FormatMessageW's signature) has an attribute that
// a template argument drops; the comparison does not depend on it.
#pragma GCC diagnostic ignored "-Wignored-attributes"
#endif
    template <typename Return, typename... Parameters>
    static Return FailureValue([[maybe_unused]] DWORD error) {
        using Signature = Return(Parameters...);
#define CORVANE_INTERNET_API(R, Name, Params, Args, Failure) \
    if constexpr (std::is_same_v<Signature, R Params>)       \
        return Failure;                                      \
    else
#include <Platform/InternetApi.def>
#undef CORVANE_INTERNET_API
        static_assert(kNotASeamSignature<Signature>, "no seam function has this signature");
    }
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

    /// Converts to the failure value of the call that got arguments of the
    /// types `Parameters`.
    template <typename... Parameters>
    struct FailureResult {
        DWORD error;
        template <typename Return>
        operator Return() const {
            return FailureValue<Return, Parameters...>(error);
        }
    };

    MockInternetApi() {
        using testing::_;
        ON_CALL(*this, GetLastError()).WillByDefault([this] { return LastError(); });
        ON_CALL(*this, SetLastError(_)).WillByDefault([this](DWORD code) { SetMockLastError(code); });
    }

#define CORVANE_INTERNET_API(Return, Name, Parameters, Arguments, Failure) \
    MOCK_METHOD(Return, Name, Parameters, (override));
#include <Platform/InternetApi.def>
#undef CORVANE_INTERNET_API

    /// The mock's last error on the calling thread (0 until set).
    DWORD LastError() const {
        std::lock_guard<std::mutex> lock(FMutex);
        auto it = FLastErrors.find(std::this_thread::get_id());
        return it == FLastErrors.end() ? 0 : it->second;
    }

    /// Sets the mock's last error on the calling thread, without going
    /// through the mocked SetLastError (so no expectation sees it).
    void SetMockLastError(DWORD code) {
        std::lock_guard<std::mutex> lock(FMutex);
        FLastErrors[std::this_thread::get_id()] = code;
    }

    /// An action for any mocked call: sets the mock's last error on the
    /// calling thread to `code` and returns the call's failure value.
    auto Fail(DWORD code) {
        return [this, code](auto&&... arguments) {
            SetMockLastError(code);
            return FailureResult<std::decay_t<decltype(arguments)>...>{code};
        };
    }

private:
    template <typename>
    static constexpr bool kNotASeamSignature = false;

    mutable std::mutex FMutex;
    std::map<std::thread::id, DWORD> FLastErrors;
};
