// Passing UTF-16 texts to the platform's wide-character entry points.
//
// UnicodeString holds char16_t; the platform's WCHAR is char16_t on the
// portable backend and wchar_t (also UTF-16) on Windows. These casts are the
// one place that bridges the two, so component code reads the same on both.
#pragma once

#include <Platform/WinInet.h>

#include <Framework/Types.h>

#include "Corvane/Errors.h"

namespace Corvane {

inline LPCWSTR PlatformText(const char16_t* text) {
    return reinterpret_cast<LPCWSTR>(text);
}
inline LPWSTR PlatformBuffer(char16_t* buffer) {
    return reinterpret_cast<LPWSTR>(buffer);
}
inline const char16_t* FromPlatformText(const WCHAR* text) {
    return reinterpret_cast<const char16_t*>(text);
}

/// The text's characters for an argument that must reach the platform whole:
/// one holding a NUL would be cut short there, so it is refused with
/// EINetError (ERROR_INVALID_PARAMETER) before the call.
inline LPCWSTR WholePlatformText(const Framework::UnicodeString& text) {
    if (text.find(u'\0') != Framework::UnicodeString::npos) CheckSuccess(ERROR_INVALID_PARAMETER);
    return PlatformText(text.c_str());
}

/// The text's characters, or null for the empty text where the platform
/// reads null as "none".
inline LPCWSTR PlatformTextOrNull(const Framework::UnicodeString& text) {
    return text.empty() ? nullptr : PlatformText(text.c_str());
}

}  // namespace Corvane
