// The backend's message tables: the Internet library's texts for its own
// error codes and the system texts, both built from Messages.def.
#pragma once

#include <Platform/WinInet.h>

#include <span>
#include <string_view>

namespace Corvane::Backend {

/// One message: its code, the symbol of <Platform/WinInet.h> that names it,
/// and its text, which ends in CR LF as message-table texts do.
struct MessageEntry {
    DWORD code;
    const char* symbol;
    std::u16string_view text;
};

enum class MessageSource {
    Internet,  ///< the table of the "wininet.dll" module
    System,    ///< what FORMAT_MESSAGE_FROM_SYSTEM reads
};

/// Every entry of one table, in ascending order of code.
std::span<const MessageEntry> Messages(MessageSource source);

/// The entry for `code` in one table, or null when the table lacks it.
const MessageEntry* FindMessage(MessageSource source, DWORD code);

/// The symbol for an error code ("ERROR_INTERNET_TIMEOUT"), looked up in the
/// Internet table first, then the system table; null for an unknown code.
const char* ErrorSymbol(DWORD code);

/// The module handle that GetModuleHandleW gives for "wininet.dll": a fixed,
/// non-null value that FormatMessageW recognises as the Internet table.
HMODULE InternetModule();

}  // namespace Corvane::Backend
