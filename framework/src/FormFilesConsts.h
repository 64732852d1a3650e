// Messages of the form-file reader and writer.
#pragma once

#include "FrameworkConsts.h"

namespace Framework::Consts {

inline constexpr TResourceString SReadErrorAt{"Framework.SReadErrorAt", u"Line %s, column %s: %s"};
inline constexpr TResourceString SExpectedFound{"Framework.SExpectedFound", u"expected %s but found %s"};
inline constexpr TResourceString SEndOfText{"Framework.SEndOfText", u"end of text"};
inline constexpr TResourceString SAString{"Framework.SAString", u"a string"};
inline constexpr TResourceString SAnInteger{"Framework.SAnInteger", u"an integer"};
inline constexpr TResourceString SAValue{"Framework.SAValue", u"a value"};
inline constexpr TResourceString SAName{"Framework.SAName", u"a name"};
inline constexpr TResourceString SAClassName{"Framework.SAClassName", u"a class name"};
inline constexpr TResourceString SPropertyObjectOrEnd{"Framework.SPropertyObjectOrEnd",
                                                      u"a property name, 'object' or 'end'"};
inline constexpr TResourceString SBooleanExpected{"Framework.SBooleanExpected", u"True or False"};
inline constexpr TResourceString SElementName{"Framework.SElementName", u"an element name"};
inline constexpr TResourceString SCommaOrBracket{"Framework.SCommaOrBracket", u"',' or ']'"};
inline constexpr TResourceString SReferenceExpected{"Framework.SReferenceExpected",
                                                    u"a component name or nil"};
inline constexpr TResourceString SHandlerExpected{"Framework.SHandlerExpected", u"a handler name or nil"};
inline constexpr TResourceString SOneOf{"Framework.SOneOf", u"one of %s"};
inline constexpr TResourceString SUnexpectedChar{"Framework.SUnexpectedChar", u"unexpected character %s"};
inline constexpr TResourceString SUnterminatedString{"Framework.SUnterminatedString",
                                                     u"unterminated string (a quote is missing)"};
inline constexpr TResourceString SBadCharCode{"Framework.SBadCharCode",
                                              u"character code %s is not a UTF-16 code unit (0 to 65535)"};
inline constexpr TResourceString SBadNumber{"Framework.SBadNumber", u"invalid number %s"};
inline constexpr TResourceString SNumberTooLarge{"Framework.SNumberTooLarge", u"number %s is too large"};
inline constexpr TResourceString SNestedTooDeeply{"Framework.SNestedTooDeeply",
                                                  u"objects are nested too deeply"};
inline constexpr TResourceString SUnknownProperty{"Framework.SUnknownProperty",
                                                  u"unknown property %s of class %s"};
inline constexpr TResourceString SValueOutOfRange{"Framework.SValueOutOfRange",
                                                  u"%s is outside the range of property %s (%s to %s)"};
inline constexpr TResourceString SExpectedFor{"Framework.SExpectedFor",
                                              u"expected %s for property %s but found %s"};
inline constexpr TResourceString SASet{"Framework.SASet", u"a set"};
inline constexpr TResourceString SUnresolvedReference{"Framework.SUnresolvedReference",
                                                      u"unresolved reference %s for property %s"};
inline constexpr TResourceString SUnknownHandler{"Framework.SUnknownHandler",
                                                 u"unknown handler %s for event %s"};
inline constexpr TResourceString SSettingProperty{"Framework.SSettingProperty",
                                                  u"cannot set property %s: %s"};
inline constexpr TResourceString SWrongExistingClass{"Framework.SWrongExistingClass",
                                                     u"component %s is a %s, not a %s"};
inline constexpr TResourceString SClassNotRegistered{
    "Framework.SClassNotRegistered", u"Class %s is not registered, so it cannot be read back"};
inline constexpr TResourceString SUnnamedReference{"Framework.SUnnamedReference",
                                                   u"Property %s refers to a component without a name"};
inline constexpr TResourceString SValueWithoutName{"Framework.SValueWithoutName",
                                                   u"Value %s of property %s has no name"};
inline constexpr TResourceString SBadHandlerReference{"Framework.SBadHandlerReference",
                                                      u"Handler name '%s' of event %s is not an identifier"};
inline constexpr TResourceString SNoRoot{"Framework.SNoRoot", u"No root component given"};

}  // namespace Framework::Consts
