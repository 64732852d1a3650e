#include "Corvane/Handle.h"

#include <Framework/Forms.h>
#include <Platform/InternetApi.h>

#include "AboutText.h"
#include "Corvane/Session.h"
#include "PlatformText.h"
#include "SizedText.h"

namespace Corvane {

TINetHandle::TINetHandle(TComponent* AOwner) : TComponent(AOwner) {}

TINetHandle::~TINetHandle()
{
    CloseOnDestroy();
}

void TINetHandle::Open()
{
    if (Active())
        return;
    if (FBeforeOpen)
        FBeforeOpen(this);
    CreateHandle();
    if (FAfterOpen)
        FAfterOpen(this);
}

void TINetHandle::Close()
{
    if (!Active())
        return;
    if (FBeforeClose)
        FBeforeClose(this);
    FreeHandle();
    if (FAfterClose)
        FAfterClose(this);
}

// Destructors may not throw: a failing close is shown like any other
// unhandled error, and a handle kept by a refusing BeforeClose handler is
// released without events so that no callback can reach a freed component.
void TINetHandle::CloseOnDestroy() noexcept
{
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

void TINetHandle::SetActive(bool Value)
{
    if (Value && ComponentState().Contains(Framework::csReading)) {
        FStreamedActive = true;
        return;
    }
    if (Value)
        Open();
    else
        Close();
}

UnicodeString TINetHandle::About() const
{
    return AboutText;
}

void TINetHandle::SetAbout(const UnicodeString&) {}

void TINetHandle::CheckActive()
{
    if (!Active())
        RaiseError(Framework::LoadResString(SINetClosedSession));
}

void TINetHandle::CheckInactive()
{
    if (Active())
        RaiseError(Framework::LoadResString(SINetOpenSession));
}

// The error is raised and caught here so that OnError sees the very object
// that propagates afterwards, including any change it made to the message.
void TINetHandle::RaiseError(const UnicodeString& Message)
{
    try {
        throw EINetError(Message);
    } catch (EINetError& E) {
        TINetAction Action = iaFail;
        if (FOnError)
            FOnError(this, E, Action);
        if (Action == iaAbort)
            Framework::Abort();
        throw;
    }
}

void TINetHandle::CreateHandle()
{
    FreeHandle();
    Platform().SetLastError(0);
    FHandle = CreateInternalHandle();
    Check(FHandle != nullptr);
    if (FHandle != nullptr)
        Platform().InternetSetStatusCallback(FHandle, &StatusCallback);
}

void TINetHandle::FreeHandle()
{
    if (FHandle != nullptr)
        Platform().InternetSetStatusCallback(FHandle, nullptr);
    Check(CloseInternetHandle(FHandle));
}

void TINetHandle::Callback(Cardinal Status, void* Information, Cardinal InformationLength)
{
    try {
        if (FOnCallback)
            FOnCallback(this, static_cast<Integer>(Status), Information, static_cast<Integer>(InformationLength));
    } catch (...) {
        // Nothing may unwind into the library, whatever the handler threw.
        Framework::Application().HandleException(this);
    }
}

void TINetHandle::Loaded()
{
    TComponent::Loaded();
    if (!FStreamedActive)
        return;
    try {
        Open();
    } catch (...) {
        if (!ComponentState().Contains(Framework::csDesigning))
            throw;
        Framework::Application().HandleException(this);
    }
}

UnicodeString TINetHandle::GetInternetOption(Cardinal Option)
{
    CheckActive();
    return ReadSizedText(
        [&](char16_t* Buffer, DWORD* Size) { return Platform().InternetQueryOptionW(FHandle, Option, Buffer, Size); },
        TSizedTextFailure::Check);
}

void TINetHandle::SetInternetOption(Cardinal Option, const UnicodeString& Data)
{
    CheckActive();
    if (Data.empty())
        Check(Platform().InternetSetOptionW(FHandle, Option, nullptr, 0));
    else
        Check(Platform().InternetSetOptionW(FHandle, Option, const_cast<WCHAR*>(PlatformText(Data.c_str())),
                                            static_cast<DWORD>(Data.size())));
}

void TINetHandle::GetInternetOption(Cardinal Option, void* Data, Cardinal& Size)
{
    CheckActive();
    DWORD BufferSize = Size;
    const bool Success = Platform().InternetQueryOptionW(FHandle, Option, Data, &BufferSize);
    Size = BufferSize;
    Check(Success);
}

void TINetHandle::SetInternetOption(Cardinal Option, void* Data, Cardinal Size)
{
    CheckActive();
    Check(Platform().InternetSetOptionW(FHandle, Option, Data, Size));
}

Cardinal TINetHandle::GetInternetOptionDWord(Cardinal Option)
{
    CheckActive();
    DWORD Value = 0;
    DWORD Size = sizeof(Value);
    if (!Platform().InternetQueryOptionW(FHandle, Option, &Value, &Size)) {
        Check(false);
        return 0;
    }
    return Value;
}

void TINetHandle::SetInternetOptionDWord(Cardinal Option, Cardinal Data)
{
    CheckActive();
    DWORD Value = Data;
    Check(Platform().InternetSetOptionW(FHandle, Option, &Value, sizeof(Value)));
}

bool CloseInternetHandle(HINTERNET& Handle)
{
    if (Handle == nullptr)
        return true;
    const bool Success = Platform().InternetCloseHandle(Handle);
    Handle = nullptr;
    return Success;
}

void CALLBACK StatusCallback(HINTERNET, DWORD_PTR dwContext, DWORD dwInternetStatus, LPVOID lpvStatusInformation,
                             DWORD dwStatusInformationLength)
{
    if (dwContext == 0)
        return;
    auto* Component = reinterpret_cast<TINetHandle*>(dwContext);
    try {
        Component->Callback(dwInternetStatus, lpvStatusInformation, dwStatusInformationLength);
    } catch (...) {
        Framework::Application().HandleException(Component);
    }
}

}  // namespace Corvane
