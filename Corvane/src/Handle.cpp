#include "Corvane/Handle.h"

#include <condition_variable>
#include <map>
#include <mutex>

#include <Framework/Forms.h>
#include <Platform/InternetApi.h>

#include "AboutText.h"
#include "Corvane/Session.h"
#include "PlatformText.h"
#include "SizedText.h"

namespace Corvane {

// The last completion of each handle a call waits on, numbered so that a
// wait takes only a completion that came after its call began.
struct TINetHandle::TCompletions {
    std::mutex Mutex;
    std::condition_variable Changed;
    std::uint64_t Sequence = 0;
    // Raised by CancelWaits: waits begun before it end.
    std::uint64_t Cancelled = 0;
    struct TLast {
        std::uint64_t Sequence;
        INTERNET_ASYNC_RESULT Result;
    };
    std::map<HINTERNET, TLast> Last;
};

TINetHandle::TINetHandle(TComponent* owner)
    : TComponent(owner), FCompletions(std::make_unique<TCompletions>()) {}

TINetHandle::~TINetHandle() {
    CloseOnDestroy();
}

void TINetHandle::Open() {
    if (Active()) return;
    if (FBeforeOpen) FBeforeOpen(this);
    CreateHandle();
    if (FAfterOpen) FAfterOpen(this);
}

void TINetHandle::Close() {
    if (!Active()) return;
    if (FBeforeClose) FBeforeClose(this);
    FreeHandle();
    if (FAfterClose) FAfterClose(this);
}

// Destructors may not throw: a failing close is shown like any other
// unhandled error, and a handle kept by a refusing BeforeClose handler is
// released without events so that no callback can reach a freed component.
void TINetHandle::CloseOnDestroy() noexcept {
    try {
        Close();
    } catch (...) {
        Framework::Application().HandleException(this);
    }
    if (FHandle != nullptr) {
        Platform().InternetSetStatusCallback(FHandle, nullptr);
        CloseInternetHandle(FHandle);
    }
}

void TINetHandle::SetActive(bool value) {
    if (value && ComponentState().Contains(Framework::csReading)) {
        FStreamedActive = true;
        return;
    }
    if (value)
        Open();
    else
        Close();
}

UnicodeString TINetHandle::About() const {
    return AboutText;
}

void TINetHandle::SetAbout(const UnicodeString&) {}

void TINetHandle::CheckActive() {
    if (!Active()) RaiseError(Framework::LoadResString(SINetClosedSession));
}

void TINetHandle::CheckInactive() {
    if (Active()) RaiseError(Framework::LoadResString(SINetOpenSession));
}

// The error is raised and caught here so that OnError sees the very object
// that propagates afterwards, including any change it made to the message.
void TINetHandle::RaiseError(const UnicodeString& message) {
    try {
        throw EINetError(message);
    } catch (EINetError& e) {
        TINetAction action = iaFail;
        if (FOnError) FOnError(this, e, action);
        if (action == iaAbort) Framework::Abort();
        throw;
    }
}

void TINetHandle::CreateHandle() {
    FreeHandle();
    Platform().SetLastError(0);
    FHandle = CreateInternalHandle();
    Check(FHandle != nullptr);
    if (FHandle != nullptr) Platform().InternetSetStatusCallback(FHandle, &StatusCallback);
}

void TINetHandle::FreeHandle() {
    if (FHandle != nullptr) Platform().InternetSetStatusCallback(FHandle, nullptr);
    const bool closed = CloseInternetHandle(FHandle);
    CancelWaits();
    Check(closed);
}

bool TINetHandle::Synchronously(HINTERNET handle, const std::function<bool()>& call) {
    std::uint64_t since;
    {
        std::lock_guard<std::mutex> lock(FCompletions->Mutex);
        since = FCompletions->Sequence;
    }
    if (call()) return true;
    InternetApi& api = Platform();
    if (api.GetLastError() != ERROR_IO_PENDING) return false;
    std::unique_lock<std::mutex> lock(FCompletions->Mutex);
    const std::uint64_t cancelled = FCompletions->Cancelled;
    for (;;) {
        const auto found = FCompletions->Last.find(handle);
        if (found != FCompletions->Last.end() && found->second.Sequence > since) {
            const INTERNET_ASYNC_RESULT result = found->second.Result;
            lock.unlock();
            if (result.dwResult != 0) return true;
            api.SetLastError(result.dwError);
            return false;
        }
        if (FCompletions->Cancelled != cancelled) {
            lock.unlock();
            api.SetLastError(ERROR_INTERNET_OPERATION_CANCELLED);
            return false;
        }
        FCompletions->Changed.wait(lock);
    }
}

void TINetHandle::CancelWaits() {
    std::lock_guard<std::mutex> lock(FCompletions->Mutex);
    ++FCompletions->Cancelled;
    FCompletions->Last.clear();
    FCompletions->Changed.notify_all();
}

void TINetHandle::Callback(Cardinal status, void* information, Cardinal informationLength) {
    try {
        if (FOnCallback)
            FOnCallback(this, static_cast<Integer>(status), information,
                        static_cast<Integer>(informationLength));
    } catch (...) {
        // Nothing may unwind into the library, whatever the handler threw.
        Framework::Application().HandleException(this);
    }
}

void TINetHandle::Loaded() {
    TComponent::Loaded();
    if (!FStreamedActive) return;
    try {
        Open();
    } catch (...) {
        if (!ComponentState().Contains(Framework::csDesigning)) throw;
        Framework::Application().HandleException(this);
    }
}

UnicodeString TINetHandle::GetInternetOption(Cardinal option) {
    CheckActive();
    return ReadSizedText(
        [&](char16_t* buffer, DWORD* size) {
            return Platform().InternetQueryOptionW(FHandle, option, buffer, size);
        },
        TSizedTextFailure::Check);
}

void TINetHandle::SetInternetOption(Cardinal option, const UnicodeString& data) {
    CheckActive();
    if (data.empty())
        Check(Platform().InternetSetOptionW(FHandle, option, nullptr, 0));
    else
        Check(Platform().InternetSetOptionW(FHandle, option, const_cast<WCHAR*>(PlatformText(data.c_str())),
                                            static_cast<DWORD>(data.size())));
}

void TINetHandle::GetInternetOption(Cardinal option, void* data, Cardinal& size) {
    CheckActive();
    DWORD bufferSize = size;
    const bool success = Platform().InternetQueryOptionW(FHandle, option, data, &bufferSize);
    size = bufferSize;
    Check(success);
}

void TINetHandle::SetInternetOption(Cardinal option, void* data, Cardinal size) {
    CheckActive();
    Check(Platform().InternetSetOptionW(FHandle, option, data, size));
}

Cardinal TINetHandle::GetInternetOptionDWord(Cardinal option) {
    CheckActive();
    DWORD value = 0;
    DWORD size = sizeof(value);
    if (!Platform().InternetQueryOptionW(FHandle, option, &value, &size)) {
        Check(false);
        return 0;
    }
    return value;
}

void TINetHandle::SetInternetOptionDWord(Cardinal option, Cardinal data) {
    CheckActive();
    DWORD value = data;
    Check(Platform().InternetSetOptionW(FHandle, option, &value, sizeof(value)));
}

bool CloseInternetHandle(HINTERNET& handle) {
    if (handle == nullptr) return true;
    const bool success = Platform().InternetCloseHandle(handle);
    handle = nullptr;
    return success;
}

void CALLBACK StatusCallback(HINTERNET hInternet, DWORD_PTR dwContext, DWORD dwInternetStatus,
                             LPVOID lpvStatusInformation, DWORD dwStatusInformationLength) {
    if (dwContext == 0) return;
    auto* component = reinterpret_cast<TINetHandle*>(dwContext);
    try {
        component->Callback(dwInternetStatus, lpvStatusInformation, dwStatusInformationLength);
    } catch (...) {
        Framework::Application().HandleException(component);
    }
    // After OnCallback has seen it, a completion ends the wait of the call
    // that started it.
    if (dwInternetStatus == INTERNET_STATUS_REQUEST_COMPLETE && lpvStatusInformation &&
        dwStatusInformationLength >= sizeof(INTERNET_ASYNC_RESULT)) {
        TINetHandle::TCompletions& completions = *component->FCompletions;
        std::lock_guard<std::mutex> lock(completions.Mutex);
        completions.Last[hInternet] = {++completions.Sequence,
                                       *static_cast<const INTERNET_ASYNC_RESULT*>(lpvStatusInformation)};
        completions.Changed.notify_all();
    }
}

}  // namespace Corvane
