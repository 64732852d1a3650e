// The designer registry: palette pages and property editor registrations,
// each entry marked with the package that made it.
#include <algorithm>
#include <limits>

#include <Framework/Designer.h>

#include "DesignConsts.h"

namespace Framework {

// ---------------------------------------------------------------------------
// Property types

TPropertyType TPropertyType::Of(const TPropInfo& property) {
    TPropertyType t;
    t.FKind = property.Kind();
    if (t.FKind == pkInteger) {
        t.FBits = property.IntegerBits();
        t.FSigned = property.IntegerSigned();
    }
    t.FEnum = property.EnumType();
    t.FReferenceClass = property.ReferenceClassName();
    return t;
}

bool TPropertyType::operator==(const TPropertyType& other) const noexcept {
    if (FKind != other.FKind) return false;
    switch (FKind) {
    case pkInteger:
        return FBits == other.FBits && FSigned == other.FSigned;
    case pkEnumeration:
    case pkSet:
        return FEnum == other.FEnum;
    case pkComponent:
        return SameText(FReferenceClass, other.FReferenceClass);
    default:
        return true;
    }
}

UnicodeString TPropertyType::Name() const {
    switch (FKind) {
    case pkString:
        return u"string";
    case pkBoolean:
        return u"Boolean";
    case pkInteger:
        switch (FBits) {
        case 8:
            return FSigned ? u"ShortInt" : u"Byte";
        case 16:
            return FSigned ? u"SmallInt" : u"Word";
        case 32:
            return FSigned ? u"Integer" : u"Cardinal";
        default:
            return FSigned ? u"Int64" : u"UInt64";
        }
    case pkEnumeration:
        return FEnum->TypeName();
    case pkSet:
        return u"set of " + FEnum->TypeName();
    case pkComponent:
        return FReferenceClass;
    case pkEvent:
        return u"event";
    }
    return {};
}

const TClassInfo& RequireClass(const std::type_info& type) {
    const TClassInfo* info = ComponentClassOfType(type);
    if (info == nullptr)
        throw EClassNotFound(
            Format(LoadResString(DesignConsts::SClassNotRegistered), {TypeNameWithoutNamespace(type)}));
    return *info;
}

// ---------------------------------------------------------------------------
// The registry

struct TDesignRegistry::TState {
    struct TPageEntry {
        UnicodeString Name;
        std::vector<std::pair<const TClassInfo*, int>> Classes;  // class, package
        int Package = 0;                                         // the package that made the page
    };
    std::vector<TPageEntry> Pages;
    std::vector<std::pair<TEditorRegistration, int>> Editors;  // registration, package
};

TDesignRegistry::TDesignRegistry() : FState(std::make_unique<TState>()) {}
TDesignRegistry::~TDesignRegistry() = default;

void TDesignRegistry::AddComponents(const UnicodeString& page,
                                    const std::vector<const TClassInfo*>& classes) {
    AddComponentsOf(page, classes, 0);
}

void TDesignRegistry::AddComponentsOf(const UnicodeString& page,
                                      const std::vector<const TClassInfo*>& classes, int package) {
    for (const TClassInfo* c : classes)
        if (c == nullptr)
            throw EPropertyError(Format(LoadResString(DesignConsts::SNullPaletteClass), {page}));
    auto it = std::find_if(FState->Pages.begin(), FState->Pages.end(),
                           [&](const TState::TPageEntry& p) { return SameText(p.Name, page); });
    if (it == FState->Pages.end())
        it = FState->Pages.insert(FState->Pages.end(), TState::TPageEntry{page, {}, package});
    for (const TClassInfo* c : classes)
        if (PageOf(*c).empty()) it->Classes.emplace_back(c, package);
}

void TDesignRegistry::AddPropertyEditor(TEditorRegistration registration) {
    FState->Editors.emplace_back(std::move(registration), 0);
}

std::vector<TPalettePage> TDesignRegistry::Pages() const {
    std::vector<TPalettePage> result;
    for (const auto& p : FState->Pages) {
        TPalettePage page{p.Name, {}};
        for (const auto& c : p.Classes) page.Classes.push_back(c.first);
        result.push_back(std::move(page));
    }
    return result;
}

std::vector<TEditorRegistration> TDesignRegistry::Editors() const {
    std::vector<TEditorRegistration> result;
    for (const auto& e : FState->Editors) result.push_back(e.first);
    return result;
}

UnicodeString TDesignRegistry::PageOf(const TClassInfo& componentClass) const {
    for (const auto& p : FState->Pages)
        for (const auto& c : p.Classes)
            if (c.first == &componentClass) return p.Name;
    return {};
}

namespace {

// How far Ancestor lies above Class (0 for the class itself), or -1.
int Distance(const TClassInfo& cls, const TClassInfo& ancestor) {
    int d = 0;
    for (const TClassInfo* c = &cls; c != nullptr; c = c->Parent(), ++d)
        if (c == &ancestor) return d;
    return -1;
}

TPropertyEditorClass DefaultEditorClass(TPropertyKind kind) {
    switch (kind) {
    case pkString:
        return EditorClass<TStringProperty>();
    case pkBoolean:
        return EditorClass<TBoolProperty>();
    case pkInteger:
        return EditorClass<TIntegerProperty>();
    case pkEnumeration:
        return EditorClass<TEnumProperty>();
    case pkSet:
        return EditorClass<TSetProperty>();
    case pkComponent:
        return EditorClass<TComponentProperty>();
    case pkEvent:
        return EditorClass<TMethodProperty>();
    }
    return EditorClass<TPropertyEditor>();
}

}  // namespace

TPropertyEditorClass TDesignRegistry::FindEditorClass(const TClassInfo& componentClass,
                                                      const TPropInfo& property) const {
    const TPropertyType type = TPropertyType::Of(property);
    const TEditorRegistration* best = nullptr;
    bool bestNamed = false;
    int bestDistance = 0;
    for (const auto& [r, package] : FState->Editors) {
        if (!(r.PropertyType == type)) continue;
        const bool named = !r.PropertyName.empty();
        if (named && !SameText(r.PropertyName, property.Name())) continue;
        // A registration for any class counts as the farthest ancestor.
        int distance = std::numeric_limits<int>::max();
        if (r.ComponentClass != nullptr) {
            distance = Distance(componentClass, *r.ComponentClass);
            if (distance < 0) continue;
        }
        // Named beats unnamed; then the nearer class; then the later one.
        if (best == nullptr || named > bestNamed || (named == bestNamed && distance <= bestDistance)) {
            best = &r;
            bestNamed = named;
            bestDistance = distance;
        }
    }
    return best != nullptr ? best->EditorClass : DefaultEditorClass(property.Kind());
}

std::unique_ptr<TPropertyEditor> TDesignRegistry::CreateEditor(TFormDesigner& designer, TComponent& component,
                                                               const TPropInfo& property) const {
    const TClassInfo* cls = ComponentClassOf(component);
    if (cls == nullptr)
        throw EClassNotFound(Format(LoadResString(DesignConsts::SClassNotRegistered),
                                    {TypeNameWithoutNamespace(typeid(component))}));
    return FindEditorClass(*cls, property).Create(designer, component, property);
}

void TDesignRegistry::Adopt(TDesignRegistry& other, int package) {
    for (const auto& page : other.FState->Pages) {
        std::vector<const TClassInfo*> classes;
        for (const auto& c : page.Classes) classes.push_back(c.first);
        AddComponentsOf(page.Name, classes, package);
    }
    for (auto& e : other.FState->Editors) FState->Editors.emplace_back(std::move(e.first), package);
    other.Clear();
}

void TDesignRegistry::Withdraw(int package) {
    auto& pages = FState->Pages;
    for (auto& p : pages) std::erase_if(p.Classes, [&](const auto& c) { return c.second == package; });
    // A page a package made goes when its last class does, whoever added it.
    std::erase_if(pages, [&](const TState::TPageEntry& p) { return p.Package != 0 && p.Classes.empty(); });
    std::erase_if(FState->Editors, [&](const auto& e) { return e.second == package; });
}

void TDesignRegistry::Clear() {
    FState->Pages.clear();
    FState->Editors.clear();
}

TDesignRegistry& DesignRegistry() {
    // Never destroyed: packages' classes may outlive static destruction.
    static TDesignRegistry* instance = new TDesignRegistry;
    return *instance;
}

namespace {
TDesignRegistry* CurrentTarget = nullptr;
}

TDesignRegistry& RegistrationTarget() {
    return CurrentTarget != nullptr ? *CurrentTarget : DesignRegistry();
}

TRegistrationTarget::TRegistrationTarget(TDesignRegistry& target) : FPrevious(CurrentTarget) {
    CurrentTarget = &target;
}

TRegistrationTarget::~TRegistrationTarget() {
    CurrentTarget = FPrevious;
}

void RegisterComponents(const UnicodeString& page, std::initializer_list<const TClassInfo*> classes) {
    RegistrationTarget().AddComponents(page, std::vector<const TClassInfo*>(classes));
}

void RegisterPropertyEditor(const TPropertyType& propertyType, const TClassInfo* componentClass,
                            const UnicodeString& propertyName, const TPropertyEditorClass& editorClass) {
    RegistrationTarget().AddPropertyEditor({propertyType, componentClass, propertyName, editorClass});
}

}  // namespace Framework
