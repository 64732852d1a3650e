/// \file
/// Enumerations described by one list each.
///
/// Each enumeration of the runtime unit that form files or the platform know
/// is described once, by a list beside its declaration: a macro that calls
/// X(element, platform value...) for every element in ordinal order, e.g.
/// CORVANE_ACCESS_TYPES(X) in Corvane/Session.h, whose first entry is
/// X(atDirect, INTERNET_OPEN_TYPE_DIRECT). The enumeration is declared from it:
///
///     enum TAccessType : std::uint8_t { CORVANE_ACCESS_TYPES(CORVANE_ENUM_ELEMENT) };
///
/// The runtime unit makes from the same list the table that gives every
/// element its name in form files and its platform value
/// (Corvane/src/EnumTables.h); the registration of the published classes and
/// the translations into platform values read that table. Elements, names and
/// values therefore cannot drift apart. A new enumeration writes its list
/// and declares itself from it, adds its table in EnumTables.h and, when a
/// published property has its type, its names in Registration.cpp.
#pragma once

/// One element of an enumeration, declared from its list. The platform
/// values are not read, so a public header needs none of their constants.
#define CORVANE_ENUM_ELEMENT(Element, ...) Element,
