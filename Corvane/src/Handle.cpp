#include "Corvane/Handle.h"

#include <Framework/Forms.h>
#include <Platform/InternetApi.h>

#include "AboutText.h"
#include "Corvane/Session.h"
#include "PlatformText.h"
#include "SizedText.h"

namespace Corvane {

TINetHandle::TINetHandle(TComponent* owner) : TComponent(owner) {}

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
    Check(CloseInternetHandle(FHandle));
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

void CALLBACK StatusCallback(HINTERNET, DWORD_PTR dwContext, DWORD dwInternetStatus,
                             LPVOID lpvStatusInformation, DWORD dwStatusInformationLength) {
    if (dwContext == 0) return;
    auto* component = reinterpret_cast<TINetHandle*>(dwContext);
    try {
        component->Callback(dwInternetStatus, lpvStatusInformation, dwStatusInformationLength);
    } catch (...) {
        Framework::Application().HandleException(component);
    }
}

}  // namespace Corvane
