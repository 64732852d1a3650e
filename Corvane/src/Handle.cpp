#include "Corvane/Handle.h"

#include <algorithm>
#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <vector>

#include <Framework/Forms.h>
#include <Platform/InternetApi.h>

#include "AboutText.h"
#include "Corvane/Session.h"
#include "PlatformText.h"
#include "SizedText.h"

namespace Corvane {

// What the component knows of each handle's asynchronous calls: how many of
// its calls on it are pending (completions come in call order, so a call
// that waits knows its completion as the one after those), how many
// completions arrived, the last one, and cancellations by a close.
struct TINetHandle::TCompletions {
    std::mutex Mutex;
    std::condition_variable Changed;
    struct TState {
        int Outstanding = 0;
        std::uint64_t Completed = 0;
        std::uint64_t Cancels = 0;
        INTERNET_ASYNC_RESULT Last{};
    };
    // Key null: a call whose completion comes on a handle it makes (an FTP
    // connection), taken by the first completion on a handle with no call
    // of the component pending.
    std::map<HINTERNET, TState> Handles;

    void Record(HINTERNET handle, const INTERNET_ASYNC_RESULT& result) {
        std::lock_guard<std::mutex> lock(Mutex);
        auto found = Handles.find(handle);
        if (found == Handles.end() || found->second.Outstanding == 0) {
            const auto any = Handles.find(nullptr);
            if (any != Handles.end() && any->second.Outstanding > 0) found = any;
        }
        TState& state = found != Handles.end() ? found->second : Handles[handle];
        state.Last = result;
        ++state.Completed;
        if (state.Outstanding > 0) --state.Outstanding;
        Changed.notify_all();
    }
};

namespace {

// The components a status callback may reach. Beneath an asynchronous
// session the platform may call back from its own threads after
// InternetCloseHandle returned (Windows reports a cancelled operation and
// HANDLE_CLOSING that way), and a thread whose wait a callback ended may
// destroy the component while that callback is still running. So a
// callback reaches a component only while the component is listed, and a
// component leaving the list waits for the callbacks other threads run on it.
struct TLiveComponents {
    std::mutex Mutex;
    std::condition_variable Idle;
    // Each listed component with the threads running a callback on it.
    std::unordered_map<const TINetHandle*, std::vector<std::thread::id>> Running;

    void Enter(const TINetHandle* component) {
        // Room for a few nested callbacks up front, so that marking one
        // seldom allocates (a mark that cannot be made drops the callback).
        std::vector<std::thread::id> threads;
        threads.reserve(4);
        std::lock_guard<std::mutex> lock(Mutex);
        Running.emplace(component, std::move(threads));
    }

    // Unlists the component once no other thread runs a callback on it. A
    // callback that destroys its own component does not wait for itself.
    void Leave(const TINetHandle* component) noexcept {
        std::unique_lock<std::mutex> lock(Mutex);
        const std::thread::id self = std::this_thread::get_id();
        Idle.wait(lock, [&] {
            const auto found = Running.find(component);
            return found == Running.end() || std::all_of(found->second.begin(), found->second.end(),
                                                         [&](std::thread::id id) { return id == self; });
        });
        Running.erase(component);
    }

    // Marks this thread as running a callback on the component: false when
    // the component is not listed (gone, or going).
    bool Begin(const TINetHandle* component) {
        std::lock_guard<std::mutex> lock(Mutex);
        const auto found = Running.find(component);
        if (found == Running.end()) return false;
        found->second.push_back(std::this_thread::get_id());
        return true;
    }

    // Whether the component is still listed with this thread's mark (its
    // own callback did not destroy it).
    bool Still(const TINetHandle* component) {
        std::lock_guard<std::mutex> lock(Mutex);
        const auto found = Running.find(component);
        return found != Running.end() && std::find(found->second.begin(), found->second.end(),
                                                   std::this_thread::get_id()) != found->second.end();
    }

    void End(const TINetHandle* component) noexcept {
        {
            std::lock_guard<std::mutex> lock(Mutex);
            const auto found = Running.find(component);
            if (found == Running.end()) return;
            auto& threads = found->second;
            const auto mine = std::find(threads.begin(), threads.end(), std::this_thread::get_id());
            if (mine != threads.end()) threads.erase(mine);
        }
        Idle.notify_all();
    }
};

// Never destroyed: a library thread may still call back while statics go.
TLiveComponents& LiveComponents() {
    static auto* live = new TLiveComponents;
    return *live;
}

}  // namespace

TINetHandle::TINetHandle(TComponent* owner)
    : TComponent(owner), FCompletions(std::make_unique<TCompletions>()) {
    LiveComponents().Enter(this);
}

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
        // No completion comes through the callback now: a call waiting for
        // one ends as cancelled rather than holding the wait below.
        CancelWaits(nullptr);
    }
    // Closed: from here on callbacks pass the component by, and those
    // running end before it goes.
    LiveComponents().Leave(this);
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
    CancelWaits(nullptr);
    Check(closed);
}

bool TINetHandle::Track(HINTERNET handle, const std::function<bool()>& call) {
    TCompletions& completions = *FCompletions;
    {
        // Counted before the call: its completion may come before it returns.
        std::lock_guard<std::mutex> lock(completions.Mutex);
        ++completions.Handles[handle].Outstanding;
    }
    const bool success = call();
    InternetApi& api = Platform();
    if (!success && api.GetLastError() == ERROR_IO_PENDING) return false;
    const DWORD error = api.GetLastError();
    {
        std::lock_guard<std::mutex> lock(completions.Mutex);
        TCompletions::TState& state = completions.Handles[handle];
        if (state.Outstanding > 0) --state.Outstanding;
    }
    api.SetLastError(error);
    return success;
}

bool TINetHandle::Synchronously(HINTERNET handle, const std::function<bool()>& call, DWORD_PTR* result) {
    TCompletions& completions = *FCompletions;
    InternetApi& api = Platform();
    std::uint64_t awaited;
    std::uint64_t cancels;
    {
        std::unique_lock<std::mutex> lock(completions.Mutex);
        TCompletions::TState& state = completions.Handles[handle];
        cancels = state.Cancels;
        // The component's earlier calls on the handle complete first.
        completions.Changed.wait(lock, [&] { return state.Outstanding == 0 || state.Cancels != cancels; });
        if (state.Cancels != cancels) {
            api.SetLastError(ERROR_INTERNET_OPERATION_CANCELLED);
            return false;
        }
        awaited = state.Completed + 1;
    }
    if (Track(handle, call)) return true;
    if (api.GetLastError() != ERROR_IO_PENDING) return false;
    std::unique_lock<std::mutex> lock(completions.Mutex);
    TCompletions::TState& state = completions.Handles[handle];
    completions.Changed.wait(lock, [&] { return state.Completed >= awaited || state.Cancels != cancels; });
    const INTERNET_ASYNC_RESULT completion =
        state.Cancels != cancels ? INTERNET_ASYNC_RESULT{0, ERROR_INTERNET_OPERATION_CANCELLED} : state.Last;
    lock.unlock();
    if (result) *result = completion.dwResult;
    if (completion.dwResult != 0) return true;
    api.SetLastError(completion.dwError);
    return false;
}

void TINetHandle::CancelWaits(HINTERNET handle) {
    std::lock_guard<std::mutex> lock(FCompletions->Mutex);
    for (auto& [key, state] : FCompletions->Handles) {
        if (handle != nullptr && key != handle) continue;
        ++state.Cancels;
        state.Outstanding = 0;
    }
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
    TLiveComponents& live = LiveComponents();
    try {
        if (!live.Begin(component)) return;
    } catch (...) {
        return;  // no memory to mark the call: the component cannot be kept for it
    }
    try {
        component->Callback(dwInternetStatus, lpvStatusInformation, dwStatusInformationLength);
    } catch (...) {
        Framework::Application().HandleException(component);
    }
    // The handler may have destroyed the component.
    if (!live.Still(component)) return;
    // After OnCallback has seen it, a completion ends the wait of the call
    // that started it. (Recording can only fail for want of memory; the
    // library's thread must not see that.)
    if (dwInternetStatus == INTERNET_STATUS_REQUEST_COMPLETE && lpvStatusInformation &&
        dwStatusInformationLength >= sizeof(INTERNET_ASYNC_RESULT)) {
        try {
            component->FCompletions->Record(hInternet,
                                            *static_cast<const INTERNET_ASYNC_RESULT*>(lpvStatusInformation));
        } catch (...) {
            Framework::Application().HandleException(component);
        }
    }
    live.End(component);
}

}  // namespace Corvane
