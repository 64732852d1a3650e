/// \file
/// Published properties: per component class, the ordered list of properties
/// that form files store and the designer shows; the names of enumeration
/// elements (the one place where enumerations and sets become text and back);
/// named event handlers; and the registry of component classes by name.
///
/// A component class is published once, at start-up, for example:
///
///     Framework::DefineEnum<TAccessType>(u"TAccessType",
///         {u"atDirect", u"atPreconfig", u"atPreconfigWithNoAutoProxy", u"atProxy"});
///     Framework::DefineEnum<TSessionFlag>(u"TSessionFlag", {u"flOffline", u"flAsync"});
///     Framework::RegisterComponentClass<TINetSession>(u"TINetSession")
///         .Property(u"About", &TINetSession::About, &TINetSession::SetAbout, Framework::NotStored)
///         .Property(u"AccessType", &TINetSession::AccessType, &TINetSession::SetAccessType,
///                   Framework::Default(atPreconfig))
///         .Property(u"Agent", &TINetSession::Agent, &TINetSession::SetAgent)
///         .Property(u"Flags", &TINetSession::Flags, &TINetSession::SetFlags)
///         .Property(u"OnError", &TINetSession::OnError, &TINetSession::SetOnError);
///
/// The kind of each property follows from its reader's result type:
/// UnicodeString is a string; bool a Boolean; any other integral type an
/// integer of that width and signedness; an enumeration (defined with
/// DefineEnum) an enumeration; TSet<E> a set of E; a pointer to a TComponent
/// class a component reference; a std::function an event. Properties are read
/// and written through the accessors given, the same ones code uses, so the
/// checks in setters apply to form files too.
///
/// Storage rules (what a form-file writer stores):
///   - NotStored: never written;
///   - strings: not written when empty, nor when equal to a declared Default;
///   - Booleans, integers, enumerations, sets: not written when equal to a
///     declared Default; always written when none is declared;
///   - component references: not written when null;
///   - events: written only when the handler was bound by name (see
///     NamedHandler and THandlerTable).
///
/// Thread safety: register classes and enumerations before other threads use
/// them (typically during start-up); lookups may then run on any thread.
#pragma once

#include <any>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string_view>
#include <type_traits>
#include <typeindex>
#include <typeinfo>
#include <utility>
#include <vector>

#include "Framework/Classes.h"
#include "Framework/Set.h"
#include "Framework/SysUtils.h"
#include "Framework/FrameworkExport.h"

namespace Framework {

/// A property or enumeration was declared or used wrongly: an unknown
/// enumeration type, a value outside a property's range, an object of the
/// wrong class, a handler of the wrong type.
class CORVANE_FRAMEWORK_EXPORT EPropertyError : public Exception {
public:
    /// An error with the message Msg.
    using Exception::Exception;
};

/// No component class is registered under a name.
class CORVANE_FRAMEWORK_EXPORT EClassNotFound : public Exception {
public:
    /// An error with the message Msg.
    using Exception::Exception;
};

// ---------------------------------------------------------------------------
// Enumerations and sets as text

/// The element names of an enumeration, by ordinal (0, 1, 2, ...). Names
/// compare without regard to ASCII case when text is parsed.
class CORVANE_FRAMEWORK_EXPORT TEnumInfo {
public:
    /// The enumeration TypeName with the element Names, by ordinal.
    TEnumInfo(UnicodeString typeName, std::vector<UnicodeString> names);

    /// The enumeration's name ("TAccessType").
    const UnicodeString& TypeName() const noexcept { return FTypeName; }
    /// The number of elements.
    int Count() const noexcept { return static_cast<int>(FNames.size()); }
    /// The name of an ordinal; EPropertyError outside [0, Count).
    const UnicodeString& Name(int ordinal) const;
    /// The ordinal of a name, or -1 when there is none.
    int Ordinal(std::u16string_view name) const noexcept;

    /// "atPreconfig" for its ordinal; EPropertyError outside [0, Count).
    UnicodeString ToText(Int64 ordinal) const;
    /// The ordinal of a name; EConvertError naming the valid names otherwise.
    int FromText(std::u16string_view text) const;
    /// "[flOffline, flAsync]" (ordinal order), "[]" for the empty set;
    /// EPropertyError for a bit with no element.
    UnicodeString SetToText(UInt64 mask) const;
    /// Parses "[a, b]" (blanks allowed, names in any order, repeats
    /// harmless); EConvertError for anything else.
    UInt64 SetFromText(std::u16string_view text) const;
    /// The names joined with ", " (for messages).
    UnicodeString NameList() const;

private:
    UnicodeString FTypeName;
    std::vector<UnicodeString> FNames;
};

namespace Detail {
struct TClassRegistry;
CORVANE_FRAMEWORK_EXPORT const TEnumInfo& DefineEnum(std::type_index type, const UnicodeString& typeName,
                                                     std::vector<UnicodeString> names);
CORVANE_FRAMEWORK_EXPORT const TEnumInfo* FindEnum(std::type_index type) noexcept;
CORVANE_FRAMEWORK_EXPORT const TEnumInfo& RequireEnum(const std::type_info& type);

template <class>
struct DependentFalse : std::false_type {};

template <class T>
struct IsSet : std::false_type {};
template <class E>
struct IsSet<TSet<E>> : std::true_type {};

template <class T>
struct IsFunction : std::false_type {};
template <class R, class... A>
struct IsFunction<std::function<R(A...)>> : std::true_type {};
}  // namespace Detail

/// Declares the element names of enumeration E, in ordinal order (E's
/// values must be 0, 1, 2, ...). The returned object lives as long as the
/// process. Defining the same names again is harmless; different names for
/// an already defined type raise EPropertyError.
template <class E>
const TEnumInfo& DefineEnum(const UnicodeString& typeName, std::initializer_list<const char16_t*> names) {
    static_assert(std::is_enum_v<E>, "DefineEnum needs an enumeration type");
    std::vector<UnicodeString> list;
    for (const char16_t* n : names) list.emplace_back(n);
    return Detail::DefineEnum(typeid(E), typeName, std::move(list));
}

/// The names defined for E; EPropertyError when DefineEnum<E> has not run.
template <class E>
const TEnumInfo& EnumInfo() {
    return Detail::RequireEnum(typeid(E));
}

/// The name of Value ("atDirect"); EPropertyError for a value without one.
template <class E>
UnicodeString EnumToText(E value) {
    return EnumInfo<E>().ToText(static_cast<Int64>(value));
}
/// The element called Text; EConvertError naming the valid names otherwise.
template <class E>
E TextToEnum(std::u16string_view text) {
    return static_cast<E>(EnumInfo<E>().FromText(text));
}
/// A set as form files write it ("[flOffline, flAsync]").
template <class E>
UnicodeString SetToText(TSet<E> value) {
    return EnumInfo<E>().SetToText(value.ToMask());
}
/// The set a text in brackets names; EConvertError for a name that is no
/// element.
template <class E>
TSet<E> TextToSet(std::u16string_view text) {
    return TSet<E>::FromMask(EnumInfo<E>().SetFromText(text));
}

// ---------------------------------------------------------------------------
// Named event handlers

/// A handler that remembers the name it was bound by. A form-file writer
/// stores an event only when its handler is one of these.
template <class Event>
struct TNamedHandler;
/// The handler of an event of type std::function<R(A...)>, with its name.
template <class R, class... A>
struct TNamedHandler<std::function<R(A...)>> {
    UnicodeString Name;              ///< the name the handler was bound by
    std::function<R(A...)> Handler;  ///< the handler itself
    /// Calls the handler.
    R operator()(A... args) const { return Handler(std::forward<A>(args)...); }
};

/// Wraps Handler so that it carries Name.
template <class Event>
Event NamedHandler(const UnicodeString& name, Event handler) {
    static_assert(Detail::IsFunction<Event>::value, "events are std::function types");
    return Event(TNamedHandler<Event>{name, std::move(handler)});
}

/// The name Handler was bound by, or the empty string for an unassigned or
/// anonymous handler.
template <class Event>
UnicodeString HandlerName(const Event& handler) {
    if (const auto* named = handler.template target<TNamedHandler<Event>>()) return named->Name;
    return {};
}

/// A root's table of named event handlers: what "OnError = SessionError" in
/// a form file binds to. Names compare without regard to ASCII case. Each
/// handler has the exact std::function type of the events it may serve:
///
///     Root.Handlers().Add<TNotifyEvent>(u"SessionOpened", [](TObject*) { ... });
class CORVANE_FRAMEWORK_EXPORT THandlerTable {
public:
    /// Adds (or replaces) the handler called Name.
    template <class Event>
    void Add(const UnicodeString& name, std::type_identity_t<Event> handler) {
        static_assert(Detail::IsFunction<Event>::value, "events are std::function types");
        AddAny(name, std::any(std::move(handler)));
    }
    /// Removes the handler called Name; false when there was none.
    bool Remove(std::u16string_view name);
    /// The handler called Name (holding its std::function), or null; with
    /// StoredName, also the name as the table spells it.
    const std::any* Find(std::u16string_view name, UnicodeString* storedName = nullptr) const;
    /// The number of handlers.
    int Count() const noexcept { return static_cast<int>(FEntries.size()); }
    /// The name and the handler at Index (in the order added); EListError
    /// outside [0, Count).
    const UnicodeString& Name(int index) const;
    /// The handler at Index (holding its std::function); EListError outside
    /// [0, Count).
    const std::any& Handler(int index) const;

private:
    void AddAny(const UnicodeString& name, std::any handler);
    std::vector<std::pair<UnicodeString, std::any>> FEntries;
};

// ---------------------------------------------------------------------------
// Property metadata

/// What kind of value a property holds.
enum TPropertyKind { pkString, pkBoolean, pkInteger, pkEnumeration, pkSet, pkComponent, pkEvent };

/// A declared default value (see TClassRegistration::Property).
template <class T>
struct TDefault {
    T Value;  ///< the default value
};
/// Declares Value as a property's default (see TClassRegistration::Property).
template <class T>
TDefault<T> Default(T value) {
    return TDefault<T>{std::move(value)};
}
/// Marks a property that form files never store.
struct CORVANE_FRAMEWORK_EXPORT TNotStored {};
/// Marks a property that form files never store (see
/// TClassRegistration::Property).
inline constexpr TNotStored NotStored{};

template <class C>
class TClassRegistration;

/// One published property of a class. Every accessor raises EPropertyError
/// when used on an object of another class or with a value of the wrong
/// kind or range, and lets exceptions from the component's own setters
/// through unchanged.
class CORVANE_FRAMEWORK_EXPORT TPropInfo {
public:
    /// The property's name, as form files spell it.
    const UnicodeString& Name() const noexcept { return FName; }
    /// The kind of value it holds.
    TPropertyKind Kind() const noexcept { return FKind; }
    /// The element names of an enumeration or set property, else null.
    const TEnumInfo* EnumType() const noexcept { return FEnum; }
    /// Integer properties: width in bits and signedness.
    int IntegerBits() const noexcept { return FBits; }
    /// Integer properties: whether the value is signed.
    bool IntegerSigned() const noexcept { return FSigned; }
    /// Component references: the class name of the referenced type.
    const UnicodeString& ReferenceClassName() const noexcept { return FReferenceClass; }
    /// Events: the std::function type of their handlers, else null.
    const std::type_info* EventType() const noexcept { return FEventType; }

    /// Whether a default was declared (a property at its default is not
    /// stored).
    bool HasDefault() const noexcept { return FHasDefault; }
    /// The declared default of an ordinal property (Boolean 0/1, integer,
    /// ordinal, set mask) and of a string property.
    Int64 DefaultOrd() const noexcept { return FDefaultOrd; }
    /// The declared default of a string property.
    const UnicodeString& DefaultString() const noexcept { return FDefaultString; }
    /// Whether form files never store the property (NotStored).
    bool NeverStored() const noexcept { return FNeverStored; }

    /// Boolean (0 or 1), integer, enumeration (ordinal) and set (bit mask;
    /// an unsigned 64-bit value keeps its bit pattern) properties.
    Int64 GetOrd(const TComponent& instance) const;
    /// Sets an ordinal property, refusing a value out of its range.
    void SetOrd(TComponent& instance, Int64 value) const;
    /// String properties.
    UnicodeString GetString(const TComponent& instance) const;
    /// Sets a string property.
    void SetString(TComponent& instance, const UnicodeString& value) const;
    /// Component references. Setting a reference also links the two
    /// components with FreeNotification, so the framework clears the
    /// reference when the referenced component is destroyed.
    TComponent* GetComponent(const TComponent& instance) const;
    /// Sets a component reference (null clears it).
    void SetComponent(TComponent& instance, TComponent* value) const;
    /// Events: the name the current handler was bound by (empty when
    /// unassigned or anonymous); binding a handler (null clears the event).
    UnicodeString GetHandlerName(const TComponent& instance) const;
    /// Binds Handler (a std::any holding the event's std::function type)
    /// under HandlerName; a null Handler clears the event.
    void BindHandler(TComponent& instance, const UnicodeString& handlerName, const std::any* handler) const;

    /// Whether a form-file writer stores this property's current value.
    bool IsStored(const TComponent& instance) const;
    /// Whether Value lies within the property's range (integers by width,
    /// Booleans 0/1, enumerations by count, sets by element bits).
    bool InRange(Int64 value) const noexcept;

private:
    template <class C>
    friend class TClassRegistration;
    void CheckOrdKind() const;

    UnicodeString FName;
    TPropertyKind FKind = pkString;
    const TEnumInfo* FEnum = nullptr;
    int FBits = 0;
    bool FSigned = true;
    UnicodeString FReferenceClass;
    const std::type_info* FEventType = nullptr;
    bool FHasDefault = false;
    Int64 FDefaultOrd = 0;
    UnicodeString FDefaultString;
    bool FNeverStored = false;

    std::function<Int64(TComponent&)> FGetOrd;
    std::function<void(TComponent&, Int64)> FSetOrd;
    std::function<UnicodeString(TComponent&)> FGetString;
    std::function<void(TComponent&, const UnicodeString&)> FSetString;
    std::function<TComponent*(TComponent&)> FGetComponent;
    std::function<void(TComponent&, TComponent*)> FSetComponent;
    std::function<UnicodeString(TComponent&)> FGetHandlerName;
    std::function<void(TComponent&, const UnicodeString&, const std::any*)> FBindHandler;
};

/// A registered component class: its name, how to create one, and its
/// published properties in publishing order.
class CORVANE_FRAMEWORK_EXPORT TClassInfo {
public:
    /// The name form files use for the class.
    const UnicodeString& ClassName() const noexcept { return FClassName; }
    /// The C++ type registered.
    const std::type_info& Type() const noexcept { return *FType; }

    /// Whether Create works (the class is not abstract and takes an owner).
    bool CanCreate() const noexcept { return static_cast<bool>(FFactory); }
    /// A new instance owned by Owner; EClassNotFound when it cannot be created.
    TComponent* Create(TComponent* owner) const;

    /// The number of published properties, inherited ones included.
    int PropertyCount() const noexcept { return static_cast<int>(FProperties.size()); }
    /// The property at Index in publishing order; EListError outside
    /// [0, PropertyCount).
    const TPropInfo& Property(int index) const;
    /// The property called Name (ignoring ASCII case), or null.
    const TPropInfo* FindProperty(std::u16string_view name) const noexcept;

    /// The registered class this one inherits its published properties from
    /// (see TClassRegistration::Inherits), or null.
    const TClassInfo* Parent() const noexcept { return FParent; }
    /// Whether this class is Other or descends from it through Parent.
    bool InheritsFrom(const TClassInfo& other) const noexcept;

private:
    template <class C>
    friend class TClassRegistration;
    friend struct Detail::TClassRegistry;

    UnicodeString FClassName;
    const std::type_info* FType = nullptr;
    std::function<TComponent*(TComponent*)> FFactory;
    std::vector<std::shared_ptr<const TPropInfo>> FProperties;
    const TClassInfo* FParent = nullptr;
};

/// Enters (or re-enters) a class in the registry with no properties. A
/// name already registered for another C++ type raises EPropertyError.
/// RegisterComponentClass is the typed front end.
CORVANE_FRAMEWORK_EXPORT TClassInfo& RegisterClassInfo(const UnicodeString& className,
                                                       const std::type_info& type,
                                                       std::function<TComponent*(TComponent*)> factory);
/// The class registered under Name (ignoring ASCII case), or null.
CORVANE_FRAMEWORK_EXPORT const TClassInfo* FindComponentClass(std::u16string_view className) noexcept;
/// The class registered for the exact dynamic type of Instance, or null.
CORVANE_FRAMEWORK_EXPORT const TClassInfo* ComponentClassOf(const TComponent& instance) noexcept;
/// The registered class of a C++ type, or null.
CORVANE_FRAMEWORK_EXPORT const TClassInfo* ComponentClassOfType(const std::type_info& type) noexcept;
/// Creates a component of the class registered under ClassName, owned by
/// Owner; EClassNotFound for an unknown or abstract class.
CORVANE_FRAMEWORK_EXPORT TComponent* CreateComponent(std::u16string_view className, TComponent* owner);

/// Declares the published properties of C, in publishing order.
template <class C>
class TClassRegistration {
    static_assert(std::is_base_of_v<TComponent, C>, "only components are registered");

public:
    /// A builder that adds to Info (see RegisterComponentClass).
    explicit TClassRegistration(TClassInfo& info) : FInfo(info) {}

    /// Publishes the properties of a registered base class of C first.
    template <class Base>
    TClassRegistration& Inherits() {
        static_assert(std::is_base_of_v<Base, C>, "Inherits needs a base class");
        const TClassInfo* baseInfo = ComponentClassOfType(typeid(Base));
        if (baseInfo == nullptr)
            throw EPropertyError(u"Class " + TypeNameWithoutNamespace(typeid(Base)) + u" is not registered");
        for (const auto& p : baseInfo->FProperties) FInfo.FProperties.push_back(p);
        FInfo.FParent = baseInfo;
        return *this;
    }

    /// Publishes one property read with Get and written with Set (member
    /// function pointers of C or callables taking C&). Modifiers: Default(v)
    /// declares the default; NotStored keeps it out of form files.
    template <class G, class S, class... M>
    TClassRegistration& Property(const UnicodeString& name, G get, S set, const M&... modifiers);

private:
    TClassInfo& FInfo;
};

/// Registers C under ClassName (the name form files use) and returns the
/// builder for its published properties. Registering a class again starts
/// its property list afresh.
template <class C>
TClassRegistration<C> RegisterComponentClass(const UnicodeString& className) {
    std::function<TComponent*(TComponent*)> factory;
    if constexpr (std::is_constructible_v<C, TComponent*> && !std::is_abstract_v<C>)
        factory = [](TComponent* owner) -> TComponent* { return new C(owner); };
    return TClassRegistration<C>(RegisterClassInfo(className, typeid(C), std::move(factory)));
}

namespace Detail {
[[noreturn]] CORVANE_FRAMEWORK_EXPORT void RaiseWrongClass(const TComponent& instance,
                                                           const std::type_info& expected);

// The instance as C, or EPropertyError.
template <class C>
C& As(const TComponent& instance) {
    auto* typed = dynamic_cast<C*>(const_cast<TComponent*>(&instance));
    if (typed == nullptr) RaiseWrongClass(instance, typeid(C));
    return *typed;
}
}  // namespace Detail

/// \cond
template <class C>
template <class G, class S, class... M>
TClassRegistration<C>& TClassRegistration<C>::Property(const UnicodeString& name, G get, S set,
                                                       const M&... modifiers) {
    using V = std::remove_cvref_t<std::invoke_result_t<G&, C&>>;
    auto info = std::make_shared<TPropInfo>();
    info->FName = name;

    // The property's value as an ordinal, for the ordinal kinds.
    auto toOrd = [](const V& value) -> Int64 {
        if constexpr (Detail::IsSet<V>::value)
            return static_cast<Int64>(value.ToMask());
        else if constexpr (std::is_enum_v<V> || std::is_integral_v<V>)
            return static_cast<Int64>(value);
        else
            return 0;
    };

    if constexpr (std::is_same_v<V, UnicodeString>) {
        info->FKind = pkString;
        info->FGetString = [get](TComponent& o) { return UnicodeString(std::invoke(get, Detail::As<C>(o))); };
        info->FSetString = [set](TComponent& o, const UnicodeString& value) {
            std::invoke(set, Detail::As<C>(o), value);
        };
    } else if constexpr (std::is_same_v<V, bool> || std::is_integral_v<V> || std::is_enum_v<V> ||
                         Detail::IsSet<V>::value) {
        if constexpr (std::is_same_v<V, bool>) {
            info->FKind = pkBoolean;
        } else if constexpr (std::is_integral_v<V>) {
            info->FKind = pkInteger;
            info->FBits = static_cast<int>(sizeof(V) * 8);
            info->FSigned = std::is_signed_v<V>;
        } else if constexpr (std::is_enum_v<V>) {
            info->FKind = pkEnumeration;
            info->FEnum = &EnumInfo<V>();
        } else {
            info->FKind = pkSet;
            info->FEnum = &EnumInfo<typename V::Element>();
        }
        info->FGetOrd = [get, toOrd](TComponent& o) { return toOrd(std::invoke(get, Detail::As<C>(o))); };
        info->FSetOrd = [set](TComponent& o, Int64 value) {
            if constexpr (Detail::IsSet<V>::value)
                std::invoke(set, Detail::As<C>(o), V::FromMask(static_cast<UInt64>(value)));
            else if constexpr (std::is_same_v<V, bool>)
                std::invoke(set, Detail::As<C>(o), value != 0);
            else
                std::invoke(set, Detail::As<C>(o), static_cast<V>(value));
        };
    } else if constexpr (std::is_pointer_v<V> && std::is_base_of_v<TComponent, std::remove_pointer_t<V>>) {
        using T = std::remove_pointer_t<V>;
        info->FKind = pkComponent;
        info->FReferenceClass = TypeNameWithoutNamespace(typeid(T));
        info->FGetComponent = [get](TComponent& o) -> TComponent* {
            return std::invoke(get, Detail::As<C>(o));
        };
        info->FSetComponent = [set](TComponent& o, TComponent* value) {
            T* typed = value == nullptr ? nullptr : dynamic_cast<T*>(value);
            if (value != nullptr && typed == nullptr) Detail::RaiseWrongClass(*value, typeid(T));
            std::invoke(set, Detail::As<C>(o), typed);
        };
    } else if constexpr (Detail::IsFunction<V>::value) {
        info->FKind = pkEvent;
        info->FEventType = &typeid(V);
        info->FGetHandlerName = [get](TComponent& o) {
            return HandlerName<V>(std::invoke(get, Detail::As<C>(o)));
        };
        info->FBindHandler = [set, name](TComponent& o, const UnicodeString& handlerName,
                                         const std::any* handler) {
            if (handler == nullptr) {
                std::invoke(set, Detail::As<C>(o), V());
                return;
            }
            const V* typed = std::any_cast<V>(handler);
            if (typed == nullptr)
                throw EPropertyError(u"Handler " + handlerName + u" does not have the type of event " + name);
            std::invoke(set, Detail::As<C>(o), NamedHandler<V>(handlerName, *typed));
        };
    } else {
        static_assert(Detail::IsFunction<V>::value, "unsupported property type");
    }

    // Modifiers: declared default and storage.
    auto apply = [&](const auto& modifier) {
        using Mod = std::remove_cvref_t<decltype(modifier)>;
        if constexpr (std::is_same_v<Mod, TNotStored>) {
            info->FNeverStored = true;
        } else if constexpr (std::is_same_v<V, UnicodeString>) {
            info->FHasDefault = true;
            info->FDefaultString = UnicodeString(modifier.Value);
        } else if constexpr (std::is_pointer_v<V> || Detail::IsFunction<V>::value) {
            static_assert(Detail::DependentFalse<Mod>::value,
                          "references and events have no declared default");
        } else {
            info->FHasDefault = true;
            info->FDefaultOrd = toOrd(static_cast<V>(modifier.Value));
        }
    };
    (apply(modifiers), ...);
    (void)apply;
    (void)toOrd;

    FInfo.FProperties.push_back(std::move(info));
    return *this;
}
/// \endcond

}  // namespace Framework
