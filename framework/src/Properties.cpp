#include "Framework/Properties.h"

#include <map>
#include <mutex>
#include <shared_mutex>

#include "FrameworkConsts.h"
#include "PropertyInternals.h"

namespace Framework {

namespace {

// Skips blanks (spaces, tabs, line breaks) from Pos on.
void SkipBlanks(std::u16string_view text, std::size_t& pos) {
    while (pos < text.size() &&
           (text[pos] == u' ' || text[pos] == u'\t' || text[pos] == u'\r' || text[pos] == u'\n'))
        ++pos;
}

bool IsIdentChar(char16_t c) {
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') || c == u'_';
}

// Enumeration names by C++ type.
struct TEnumRegistry {
    std::shared_mutex Lock;
    std::map<std::type_index, std::unique_ptr<TEnumInfo>> Types;
};

TEnumRegistry& Enums() {
    static TEnumRegistry* instance = new TEnumRegistry;
    return *instance;
}

}  // namespace

// ---------------------------------------------------------------------------
// TEnumInfo

TEnumInfo::TEnumInfo(UnicodeString typeName, std::vector<UnicodeString> names)
    : FTypeName(std::move(typeName)), FNames(std::move(names)) {}

const UnicodeString& TEnumInfo::Name(int ordinal) const {
    if (ordinal < 0 || ordinal >= Count())
        throw EPropertyError(
            Format(LoadResString(Consts::SEnumOrdinalError), {IntToStr(ordinal), FTypeName}));
    return FNames[static_cast<std::size_t>(ordinal)];
}

int TEnumInfo::Ordinal(std::u16string_view name) const noexcept {
    for (std::size_t i = 0; i < FNames.size(); ++i)
        if (SameText(FNames[i], name)) return static_cast<int>(i);
    return -1;
}

UnicodeString TEnumInfo::ToText(Int64 ordinal) const {
    if (ordinal < 0 || ordinal >= Count())
        throw EPropertyError(
            Format(LoadResString(Consts::SEnumOrdinalError), {IntToStr(ordinal), FTypeName}));
    return FNames[static_cast<std::size_t>(ordinal)];
}

int TEnumInfo::FromText(std::u16string_view text) const {
    const int result = Ordinal(text);
    if (result < 0)
        throw EConvertError(
            Format(LoadResString(Consts::SEnumNameError), {UnicodeString(text), FTypeName, NameList()}));
    return result;
}

UnicodeString TEnumInfo::SetToText(UInt64 mask) const {
    UnicodeString out = u"[";
    for (int i = 0; i < 64; ++i) {
        if ((mask & (UInt64{1} << i)) == 0) continue;
        if (i >= Count())
            throw EPropertyError(Format(LoadResString(Consts::SEnumOrdinalError), {IntToStr(i), FTypeName}));
        if (out.size() > 1) out += u", ";
        out += FNames[static_cast<std::size_t>(i)];
    }
    return out + u"]";
}

// Parses "[name, name, ...]": blanks anywhere between the tokens.
UInt64 TEnumInfo::SetFromText(std::u16string_view text) const {
    auto fail = [&]() -> EConvertError {
        return EConvertError(Format(LoadResString(Consts::SSetTextError), {UnicodeString(text), FTypeName}));
    };
    std::size_t pos = 0;
    SkipBlanks(text, pos);
    if (pos >= text.size() || text[pos] != u'[') throw fail();
    ++pos;
    SkipBlanks(text, pos);
    UInt64 mask = 0;
    if (pos < text.size() && text[pos] == u']') {
        ++pos;
    } else {
        for (;;) {
            const std::size_t start = pos;
            while (pos < text.size() && IsIdentChar(text[pos])) ++pos;
            const int ord = Ordinal(text.substr(start, pos - start));
            if (pos == start || ord < 0 || ord >= 64) throw fail();
            mask |= UInt64{1} << ord;
            SkipBlanks(text, pos);
            if (pos < text.size() && text[pos] == u',') {
                ++pos;
                SkipBlanks(text, pos);
                continue;
            }
            if (pos < text.size() && text[pos] == u']') {
                ++pos;
                break;
            }
            throw fail();
        }
    }
    SkipBlanks(text, pos);
    if (pos != text.size()) throw fail();
    return mask;
}

UnicodeString TEnumInfo::NameList() const {
    UnicodeString out;
    for (const auto& n : FNames) {
        if (!out.empty()) out += u", ";
        out += n;
    }
    return out;
}

namespace Detail {

// Defines the names of one enumeration type; the same names again are
// accepted, different ones refused, so no TEnumInfo handed out ever changes.
const TEnumInfo& DefineEnum(std::type_index type, const UnicodeString& typeName,
                            std::vector<UnicodeString> names) {
    TEnumRegistry& r = Enums();
    std::unique_lock guard(r.Lock);
    auto it = r.Types.find(type);
    if (it != r.Types.end()) {
        const TEnumInfo& existing = *it->second;
        bool same = existing.TypeName() == typeName && existing.Count() == static_cast<int>(names.size());
        for (int i = 0; same && i < existing.Count(); ++i)
            same = existing.Name(i) == names[static_cast<std::size_t>(i)];
        if (!same) throw EPropertyError(Format(LoadResString(Consts::SEnumRedefined), {typeName}));
        return existing;
    }
    for (const auto& n : names)
        if (!IsValidIdent(n))
            throw EPropertyError(Format(LoadResString(Consts::SEnumBadName), {n, typeName}));
    auto info = std::make_unique<TEnumInfo>(typeName, std::move(names));
    const TEnumInfo& result = *info;
    r.Types.emplace(type, std::move(info));
    return result;
}

const TEnumInfo* FindEnum(std::type_index type) noexcept {
    TEnumRegistry& r = Enums();
    std::shared_lock guard(r.Lock);
    auto it = r.Types.find(type);
    return it == r.Types.end() ? nullptr : it->second.get();
}

const TEnumInfo& RequireEnum(const std::type_info& type) {
    const TEnumInfo* info = FindEnum(type);
    if (info == nullptr)
        throw EPropertyError(Format(LoadResString(Consts::SEnumUndefined), {TypeNameWithoutNamespace(type)}));
    return *info;
}

void RaiseWrongClass(const TComponent& instance, const std::type_info& expected) {
    throw EPropertyError(Format(LoadResString(Consts::SWrongClass),
                                {instance.Name().empty() ? instance.ClassName() : instance.Name(),
                                 instance.ClassName(), TypeNameWithoutNamespace(expected)}));
}

}  // namespace Detail

// ---------------------------------------------------------------------------
// THandlerTable

void THandlerTable::AddAny(const UnicodeString& name, std::any handler) {
    if (!IsValidIdent(name)) throw EPropertyError(Format(LoadResString(Consts::SBadHandlerName), {name}));
    for (auto& entry : FEntries)
        if (SameText(entry.first, name)) {
            entry = {name, std::move(handler)};
            return;
        }
    FEntries.emplace_back(name, std::move(handler));
}

bool THandlerTable::Remove(std::u16string_view name) {
    for (auto it = FEntries.begin(); it != FEntries.end(); ++it)
        if (SameText(it->first, name)) {
            FEntries.erase(it);
            return true;
        }
    return false;
}

const std::any* THandlerTable::Find(std::u16string_view name, UnicodeString* storedName) const {
    for (const auto& entry : FEntries)
        if (SameText(entry.first, name)) {
            if (storedName != nullptr) *storedName = entry.first;
            return &entry.second;
        }
    return nullptr;
}

const UnicodeString& THandlerTable::Name(int index) const {
    if (index < 0 || index >= Count())
        throw EListError(Format(LoadResString(Consts::SListIndexError), {IntToStr(index)}));
    return FEntries[static_cast<std::size_t>(index)].first;
}

const std::any& THandlerTable::Handler(int index) const {
    if (index < 0 || index >= Count())
        throw EListError(Format(LoadResString(Consts::SListIndexError), {IntToStr(index)}));
    return FEntries[static_cast<std::size_t>(index)].second;
}

// ---------------------------------------------------------------------------
// TPropInfo

void TPropInfo::CheckOrdKind() const {
    if (!FGetOrd) throw EPropertyError(Format(LoadResString(Consts::SPropertyKindError), {FName}));
}

Int64 TPropInfo::GetOrd(const TComponent& instance) const {
    CheckOrdKind();
    return FGetOrd(const_cast<TComponent&>(instance));
}

void TPropInfo::SetOrd(TComponent& instance, Int64 value) const {
    CheckOrdKind();
    if (!InRange(value))
        throw EPropertyError(Format(LoadResString(Consts::SPropertyRangeError), {IntToStr(value), FName}));
    FSetOrd(instance, value);
}

UnicodeString TPropInfo::GetString(const TComponent& instance) const {
    if (!FGetString) throw EPropertyError(Format(LoadResString(Consts::SPropertyKindError), {FName}));
    return FGetString(const_cast<TComponent&>(instance));
}

void TPropInfo::SetString(TComponent& instance, const UnicodeString& value) const {
    if (!FSetString) throw EPropertyError(Format(LoadResString(Consts::SPropertyKindError), {FName}));
    FSetString(instance, value);
}

TComponent* TPropInfo::GetComponent(const TComponent& instance) const {
    if (!FGetComponent) throw EPropertyError(Format(LoadResString(Consts::SPropertyKindError), {FName}));
    return FGetComponent(const_cast<TComponent&>(instance));
}

// Sets the reference and links the two components, so that the reference is
// cleared when the target goes, whatever the owners of the two are.
void TPropInfo::SetComponent(TComponent& instance, TComponent* value) const {
    if (!FSetComponent) throw EPropertyError(Format(LoadResString(Consts::SPropertyKindError), {FName}));
    FSetComponent(instance, value);
    if (value != nullptr && value != &instance && FGetComponent(instance) == value)
        value->FreeNotification(&instance);
}

UnicodeString TPropInfo::GetHandlerName(const TComponent& instance) const {
    if (!FGetHandlerName) throw EPropertyError(Format(LoadResString(Consts::SPropertyKindError), {FName}));
    return FGetHandlerName(const_cast<TComponent&>(instance));
}

void TPropInfo::BindHandler(TComponent& instance, const UnicodeString& handlerName,
                            const std::any* handler) const {
    if (!FBindHandler) throw EPropertyError(Format(LoadResString(Consts::SPropertyKindError), {FName}));
    FBindHandler(instance, handlerName, handler);
}

// Applies the storage rules listed in the header.
bool TPropInfo::IsStored(const TComponent& instance) const {
    if (FNeverStored) return false;
    switch (FKind) {
    case pkString: {
        const UnicodeString value = GetString(instance);
        return !value.empty() && !(FHasDefault && value == FDefaultString);
    }
    case pkComponent:
        return GetComponent(instance) != nullptr;
    case pkEvent:
        return !GetHandlerName(instance).empty();
    default:
        return !(FHasDefault && GetOrd(instance) == FDefaultOrd);
    }
}

bool TPropInfo::InRange(Int64 value) const noexcept {
    switch (FKind) {
    case pkBoolean:
        return value == 0 || value == 1;
    case pkInteger:
        if (FBits >= 64) return true;
        if (FSigned) return value >= -(Int64{1} << (FBits - 1)) && value < (Int64{1} << (FBits - 1));
        return value >= 0 && value < (Int64{1} << FBits);
    case pkEnumeration:
        return FEnum != nullptr && value >= 0 && value < FEnum->Count();
    case pkSet: {
        if (FEnum == nullptr) return false;
        if (FEnum->Count() >= 64) return true;
        return (static_cast<UInt64>(value) >> FEnum->Count()) == 0;
    }
    default:
        return false;
    }
}

// ---------------------------------------------------------------------------
// Class registry

namespace Detail {

// Component classes by name (upper-cased) and by C++ type. TComponent itself
// is always there, so that a plain TComponent can serve as a root.
struct TClassRegistry {
    std::shared_mutex Lock;
    std::vector<std::unique_ptr<TClassInfo>> Classes;
    std::map<UnicodeString, TClassInfo*> ByName;
    std::map<std::type_index, TClassInfo*> ByType;

    // Tag is the one published property of every component (its Name is
    // the header line of its object in a form file); classes that inherit
    // TComponent's registration publish it first.
    TClassRegistry() {
        TClassInfo& base =
            Add(u"TComponent", typeid(TComponent), [](TComponent* owner) { return new TComponent(owner); });
        TClassRegistration<TComponent>(base).Property(u"Tag", &TComponent::Tag, &TComponent::SetTag,
                                                      Default(std::intptr_t{0}));
    }

    // Enters a class, or starts the property list of a known one afresh;
    // the caller holds the lock.
    TClassInfo& Add(const UnicodeString& className, const std::type_info& type,
                    std::function<TComponent*(TComponent*)> factory) {
        const UnicodeString key = UpperCase(className);
        auto named = ByName.find(key);
        auto typed = ByType.find(type);
        if (named != ByName.end() || typed != ByType.end()) {
            if (named == ByName.end() || typed == ByType.end() || named->second != typed->second)
                throw EPropertyError(Format(LoadResString(Consts::SClassRegisteredTwice), {className}));
            TClassInfo& info = *named->second;
            info.FFactory = std::move(factory);
            info.FProperties.clear();
            info.FParent = nullptr;
            return info;
        }
        auto info = std::make_unique<TClassInfo>();
        info->FClassName = className;
        info->FType = &type;
        info->FFactory = std::move(factory);
        TClassInfo& result = *info;
        ByName.emplace(key, info.get());
        ByType.emplace(type, info.get());
        Classes.push_back(std::move(info));
        return result;
    }
};

}  // namespace Detail

namespace {

Detail::TClassRegistry& Classes() {
    static Detail::TClassRegistry* instance = new Detail::TClassRegistry;
    return *instance;
}

}  // namespace

TComponent* TClassInfo::Create(TComponent* owner) const {
    if (!FFactory) throw EClassNotFound(Format(LoadResString(Consts::SClassNotCreatable), {FClassName}));
    return FFactory(owner);
}

const TPropInfo& TClassInfo::Property(int index) const {
    if (index < 0 || index >= PropertyCount())
        throw EListError(Format(LoadResString(Consts::SListIndexError), {IntToStr(index)}));
    return *FProperties[static_cast<std::size_t>(index)];
}

const TPropInfo* TClassInfo::FindProperty(std::u16string_view name) const noexcept {
    for (const auto& p : FProperties)
        if (SameText(p->Name(), name)) return p.get();
    return nullptr;
}

bool TClassInfo::InheritsFrom(const TClassInfo& other) const noexcept {
    for (const TClassInfo* c = this; c != nullptr; c = c->FParent)
        if (c == &other) return true;
    return false;
}

TClassInfo& RegisterClassInfo(const UnicodeString& className, const std::type_info& type,
                              std::function<TComponent*(TComponent*)> factory) {
    if (!IsValidIdent(className))
        throw EPropertyError(Format(LoadResString(Consts::SBadClassName), {className}));
    Detail::TClassRegistry& r = Classes();
    std::unique_lock guard(r.Lock);
    return r.Add(className, type, std::move(factory));
}

const TClassInfo* FindComponentClass(std::u16string_view className) noexcept {
    Detail::TClassRegistry& r = Classes();
    try {
        const UnicodeString key = UpperCase(className);
        std::shared_lock guard(r.Lock);
        auto it = r.ByName.find(key);
        return it == r.ByName.end() ? nullptr : it->second;
    } catch (...) {
        return nullptr;
    }
}

const TClassInfo* ComponentClassOfType(const std::type_info& type) noexcept {
    Detail::TClassRegistry& r = Classes();
    std::shared_lock guard(r.Lock);
    auto it = r.ByType.find(type);
    return it == r.ByType.end() ? nullptr : it->second;
}

const TClassInfo* ComponentClassOf(const TComponent& instance) noexcept {
    return ComponentClassOfType(typeid(instance));
}

TComponent* CreateComponent(std::u16string_view className, TComponent* owner) {
    const TClassInfo* info = FindComponentClass(className);
    if (info == nullptr)
        throw EClassNotFound(Format(LoadResString(Consts::SClassNotFound), {UnicodeString(className)}));
    return info->Create(owner);
}

namespace Detail {

// Clears Holder's published references to Target through their setters.
void ClearPublishedReferences(TComponent& holder, TComponent* target) {
    const TClassInfo* info = ComponentClassOf(holder);
    if (info == nullptr) return;
    for (int i = 0; i < info->PropertyCount(); ++i) {
        const TPropInfo& p = info->Property(i);
        if (p.Kind() == pkComponent && p.GetComponent(holder) == target) p.SetComponent(holder, nullptr);
    }
}

}  // namespace Detail

}  // namespace Framework
