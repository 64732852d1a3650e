/// \file
/// Localisable texts.
///
/// A resource string is declared once, with a stable identifier and its
/// default (English) text:
///
///     inline constexpr Framework::TResourceString SClosedSession{
///         "Corvane.SClosedSession", u"Can't perform this operation on a closed session"};
///
/// and read with LoadResString(SClosedSession) wherever the text is needed.
/// An application localises texts by registering translations per language
/// and choosing the language in use:
///
///     Framework::RegisterResourceTranslation(u"de", "Corvane.SClosedSession", u"...");
///     Framework::SetResourceLanguage(u"de-AT");
///
/// LoadResString looks for a translation in the exact language ("de-AT"),
/// then in its primary language ("de"), and otherwise returns the default.
/// Language tags compare case-insensitively. All functions are thread safe:
/// translations may be registered and the language switched while other
/// threads load texts.
#pragma once

#include <string_view>

#include "Framework/Types.h"
#include "Framework/FrameworkExport.h"

namespace Framework {

/// A localisable text: a stable identifier (conventionally "Unit.Name") and
/// the default text used when no translation applies.
struct CORVANE_FRAMEWORK_EXPORT TResourceString {
    const char* Id;           ///< the stable identifier translations are keyed by
    const char16_t* Default;  ///< the text when no translation applies
};

/// The text of Res in the current resource language.
CORVANE_FRAMEWORK_EXPORT UnicodeString LoadResString(const TResourceString& res);

/// Selects the language whose translations LoadResString uses; the empty
/// string (the initial value) selects the default texts.
CORVANE_FRAMEWORK_EXPORT void SetResourceLanguage(const UnicodeString& language);
/// The language in use, lower-cased ("de-at").
CORVANE_FRAMEWORK_EXPORT UnicodeString ResourceLanguage();

/// Registers (or replaces) the text of resource Id in Language.
CORVANE_FRAMEWORK_EXPORT void RegisterResourceTranslation(const UnicodeString& language, std::string_view id,
                                                          const UnicodeString& text);
/// Removes every translation registered for Language.
CORVANE_FRAMEWORK_EXPORT void ClearResourceTranslations(const UnicodeString& language);

}  // namespace Framework
