/// \file
/// The designer's side of the framework: the component palette, property
/// editors and the registry that ties them to published properties.
///
/// A design-time unit's Register procedure, run when a designer host loads
/// its package (Framework/Packages.h), calls:
///
///     Framework::RegisterComponents(u"Internet", {ClassOf<TINetSession>(), ClassOf<TINetHttp>()});
///     Framework::RegisterPropertyEditor(Framework::TypeInfo<Word>(), ClassOf<TINetHttp>(), u"Port",
///                                       Framework::EditorClass<TPortProperty>());
///
/// and a host shows the palette (TDesignRegistry::Pages) and edits any
/// published property of a component on its form through the editor the
/// registry picks for it (TDesignRegistry::CreateEditor): the most specific
/// registration, else the framework's editor for the property's kind.
///
/// This part of the framework is its own library (Corvane::Design), shared by
/// a host and every package it loads, so that all of them see one registry,
/// one class registry and one runtime; applications never link it.
///
/// Thread safety: the registry and the editors belong to the designer's
/// thread, as a form being designed does.
#pragma once

#include <functional>
#include <initializer_list>
#include <memory>
#include <string_view>
#include <typeinfo>
#include <vector>

#include "Framework/Classes.h"
#include "Framework/Properties.h"
#include "Framework/Set.h"
#include "Framework/SysUtils.h"
#include "Framework/DesignExport.h"

namespace Framework {

// ---------------------------------------------------------------------------
// Property types

/// The type of a published property, as editors are registered for it: its
/// kind, and for integers the width and signedness, for enumerations and
/// sets the element type, for references the referenced class.
class CORVANE_DESIGN_EXPORT TPropertyType {
public:
    TPropertyType() = default;
    /// The type of a published property.
    static TPropertyType Of(const TPropInfo& property);

    /// The property's kind.
    TPropertyKind Kind() const noexcept { return FKind; }
    /// "Word", "Integer", "Boolean", "string", "TAccessType", "set of
    /// TSessionFlag", "TINetSession", "event", ...
    UnicodeString Name() const;
    /// Whether both stand for the same type (kind, width and signedness,
    /// element type or referenced class).
    bool operator==(const TPropertyType& other) const noexcept;

private:
    template <class T>
    friend TPropertyType TypeInfo();

    TPropertyKind FKind = pkString;
    int FBits = 0;
    bool FSigned = false;
    const TEnumInfo* FEnum = nullptr;
    UnicodeString FReferenceClass;
};

/// The property type of C++ type T: UnicodeString, bool, an integral type,
/// an enumeration defined with DefineEnum, TSet<E>, a pointer to a
/// component class, or an event's std::function.
template <class T>
TPropertyType TypeInfo() {
    TPropertyType t;
    if constexpr (std::is_same_v<T, UnicodeString>) {
        t.FKind = pkString;
    } else if constexpr (std::is_same_v<T, bool>) {
        t.FKind = pkBoolean;
    } else if constexpr (std::is_integral_v<T>) {
        t.FKind = pkInteger;
        t.FBits = static_cast<int>(sizeof(T) * 8);
        t.FSigned = std::is_signed_v<T>;
    } else if constexpr (std::is_enum_v<T>) {
        t.FKind = pkEnumeration;
        t.FEnum = &EnumInfo<T>();
    } else if constexpr (Detail::IsSet<T>::value) {
        t.FKind = pkSet;
        t.FEnum = &EnumInfo<typename T::Element>();
    } else if constexpr (std::is_pointer_v<T> && std::is_base_of_v<TComponent, std::remove_pointer_t<T>>) {
        t.FKind = pkComponent;
        t.FReferenceClass = TypeNameWithoutNamespace(typeid(std::remove_pointer_t<T>));
    } else {
        static_assert(Detail::IsFunction<T>::value, "not a type a published property can have");
        t.FKind = pkEvent;
    }
    return t;
}

/// The registered class of component class C; EClassNotFound when C was
/// never registered (Framework/Properties.h).
CORVANE_DESIGN_EXPORT const TClassInfo& RequireClass(const std::type_info& type);
/// The registered class of C, as RequireClass.
template <class C>
const TClassInfo* ClassOf() {
    return &RequireClass(typeid(C));
}

// ---------------------------------------------------------------------------
// Property editors

/// What a designer may do with a property, by bit position.
enum TPropertyAttribute {
    paValueList,              ///< offers a list of values (GetValues)
    paSubProperties,          ///< has sub-properties to expand
    paDialog,                 ///< has an editing dialog
    paMultiSelect,            ///< may be edited on several components at once
    paAutoUpdate,             ///< applies each change as it is typed
    paSortList,               ///< the value list is shown sorted
    paReadOnly,               ///< the value text cannot be typed
    paRevertable,             ///< may be reverted to its inherited value
    paFullWidthName,          ///< the name takes the whole row
    paVolatileSubProperties,  ///< sub-properties change with the value
    paVCL,                    ///< belongs to the visual component library
    paNotNestable,            ///< not shown inside another property
    paDisplayReadOnly,        ///< shown, but never edited
    paCustomDropDown,         ///< draws its own drop-down
    paValueEditable           ///< the value text may be typed as well as picked
};
/// A set of TPropertyAttribute elements.
using TPropertyAttributes = TSet<TPropertyAttribute>;
/// Receives the values of a value list, one call per value.
using TGetStrProc = std::function<void(const UnicodeString& value)>;

/// A form being designed: its root component and whether it has changed
/// since it was read or saved. The root and the components it owns carry
/// csDesigning from the designer's construction on, also those a form file
/// read afterwards creates, so a component that fails to open as its form
/// loads is reported and the form still loads.
class CORVANE_DESIGN_EXPORT TFormDesigner {
public:
    /// Designs Root's form, which the designer does not own.
    explicit TFormDesigner(TComponent& root);

    /// The form's root component.
    TComponent& Root() const noexcept { return FRoot; }
    /// Marks the form changed (editors call it after each change).
    void Modified() noexcept { FModified = true; }
    /// Whether the form changed since it was read or saved.
    bool IsModified() const noexcept { return FModified; }
    /// Sets the flag (false after saving the form).
    void SetModified(bool value) noexcept { FModified = value; }

private:
    TComponent& FRoot;
    bool FModified = false;
};

/// Shows and edits one published property of one component. Reading and
/// writing go through the property's accessors, so the component's setters
/// (and their checks) apply exactly as they do for code and form files;
/// each successful change marks the designer's form modified.
class CORVANE_DESIGN_EXPORT TPropertyEditor {
public:
    /// An editor of Property of Component on Designer's form.
    TPropertyEditor(TFormDesigner& designer, TComponent& component, const TPropInfo& property);
    virtual ~TPropertyEditor();
    TPropertyEditor(const TPropertyEditor&) = delete;
    TPropertyEditor& operator=(const TPropertyEditor&) = delete;

    /// What the designer may do with the property (none by default).
    virtual TPropertyAttributes GetAttributes();
    /// The value as text.
    virtual UnicodeString GetValue();
    /// Sets the value from text; raises (leaving the value as it was) when
    /// the text does not fit. The base editor's values are read-only.
    virtual void SetValue(const UnicodeString& value);
    /// Calls Proc with each value of the value list (none by default).
    virtual void GetValues(const TGetStrProc& proc);

    /// The property's name.
    const UnicodeString& GetName() const noexcept { return FProperty.Name(); }
    /// The property edited.
    const TPropInfo& PropInfo() const noexcept { return FProperty; }
    /// The component whose property is edited.
    TComponent& GetComponent() const noexcept { return FComponent; }
    /// The designer of the component's form.
    TFormDesigner& Designer() const noexcept { return FDesigner; }

    /// The value of an ordinal property (integer, Boolean 0/1, enumeration
    /// ordinal, set mask).
    Int64 GetOrdValue();
    /// Sets an ordinal value through the property's setter. A value outside
    /// the property's range raises EConvertError before anything is set: an
    /// integer never reaches a narrower property cut to its low bits.
    void SetOrdValue(Int64 value);
    /// The value of a string property.
    UnicodeString GetStrValue();
    /// Sets a string value through the property's setter.
    void SetStrValue(const UnicodeString& value);
    /// Marks the form modified.
    void Modified() noexcept { FDesigner.Modified(); }

private:
    TFormDesigner& FDesigner;
    TComponent& FComponent;
    const TPropInfo& FProperty;
};

/// The editor base for ordinal properties (integers, Booleans, enumerations,
/// sets); may be edited on several components at once.
class CORVANE_DESIGN_EXPORT TOrdinalProperty : public TPropertyEditor {
public:
    /// An editor of Property of Component on Designer's form.
    using TPropertyEditor::TPropertyEditor;
    TPropertyAttributes GetAttributes() override;
};

/// Integers in decimal; the text is read with StrToInt64.
class CORVANE_DESIGN_EXPORT TIntegerProperty : public TOrdinalProperty {
public:
    using TOrdinalProperty::TOrdinalProperty;
    UnicodeString GetValue() override;
    void SetValue(const UnicodeString& value) override;
};

/// Enumerations by element name, offered as a sorted value list.
class CORVANE_DESIGN_EXPORT TEnumProperty : public TOrdinalProperty {
public:
    using TOrdinalProperty::TOrdinalProperty;
    TPropertyAttributes GetAttributes() override;
    UnicodeString GetValue() override;
    void SetValue(const UnicodeString& value) override;
    void GetValues(const TGetStrProc& proc) override;
};

/// Booleans as "False" and "True".
class CORVANE_DESIGN_EXPORT TBoolProperty : public TEnumProperty {
public:
    using TEnumProperty::TEnumProperty;
    UnicodeString GetValue() override;
    void SetValue(const UnicodeString& value) override;
    void GetValues(const TGetStrProc& proc) override;
};

/// Sets as "[a, b]".
class CORVANE_DESIGN_EXPORT TSetProperty : public TOrdinalProperty {
public:
    using TOrdinalProperty::TOrdinalProperty;
    TPropertyAttributes GetAttributes() override;
    UnicodeString GetValue() override;
    void SetValue(const UnicodeString& value) override;
};

/// Strings as they are.
class CORVANE_DESIGN_EXPORT TStringProperty : public TPropertyEditor {
public:
    /// An editor of Property of Component on Designer's form.
    using TPropertyEditor::TPropertyEditor;
    TPropertyAttributes GetAttributes() override;
    UnicodeString GetValue() override;
    void SetValue(const UnicodeString& value) override;
};

/// Component references by the name of a component on the form (the empty
/// text for none); the list offers the form's components of the referenced
/// class.
class CORVANE_DESIGN_EXPORT TComponentProperty : public TPropertyEditor {
public:
    /// An editor of Property of Component on Designer's form.
    using TPropertyEditor::TPropertyEditor;
    TPropertyAttributes GetAttributes() override;
    UnicodeString GetValue() override;
    void SetValue(const UnicodeString& value) override;
    void GetValues(const TGetStrProc& proc) override;
};

/// Events by the name of a handler in the form's handler table (the empty
/// text for none); the list offers the handlers of the event's type.
class CORVANE_DESIGN_EXPORT TMethodProperty : public TPropertyEditor {
public:
    /// An editor of Property of Component on Designer's form.
    using TPropertyEditor::TPropertyEditor;
    TPropertyAttributes GetAttributes() override;
    UnicodeString GetValue() override;
    void SetValue(const UnicodeString& value) override;
    void GetValues(const TGetStrProc& proc) override;
};

/// An editor class: its name and how to make an editor of it.
struct CORVANE_DESIGN_EXPORT TPropertyEditorClass {
    UnicodeString ClassName;  ///< the editor class's name
    /// Makes an editor of this class.
    std::function<std::unique_ptr<TPropertyEditor>(TFormDesigner&, TComponent&, const TPropInfo&)> Create;
};

/// The editor class of C++ class E (a TPropertyEditor with its constructor).
template <class E>
TPropertyEditorClass EditorClass() {
    static_assert(std::is_base_of_v<TPropertyEditor, E>, "editors derive from TPropertyEditor");
    return {TypeNameWithoutNamespace(typeid(E)),
            [](TFormDesigner& designer, TComponent& component, const TPropInfo& property) {
                return std::unique_ptr<TPropertyEditor>(new E(designer, component, property));
            }};
}

// ---------------------------------------------------------------------------
// The registry

/// A page of the component palette: its name and classes in registration
/// order.
struct CORVANE_DESIGN_EXPORT TPalettePage {
    UnicodeString Name;                      ///< the page's name
    std::vector<const TClassInfo*> Classes;  ///< its classes
};

/// One RegisterPropertyEditor: the property type, the component class (null:
/// any) and property name (empty: any) it serves, and the editor class.
struct CORVANE_DESIGN_EXPORT TEditorRegistration {
    TPropertyType PropertyType;                  ///< the property type served
    const TClassInfo* ComponentClass = nullptr;  ///< the component class served, or null for any
    UnicodeString PropertyName;                  ///< the property name served, or empty for any
    TPropertyEditorClass EditorClass;            ///< the editor class
};

/// What a designer reads: the palette and the property editors. Entries
/// keep the order they were registered in; each carries the package that
/// made it (0 for the host), so unloading a package withdraws its entries.
class CORVANE_DESIGN_EXPORT TDesignRegistry {
public:
    TDesignRegistry();
    ~TDesignRegistry();
    TDesignRegistry(const TDesignRegistry&) = delete;
    TDesignRegistry& operator=(const TDesignRegistry&) = delete;

    /// Adds Classes to the page called Page (created at the end of the
    /// palette when new; page names ignore ASCII case). A class already on
    /// a page stays where it is. EPropertyError for a null class.
    void AddComponents(const UnicodeString& page, const std::vector<const TClassInfo*>& classes);
    /// Adds an editor registration (see FindEditorClass for which one
    /// serves a property).
    void AddPropertyEditor(TEditorRegistration registration);

    /// The palette's pages, in the order they were first registered.
    std::vector<TPalettePage> Pages() const;
    /// Every editor registration, in registration order.
    std::vector<TEditorRegistration> Editors() const;
    /// The page that holds a class, or the empty text.
    UnicodeString PageOf(const TClassInfo& componentClass) const;

    /// The editor class for Property of a component of class
    /// ComponentClass: of the registrations for the property's type whose
    /// class is ComponentClass or one of its ancestors (or any) and whose
    /// name is the property's (or any), the one naming the property wins,
    /// then the one for the nearest class, then the later one; with none,
    /// the framework's editor for the property's kind.
    TPropertyEditorClass FindEditorClass(const TClassInfo& componentClass, const TPropInfo& property) const;
    /// An editor of that class for Property of Component on Designer's form.
    std::unique_ptr<TPropertyEditor> CreateEditor(TFormDesigner& designer, TComponent& component,
                                                  const TPropInfo& property) const;

    /// Moves every entry of Other here, marked as Package's; Other is left
    /// empty. Used by the package loader once a package registered in full.
    void Adopt(TDesignRegistry& other, int package);
    /// Withdraws the entries Package made.
    void Withdraw(int package);
    /// Removes everything.
    void Clear();

private:
    void AddComponentsOf(const UnicodeString& page, const std::vector<const TClassInfo*>& classes,
                         int package);

    struct TState;
    std::unique_ptr<TState> FState;
};

/// The process's registry, the one designer hosts show.
CORVANE_DESIGN_EXPORT TDesignRegistry& DesignRegistry();

/// The registry that RegisterComponents and RegisterPropertyEditor fill:
/// DesignRegistry(), or while a package registers, the loader's staging
/// registry. TRegistrationTarget switches it for a scope.
CORVANE_DESIGN_EXPORT TDesignRegistry& RegistrationTarget();
/// Makes Target the registration target for the object's lifetime, then
/// restores the previous one.
class CORVANE_DESIGN_EXPORT TRegistrationTarget {
public:
    /// Switches the registration target to Target.
    explicit TRegistrationTarget(TDesignRegistry& target);
    ~TRegistrationTarget();
    TRegistrationTarget(const TRegistrationTarget&) = delete;
    TRegistrationTarget& operator=(const TRegistrationTarget&) = delete;

private:
    TDesignRegistry* FPrevious;
};

/// Puts Classes on the palette page Page.
CORVANE_DESIGN_EXPORT void RegisterComponents(const UnicodeString& page,
                                              std::initializer_list<const TClassInfo*> classes);
/// Registers EditorClass for properties of type PropertyType of components
/// of class ComponentClass (and its descendants; null for every class)
/// called PropertyName (empty for every name).
CORVANE_DESIGN_EXPORT void RegisterPropertyEditor(const TPropertyType& propertyType,
                                                  const TClassInfo* componentClass,
                                                  const UnicodeString& propertyName,
                                                  const TPropertyEditorClass& editorClass);

}  // namespace Framework
