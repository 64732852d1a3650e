#include <algorithm>

#include "Framework/Classes.h"
#include "Framework/Forms.h"
#include "Framework/Properties.h"
#include "FrameworkConsts.h"
#include "PropertyInternals.h"

namespace Framework {

// Enters the new component in its owner's list. Should a notification handler
// raise, the component leaves every list again before the exception goes on,
// since its destructor will not run.
TComponent::TComponent(TComponent* AOwner) {
    if (AOwner == nullptr) return;
    try {
        AOwner->InsertComponent(this);
    } catch (...) {
        ReleaseFreeNotifications();
        if (FOwner != nullptr) FOwner->Unlink(this);
        DestroyComponents();
        throw;
    }
}

// Tells the free-notification subscribers, deletes the owned components, then
// leaves the owner (which tells the owner and the siblings). A handler that
// raises during destruction cannot unwind a destructor; its exception goes
// to the application object instead.
TComponent::~TComponent() {
    Destroying();
    try {
        while (!FFreeNotifies.empty()) {
            TComponent* Subscriber = FFreeNotifies.back();
            FFreeNotifies.pop_back();
            Subscriber->UnlinkFreeNotification(this);
            try {
                Subscriber->Notification(this, opRemove);
                Detail::ClearPublishedReferences(*Subscriber, this);
            } catch (...) {
                Application().HandleException(this);
            }
        }
        DestroyComponents();
        if (FOwner != nullptr) {
            TComponent* OldOwner = FOwner;
            OldOwner->Unlink(this);
            try {
                OldOwner->NotifyOwnerAndSiblings(this, opRemove, true);
            } catch (...) {
                Application().HandleException(this);
            }
        }
    } catch (...) {
        Application().HandleException(this);
    }
    // Whatever a handler did above, nothing may keep pointing here.
    ReleaseFreeNotifications();
    if (FOwner != nullptr) FOwner->Unlink(this);
    Detail::ForgetLoadedRoot(this);
}

// Marks the component as destroying before the most derived destructor runs,
// then destroys it and frees the whole object (whose address differs from
// this subobject's when TComponent is not the first base class).
void TComponent::operator delete(TComponent* Component, std::destroying_delete_t) {
    void* Block = dynamic_cast<void*>(Component);
    Component->Destroying();
    Component->~TComponent();
    ::operator delete(Block);
}

// Applies the naming rules, then renames.
void TComponent::SetName(const UnicodeString& NewName) {
    if (NewName == FName) return;
    if (!NewName.empty() && !IsValidIdent(NewName))
        throw EComponentError(Format(LoadResString(Consts::SInvalidName), {NewName}));
    if (FOwner != nullptr && !NewName.empty()) {
        TComponent* Existing = FOwner->FindComponent(NewName);
        if (Existing != nullptr && Existing != this)
            throw EComponentError(Format(LoadResString(Consts::SDuplicateName), {NewName}));
    }
    FName = NewName;
}

TComponent* TComponent::Components(int Index) const {
    if (Index < 0 || Index >= ComponentCount())
        throw EListError(Format(LoadResString(Consts::SListIndexError), {IntToStr(Index)}));
    return FComponents[static_cast<std::size_t>(Index)];
}

TComponent* TComponent::FindComponent(const UnicodeString& AName) const {
    if (AName.empty()) return nullptr;
    for (TComponent* C : FComponents)
        if (SameText(C->FName, AName)) return C;
    return nullptr;
}

int TComponent::ComponentIndex() const noexcept {
    if (FOwner == nullptr) return -1;
    const auto& List = FOwner->FComponents;
    const auto It = std::find(List.begin(), List.end(), this);
    return It == List.end() ? -1 : static_cast<int>(It - List.begin());
}

// Validates everything first, so that a refused insertion changes nothing;
// then takes the component from its old owner and tells the new family.
void TComponent::InsertComponent(TComponent* AComponent) {
    if (AComponent == nullptr) throw EComponentError(LoadResString(Consts::SNullComponent));
    if (AComponent->FOwner == this) return;
    for (const TComponent* C = this; C != nullptr; C = C->FOwner)
        if (C == AComponent) throw EComponentError(LoadResString(Consts::SOwnershipCycle));
    if (!AComponent->FName.empty() && FindComponent(AComponent->FName) != nullptr)
        throw EComponentError(Format(LoadResString(Consts::SDuplicateName), {AComponent->FName}));

    if (AComponent->FOwner != nullptr) AComponent->FOwner->RemoveComponent(AComponent);
    FComponents.push_back(AComponent);
    AComponent->FOwner = this;
    if (FComponentState.Contains(csDesigning)) AComponent->SetDesigning(true);
    NotifyOwnerAndSiblings(AComponent, opInsert);
}

void TComponent::RemoveComponent(TComponent* AComponent) {
    if (AComponent == nullptr || AComponent->FOwner != this) return;
    Unlink(AComponent);
    if (FComponentState.Contains(csDesigning)) AComponent->SetDesigning(false);
    NotifyOwnerAndSiblings(AComponent, opRemove);
}

void TComponent::FreeNotification(TComponent* AComponent) {
    if (AComponent == nullptr || AComponent == this) return;
    LinkFreeNotification(AComponent);
    AComponent->LinkFreeNotification(this);
}

void TComponent::RemoveFreeNotification(TComponent* AComponent) {
    if (AComponent == nullptr) return;
    UnlinkFreeNotification(AComponent);
    AComponent->UnlinkFreeNotification(this);
}

// Deletes the last owned component until none is left; each destructor takes
// its component out of the list.
void TComponent::DestroyComponents() {
    while (!FComponents.empty()) {
        delete FComponents.back();
    }
}

THandlerTable& TComponent::Handlers() {
    if (!FHandlers) FHandlers = std::make_unique<THandlerTable>();
    return *FHandlers;
}

void TComponent::Loaded() {
    SetState(csLoading, false);
}

void TComponent::Notification(TComponent*, TOperation) {}

void TComponent::SetDesigning(bool Value, bool SetChildren) {
    SetState(csDesigning, Value);
    if (SetChildren)
        for (TComponent* C : FComponents) C->SetDesigning(Value, true);
}

void TComponent::Destroying() noexcept {
    if (FComponentState.Contains(csDestroying)) return;
    SetState(csDestroying, true);
    for (TComponent* C : FComponents) C->Destroying();
}

void TComponent::SetState(TComponentStateItem Item, bool Value) noexcept {
    if (Value)
        FComponentState.Include(Item);
    else
        FComponentState.Exclude(Item);
}

// Sends the notice to this component (the owner) and to each owned component
// except the subject; for a destroyed subject each receiver's published
// references to it are cleared as well. The list is read afresh at every
// step, since a handler may delete components; an entry removed meanwhile is
// never touched.
void TComponent::NotifyOwnerAndSiblings(TComponent* AComponent, TOperation Operation, bool Destroyed) {
    Notification(AComponent, Operation);
    if (Destroyed) Detail::ClearPublishedReferences(*this, AComponent);
    std::size_t I = FComponents.size();
    while (I > 0) {
        --I;
        TComponent* C = FComponents[I];
        if (C != AComponent) {
            C->Notification(AComponent, Operation);
            if (Destroyed && I < FComponents.size() && FComponents[I] == C)
                Detail::ClearPublishedReferences(*C, AComponent);
        }
        if (I > FComponents.size()) I = FComponents.size();
    }
}

void TComponent::LinkFreeNotification(TComponent* AComponent) {
    if (std::find(FFreeNotifies.begin(), FFreeNotifies.end(), AComponent) == FFreeNotifies.end())
        FFreeNotifies.push_back(AComponent);
    SetState(csFreeNotification, true);
}

void TComponent::UnlinkFreeNotification(TComponent* AComponent) noexcept {
    std::erase(FFreeNotifies, AComponent);
    if (FFreeNotifies.empty()) SetState(csFreeNotification, false);
}

// Drops every free-notification link in both directions without notifying.
void TComponent::ReleaseFreeNotifications() noexcept {
    for (TComponent* C : FFreeNotifies) C->UnlinkFreeNotification(this);
    FFreeNotifies.clear();
    SetState(csFreeNotification, false);
}

// Takes AComponent out of this component's list without notifying anyone.
void TComponent::Unlink(TComponent* AComponent) noexcept {
    std::erase(FComponents, AComponent);
    if (AComponent->FOwner == this) AComponent->FOwner = nullptr;
}

}  // namespace Framework
