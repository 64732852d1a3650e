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
std::mutex DefaultSessionLock;
std::atomic<TINetSession*> DefaultSession{nullptr};
std::atomic<bool> Exiting{false};

// The exit handler: the unit's finalization, after which no default session
// is made again. It may be registered more than once; the first run frees,
// the others find nothing.
void FreeDefaultSession() {
    Exiting = true;
    Finalization();
}

}  // namespace

void Finalization() {
    delete DefaultSession.exchange(nullptr);
}

TCustomINetSession::TCustomINetSession(TComponent* owner) : TINetHandle(owner) {}

TCustomINetSession::~TCustomINetSession() {
    CloseOnDestroy();
}

void TCustomINetSession::SetAccessType(TAccessType value) {
    CheckInactive();
    EnumTables::CheckElement(EnumTables::kAccessTypes, value, u"TAccessType");
    FAccessType = value;
}

void TCustomINetSession::SetAgent(const UnicodeString& value) {
    CheckInactive();
    FAgent = value;
}

void TCustomINetSession::SetFlags(TSessionFlags value) {
    CheckInactive();
    FFlags = value;
}

void TCustomINetSession::SetProxyBypass(const UnicodeString& value) {
    CheckInactive();
    FProxyBypass = value;
}

void TCustomINetSession::SetProxyName(const UnicodeString& value) {
    CheckInactive();
    FProxyName = value;
}

// Each user normally leaves the list from its own FreeHandle. One that is
// still listed after its Close (its release failed before it could leave) is
// removed here, so every pass shortens the list and the loop ends.
void TCustomINetSession::FreeHandle() {
    while (FSessionUses.Count() > 0) {
        auto* user = static_cast<TINetHandle*>(FSessionUses.Get(0));
        user->Close();
        if (FSessionUses.Count() > 0 && FSessionUses.Get(0) == user) FSessionUses.Delete(0);
    }
    TINetHandle::FreeHandle();
}

HINTERNET TCustomINetSession::CreateInternalHandle() {
    HINTERNET result = Platform().InternetOpenW(
        PlatformText(FAgent.c_str()), EnumTables::ValueOf(EnumTables::kAccessTypes, FAccessType),
        PlatformTextOrNull(FProxyName), PlatformTextOrNull(FProxyBypass),
        EnumTables::FlagWord(EnumTables::kSessionFlags, FFlags));
    // The default session's finalization is registered again once the backend
    // has created its first handle, so it runs before the backend's own
    // statics are destroyed (exit handlers run in reverse order of
    // registration, interleaved with static destructors).
    if (result != nullptr && this == DefaultSession.load())
        std::call_once(DefaultSessionOpened, [] { std::atexit(FreeDefaultSession); });
    return result;
}

// Removal notices also come when a user merely changes owner (as a sibling
// of the old owner's components); such a user is still open on this session
// and stays listed. Only a user being destroyed is dropped.
void TCustomINetSession::Notification(TComponent* component, Framework::TOperation operation) {
    TINetHandle::Notification(component, operation);
    if (operation == Framework::opRemove && component != nullptr &&
        component->ComponentState().Contains(Framework::csDestroying))
        while (FSessionUses.Remove(component) >= 0) {}
}

void TINetHandle::SetSessionReference(TCustomINetSession*& field, TCustomINetSession* session) {
    CheckInactive();
    if (field == session) return;
    if (field != nullptr) field->RemoveFreeNotification(this);
    field = session;
    if (field != nullptr) field->FreeNotification(this);
}

void TINetHandle::SessionNotification(TCustomINetSession*& field, TComponent* component,
                                      Framework::TOperation operation) {
    if (operation == Framework::opRemove && field != nullptr && component == field) field = nullptr;
}

void TINetHandle::EnterSession(TCustomINetSession* session) {
    if (session == nullptr) return;
    session->FSessionUses.Add(this);
    // The session hears of this component's destruction, so a stale entry
    // never outlives it.
    FreeNotification(session);
}

void TINetHandle::LeaveSession(TCustomINetSession* session) {
    if (session != nullptr) session->FSessionUses.Remove(this);
}

// Created once even when threads race for the first call, and again after a
// finalization other than the exit handler's (a designer unloaded the
// package that carries the runtime). The exit handler is registered after the
// framework's application object and the platform seam exist, so it runs
// before their destructors.
TINetSession* GetDefaultSession() {
    if (TINetSession* session = DefaultSession.load()) return session;
    std::lock_guard guard(DefaultSessionLock);
    if (Exiting) return nullptr;
    std::call_once(DefaultSessionCreated, [] {
        Framework::Application();
        Platform();
        std::atexit(FreeDefaultSession);
    });
    if (DefaultSession.load() == nullptr) DefaultSession.store(new TINetSession(nullptr));
    return DefaultSession.load();
}

}  // namespace Corvane
