// UTF-16 texts for tests that call the platform's wide-character C API
// directly and run on both platforms.
//
// Tests write their texts as char16_t (u"..."). The platform's WCHAR is
// char16_t on the portable backend and wchar_t on Windows, both UTF-16, so a
// text crosses to the C API with W() and comes back with U(); on the portable
// backend both are no-ops.
#pragma once

#include <Platform/WinInet.h>

#include <string_view>

namespace WideText {

static_assert(sizeof(WCHAR) == sizeof(char16_t), "WCHAR is a UTF-16 code unit");

/// A char16_t text as the C API takes it.
inline LPCWSTR W(const char16_t* text) {
    return reinterpret_cast<LPCWSTR>(text);
}
inline LPWSTR W(char16_t* text) {
    return reinterpret_cast<LPWSTR>(text);
}

/// A constant text for a record field the API declares as writable but only
/// reads (URL_COMPONENTSW given to InternetCreateUrlW, for one).
inline LPWSTR WField(const char16_t* text) {
    return const_cast<LPWSTR>(W(text));
}

/// A text from the C API as char16_t.
inline const char16_t* U(const WCHAR* text) {
    return reinterpret_cast<const char16_t*>(text);
}
inline std::u16string_view U(const WCHAR* text, std::size_t length) {
    return text ? std::u16string_view(U(text), length) : std::u16string_view();
}

}  // namespace WideText
