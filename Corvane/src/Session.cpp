#include "Corvane/Session.h"

#include <atomic>
#include <cstdlib>
#include <mutex>

#include <Framework/Forms.h>
#include <Platform/InternetApi.h>

#include "EnumTables.h"
#include "PlatformText.h"

namespace Corvane {

namespace {

std::once_flag DefaultSessionCreated;
std::once_flag DefaultSessionOpened;
std::atomic<TINetSession*> DefaultSession{nullptr};

// The unit's finalization: frees the default session, closing it when open.
// It may be registered more than once; the first run frees, the others find
// nothing.
void FreeDefaultSession()
{
    delete DefaultSession.exchange(nullptr);
}

}  // namespace

TCustomINetSession::TCustomINetSession(TComponent* AOwner) : TINetHandle(AOwner) {}

TCustomINetSession::~TCustomINetSession()
{
    CloseOnDestroy();
}

void TCustomINetSession::SetAccessType(TAccessType Value)
{
    CheckInactive();
    EnumTables::CheckElement(EnumTables::kAccessTypes, Value, u"TAccessType");
    FAccessType = Value;
}

void TCustomINetSession::SetAgent(const UnicodeString& Value)
{
    CheckInactive();
    FAgent = Value;
}

void TCustomINetSession::SetFlags(TSessionFlags Value)
{
    CheckInactive();
    FFlags = Value;
}

void TCustomINetSession::SetProxyBypass(const UnicodeString& Value)
{
    CheckInactive();
    FProxyBypass = Value;
}

void TCustomINetSession::SetProxyName(const UnicodeString& Value)
{
    CheckInactive();
    FProxyName = Value;
}

// Each user normally leaves the list from its own FreeHandle. One that is
// still listed after its Close (its release failed before it could leave) is
// removed here, so every pass shortens the list and the loop ends.
void TCustomINetSession::FreeHandle()
{
    while (FSessionUses.Count() > 0) {
        auto* User = static_cast<TINetHandle*>(FSessionUses.Get(0));
        User->Close();
        if (FSessionUses.Count() > 0 && FSessionUses.Get(0) == User)
            FSessionUses.Delete(0);
    }
    TINetHandle::FreeHandle();
}

HINTERNET TCustomINetSession::CreateInternalHandle()
{
    HINTERNET Result = Platform().InternetOpenW(
        PlatformText(FAgent.c_str()), EnumTables::ValueOf(EnumTables::kAccessTypes, FAccessType),
        PlatformTextOrNull(FProxyName), PlatformTextOrNull(FProxyBypass),
        EnumTables::FlagWord(EnumTables::kSessionFlags, FFlags));
    // The default session's finalization is registered again once the backend
    // has created its first handle, so it runs before the backend's own
    // statics are destroyed (exit handlers run in reverse order of
    // registration, interleaved with static destructors).
    if (Result != nullptr && this == DefaultSession.load())
        std::call_once(DefaultSessionOpened, [] { std::atexit(FreeDefaultSession); });
    return Result;
}

// Removal notices also come when a user merely changes owner (as a sibling
// of the old owner's components); such a user is still open on this session
// and stays listed. Only a user being destroyed is dropped.
void TCustomINetSession::Notification(TComponent* AComponent, Framework::TOperation Operation)
{
    TINetHandle::Notification(AComponent, Operation);
    if (Operation == Framework::opRemove && AComponent != nullptr &&
        AComponent->ComponentState().Contains(Framework::csDestroying))
        while (FSessionUses.Remove(AComponent) >= 0) {
        }
}

void TINetHandle::SetSessionReference(TCustomINetSession*& Field, TCustomINetSession* ASession)
{
    CheckInactive();
    if (Field == ASession)
        return;
    if (Field != nullptr)
        Field->RemoveFreeNotification(this);
    Field = ASession;
    if (Field != nullptr)
        Field->FreeNotification(this);
}

void TINetHandle::SessionNotification(TCustomINetSession*& Field, TComponent* AComponent,
                                      Framework::TOperation Operation)
{
    if (Operation == Framework::opRemove && Field != nullptr && AComponent == Field)
        Field = nullptr;
}

void TINetHandle::EnterSession(TCustomINetSession* ASession)
{
    if (ASession == nullptr)
        return;
    ASession->FSessionUses.Add(this);
    // The session hears of this component's destruction, so a stale entry
    // never outlives it.
    FreeNotification(ASession);
}

void TINetHandle::LeaveSession(TCustomINetSession* ASession)
{
    if (ASession != nullptr)
        ASession->FSessionUses.Remove(this);
}

// Created once even when threads race for the first call. The exit handler is
// registered after the framework's application object and the platform seam
// exist, so it runs before their destructors.
TINetSession* GetDefaultSession()
{
    std::call_once(DefaultSessionCreated, [] {
        Framework::Application();
        Platform();
        DefaultSession.store(new TINetSession(nullptr));
        std::atexit(FreeDefaultSession);
    });
    return DefaultSession.load();
}

}  // namespace Corvane
