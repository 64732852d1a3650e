/// \file
/// The object and component model: TObject, TComponent with ownership, names
/// and notifications, the pointer list TList and the growable TMemoryStream.
#pragma once

#include <cstdint>
#include <memory>
#include <new>
#include <vector>

#include "Framework/Set.h"
#include "Framework/SysUtils.h"
#include "Framework/Types.h"
#include "Framework/FrameworkExport.h"

namespace Framework {

class THandlerTable;
class TReader;
class TWriter;

/// The root of the class tree.
class CORVANE_FRAMEWORK_EXPORT TObject {
public:
    TObject() = default;
    /// Objects copy member by member; components refuse to be copied.
    TObject(const TObject&) = default;
    /// Objects copy member by member; components refuse to be copied.
    TObject& operator=(const TObject&) = default;
    virtual ~TObject();

    /// The name of the object's dynamic class without its namespace
    /// (u"TINetSession" for a Corvane::TINetSession). Classes may override.
    virtual UnicodeString ClassName() const;
};

/// The name of a C++ type as ClassName reports it: demangled, without the
/// namespace of the outermost name.
CORVANE_FRAMEWORK_EXPORT UnicodeString TypeNameWithoutNamespace(const std::type_info& type);

/// A component operation failed (an invalid or duplicate name, an ownership
/// cycle, ...).
class CORVANE_FRAMEWORK_EXPORT EComponentError : public Exception {
public:
    /// An error with the message Msg.
    using Exception::Exception;
};

/// An index outside a list.
class CORVANE_FRAMEWORK_EXPORT EListError : public Exception {
public:
    /// An error with the message Msg.
    using Exception::Exception;
};

/// A stream operation failed (a negative position or size, memory exhausted,
/// a file that cannot be opened).
class CORVANE_FRAMEWORK_EXPORT EStreamError : public Exception {
public:
    /// An error with the message Msg.
    using Exception::Exception;
};

/// The states a component passes through.
enum TComponentStateItem {
    csLoading,           ///< being loaded from a form file; cleared by Loaded
    csReading,           ///< its properties are being read from a form file
    csWriting,           ///< its properties are being written to a form file
    csDestroying,        ///< its destruction has begun
    csDesigning,         ///< it lives in the form designer
    csFreeNotification,  ///< it has free-notification links to other components
};
/// A set of TComponentStateItem elements.
using TComponentState = TSet<TComponentStateItem>;

/// What a Notification reports about a component.
enum TOperation { opInsert, opRemove };

/// A component: an object with an owner, a name and the components it owns.
///
/// Ownership: a component created with an owner (with new) belongs to it; the
/// owner deletes the components it owns when it is destroyed, last created
/// first, each of them with csDestroying set. A component deleted on its own
/// leaves its owner's list. Ownership moves with InsertComponent and
/// RemoveComponent.
///
/// Notifications: when a component X is inserted into or removed from an
/// owner (including when X is destroyed), the owner and each of the owner's
/// other components receive Notification(X, opInsert / opRemove). When X is
/// destroyed, every component linked to it with FreeNotification (in either
/// direction, whatever their owners) receives Notification(X, opRemove)
/// first. A component may thus be told of the same removal twice (as a
/// sibling and as a subscriber); handle it idempotently. A removal notice
/// for a component being destroyed arrives while its destructor runs: the
/// receiver may only compare the pointer and forget it.
///
/// Links are removed in both directions when either side is destroyed, so no
/// pointer to a destroyed component survives in another component. After a
/// component that is being destroyed has told a subscriber, owner or
/// sibling, any published component reference (Framework/Properties.h) of
/// that receiver still pointing at it is cleared through its setter, in case
/// the receiver's own Notification did not.
///
/// A component that refers to another component (a published reference)
/// follows this pattern so the reference never dangles:
///
///     void TMyComp::SetPeer(TComponent* Value) {
///         if (FPeer == Value) return;
///         if (FPeer) FPeer->RemoveFreeNotification(this);
///         FPeer = Value;
///         if (FPeer) FPeer->FreeNotification(this);
///     }
///     void TMyComp::Notification(TComponent* C, TOperation Op) {
///         TComponent::Notification(C, Op);
///         if (Op == opRemove && C == FPeer) FPeer = nullptr;
///     }
///
/// Destruction and derived classes: csDestroying is set before the derived
/// destructors run when the component is deleted (not for one that simply
/// goes out of scope). The base destructor runs after the derived parts are
/// gone, so the components a component owns are deleted
/// when it is already a plain TComponent. A class whose owned components use
/// its own members while they are destroyed calls Destroying() and
/// DestroyComponents() at the start of its destructor.
///
/// Form files: the form-file reader (TReader) and writer (TWriter) are
/// friends; they set and clear csLoading, csReading and csWriting and call
/// Loaded. Nothing else changes those states. The designer's form
/// (TFormDesigner, in the designer library) is a friend too: it sets
/// csDesigning on the form it designs.
///
/// Components are not thread safe: one thread at a time uses a component
/// and the components it owns or is linked with.
class CORVANE_FRAMEWORK_EXPORT TComponent : public TObject {
public:
    /// A component owned by Owner (null: by nobody; the caller frees it),
    /// which frees it when it is freed itself.
    explicit TComponent(TComponent* owner);
    ~TComponent() override;

    TComponent(const TComponent&) = delete;
    TComponent& operator=(const TComponent&) = delete;

    /// Deleting a component first sets csDestroying on it and on what it
    /// owns, so that the destructors of derived classes already see it.
    void operator delete(TComponent* component, std::destroying_delete_t);

    /// The component that owns this one, or null.
    TComponent* Owner() const noexcept { return FOwner; }

    /// The component's name, by which form files and FindComponent know it
    /// (empty: unnamed).
    const UnicodeString& Name() const noexcept { return FName; }
    /// Renames the component. The name is empty or a valid identifier (ASCII
    /// letters, digits and underscores, not starting with a digit) and unique,
    /// ignoring case, among its owner's components; EComponentError otherwise.
    virtual void SetName(const UnicodeString& newName);

    /// A value for the application's own use.
    std::intptr_t Tag() const noexcept { return FTag; }
    /// Sets Tag.
    void SetTag(std::intptr_t value) noexcept { FTag = value; }

    /// The components this one owns, in the order they were inserted.
    int ComponentCount() const noexcept { return static_cast<int>(FComponents.size()); }
    /// The owned component at Index; EListError outside [0, ComponentCount).
    TComponent* Components(int index) const;
    /// The owned component with the name AName (ignoring case), or null. An
    /// empty name finds nothing.
    TComponent* FindComponent(const UnicodeString& name) const;
    /// This component's index in its owner's list, or -1 without an owner.
    int ComponentIndex() const noexcept;

    /// The states the component is in (csLoading, csDesigning, ...).
    TComponentState ComponentState() const noexcept { return FComponentState; }

    /// Makes AComponent one of this component's owned components, taking it
    /// from its previous owner. Raises EComponentError for a null component,
    /// a name already used here, or when AComponent is this component or one
    /// of its owners.
    void InsertComponent(TComponent* component);
    /// Releases AComponent from this component's ownership (it then has no
    /// owner); nothing happens when this component does not own it.
    void RemoveComponent(TComponent* component);

    /// Links this component and AComponent so that each receives
    /// Notification(other, opRemove) when the other is destroyed. Linking
    /// twice is the same as once; null and this component itself are ignored.
    void FreeNotification(TComponent* component);
    /// Removes the link made by FreeNotification, in both directions.
    void RemoveFreeNotification(TComponent* component);

    /// Deletes every owned component, last inserted first.
    void DestroyComponents();

    /// The table of named event handlers that form files bind events to when
    /// this component is the root being read (see Framework/Properties.h);
    /// created on first use.
    THandlerTable& Handlers();
    /// The handler table, or null when none was created.
    const THandlerTable* HandlersIfAny() const noexcept { return FHandlers.get(); }

protected:
    /// Called once after the component was read from a form file, when every
    /// property and reference is in place. The base version clears csLoading;
    /// overrides call it first.
    virtual void Loaded();

    /// Tells this component that AComponent was inserted or is being removed.
    /// Overrides call the base version.
    virtual void Notification(TComponent* component, TOperation operation);

    /// Sets or clears csDesigning on this component and, with SetChildren,
    /// on the components it owns (recursively).
    void SetDesigning(bool value, bool setChildren = true);

    /// Sets csDestroying on this component and the components it owns.
    void Destroying() noexcept;

private:
    friend class TReader;
    friend class TWriter;
    friend class TFormDesigner;

    void SetState(TComponentStateItem item, bool value) noexcept;
    void NotifyOwnerAndSiblings(TComponent* component, TOperation operation, bool destroyed = false);
    void LinkFreeNotification(TComponent* component);
    void UnlinkFreeNotification(TComponent* component) noexcept;
    void ReleaseFreeNotifications() noexcept;
    void Unlink(TComponent* component) noexcept;

    TComponent* FOwner = nullptr;
    UnicodeString FName;
    std::intptr_t FTag = 0;
    TComponentState FComponentState;
    std::vector<TComponent*> FComponents;
    std::vector<TComponent*> FFreeNotifies;
    std::unique_ptr<THandlerTable> FHandlers;
};

/// A list of untyped pointers.
class CORVANE_FRAMEWORK_EXPORT TList : public TObject {
public:
    /// Appends Item and returns its index.
    int Add(void* item);
    /// Inserts Item before Index (Index == Count appends).
    void Insert(int index, void* item);
    /// Removes the entry at Index.
    void Delete(int index);
    /// Removes the first occurrence of Item; returns its former index, or -1.
    int Remove(void* item);
    /// The index of the first occurrence of Item, or -1.
    int IndexOf(const void* item) const noexcept;
    /// The entry at Index. Every indexed access raises EListError for an
    /// index outside [0, Count).
    void* Items(int index) const;
    /// The entry at Index, as Items.
    void* Get(int index) const { return Items(index); }
    /// Replaces the entry at Index.
    void Put(int index, void* item);
    /// Swaps the entries at two indexes.
    void Exchange(int index1, int index2);
    /// The number of entries.
    int Count() const noexcept { return static_cast<int>(FItems.size()); }
    /// Removes every entry (the items themselves are not the list's).
    void Clear() noexcept { FItems.clear(); }
    /// The first entry; EListError when the list is empty.
    void* First() const { return Items(0); }
    /// The last entry; EListError when the list is empty.
    void* Last() const { return Items(Count() - 1); }

private:
    void CheckIndex(int index, int limit) const;
    std::vector<void*> FItems;
};

/// Where a Seek offset counts from.
enum TSeekOrigin { soBeginning, soCurrent, soEnd };

/// A stream in memory that grows as it is written.
///
/// Size is the number of bytes held; Position may be set past the end, where
/// a read returns nothing and a write first fills the gap with zeros. Sizes
/// and positions are 64-bit; a negative position or size raises
/// EStreamError, as does memory running out.
class CORVANE_FRAMEWORK_EXPORT TMemoryStream : public TObject {
public:
    /// Reads up to Count bytes at the position into Buffer, advances the
    /// position and returns how many were read (0 at or past the end).
    Int64 Read(void* buffer, Int64 count);
    /// Writes Count bytes at the position (growing the stream as needed),
    /// advances the position and returns Count.
    Int64 Write(const void* buffer, Int64 count);
    /// Reads exactly Count bytes or raises EStreamError.
    void ReadBuffer(void* buffer, Int64 count);
    /// Moves the position and returns the new one.
    Int64 Seek(Int64 offset, TSeekOrigin origin);

    /// Where the next read or write starts, in bytes from the beginning.
    Int64 Position() const noexcept { return FPosition; }
    /// Moves the position, as Seek from the beginning.
    void SetPosition(Int64 value) { Seek(value, soBeginning); }
    /// The number of bytes held.
    Int64 Size() const noexcept { return static_cast<Int64>(FData.size()); }
    /// Truncates or extends (with zeros) the stream. A position past the new
    /// end moves to the end.
    void SetSize(Int64 newSize);

    /// The bytes held (Size() of them); valid until the next change of size.
    void* Memory() noexcept { return FData.data(); }
    /// The bytes held, read only.
    const void* Memory() const noexcept { return FData.data(); }

    /// Empties the stream and sets the position to 0.
    void Clear() noexcept;

    /// Replaces the content with the file's bytes; the position becomes 0.
    void LoadFromFile(const UnicodeString& fileName);
    /// Writes the whole content to a file (replacing it).
    void SaveToFile(const UnicodeString& fileName) const;

private:
    std::vector<Byte> FData;
    Int64 FPosition = 0;
};

}  // namespace Framework
