// The runtime unit's enumerations as tables, each made from the
// enumeration's one list (see Corvane/EnumList.h): per element, its name in
// form files and its platform value. Registration.cpp reads the names; the
// components' Get... translations read the values afresh at every call.
#pragma once

#include <cstddef>
#include <utility>

#include <Framework/Properties.h>
#include <Framework/ResourceStrings.h>
#include <Framework/Set.h>
#include <Platform/WinInet.h>

#include "Corvane/Connection.h"
#include "Corvane/Errors.h"
#include "Corvane/Ftp.h"
#include "Corvane/Http.h"
#include "Corvane/Session.h"
#include "Corvane/Url.h"

namespace Corvane::EnumTables {

/// One element: the element, its name as form files write it (its
/// identifier) and what the platform knows it by.
template <class E, class V>
struct TRow {
    E Element;
    const char16_t* Name;
    V Value;
};

/// One row of a table, made from one entry of the enumeration's list.
#define CORVANE_ENUM_ROW(Element, ...) {Element, u"" #Element, {__VA_ARGS__}},

/// Whether every row stands at its element's ordinal, so that a row is
/// found by indexing.
template <class E, class V, std::size_t N>
constexpr bool InOrdinalOrder(const TRow<E, V> (&rows)[N]) {
    for (std::size_t i = 0; i < N; ++i)
        if (static_cast<std::size_t>(rows[i].Element) != i) return false;
    return true;
}

/// Whether Value is one of the table's elements; a cast can make any other
/// value of the underlying type.
template <class E, class V, std::size_t N>
constexpr bool IsElement(const TRow<E, V> (&)[N], E value) {
    return static_cast<std::size_t>(value) < N;
}

/// Refuses a value that is not one of the table's elements with EINetError
/// (SINetInvalidValue), as the components refuse any argument they cannot
/// pass on, before it is stored or reaches the platform.
template <class E, class V, std::size_t N>
void CheckElement(const TRow<E, V> (&rows)[N], E value, const char16_t* typeName) {
    if (!IsElement(rows, value))
        throw EINetError(
            Framework::Format(Framework::LoadResString(SINetInvalidValue),
                              {Framework::IntToStr(static_cast<Framework::Integer>(value)), typeName}));
}

/// The platform value of Element, which must be one of the table's elements.
template <class E, class V, std::size_t N>
constexpr const V& ValueOf(const TRow<E, V> (&rows)[N], E element) {
    return rows[static_cast<std::size_t>(element)].Value;
}

/// The flag word of a set: the OR of its elements' values, nothing else.
template <class E, std::size_t N>
constexpr DWORD FlagWord(const TRow<E, DWORD> (&rows)[N], Framework::TSet<E> flags) {
    DWORD word = 0;
    for (const TRow<E, DWORD>& row : rows)
        if (flags.Contains(row.Element)) word |= row.Value;
    return word;
}

/// The set of a flag word; bits that no element stands for are dropped.
template <class E, std::size_t N>
constexpr Framework::TSet<E> FlagsFromWord(const TRow<E, DWORD> (&rows)[N], DWORD word) {
    Framework::TSet<E> result;
    for (const TRow<E, DWORD>& row : rows)
        if ((word & row.Value) != 0) result.Include(row.Element);
    return result;
}

template <class E, class V, std::size_t N, std::size_t... I>
void DefineNames(const char16_t* typeName, const TRow<E, V> (&rows)[N], std::index_sequence<I...>) {
    Framework::DefineEnum<E>(typeName, {rows[I].Name...});
}

/// Declares the element names of the table's enumeration for form files.
template <class E, class V, std::size_t N>
void DefineNames(const char16_t* typeName, const TRow<E, V> (&rows)[N]) {
    DefineNames(typeName, rows, std::make_index_sequence<N>{});
}

// The session: InternetOpenW's access type and flags.
inline constexpr TRow<TAccessType, DWORD> kAccessTypes[] = {CORVANE_ACCESS_TYPES(CORVANE_ENUM_ROW)};
inline constexpr TRow<TSessionFlag, DWORD> kSessionFlags[] = {CORVANE_SESSION_FLAGS(CORVANE_ENUM_ROW)};

// The HTTP component: request flags, verb texts, security flags and the
// information level of each named header.
inline constexpr TRow<THttpFlag, DWORD> kHttpFlags[] = {CORVANE_HTTP_FLAGS(CORVANE_ENUM_ROW)};
inline constexpr TRow<THttpVerb, const char16_t*> kHttpVerbs[] = {CORVANE_HTTP_VERBS(CORVANE_ENUM_ROW)};
inline constexpr TRow<TSecurityFlag, DWORD> kSecurityFlags[] = {CORVANE_SECURITY_FLAGS(CORVANE_ENUM_ROW)};
inline constexpr TRow<THttpHeader, DWORD> kHttpHeaders[] = {CORVANE_HTTP_HEADERS(CORVANE_ENUM_ROW)};

// The FTP component: connection and cache flags, transfer types and the
// attributes of the local files it creates.
inline constexpr TRow<TFtpFlag, DWORD> kFtpFlags[] = {CORVANE_FTP_FLAGS(CORVANE_ENUM_ROW)};
inline constexpr TRow<TFtpCacheFlag, DWORD> kFtpCacheFlags[] = {CORVANE_FTP_CACHE_FLAGS(CORVANE_ENUM_ROW)};
inline constexpr TRow<TFtpTransferType, DWORD> kFtpTransferTypes[] = {
    CORVANE_FTP_TRANSFER_TYPES(CORVANE_ENUM_ROW)};
inline constexpr TRow<TFileAttribute, DWORD> kFileAttributes[] = {CORVANE_FILE_ATTRIBUTES(CORVANE_ENUM_ROW)};

// The URL component: each choice's flag word for each URL routine.
struct TUrlFlagWords {
    DWORD Canonicalize;
    DWORD Crack;
    DWORD Create;
};
inline constexpr TRow<TUrlFlags, TUrlFlagWords> kUrlFlags[] = {CORVANE_URL_FLAGS(CORVANE_ENUM_ROW)};

// The connection component: the dialing flags it passes and the connected
// state flags it reads.
inline constexpr TRow<TConnectionFlag, DWORD> kConnectionFlags[] = {
    CORVANE_CONNECTION_FLAGS(CORVANE_ENUM_ROW)};
inline constexpr TRow<TConnectionStateValue, DWORD> kConnectionStates[] = {
    CORVANE_CONNECTION_STATES(CORVANE_ENUM_ROW)};

static_assert(InOrdinalOrder(kAccessTypes) && InOrdinalOrder(kSessionFlags) && InOrdinalOrder(kHttpFlags) &&
              InOrdinalOrder(kHttpVerbs) && InOrdinalOrder(kSecurityFlags) && InOrdinalOrder(kHttpHeaders) &&
              InOrdinalOrder(kUrlFlags) && InOrdinalOrder(kFtpFlags) && InOrdinalOrder(kFtpCacheFlags) &&
              InOrdinalOrder(kFtpTransferTypes) && InOrdinalOrder(kFileAttributes) &&
              InOrdinalOrder(kConnectionFlags) && InOrdinalOrder(kConnectionStates));

}  // namespace Corvane::EnumTables
