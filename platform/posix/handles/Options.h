// Helpers for answering InternetQueryOptionW and InternetSetOptionW, shared by
// every kind of handle. Each returns ERROR_SUCCESS or the error to report.
//
// Sizes are in bytes. A query without a buffer, or with one too small,
// reports the size needed in *size (for texts: terminator included) and gives
// ERROR_INSUFFICIENT_BUFFER. A successful query reports the bytes written
// (for texts: terminator not counted). Setting a text takes its length in
// characters, as the platform does.
#pragma once

#include <Platform/WinInet.h>

#include <cstring>
#include <string>
#include <string_view>

namespace Corvane::Backend {

/// Answers a query with a fixed-size value (DWORD, DWORD_PTR, a record).
template <typename T>
DWORD QueryValue(void* buffer, DWORD* size, const T& value) {
    if (!buffer || *size < sizeof(T)) {
        *size = sizeof(T);
        return ERROR_INSUFFICIENT_BUFFER;
    }
    std::memcpy(buffer, &value, sizeof(T));
    *size = sizeof(T);
    return ERROR_SUCCESS;
}

/// Reads a fixed-size value being set: its length must be exactly sizeof(T).
template <typename T>
DWORD SetValue(const void* buffer, DWORD size, T& value) {
    if (!buffer) return ERROR_INVALID_PARAMETER;
    if (size != sizeof(T)) return ERROR_INTERNET_BAD_OPTION_LENGTH;
    std::memcpy(&value, buffer, sizeof(T));
    return ERROR_SUCCESS;
}

/// Answers a query with a text, zero-terminated.
DWORD QueryText(void* buffer, DWORD* size, std::u16string_view text);

/// Reads a text being set: `length` characters at most, ending early at a
/// zero; a null buffer with length 0 sets the empty text.
DWORD SetText(const void* buffer, DWORD length, std::u16string& text);

/// INTERNET_OPTION_MAX_CONNS_PER_SERVER, set and read on a null handle for
/// the whole process: how many connections to one server the process keeps
/// at once (2 by default, the platform's for an HTTP/1.1 server).
inline constexpr DWORD kDefaultMaxConnectionsPerServer = 2;
DWORD MaxConnectionsPerServer();
/// Fails with ERROR_INVALID_PARAMETER for 0.
DWORD SetMaxConnectionsPerServer(DWORD count);

/// Whether `option` is one of the INTERNET_OPTION_ values the platform
/// defines (so an unanswered one is "wrong handle type", not "invalid").
bool IsKnownOption(DWORD option);

}  // namespace Corvane::Backend
