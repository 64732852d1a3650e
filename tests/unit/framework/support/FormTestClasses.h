// Small components that publish one property of every kind, for the tests
// and the fuzz target of the form-file reader and writer.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "Framework/Framework.h"

namespace FormTest {

using namespace Framework;

enum TTestMode { tmFirst, tmSecond, tmThird };
enum TTestOption { toAlpha, toBeta, toGamma };
using TTestOptions = TSet<TTestOption>;
using TValueEvent = std::function<void(TObject* sender, int& value)>;

/// What the test components saw while being loaded.
struct TLoadLog {
    std::vector<std::string> Lines;
    void Clear() { Lines.clear(); }
};
inline TLoadLog& LoadLog() {
    static TLoadLog log;
    return log;
}

/// An item with a property of every kind. Its Peer setter only stores the
/// pointer (no free notification), so it relies on the framework to clear
/// the reference when the peer is destroyed.
class TTestItem : public TComponent {
public:
    explicit TTestItem(TComponent* owner) : TComponent(owner) {}

    UnicodeString Caption() const { return FCaption; }
    void SetCaption(const UnicodeString& v) { FCaption = v; }
    UnicodeString Title() const { return FTitle; }
    void SetTitle(const UnicodeString& v) { FTitle = v; }
    UnicodeString Secret() const { return u"always this"; }
    void SetSecret(const UnicodeString&) {}
    bool Enabled() const { return FEnabled; }
    void SetEnabled(bool v) { FEnabled = v; }
    bool Visible() const { return FVisible; }
    void SetVisible(bool v) { FVisible = v; }
    std::uint8_t Count() const { return FCount; }
    /// Refuses 13, to show how a setter's failure is reported.
    void SetCount(std::uint8_t v) {
        if (v == 13) throw Exception(u"unlucky");
        FCount = v;
    }
    std::int16_t Offset() const { return FOffset; }
    void SetOffset(std::int16_t v) { FOffset = v; }
    Int64 Big() const { return FBig; }
    void SetBig(Int64 v) { FBig = v; }
    UInt64 Huge() const { return FHuge; }
    void SetHuge(UInt64 v) { FHuge = v; }
    Word Port() const { return FPort; }
    void SetPort(Word v) { FPort = v; }
    TTestMode Mode() const { return FMode; }
    void SetMode(TTestMode v) { FMode = v; }
    TTestOptions Options() const { return FOptions; }
    void SetOptions(TTestOptions v) { FOptions = v; }
    TTestItem* Peer() const { return FPeer; }
    void SetPeer(TTestItem* v) { FPeer = v; }
    TComponent* Link() const { return FLink; }
    void SetLink(TComponent* v) { FLink = v; }
    bool Active() const { return FActive; }
    /// Deferred while reading, as handle components do: opened in Loaded.
    void SetActive(bool v) {
        if (ComponentState().Contains(csReading) && v) {
            FStreamedActive = true;
            return;
        }
        FActive = v;
    }
    bool FailOnLoad() const { return FFailOnLoad; }
    void SetFailOnLoad(bool v) { FFailOnLoad = v; }
    TNotifyEvent OnChange() const { return FOnChange; }
    void SetOnChange(TNotifyEvent v) { FOnChange = std::move(v); }
    TValueEvent OnValue() const { return FOnValue; }
    void SetOnValue(TValueEvent v) { FOnValue = std::move(v); }

    /// States seen by the last setter call of Caption during a read.
    TComponentState StateInSetter;

protected:
    void Loaded() override {
        TComponent::Loaded();
        std::string line = "loaded " + Utf16ToUtf8(Name());
        if (FPeer != nullptr) line += " peer=" + Utf16ToUtf8(FPeer->Name());
        if (ComponentState().Contains(csReading)) line += " reading";
        LoadLog().Lines.push_back(line);
        if (FFailOnLoad) throw EConvertError(u"load failed for " + Name());
        if (FStreamedActive) FActive = true;
    }

private:
    UnicodeString FCaption;
    UnicodeString FTitle = u"Untitled";
    bool FEnabled = true;
    bool FVisible = false;
    std::uint8_t FCount = 0;
    std::int16_t FOffset = 0;
    Int64 FBig = 0;
    UInt64 FHuge = 0;
    Word FPort = 80;
    TTestMode FMode = tmSecond;
    TTestOptions FOptions;
    TTestItem* FPeer = nullptr;
    TComponent* FLink = nullptr;
    bool FActive = false;
    bool FStreamedActive = false;
    bool FFailOnLoad = false;
    TNotifyEvent FOnChange;
    TValueEvent FOnValue;
};

/// A component that owns items in form files.
class TTestContainer : public TComponent {
public:
    explicit TTestContainer(TComponent* owner) : TComponent(owner) {}
    UnicodeString Note() const { return FNote; }
    void SetNote(const UnicodeString& v) { FNote = v; }

private:
    UnicodeString FNote;
};

/// A root class with a property of its own.
class TTestRoot : public TComponent {
public:
    explicit TTestRoot(TComponent* owner) : TComponent(owner) {}
    UnicodeString Caption() const { return FCaption; }
    void SetCaption(const UnicodeString& v) { FCaption = v; }

private:
    UnicodeString FCaption;
};

/// Registered, but abstract: cannot be created by name.
class TTestAbstract : public TComponent {
public:
    explicit TTestAbstract(TComponent* owner) : TComponent(owner) {}
    virtual void Pure() = 0;
};

/// Publishes the test classes once per process.
inline void RegisterFormTestClasses() {
    static std::once_flag once;
    std::call_once(once, [] {
        DefineEnum<TTestMode>(u"TTestMode", {u"tmFirst", u"tmSecond", u"tmThird"});
        DefineEnum<TTestOption>(u"TTestOption", {u"toAlpha", u"toBeta", u"toGamma"});
        RegisterComponentClass<TTestItem>(u"TTestItem")
            .Property(u"Caption", &TTestItem::Caption,
                      [](TTestItem& i, const UnicodeString& v) {
                          i.StateInSetter = i.ComponentState();
                          i.SetCaption(v);
                      })
            .Property(u"Title", &TTestItem::Title, &TTestItem::SetTitle, Default(u"Untitled"))
            .Property(u"Secret", &TTestItem::Secret, &TTestItem::SetSecret, NotStored)
            .Property(u"Enabled", &TTestItem::Enabled, &TTestItem::SetEnabled, Default(true))
            .Property(u"Visible", &TTestItem::Visible, &TTestItem::SetVisible)
            .Property(u"Count", &TTestItem::Count, &TTestItem::SetCount, Default(0))
            .Property(u"Offset", &TTestItem::Offset, &TTestItem::SetOffset)
            .Property(u"Big", &TTestItem::Big, &TTestItem::SetBig, Default(0))
            .Property(u"Huge", &TTestItem::Huge, &TTestItem::SetHuge, Default(0))
            .Property(u"Port", &TTestItem::Port, &TTestItem::SetPort, Default(80))
            .Property(u"Mode", &TTestItem::Mode, &TTestItem::SetMode, Default(tmSecond))
            .Property(u"Options", &TTestItem::Options, &TTestItem::SetOptions)
            .Property(u"Peer", &TTestItem::Peer, &TTestItem::SetPeer)
            .Property(u"Link", &TTestItem::Link, &TTestItem::SetLink)
            .Property(u"Active", &TTestItem::Active, &TTestItem::SetActive, Default(false))
            .Property(u"FailOnLoad", &TTestItem::FailOnLoad, &TTestItem::SetFailOnLoad, Default(false))
            .Property(u"OnChange", &TTestItem::OnChange, &TTestItem::SetOnChange)
            .Property(u"OnValue", &TTestItem::OnValue, &TTestItem::SetOnValue);
        RegisterComponentClass<TTestContainer>(u"TTestContainer")
            .Property(u"Note", &TTestContainer::Note, &TTestContainer::SetNote);
        RegisterComponentClass<TTestRoot>(u"TTestRoot")
            .Property(u"Caption", &TTestRoot::Caption, &TTestRoot::SetCaption);
        RegisterComponentClass<TTestAbstract>(u"TTestAbstract");
    });
}

}  // namespace FormTest
