// The framework's property editors: the base class and one editor per
// property kind.
#include <limits>

#include <Framework/Designer.h>

#include "DesignConsts.h"

namespace Framework {

namespace {

[[noreturn]] void RaiseInvalidValue() {
    throw EPropertyError(LoadResString(DesignConsts::SInvalidPropertyValue));
}

// The bounds of an integer property, as text for the range message.
void IntegerBounds(const TPropInfo& p, UnicodeString& low, UnicodeString& high) {
    const int bits = p.IntegerBits();
    if (p.IntegerSigned()) {
        const Int64 max = bits >= 64 ? std::numeric_limits<Int64>::max() : (Int64{1} << (bits - 1)) - 1;
        low = IntToStr(-max - 1);
        high = IntToStr(max);
    } else {
        low = u"0";
        high = IntToStr(bits >= 64 ? std::numeric_limits<UInt64>::max() : (UInt64{1} << bits) - 1);
    }
}

}  // namespace

TFormDesigner::TFormDesigner(TComponent& root) : FRoot(root) {
    root.SetDesigning(true);
}

// ---------------------------------------------------------------------------
// TPropertyEditor

TPropertyEditor::TPropertyEditor(TFormDesigner& designer, TComponent& component, const TPropInfo& property)
    : FDesigner(designer), FComponent(component), FProperty(property) {}

TPropertyEditor::~TPropertyEditor() = default;

TPropertyAttributes TPropertyEditor::GetAttributes() {
    return {};
}

UnicodeString TPropertyEditor::GetValue() {
    return u"(" + FProperty.Name() + u")";
}

void TPropertyEditor::SetValue(const UnicodeString&) {
    throw EPropertyError(Format(LoadResString(DesignConsts::SPropertyReadOnly), {FProperty.Name()}));
}

void TPropertyEditor::GetValues(const TGetStrProc&) {}

Int64 TPropertyEditor::GetOrdValue() {
    return FProperty.GetOrd(FComponent);
}

void TPropertyEditor::SetOrdValue(Int64 value) {
    if (!FProperty.InRange(value)) {
        if (FProperty.Kind() != pkInteger) RaiseInvalidValue();
        UnicodeString low, high;
        IntegerBounds(FProperty, low, high);
        throw EConvertError(Format(LoadResString(DesignConsts::SOutOfRange), {low, high}));
    }
    FProperty.SetOrd(FComponent, value);
    Modified();
}

UnicodeString TPropertyEditor::GetStrValue() {
    return FProperty.GetString(FComponent);
}

void TPropertyEditor::SetStrValue(const UnicodeString& value) {
    FProperty.SetString(FComponent, value);
    Modified();
}

// ---------------------------------------------------------------------------
// Ordinal kinds

TPropertyAttributes TOrdinalProperty::GetAttributes() {
    return {paMultiSelect};
}

UnicodeString TIntegerProperty::GetValue() {
    const Int64 value = GetOrdValue();
    // A 64-bit unsigned property keeps its bit pattern in the ordinal.
    if (!PropInfo().IntegerSigned() && PropInfo().IntegerBits() >= 64)
        return IntToStr(static_cast<UInt64>(value));
    return IntToStr(value);
}

void TIntegerProperty::SetValue(const UnicodeString& value) {
    SetOrdValue(StrToInt64(value));
}

TPropertyAttributes TEnumProperty::GetAttributes() {
    return {paMultiSelect, paValueList, paSortList, paRevertable};
}

UnicodeString TEnumProperty::GetValue() {
    const Int64 ordinal = GetOrdValue();
    const TEnumInfo& e = *PropInfo().EnumType();
    if (ordinal < 0 || ordinal >= e.Count()) return IntToStr(ordinal);
    return e.Name(static_cast<int>(ordinal));
}

void TEnumProperty::SetValue(const UnicodeString& value) {
    const int ordinal = PropInfo().EnumType()->Ordinal(value);
    if (ordinal < 0) RaiseInvalidValue();
    SetOrdValue(ordinal);
}

void TEnumProperty::GetValues(const TGetStrProc& proc) {
    const TEnumInfo& e = *PropInfo().EnumType();
    for (int i = 0; i < e.Count(); ++i) proc(e.Name(i));
}

UnicodeString TBoolProperty::GetValue() {
    return GetOrdValue() != 0 ? u"True" : u"False";
}

void TBoolProperty::SetValue(const UnicodeString& value) {
    if (SameText(value, u"True"))
        SetOrdValue(1);
    else if (SameText(value, u"False"))
        SetOrdValue(0);
    else
        RaiseInvalidValue();
}

void TBoolProperty::GetValues(const TGetStrProc& proc) {
    proc(u"False");
    proc(u"True");
}

TPropertyAttributes TSetProperty::GetAttributes() {
    return {paMultiSelect, paSubProperties, paRevertable};
}

UnicodeString TSetProperty::GetValue() {
    return PropInfo().EnumType()->SetToText(static_cast<UInt64>(GetOrdValue()));
}

void TSetProperty::SetValue(const UnicodeString& value) {
    SetOrdValue(static_cast<Int64>(PropInfo().EnumType()->SetFromText(value)));
}

// ---------------------------------------------------------------------------
// Strings, references, events

TPropertyAttributes TStringProperty::GetAttributes() {
    return {paMultiSelect, paRevertable};
}

UnicodeString TStringProperty::GetValue() {
    return GetStrValue();
}

void TStringProperty::SetValue(const UnicodeString& value) {
    SetStrValue(value);
}

TPropertyAttributes TComponentProperty::GetAttributes() {
    return {paMultiSelect, paValueList, paSortList, paRevertable};
}

UnicodeString TComponentProperty::GetValue() {
    const TComponent* target = PropInfo().GetComponent(GetComponent());
    return target == nullptr ? UnicodeString() : target->Name();
}

namespace {

// Whether Candidate may be the value of a reference to ClassName.
bool FitsReference(const TComponent& candidate, const UnicodeString& className) {
    const TClassInfo* wanted = FindComponentClass(className);
    const TClassInfo* actual = ComponentClassOf(candidate);
    return wanted != nullptr && actual != nullptr && actual->InheritsFrom(*wanted);
}

}  // namespace

void TComponentProperty::SetValue(const UnicodeString& value) {
    TComponent* target = nullptr;
    if (!value.empty()) {
        TComponent& root = Designer().Root();
        target = SameText(value, root.Name()) ? &root : root.FindComponent(value);
        if (target == nullptr || !FitsReference(*target, PropInfo().ReferenceClassName()))
            RaiseInvalidValue();
    }
    PropInfo().SetComponent(GetComponent(), target);
    Modified();
}

void TComponentProperty::GetValues(const TGetStrProc& proc) {
    const TComponent& root = Designer().Root();
    for (int i = 0; i < root.ComponentCount(); ++i) {
        const TComponent& c = *root.Components(i);
        if (!c.Name().empty() && FitsReference(c, PropInfo().ReferenceClassName())) proc(c.Name());
    }
}

TPropertyAttributes TMethodProperty::GetAttributes() {
    return {paMultiSelect, paValueList, paSortList, paRevertable};
}

UnicodeString TMethodProperty::GetValue() {
    return PropInfo().GetHandlerName(GetComponent());
}

void TMethodProperty::SetValue(const UnicodeString& value) {
    if (value.empty()) {
        PropInfo().BindHandler(GetComponent(), {}, nullptr);
        Modified();
        return;
    }
    const THandlerTable* handlers = Designer().Root().HandlersIfAny();
    UnicodeString name;
    const std::any* handler = handlers == nullptr ? nullptr : handlers->Find(value, &name);
    if (handler == nullptr || handler->type() != *PropInfo().EventType()) RaiseInvalidValue();
    PropInfo().BindHandler(GetComponent(), name, handler);
    Modified();
}

void TMethodProperty::GetValues(const TGetStrProc& proc) {
    const THandlerTable* handlers = Designer().Root().HandlersIfAny();
    if (handlers == nullptr) return;
    for (int i = 0; i < handlers->Count(); ++i)
        if (handlers->Handler(i).type() == *PropInfo().EventType()) proc(handlers->Name(i));
}

}  // namespace Framework
