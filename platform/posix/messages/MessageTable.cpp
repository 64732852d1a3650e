// The message tables, FormatMessageW and GetModuleHandleW of the portable
// backend.
#include "posix/messages/MessageTable.h"
#include "posix/errors/Barrier.h"

#include "posix/errors/LastError.h"
#include "posix/text/Ascii.h"

#include <algorithm>
#include <cstring>
#include <string_view>

namespace Corvane::Backend {

namespace {

// Each code of the data file must be the value of its symbol in the contract
// header, so the two cannot drift apart.
#define INTERNET_MESSAGE(code, symbol, text) static_assert((code) == (symbol), #symbol);
#define SYSTEM_MESSAGE(code, symbol, text) static_assert((code) == (symbol), #symbol);
#include "posix/messages/Messages.def"
#undef INTERNET_MESSAGE
#undef SYSTEM_MESSAGE

constexpr MessageEntry kInternetMessages[] = {
#define INTERNET_MESSAGE(code, symbol, text) {code, #symbol, text u"\r\n"},
#define SYSTEM_MESSAGE(code, symbol, text)
#include "posix/messages/Messages.def"
#undef INTERNET_MESSAGE
#undef SYSTEM_MESSAGE
};

constexpr MessageEntry kSystemMessages[] = {
#define INTERNET_MESSAGE(code, symbol, text)
#define SYSTEM_MESSAGE(code, symbol, text) {code, #symbol, text u"\r\n"},
#include "posix/messages/Messages.def"
#undef INTERNET_MESSAGE
#undef SYSTEM_MESSAGE
};

constexpr bool Ascending(std::span<const MessageEntry> table) {
    for (std::size_t i = 1; i < table.size(); ++i)
        if (table[i - 1].code >= table[i].code) return false;
    return true;
}
static_assert(Ascending(kInternetMessages), "Messages.def: Internet codes must ascend");
static_assert(Ascending(kSystemMessages), "Messages.def: system codes must ascend");

// Stand-ins for module handles: addresses of private objects, so they are
// non-null and distinct from anything else.
const char InternetModuleTag = 0;
const char ProcessModuleTag = 0;

HMODULE ProcessModule() {
    return const_cast<char*>(&ProcessModuleTag);
}

// Whether a module name names the Internet library: "wininet.dll" or
// "wininet", in any case, optionally after a directory path.
bool NamesInternetLibrary(LPCWSTR name) {
    std::u16string_view path(name);
    const auto slash = path.find_last_of(u"/\\");
    const std::u16string_view file = slash == path.npos ? path : path.substr(slash + 1);
    return EqualsIgnoringAsciiCase(file, u"wininet.dll") || EqualsIgnoringAsciiCase(file, u"wininet");
}

}  // namespace

std::span<const MessageEntry> Messages(MessageSource source) {
    if (source == MessageSource::Internet) return kInternetMessages;
    return kSystemMessages;
}

const MessageEntry* FindMessage(MessageSource source, DWORD code) {
    const auto table = Messages(source);
    const auto it = std::lower_bound(table.begin(), table.end(), code,
                                     [](const MessageEntry& e, DWORD c) { return e.code < c; });
    return it != table.end() && it->code == code ? &*it : nullptr;
}

const char* ErrorSymbol(DWORD code) {
    if (const MessageEntry* e = FindMessage(MessageSource::Internet, code)) return e->symbol;
    if (const MessageEntry* e = FindMessage(MessageSource::System, code)) return e->symbol;
    return nullptr;
}

HMODULE InternetModule() {
    return const_cast<char*>(&InternetModuleTag);
}

}  // namespace Corvane::Backend

using namespace Corvane::Backend;

// Only "wininet.dll" (and the program itself, for a null name) is loaded in
// this backend; every other name fails with ERROR_MOD_NOT_FOUND.
HMODULE WINAPI GetModuleHandleW(LPCWSTR lpModuleName) {
    return Corvane::Backend::Guarded<HMODULE>(nullptr, [&]() -> HMODULE {
        if (!lpModuleName) return ProcessModule();
        if (NamesInternetLibrary(lpModuleName)) return InternetModule();
        return FailWith<HMODULE>(ERROR_MOD_NOT_FOUND, nullptr);
    });
}

// Looks the message up in the Internet table (FROM_HMODULE with the module of
// "wininet.dll") and then, with FROM_SYSTEM, in the system table. nSize is in
// characters. The text is copied with its terminator when it fits; otherwise
// nothing but an empty string is written and the call fails with
// ERROR_INSUFFICIENT_BUFFER. Returns the characters copied, terminator not
// counted, or 0 with the reason in the last error. Texts have no inserts, so
// an argument list is never read; a maximum width of
// FORMAT_MESSAGE_MAX_WIDTH_MASK drops the closing line break, other widths
// leave the text as it is.
DWORD WINAPI FormatMessageW(DWORD dwFlags, LPCVOID lpSource, DWORD dwMessageId, DWORD dwLanguageId,
                            LPWSTR lpBuffer, DWORD nSize, va_list* arguments) {
    return Corvane::Backend::Guarded<DWORD>(0, [&]() -> DWORD {
        (void)arguments;
        if (dwFlags & (FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_STRING))
            return FailWith<DWORD>(ERROR_NOT_SUPPORTED, 0);
        const bool fromModule = dwFlags & FORMAT_MESSAGE_FROM_HMODULE;
        const bool fromSystem = dwFlags & FORMAT_MESSAGE_FROM_SYSTEM;
        if ((!fromModule && !fromSystem) || !lpBuffer) return FailWith<DWORD>(ERROR_INVALID_PARAMETER, 0);
        const DWORD primaryLanguage = dwLanguageId & 0x3FF;
        if (primaryLanguage != LANG_NEUTRAL && primaryLanguage != 0x09 /* English */)
            return FailWith<DWORD>(ERROR_RESOURCE_LANG_NOT_FOUND, 0);

        const MessageEntry* entry = nullptr;
        DWORD notFound = ERROR_MR_MID_NOT_FOUND;
        if (fromModule && lpSource == InternetModule()) {
            entry = FindMessage(MessageSource::Internet, dwMessageId);
        } else if (fromModule && lpSource) {
            notFound = ERROR_RESOURCE_TYPE_NOT_FOUND;  // a module without a message table
        }
        if (!entry && fromSystem) {
            entry = FindMessage(MessageSource::System, dwMessageId);
            notFound = ERROR_MR_MID_NOT_FOUND;
        }
        if (!entry) return FailWith<DWORD>(notFound, 0);

        std::u16string_view text = entry->text;
        if ((dwFlags & FORMAT_MESSAGE_MAX_WIDTH_MASK) == FORMAT_MESSAGE_MAX_WIDTH_MASK &&
            text.ends_with(u"\r\n"))
            text.remove_suffix(2);
        if (text.size() >= nSize) {
            if (nSize > 0) lpBuffer[0] = 0;
            return FailWith<DWORD>(ERROR_INSUFFICIENT_BUFFER, 0);
        }
        std::memcpy(lpBuffer, text.data(), text.size() * sizeof(WCHAR));
        lpBuffer[text.size()] = 0;
        return static_cast<DWORD>(text.size());
    });
}
