// The framework's own localisable messages.
#pragma once

#include "Framework/ResourceStrings.h"

namespace Framework::Consts {

inline constexpr TResourceString SInvalidInteger{"Framework.SInvalidInteger",
                                                 u"'%s' is not a valid integer value"};
inline constexpr TResourceString SIntegerOutOfRange{"Framework.SIntegerOutOfRange",
                                                    u"'%s' is outside the range of a %s-bit integer"};
inline constexpr TResourceString SOperationAborted{"Framework.SOperationAborted", u"Operation aborted"};
inline constexpr TResourceString SUnknownException{"Framework.SUnknownException", u"Unknown exception"};
inline constexpr TResourceString SInvalidName{"Framework.SInvalidName",
                                              u"'%s' is not a valid component name"};
inline constexpr TResourceString SDuplicateName{"Framework.SDuplicateName",
                                                u"A component named %s already exists"};
inline constexpr TResourceString SNullComponent{"Framework.SNullComponent",
                                                u"Cannot insert a null component"};
inline constexpr TResourceString SOwnershipCycle{"Framework.SOwnershipCycle",
                                                 u"A component cannot own itself or one of its owners"};
inline constexpr TResourceString SListIndexError{"Framework.SListIndexError",
                                                 u"List index out of bounds (%s)"};
inline constexpr TResourceString SNegativeStreamPosition{"Framework.SNegativeStreamPosition",
                                                         u"Stream position cannot be negative (%s)"};
inline constexpr TResourceString SNegativeStreamSize{"Framework.SNegativeStreamSize",
                                                     u"Stream size cannot be negative (%s)"};
inline constexpr TResourceString SStreamTooLarge{"Framework.SStreamTooLarge",
                                                 u"Out of memory while expanding memory stream"};
inline constexpr TResourceString SReadError{"Framework.SReadError", u"Stream read error"};
inline constexpr TResourceString SFOpenError{"Framework.SFOpenError", u"Cannot open file \"%s\". %s"};
inline constexpr TResourceString SFWriteError{"Framework.SFWriteError", u"Cannot write file \"%s\". %s"};

inline constexpr TResourceString SEnumOrdinalError{"Framework.SEnumOrdinalError",
                                                   u"%s is not an ordinal of %s"};
inline constexpr TResourceString SEnumNameError{"Framework.SEnumNameError",
                                                u"'%s' is not a value of %s (expected one of %s)"};
inline constexpr TResourceString SSetTextError{"Framework.SSetTextError", u"'%s' is not a set of %s"};
inline constexpr TResourceString SEnumRedefined{"Framework.SEnumRedefined",
                                                u"Enumeration %s is already defined with other names"};
inline constexpr TResourceString SEnumBadName{"Framework.SEnumBadName",
                                              u"'%s' is not a valid element name of %s"};
inline constexpr TResourceString SEnumUndefined{"Framework.SEnumUndefined",
                                                u"No element names are defined for enumeration %s"};
inline constexpr TResourceString SWrongClass{"Framework.SWrongClass", u"%s is a %s, not a %s"};
inline constexpr TResourceString SBadHandlerName{"Framework.SBadHandlerName",
                                                 u"'%s' is not a valid handler name"};
inline constexpr TResourceString SPropertyKindError{"Framework.SPropertyKindError",
                                                    u"Property %s does not hold a value of this kind"};
inline constexpr TResourceString SPropertyRangeError{"Framework.SPropertyRangeError",
                                                     u"%s is outside the range of property %s"};
inline constexpr TResourceString SClassNotCreatable{"Framework.SClassNotCreatable",
                                                    u"Class %s cannot be created"};
inline constexpr TResourceString SBadClassName{"Framework.SBadClassName", u"'%s' is not a valid class name"};
inline constexpr TResourceString SClassRegisteredTwice{"Framework.SClassRegisteredTwice",
                                                       u"Class %s is already registered for another type"};
inline constexpr TResourceString SClassNotFound{"Framework.SClassNotFound", u"Class %s not found"};

}  // namespace Framework::Consts
