// Published properties: per component class, the ordered list of properties
// that form files store and the designer shows; the names of enumeration
// elements (the one place where enumerations and sets become text and back);
// named event handlers; and the registry of component classes by name.
//
// A component class is published once, at start-up, for example:
//
//     Framework::DefineEnum<TAccessType>(u"TAccessType",
//         {u"atDirect", u"atPreconfig", u"atPreconfigWithNoAutoProxy", u"atProxy"});
//     Framework::DefineEnum<TSessionFlag>(u"TSessionFlag", {u"flOffline", u"flAsync"});
//     Framework::RegisterComponentClass<TINetSession>(u"TINetSession")
//         .Property(u"About", &TINetSession::About, &TINetSession::SetAbout, Framework::NotStored)
//         .Property(u"AccessType", &TINetSession::AccessType, &TINetSession::SetAccessType,
//                   Framework::Default(atPreconfig))
//         .Property(u"Agent", &TINetSession::Agent, &TINetSession::SetAgent)
//         .Property(u"Flags", &TINetSession::Flags, &TINetSession::SetFlags)
//         .Property(u"OnError", &TINetSession::OnError, &TINetSession::SetOnError);
//
// The kind of each property follows from its reader's result type:
// UnicodeString is a string; bool a Boolean; any other integral type an
// integer of that width and signedness; an enumeration (defined with
// DefineEnum) an enumeration; TSet<E> a set of E; a pointer to a TComponent
// class a component reference; a std::function an event. Properties are read
// and written through the accessors given, the same ones code uses, so the
// checks in setters apply to form files too.
//
// Storage rules (what a form-file writer stores):
//   - NotStored: never written;
//   - strings: not written when empty, nor when equal to a declared Default;
//   - Booleans, integers, enumerations, sets: not written when equal to a
//     declared Default; always written when none is declared;
//   - component references: not written when null;
//   - events: written only when the handler was bound by name (see
//     NamedHandler and THandlerTable).
//
// Thread safety: register classes and enumerations before other threads use
// them (typically during start-up); lookups may then run on any thread.
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

namespace Framework {

/// A property or enumeration was declared or used wrongly: an unknown
/// enumeration type, a value outside a property's range, an object of the
/// wrong class, a handler of the wrong type.
class EPropertyError : public Exception {
public:
    using Exception::Exception;
};

/// No component class is registered under a name.
class EClassNotFound : public Exception {
public:
    using Exception::Exception;
};

// ---------------------------------------------------------------------------
// Enumerations and sets as text

/// The element names of an enumeration, by ordinal (0, 1, 2, ...). Names
/// compare without regard to ASCII case when text is parsed.
class TEnumInfo {
public:
    TEnumInfo(UnicodeString TypeName, std::vector<UnicodeString> Names);

    const UnicodeString& TypeName() const noexcept { return FTypeName; }
    int Count() const noexcept { return static_cast<int>(FNames.size()); }
    /// The name of an ordinal; EPropertyError outside [0, Count).
    const UnicodeString& Name(int Ordinal) const;
    /// The ordinal of a name, or -1 when there is none.
    int Ordinal(std::u16string_view Name) const noexcept;

    /// "atPreconfig" for its ordinal; EPropertyError outside [0, Count).
    UnicodeString ToText(Int64 Ordinal) const;
    /// The ordinal of a name; EConvertError naming the valid names otherwise.
    int FromText(std::u16string_view Text) const;
    /// "[flOffline, flAsync]" (ordinal order), "[]" for the empty set;
    /// EPropertyError for a bit with no element.
    UnicodeString SetToText(UInt64 Mask) const;
    /// Parses "[a, b]" (blanks allowed, names in any order, repeats
    /// harmless); EConvertError for anything else.
    UInt64 SetFromText(std::u16string_view Text) const;
    /// The names joined with ", " (for messages).
    UnicodeString NameList() const;

private:
    UnicodeString FTypeName;
    std::vector<UnicodeString> FNames;
};

namespace Detail {
struct TClassRegistry;
const TEnumInfo& DefineEnum(std::type_index Type, const UnicodeString& TypeName, std::vector<UnicodeString> Names);
const TEnumInfo* FindEnum(std::type_index Type) noexcept;
const TEnumInfo& RequireEnum(const std::type_info& Type);

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
const TEnumInfo& DefineEnum(const UnicodeString& TypeName, std::initializer_list<const char16_t*> Names) {
    static_assert(std::is_enum_v<E>, "DefineEnum needs an enumeration type");
    std::vector<UnicodeString> List;
    for (const char16_t* N : Names) List.emplace_back(N);
    return Detail::DefineEnum(typeid(E), TypeName, std::move(List));
}

/// The names defined for E; EPropertyError when DefineEnum<E> has not run.
template <class E>
const TEnumInfo& EnumInfo() {
    return Detail::RequireEnum(typeid(E));
}

template <class E>
UnicodeString EnumToText(E Value) {
    return EnumInfo<E>().ToText(static_cast<Int64>(Value));
}
template <class E>
E TextToEnum(std::u16string_view Text) {
    return static_cast<E>(EnumInfo<E>().FromText(Text));
}
template <class E>
UnicodeString SetToText(TSet<E> Value) {
    return EnumInfo<E>().SetToText(Value.ToMask());
}
template <class E>
TSet<E> TextToSet(std::u16string_view Text) {
    return TSet<E>::FromMask(EnumInfo<E>().SetFromText(Text));
}

// ---------------------------------------------------------------------------
// Named event handlers

/// A handler that remembers the name it was bound by. A form-file writer
/// stores an event only when its handler is one of these.
template <class Event>
struct TNamedHandler;
template <class R, class... A>
struct TNamedHandler<std::function<R(A...)>> {
    UnicodeString Name;
    std::function<R(A...)> Handler;
    R operator()(A... Args) const { return Handler(std::forward<A>(Args)...); }
};

/// Wraps Handler so that it carries Name.
template <class Event>
Event NamedHandler(const UnicodeString& Name, Event Handler) {
    static_assert(Detail::IsFunction<Event>::value, "events are std::function types");
    return Event(TNamedHandler<Event>{Name, std::move(Handler)});
}

/// The name Handler was bound by, or the empty string for an unassigned or
/// anonymous handler.
template <class Event>
UnicodeString HandlerName(const Event& Handler) {
    if (const auto* Named = Handler.template target<TNamedHandler<Event>>()) return Named->Name;
    return {};
}

/// A root's table of named event handlers: what "OnError = SessionError" in
/// a form file binds to. Names compare without regard to ASCII case. Each
/// handler has the exact std::function type of the events it may serve:
///
///     Root.Handlers().Add<TNotifyEvent>(u"SessionOpened", [](TObject*) { ... });
class THandlerTable {
public:
    /// Adds (or replaces) the handler called Name.
    template <class Event>
    void Add(const UnicodeString& Name, std::type_identity_t<Event> Handler) {
        static_assert(Detail::IsFunction<Event>::value, "events are std::function types");
        AddAny(Name, std::any(std::move(Handler)));
    }
    /// Removes the handler called Name; false when there was none.
    bool Remove(std::u16string_view Name);
    /// The handler called Name (holding its std::function), or null; with
    /// StoredName, also the name as the table spells it.
    const std::any* Find(std::u16string_view Name, UnicodeString* StoredName = nullptr) const;
    int Count() const noexcept { return static_cast<int>(FEntries.size()); }

private:
    void AddAny(const UnicodeString& Name, std::any Handler);
    std::vector<std::pair<UnicodeString, std::any>> FEntries;
};

// ---------------------------------------------------------------------------
// Property metadata

/// What kind of value a property holds.
enum TPropertyKind { pkString, pkBoolean, pkInteger, pkEnumeration, pkSet, pkComponent, pkEvent };

/// A declared default value (see TClassRegistration::Property).
template <class T>
struct TDefault {
    T Value;
};
template <class T>
TDefault<T> Default(T Value) {
    return TDefault<T>{std::move(Value)};
}
/// Marks a property that form files never store.
struct TNotStored {};
inline constexpr TNotStored NotStored{};

template <class C>
class TClassRegistration;

/// One published property of a class. Every accessor raises EPropertyError
/// when used on an object of another class or with a value of the wrong
/// kind or range, and lets exceptions from the component's own setters
/// through unchanged.
class TPropInfo {
public:
    const UnicodeString& Name() const noexcept { return FName; }
    TPropertyKind Kind() const noexcept { return FKind; }
    /// The element names of an enumeration or set property, else null.
    const TEnumInfo* EnumType() const noexcept { return FEnum; }
    /// Integer properties: width in bits and signedness.
    int IntegerBits() const noexcept { return FBits; }
    bool IntegerSigned() const noexcept { return FSigned; }
    /// Component references: the class name of the referenced type.
    const UnicodeString& ReferenceClassName() const noexcept { return FReferenceClass; }

    bool HasDefault() const noexcept { return FHasDefault; }
    /// The declared default of an ordinal property (Boolean 0/1, integer,
    /// ordinal, set mask) and of a string property.
    Int64 DefaultOrd() const noexcept { return FDefaultOrd; }
    const UnicodeString& DefaultString() const noexcept { return FDefaultString; }
    bool NeverStored() const noexcept { return FNeverStored; }

    /// Boolean (0 or 1), integer, enumeration (ordinal) and set (bit mask;
    /// an unsigned 64-bit value keeps its bit pattern) properties.
    Int64 GetOrd(const TComponent& Instance) const;
    void SetOrd(TComponent& Instance, Int64 Value) const;
    /// String properties.
    UnicodeString GetString(const TComponent& Instance) const;
    void SetString(TComponent& Instance, const UnicodeString& Value) const;
    /// Component references. Setting a reference also links the two
    /// components with FreeNotification, so the framework clears the
    /// reference when the referenced component is destroyed.
    TComponent* GetComponent(const TComponent& Instance) const;
    void SetComponent(TComponent& Instance, TComponent* Value) const;
    /// Events: the name the current handler was bound by (empty when
    /// unassigned or anonymous); binding a handler (null clears the event).
    UnicodeString GetHandlerName(const TComponent& Instance) const;
    void BindHandler(TComponent& Instance, const UnicodeString& HandlerName, const std::any* Handler) const;

    /// Whether a form-file writer stores this property's current value.
    bool IsStored(const TComponent& Instance) const;
    /// Whether Value lies within the property's range (integers by width,
    /// Booleans 0/1, enumerations by count, sets by element bits).
    bool InRange(Int64 Value) const noexcept;

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
class TClassInfo {
public:
    const UnicodeString& ClassName() const noexcept { return FClassName; }
    const std::type_info& Type() const noexcept { return *FType; }

    /// Whether Create works (the class is not abstract and takes an owner).
    bool CanCreate() const noexcept { return static_cast<bool>(FFactory); }
    /// A new instance owned by Owner; EClassNotFound when it cannot be created.
    TComponent* Create(TComponent* Owner) const;

    int PropertyCount() const noexcept { return static_cast<int>(FProperties.size()); }
    /// The property at Index in publishing order; EListError outside
    /// [0, PropertyCount).
    const TPropInfo& Property(int Index) const;
    /// The property called Name (ignoring ASCII case), or null.
    const TPropInfo* FindProperty(std::u16string_view Name) const noexcept;

private:
    template <class C>
    friend class TClassRegistration;
    friend struct Detail::TClassRegistry;

    UnicodeString FClassName;
    const std::type_info* FType = nullptr;
    std::function<TComponent*(TComponent*)> FFactory;
    std::vector<std::shared_ptr<const TPropInfo>> FProperties;
};

/// Enters (or re-enters) a class in the registry with no properties. A
/// name already registered for another C++ type raises EPropertyError.
/// RegisterComponentClass is the typed front end.
TClassInfo& RegisterClassInfo(const UnicodeString& ClassName, const std::type_info& Type,
                              std::function<TComponent*(TComponent*)> Factory);
/// The class registered under Name (ignoring ASCII case), or null.
const TClassInfo* FindComponentClass(std::u16string_view ClassName) noexcept;
/// The class registered for the exact dynamic type of Instance, or null.
const TClassInfo* ComponentClassOf(const TComponent& Instance) noexcept;
/// The registered class of a C++ type, or null.
const TClassInfo* ComponentClassOfType(const std::type_info& Type) noexcept;
/// Creates a component of the class registered under ClassName, owned by
/// Owner; EClassNotFound for an unknown or abstract class.
TComponent* CreateComponent(std::u16string_view ClassName, TComponent* Owner);

/// Declares the published properties of C, in publishing order.
template <class C>
class TClassRegistration {
    static_assert(std::is_base_of_v<TComponent, C>, "only components are registered");

public:
    explicit TClassRegistration(TClassInfo& Info) : FInfo(Info) {}

    /// Publishes the properties of a registered base class of C first.
    template <class Base>
    TClassRegistration& Inherits() {
        static_assert(std::is_base_of_v<Base, C>, "Inherits needs a base class");
        const TClassInfo* BaseInfo = ComponentClassOfType(typeid(Base));
        if (BaseInfo == nullptr)
            throw EPropertyError(u"Class " + TypeNameWithoutNamespace(typeid(Base)) + u" is not registered");
        for (const auto& P : BaseInfo->FProperties) FInfo.FProperties.push_back(P);
        return *this;
    }

    /// Publishes one property read with Get and written with Set (member
    /// function pointers of C or callables taking C&). Modifiers: Default(v)
    /// declares the default; NotStored keeps it out of form files.
    template <class G, class S, class... M>
    TClassRegistration& Property(const UnicodeString& Name, G Get, S Set, const M&... Modifiers);

private:
    TClassInfo& FInfo;
};

/// Registers C under ClassName (the name form files use) and returns the
/// builder for its published properties. Registering a class again starts
/// its property list afresh.
template <class C>
TClassRegistration<C> RegisterComponentClass(const UnicodeString& ClassName) {
    std::function<TComponent*(TComponent*)> Factory;
    if constexpr (std::is_constructible_v<C, TComponent*> && !std::is_abstract_v<C>)
        Factory = [](TComponent* Owner) -> TComponent* { return new C(Owner); };
    return TClassRegistration<C>(RegisterClassInfo(ClassName, typeid(C), std::move(Factory)));
}

namespace Detail {
[[noreturn]] void RaiseWrongClass(const TComponent& Instance, const std::type_info& Expected);

// The instance as C, or EPropertyError.
template <class C>
C& As(const TComponent& Instance) {
    auto* Typed = dynamic_cast<C*>(const_cast<TComponent*>(&Instance));
    if (Typed == nullptr) RaiseWrongClass(Instance, typeid(C));
    return *Typed;
}
}  // namespace Detail

template <class C>
template <class G, class S, class... M>
TClassRegistration<C>& TClassRegistration<C>::Property(const UnicodeString& Name, G Get, S Set,
                                                        const M&... Modifiers) {
    using V = std::remove_cvref_t<std::invoke_result_t<G&, C&>>;
    auto Info = std::make_shared<TPropInfo>();
    Info->FName = Name;

    // The property's value as an ordinal, for the ordinal kinds.
    auto ToOrd = [](const V& Value) -> Int64 {
        if constexpr (Detail::IsSet<V>::value)
            return static_cast<Int64>(Value.ToMask());
        else if constexpr (std::is_enum_v<V> || std::is_integral_v<V>)
            return static_cast<Int64>(Value);
        else
            return 0;
    };

    if constexpr (std::is_same_v<V, UnicodeString>) {
        Info->FKind = pkString;
        Info->FGetString = [Get](TComponent& O) { return UnicodeString(std::invoke(Get, Detail::As<C>(O))); };
        Info->FSetString = [Set](TComponent& O, const UnicodeString& Value) {
            std::invoke(Set, Detail::As<C>(O), Value);
        };
    } else if constexpr (std::is_same_v<V, bool> || std::is_integral_v<V> || std::is_enum_v<V> ||
                         Detail::IsSet<V>::value) {
        if constexpr (std::is_same_v<V, bool>) {
            Info->FKind = pkBoolean;
        } else if constexpr (std::is_integral_v<V>) {
            Info->FKind = pkInteger;
            Info->FBits = static_cast<int>(sizeof(V) * 8);
            Info->FSigned = std::is_signed_v<V>;
        } else if constexpr (std::is_enum_v<V>) {
            Info->FKind = pkEnumeration;
            Info->FEnum = &EnumInfo<V>();
        } else {
            Info->FKind = pkSet;
            Info->FEnum = &EnumInfo<typename V::Element>();
        }
        Info->FGetOrd = [Get, ToOrd](TComponent& O) { return ToOrd(std::invoke(Get, Detail::As<C>(O))); };
        Info->FSetOrd = [Set](TComponent& O, Int64 Value) {
            if constexpr (Detail::IsSet<V>::value)
                std::invoke(Set, Detail::As<C>(O), V::FromMask(static_cast<UInt64>(Value)));
            else if constexpr (std::is_same_v<V, bool>)
                std::invoke(Set, Detail::As<C>(O), Value != 0);
            else
                std::invoke(Set, Detail::As<C>(O), static_cast<V>(Value));
        };
    } else if constexpr (std::is_pointer_v<V> && std::is_base_of_v<TComponent, std::remove_pointer_t<V>>) {
        using T = std::remove_pointer_t<V>;
        Info->FKind = pkComponent;
        Info->FReferenceClass = TypeNameWithoutNamespace(typeid(T));
        Info->FGetComponent = [Get](TComponent& O) -> TComponent* { return std::invoke(Get, Detail::As<C>(O)); };
        Info->FSetComponent = [Set](TComponent& O, TComponent* Value) {
            T* Typed = Value == nullptr ? nullptr : dynamic_cast<T*>(Value);
            if (Value != nullptr && Typed == nullptr) Detail::RaiseWrongClass(*Value, typeid(T));
            std::invoke(Set, Detail::As<C>(O), Typed);
        };
    } else if constexpr (Detail::IsFunction<V>::value) {
        Info->FKind = pkEvent;
        Info->FGetHandlerName = [Get](TComponent& O) { return HandlerName<V>(std::invoke(Get, Detail::As<C>(O))); };
        Info->FBindHandler = [Set, Name](TComponent& O, const UnicodeString& HandlerName, const std::any* Handler) {
            if (Handler == nullptr) {
                std::invoke(Set, Detail::As<C>(O), V());
                return;
            }
            const V* Typed = std::any_cast<V>(Handler);
            if (Typed == nullptr)
                throw EPropertyError(u"Handler " + HandlerName + u" does not have the type of event " + Name);
            std::invoke(Set, Detail::As<C>(O), NamedHandler<V>(HandlerName, *Typed));
        };
    } else {
        static_assert(Detail::IsFunction<V>::value, "unsupported property type");
    }

    // Modifiers: declared default and storage.
    auto Apply = [&](const auto& Modifier) {
        using Mod = std::remove_cvref_t<decltype(Modifier)>;
        if constexpr (std::is_same_v<Mod, TNotStored>) {
            Info->FNeverStored = true;
        } else if constexpr (std::is_same_v<V, UnicodeString>) {
            Info->FHasDefault = true;
            Info->FDefaultString = UnicodeString(Modifier.Value);
        } else if constexpr (std::is_pointer_v<V> || Detail::IsFunction<V>::value) {
            static_assert(Detail::DependentFalse<Mod>::value, "references and events have no declared default");
        } else {
            Info->FHasDefault = true;
            Info->FDefaultOrd = ToOrd(static_cast<V>(Modifier.Value));
        }
    };
    (Apply(Modifiers), ...);
    (void)Apply;
    (void)ToOrd;

    FInfo.FProperties.push_back(std::move(Info));
    return *this;
}

}  // namespace Framework
