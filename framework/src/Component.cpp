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
TComponent::TComponent(TComponent* owner) {
    if (owner == nullptr) return;
    try {
        owner->InsertComponent(this);
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
            TComponent* subscriber = FFreeNotifies.back();
            FFreeNotifies.pop_back();
            subscriber->UnlinkFreeNotification(this);
            try {
                subscriber->Notification(this, opRemove);
                Detail::ClearPublishedReferences(*subscriber, this);
            } catch (...) {
                Application().HandleException(this);
            }
        }
        DestroyComponents();
        if (FOwner != nullptr) {
            TComponent* oldOwner = FOwner;
            oldOwner->Unlink(this);
            try {
                oldOwner->NotifyOwnerAndSiblings(this, opRemove, true);
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
void TComponent::operator delete(TComponent* component, std::destroying_delete_t) {
    void* block = dynamic_cast<void*>(component);
    component->Destroying();
    component->~TComponent();
    ::operator delete(block);
}

// Applies the naming rules, then renames.
void TComponent::SetName(const UnicodeString& newName) {
    if (newName == FName) return;
    if (!newName.empty() && !IsValidIdent(newName))
        throw EComponentError(Format(LoadResString(Consts::SInvalidName), {newName}));
    if (FOwner != nullptr && !newName.empty()) {
        TComponent* existing = FOwner->FindComponent(newName);
        if (existing != nullptr && existing != this)
            throw EComponentError(Format(LoadResString(Consts::SDuplicateName), {newName}));
    }
    FName = newName;
}

TComponent* TComponent::Components(int index) const {
    if (index < 0 || index >= ComponentCount())
        throw EListError(Format(LoadResString(Consts::SListIndexError), {IntToStr(index)}));
    return FComponents[static_cast<std::size_t>(index)];
}

TComponent* TComponent::FindComponent(const UnicodeString& name) const {
    if (name.empty()) return nullptr;
    for (TComponent* c : FComponents)
        if (SameText(c->FName, name)) return c;
    return nullptr;
}

int TComponent::ComponentIndex() const noexcept {
    if (FOwner == nullptr) return -1;
    const auto& list = FOwner->FComponents;
    const auto it = std::find(list.begin(), list.end(), this);
    return it == list.end() ? -1 : static_cast<int>(it - list.begin());
}

// Validates everything first, so that a refused insertion changes nothing;
// then takes the component from its old owner and tells the new family.
void TComponent::InsertComponent(TComponent* component) {
    if (component == nullptr) throw EComponentError(LoadResString(Consts::SNullComponent));
    if (component->FOwner == this) return;
    for (const TComponent* c = this; c != nullptr; c = c->FOwner)
        if (c == component) throw EComponentError(LoadResString(Consts::SOwnershipCycle));
    if (!component->FName.empty() && FindComponent(component->FName) != nullptr)
        throw EComponentError(Format(LoadResString(Consts::SDuplicateName), {component->FName}));

    if (component->FOwner != nullptr) component->FOwner->RemoveComponent(component);
    FComponents.push_back(component);
    component->FOwner = this;
    if (FComponentState.Contains(csDesigning)) component->SetDesigning(true);
    NotifyOwnerAndSiblings(component, opInsert);
}

void TComponent::RemoveComponent(TComponent* component) {
    if (component == nullptr || component->FOwner != this) return;
    Unlink(component);
    if (FComponentState.Contains(csDesigning)) component->SetDesigning(false);
    NotifyOwnerAndSiblings(component, opRemove);
}

void TComponent::FreeNotification(TComponent* component) {
    if (component == nullptr || component == this) return;
    LinkFreeNotification(component);
    component->LinkFreeNotification(this);
}

void TComponent::RemoveFreeNotification(TComponent* component) {
    if (component == nullptr) return;
    UnlinkFreeNotification(component);
    component->UnlinkFreeNotification(this);
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

void TComponent::SetDesigning(bool value, bool setChildren) {
    SetState(csDesigning, value);
    if (setChildren)
        for (TComponent* c : FComponents) c->SetDesigning(value, true);
}

void TComponent::Destroying() noexcept {
    if (FComponentState.Contains(csDestroying)) return;
    SetState(csDestroying, true);
    for (TComponent* c : FComponents) c->Destroying();
}

void TComponent::SetState(TComponentStateItem item, bool value) noexcept {
    if (value)
        FComponentState.Include(item);
    else
        FComponentState.Exclude(item);
}

// Sends the notice to this component (the owner) and to each owned component
// except the subject; for a destroyed subject each receiver's published
// references to it are cleared as well. The list is read afresh at every
// step, since a handler may delete components; an entry removed meanwhile is
// never touched.
void TComponent::NotifyOwnerAndSiblings(TComponent* component, TOperation operation, bool destroyed) {
    Notification(component, operation);
    if (destroyed) Detail::ClearPublishedReferences(*this, component);
    std::size_t i = FComponents.size();
    while (i > 0) {
        --i;
        TComponent* c = FComponents[i];
        if (c != component) {
            c->Notification(component, operation);
            if (destroyed && i < FComponents.size() && FComponents[i] == c)
                Detail::ClearPublishedReferences(*c, component);
        }
        if (i > FComponents.size()) i = FComponents.size();
    }
}

void TComponent::LinkFreeNotification(TComponent* component) {
    if (std::find(FFreeNotifies.begin(), FFreeNotifies.end(), component) == FFreeNotifies.end())
        FFreeNotifies.push_back(component);
    SetState(csFreeNotification, true);
}

void TComponent::UnlinkFreeNotification(TComponent* component) noexcept {
    std::erase(FFreeNotifies, component);
    if (FFreeNotifies.empty()) SetState(csFreeNotification, false);
}

// Drops every free-notification link in both directions without notifying.
void TComponent::ReleaseFreeNotifications() noexcept {
    for (TComponent* c : FFreeNotifies) c->UnlinkFreeNotification(this);
    FFreeNotifies.clear();
    SetState(csFreeNotification, false);
}

// Takes AComponent out of this component's list without notifying anyone.
void TComponent::Unlink(TComponent* component) noexcept {
    std::erase(FComponents, component);
    if (component->FOwner == this) component->FOwner = nullptr;
}

}  // namespace Framework
