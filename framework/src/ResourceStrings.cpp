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
    static TTranslations* instance = new TTranslations;
    return *instance;
}

// Looks Id up in one language; true with Text filled when found.
bool Lookup(const TTranslations& s, const UnicodeString& language, std::string_view id, UnicodeString& text) {
    auto lang = s.Texts.find(language);
    if (lang == s.Texts.end()) return false;
    auto entry = lang->second.find(id);
    if (entry == lang->second.end()) return false;
    text = entry->second;
    return true;
}

}  // namespace

// The translation for the current language, else for its primary subtag
// ("de" for "de-AT"), else the default text.
UnicodeString LoadResString(const TResourceString& res) {
    TTranslations& s = Store();
    if (res.Id != nullptr) {
        std::shared_lock guard(s.Lock);
        if (!s.Language.empty()) {
            UnicodeString text;
            if (Lookup(s, s.Language, res.Id, text)) return text;
            const auto dash = s.Language.find_first_of(u"-_");
            if (dash != UnicodeString::npos && Lookup(s, s.Language.substr(0, dash), res.Id, text))
                return text;
        }
    }
    return res.Default != nullptr ? UnicodeString(res.Default) : UnicodeString();
}

void SetResourceLanguage(const UnicodeString& language) {
    TTranslations& s = Store();
    std::unique_lock guard(s.Lock);
    s.Language = LowerCase(language);
}

UnicodeString ResourceLanguage() {
    TTranslations& s = Store();
    std::shared_lock guard(s.Lock);
    return s.Language;
}

void RegisterResourceTranslation(const UnicodeString& language, std::string_view id,
                                 const UnicodeString& text) {
    TTranslations& s = Store();
    std::unique_lock guard(s.Lock);
    s.Texts[LowerCase(language)].insert_or_assign(std::string(id), text);
}

void ClearResourceTranslations(const UnicodeString& language) {
    TTranslations& s = Store();
    std::unique_lock guard(s.Lock);
    s.Texts.erase(LowerCase(language));
}

}  // namespace Framework
