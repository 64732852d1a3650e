#include "Framework/ResourceStrings.h"

#include <map>
#include <mutex>
#include <shared_mutex>
#include <string>

#include "Framework/SysUtils.h"

namespace Framework {

namespace {

// Translations per language tag (kept lower-case), then per resource id.
struct TTranslations {
    std::shared_mutex Lock;
    UnicodeString Language;  // lower-case
    std::map<UnicodeString, std::map<std::string, UnicodeString, std::less<>>> Texts;
};

// Created on first use so that resource strings may be loaded and
// translations registered from static initialisers of any unit.
TTranslations& Store() {
    static TTranslations* Instance = new TTranslations;
    return *Instance;
}

// Looks Id up in one language; true with Text filled when found.
bool Lookup(const TTranslations& S, const UnicodeString& Language, std::string_view Id, UnicodeString& Text) {
    auto Lang = S.Texts.find(Language);
    if (Lang == S.Texts.end()) return false;
    auto Entry = Lang->second.find(Id);
    if (Entry == Lang->second.end()) return false;
    Text = Entry->second;
    return true;
}

}  // namespace

// The translation for the current language, else for its primary subtag
// ("de" for "de-AT"), else the default text.
UnicodeString LoadResString(const TResourceString& Res) {
    TTranslations& S = Store();
    if (Res.Id != nullptr) {
        std::shared_lock Guard(S.Lock);
        if (!S.Language.empty()) {
            UnicodeString Text;
            if (Lookup(S, S.Language, Res.Id, Text)) return Text;
            const auto Dash = S.Language.find_first_of(u"-_");
            if (Dash != UnicodeString::npos && Lookup(S, S.Language.substr(0, Dash), Res.Id, Text)) return Text;
        }
    }
    return Res.Default != nullptr ? UnicodeString(Res.Default) : UnicodeString();
}

void SetResourceLanguage(const UnicodeString& Language) {
    TTranslations& S = Store();
    std::unique_lock Guard(S.Lock);
    S.Language = LowerCase(Language);
}

UnicodeString ResourceLanguage() {
    TTranslations& S = Store();
    std::shared_lock Guard(S.Lock);
    return S.Language;
}

void RegisterResourceTranslation(const UnicodeString& Language, std::string_view Id, const UnicodeString& Text) {
    TTranslations& S = Store();
    std::unique_lock Guard(S.Lock);
    S.Texts[LowerCase(Language)].insert_or_assign(std::string(Id), Text);
}

void ClearResourceTranslations(const UnicodeString& Language) {
    TTranslations& S = Store();
    std::unique_lock Guard(S.Lock);
    S.Texts.erase(LowerCase(Language));
}

}  // namespace Framework
