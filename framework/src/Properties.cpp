#include "Framework/Properties.h"

#include <map>
#include <mutex>
#include <shared_mutex>

#include "FrameworkConsts.h"
#include "PropertyInternals.h"

namespace Framework {

namespace {

// Skips blanks (spaces, tabs, line breaks) from Pos on.
void SkipBlanks(std::u16string_view Text, std::size_t& Pos) {
    while (Pos < Text.size() && (Text[Pos] == u' ' || Text[Pos] == u'\t' || Text[Pos] == u'\r' || Text[Pos] == u'\n'))
        ++Pos;
}

bool IsIdentChar(char16_t C) {
    return (C >= u'a' && C <= u'z') || (C >= u'A' && C <= u'Z') || (C >= u'0' && C <= u'9') || C == u'_';
}

// Enumeration names by C++ type.
struct TEnumRegistry {
    std::shared_mutex Lock;
    std::map<std::type_index, std::unique_ptr<TEnumInfo>> Types;
};

TEnumRegistry& Enums() {
    static TEnumRegistry* Instance = new TEnumRegistry;
    return *Instance;
}

}  // namespace

// ---------------------------------------------------------------------------
// TEnumInfo

TEnumInfo::TEnumInfo(UnicodeString TypeName, std::vector<UnicodeString> Names)
    : FTypeName(std::move(TypeName)), FNames(std::move(Names)) {}

const UnicodeString& TEnumInfo::Name(int Ordinal) const {
    if (Ordinal < 0 || Ordinal >= Count())
        throw EPropertyError(Format(LoadResString(Consts::SEnumOrdinalError), {IntToStr(Ordinal), FTypeName}));
    return FNames[static_cast<std::size_t>(Ordinal)];
}

int TEnumInfo::Ordinal(std::u16string_view Name) const noexcept {
    for (std::size_t I = 0; I < FNames.size(); ++I)
        if (SameText(FNames[I], Name)) return static_cast<int>(I);
    return -1;
}

UnicodeString TEnumInfo::ToText(Int64 Ordinal) const {
    if (Ordinal < 0 || Ordinal >= Count())
        throw EPropertyError(Format(LoadResString(Consts::SEnumOrdinalError), {IntToStr(Ordinal), FTypeName}));
    return FNames[static_cast<std::size_t>(Ordinal)];
}

int TEnumInfo::FromText(std::u16string_view Text) const {
    const int Result = Ordinal(Text);
    if (Result < 0)
        throw EConvertError(
            Format(LoadResString(Consts::SEnumNameError), {UnicodeString(Text), FTypeName, NameList()}));
    return Result;
}

UnicodeString TEnumInfo::SetToText(UInt64 Mask) const {
    UnicodeString Out = u"[";
    for (int I = 0; I < 64; ++I) {
        if ((Mask & (UInt64{1} << I)) == 0) continue;
        if (I >= Count())
            throw EPropertyError(Format(LoadResString(Consts::SEnumOrdinalError), {IntToStr(I), FTypeName}));
        if (Out.size() > 1) Out += u", ";
        Out += FNames[static_cast<std::size_t>(I)];
    }
    return Out + u"]";
}

// Parses "[name, name, ...]": blanks anywhere between the tokens.
UInt64 TEnumInfo::SetFromText(std::u16string_view Text) const {
    auto Fail = [&]() -> EConvertError {
        return EConvertError(Format(LoadResString(Consts::SSetTextError), {UnicodeString(Text), FTypeName}));
    };
    std::size_t Pos = 0;
    SkipBlanks(Text, Pos);
    if (Pos >= Text.size() || Text[Pos] != u'[') throw Fail();
    ++Pos;
    SkipBlanks(Text, Pos);
    UInt64 Mask = 0;
    if (Pos < Text.size() && Text[Pos] == u']') {
        ++Pos;
    } else {
        for (;;) {
            const std::size_t Start = Pos;
            while (Pos < Text.size() && IsIdentChar(Text[Pos])) ++Pos;
            const int Ord = Ordinal(Text.substr(Start, Pos - Start));
            if (Pos == Start || Ord < 0 || Ord >= 64) throw Fail();
            Mask |= UInt64{1} << Ord;
            SkipBlanks(Text, Pos);
            if (Pos < Text.size() && Text[Pos] == u',') {
                ++Pos;
                SkipBlanks(Text, Pos);
                continue;
            }
            if (Pos < Text.size() && Text[Pos] == u']') {
                ++Pos;
                break;
            }
            throw Fail();
        }
    }
    SkipBlanks(Text, Pos);
    if (Pos != Text.size()) throw Fail();
    return Mask;
}

UnicodeString TEnumInfo::NameList() const {
    UnicodeString Out;
    for (const auto& N : FNames) {
        if (!Out.empty()) Out += u", ";
        Out += N;
    }
    return Out;
}

namespace Detail {

// Defines the names of one enumeration type; the same names again are
// accepted, different ones refused, so no TEnumInfo handed out ever changes.
const TEnumInfo& DefineEnum(std::type_index Type, const UnicodeString& TypeName, std::vector<UnicodeString> Names) {
    TEnumRegistry& R = Enums();
    std::unique_lock Guard(R.Lock);
    auto It = R.Types.find(Type);
    if (It != R.Types.end()) {
        const TEnumInfo& Existing = *It->second;
        bool Same = Existing.TypeName() == TypeName && Existing.Count() == static_cast<int>(Names.size());
        for (int I = 0; Same && I < Existing.Count(); ++I) Same = Existing.Name(I) == Names[static_cast<std::size_t>(I)];
        if (!Same) throw EPropertyError(Format(LoadResString(Consts::SEnumRedefined), {TypeName}));
        return Existing;
    }
    for (const auto& N : Names)
        if (!IsValidIdent(N)) throw EPropertyError(Format(LoadResString(Consts::SEnumBadName), {N, TypeName}));
    auto Info = std::make_unique<TEnumInfo>(TypeName, std::move(Names));
    const TEnumInfo& Result = *Info;
    R.Types.emplace(Type, std::move(Info));
    return Result;
}

const TEnumInfo* FindEnum(std::type_index Type) noexcept {
    TEnumRegistry& R = Enums();
    std::shared_lock Guard(R.Lock);
    auto It = R.Types.find(Type);
    return It == R.Types.end() ? nullptr : It->second.get();
}

const TEnumInfo& RequireEnum(const std::type_info& Type) {
    const TEnumInfo* Info = FindEnum(Type);
    if (Info == nullptr)
        throw EPropertyError(Format(LoadResString(Consts::SEnumUndefined), {TypeNameWithoutNamespace(Type)}));
    return *Info;
}

void RaiseWrongClass(const TComponent& Instance, const std::type_info& Expected) {
    throw EPropertyError(Format(LoadResString(Consts::SWrongClass),
                                {Instance.Name().empty() ? Instance.ClassName() : Instance.Name(),
                                 Instance.ClassName(), TypeNameWithoutNamespace(Expected)}));
}

}  // namespace Detail

// ---------------------------------------------------------------------------
// THandlerTable

void THandlerTable::AddAny(const UnicodeString& Name, std::any Handler) {
    if (!IsValidIdent(Name)) throw EPropertyError(Format(LoadResString(Consts::SBadHandlerName), {Name}));
    for (auto& Entry : FEntries)
        if (SameText(Entry.first, Name)) {
            Entry = {Name, std::move(Handler)};
            return;
        }
    FEntries.emplace_back(Name, std::move(Handler));
}

bool THandlerTable::Remove(std::u16string_view Name) {
    for (auto It = FEntries.begin(); It != FEntries.end(); ++It)
        if (SameText(It->first, Name)) {
            FEntries.erase(It);
            return true;
        }
    return false;
}

const std::any* THandlerTable::Find(std::u16string_view Name, UnicodeString* StoredName) const {
    for (const auto& Entry : FEntries)
        if (SameText(Entry.first, Name)) {
            if (StoredName != nullptr) *StoredName = Entry.first;
            return &Entry.second;
        }
    return nullptr;
}

// ---------------------------------------------------------------------------
// TPropInfo

void TPropInfo::CheckOrdKind() const {
    if (!FGetOrd) throw EPropertyError(Format(LoadResString(Consts::SPropertyKindError), {FName}));
}

Int64 TPropInfo::GetOrd(const TComponent& Instance) const {
    CheckOrdKind();
    return FGetOrd(const_cast<TComponent&>(Instance));
}

void TPropInfo::SetOrd(TComponent& Instance, Int64 Value) const {
    CheckOrdKind();
    if (!InRange(Value))
        throw EPropertyError(Format(LoadResString(Consts::SPropertyRangeError), {IntToStr(Value), FName}));
    FSetOrd(Instance, Value);
}

UnicodeString TPropInfo::GetString(const TComponent& Instance) const {
    if (!FGetString) throw EPropertyError(Format(LoadResString(Consts::SPropertyKindError), {FName}));
    return FGetString(const_cast<TComponent&>(Instance));
}

void TPropInfo::SetString(TComponent& Instance, const UnicodeString& Value) const {
    if (!FSetString) throw EPropertyError(Format(LoadResString(Consts::SPropertyKindError), {FName}));
    FSetString(Instance, Value);
}

TComponent* TPropInfo::GetComponent(const TComponent& Instance) const {
    if (!FGetComponent) throw EPropertyError(Format(LoadResString(Consts::SPropertyKindError), {FName}));
    return FGetComponent(const_cast<TComponent&>(Instance));
}

// Sets the reference and links the two components, so that the reference is
// cleared when the target goes, whatever the owners of the two are.
void TPropInfo::SetComponent(TComponent& Instance, TComponent* Value) const {
    if (!FSetComponent) throw EPropertyError(Format(LoadResString(Consts::SPropertyKindError), {FName}));
    FSetComponent(Instance, Value);
    if (Value != nullptr && Value != &Instance && FGetComponent(Instance) == Value) Value->FreeNotification(&Instance);
}

UnicodeString TPropInfo::GetHandlerName(const TComponent& Instance) const {
    if (!FGetHandlerName) throw EPropertyError(Format(LoadResString(Consts::SPropertyKindError), {FName}));
    return FGetHandlerName(const_cast<TComponent&>(Instance));
}

void TPropInfo::BindHandler(TComponent& Instance, const UnicodeString& HandlerName, const std::any* Handler) const {
    if (!FBindHandler) throw EPropertyError(Format(LoadResString(Consts::SPropertyKindError), {FName}));
    FBindHandler(Instance, HandlerName, Handler);
}

// Applies the storage rules listed in the header.
bool TPropInfo::IsStored(const TComponent& Instance) const {
    if (FNeverStored) return false;
    switch (FKind) {
        case pkString: {
            const UnicodeString Value = GetString(Instance);
            return !Value.empty() && !(FHasDefault && Value == FDefaultString);
        }
        case pkComponent:
            return GetComponent(Instance) != nullptr;
        case pkEvent:
            return !GetHandlerName(Instance).empty();
        default:
            return !(FHasDefault && GetOrd(Instance) == FDefaultOrd);
    }
}

bool TPropInfo::InRange(Int64 Value) const noexcept {
    switch (FKind) {
        case pkBoolean:
            return Value == 0 || Value == 1;
        case pkInteger:
            if (FBits >= 64) return true;
            if (FSigned) return Value >= -(Int64{1} << (FBits - 1)) && Value < (Int64{1} << (FBits - 1));
            return Value >= 0 && Value < (Int64{1} << FBits);
        case pkEnumeration:
            return FEnum != nullptr && Value >= 0 && Value < FEnum->Count();
        case pkSet: {
            if (FEnum == nullptr) return false;
            if (FEnum->Count() >= 64) return true;
            return (static_cast<UInt64>(Value) >> FEnum->Count()) == 0;
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
        TClassInfo& Base = Add(u"TComponent", typeid(TComponent), [](TComponent* Owner) { return new TComponent(Owner); });
        TClassRegistration<TComponent>(Base).Property(u"Tag", &TComponent::Tag, &TComponent::SetTag,
                                                      Default(std::intptr_t{0}));
    }

    // Enters a class, or starts the property list of a known one afresh;
    // the caller holds the lock.
    TClassInfo& Add(const UnicodeString& ClassName, const std::type_info& Type,
                    std::function<TComponent*(TComponent*)> Factory) {
        const UnicodeString Key = UpperCase(ClassName);
        auto Named = ByName.find(Key);
        auto Typed = ByType.find(Type);
        if (Named != ByName.end() || Typed != ByType.end()) {
            if (Named == ByName.end() || Typed == ByType.end() || Named->second != Typed->second)
                throw EPropertyError(Format(LoadResString(Consts::SClassRegisteredTwice), {ClassName}));
            TClassInfo& Info = *Named->second;
            Info.FFactory = std::move(Factory);
            Info.FProperties.clear();
            return Info;
        }
        auto Info = std::make_unique<TClassInfo>();
        Info->FClassName = ClassName;
        Info->FType = &Type;
        Info->FFactory = std::move(Factory);
        TClassInfo& Result = *Info;
        ByName.emplace(Key, Info.get());
        ByType.emplace(Type, Info.get());
        Classes.push_back(std::move(Info));
        return Result;
    }
};

}  // namespace Detail

namespace {

Detail::TClassRegistry& Classes() {
    static Detail::TClassRegistry* Instance = new Detail::TClassRegistry;
    return *Instance;
}

}  // namespace

TComponent* TClassInfo::Create(TComponent* Owner) const {
    if (!FFactory) throw EClassNotFound(Format(LoadResString(Consts::SClassNotCreatable), {FClassName}));
    return FFactory(Owner);
}

const TPropInfo& TClassInfo::Property(int Index) const {
    if (Index < 0 || Index >= PropertyCount())
        throw EListError(Format(LoadResString(Consts::SListIndexError), {IntToStr(Index)}));
    return *FProperties[static_cast<std::size_t>(Index)];
}

const TPropInfo* TClassInfo::FindProperty(std::u16string_view Name) const noexcept {
    for (const auto& P : FProperties)
        if (SameText(P->Name(), Name)) return P.get();
    return nullptr;
}

TClassInfo& RegisterClassInfo(const UnicodeString& ClassName, const std::type_info& Type,
                              std::function<TComponent*(TComponent*)> Factory) {
    if (!IsValidIdent(ClassName)) throw EPropertyError(Format(LoadResString(Consts::SBadClassName), {ClassName}));
    Detail::TClassRegistry& R = Classes();
    std::unique_lock Guard(R.Lock);
    return R.Add(ClassName, Type, std::move(Factory));
}

const TClassInfo* FindComponentClass(std::u16string_view ClassName) noexcept {
    Detail::TClassRegistry& R = Classes();
    try {
        const UnicodeString Key = UpperCase(ClassName);
        std::shared_lock Guard(R.Lock);
        auto It = R.ByName.find(Key);
        return It == R.ByName.end() ? nullptr : It->second;
    } catch (...) {
        return nullptr;
    }
}

const TClassInfo* ComponentClassOfType(const std::type_info& Type) noexcept {
    Detail::TClassRegistry& R = Classes();
    std::shared_lock Guard(R.Lock);
    auto It = R.ByType.find(Type);
    return It == R.ByType.end() ? nullptr : It->second;
}

const TClassInfo* ComponentClassOf(const TComponent& Instance) noexcept {
    return ComponentClassOfType(typeid(Instance));
}

TComponent* CreateComponent(std::u16string_view ClassName, TComponent* Owner) {
    const TClassInfo* Info = FindComponentClass(ClassName);
    if (Info == nullptr)
        throw EClassNotFound(Format(LoadResString(Consts::SClassNotFound), {UnicodeString(ClassName)}));
    return Info->Create(Owner);
}

namespace Detail {

// Clears Holder's published references to Target through their setters.
void ClearPublishedReferences(TComponent& Holder, TComponent* Target) {
    const TClassInfo* Info = ComponentClassOf(Holder);
    if (Info == nullptr) return;
    for (int I = 0; I < Info->PropertyCount(); ++I) {
        const TPropInfo& P = Info->Property(I);
        if (P.Kind() == pkComponent && P.GetComponent(Holder) == Target) P.SetComponent(Holder, nullptr);
    }
}

}  // namespace Detail

}  // namespace Framework
