// InternetCrackUrlW: splits a URL into scheme, host, port, user name,
// password, path and extra information.
//
// Grammar, as the platform reads it:
//   scheme ":" [ "//" [ user [ ":" password ] "@" ] host [ ":" port ] ] path [ extra ]
// - the scheme is letters, digits, '+', '-' and '.'; its text is kept as
//   written and numbered by the scheme table;
// - the extra information starts at the first '?' after the scheme, or at
//   the first '#' when there is no '?', and runs to the end;
// - the authority ends at the first '/' or at the extra information (file:
//   URLs also end it at '\', the DOS separator they use);
// - user and password are split at the last ':' before the first '@';
// - an IPv6 literal host keeps its brackets; the port is all digits, at most
//   65535; without one (or with an empty one) the scheme's default port is
//   reported;
// - http, https, ftp and gopher URLs need the "//"; file: URLs without it
//   must go on with a separator or a lone drive;
// - a file: "host" of one letter, or one letter and ':', is a DOS drive and
//   belongs to the path.
#include "posix/errors/LastError.h"
#include "posix/errors/Barrier.h"
#include "posix/url/UrlSchemes.h"
#include "posix/url/UrlText.h"

#include <optional>

namespace Corvane::Backend {

namespace {

using Text = std::u16string_view;

// One part of a cracked URL: where it stands in the URL, or absent.
struct Piece {
    const WCHAR* begin = nullptr;
    std::size_t length = 0;

    Text View() const { return begin ? Text(begin, length) : Text(); }
};

struct Pieces {
    INTERNET_SCHEME scheme = INTERNET_SCHEME_UNKNOWN;
    INTERNET_PORT port = INTERNET_INVALID_PORT_NUMBER;
    Piece schemeText, host, user, password, path, extra;
};

Piece Slice(Text url, std::size_t from, std::size_t to) {
    return {url.data() + from, to - from};
}

// Reads "host[:port]" (the host may be a bracketed IPv6 literal) between
// `from` and `to`. Returns 0 or ERROR_INTERNET_INVALID_URL.
DWORD ReadHostAndPort(Text url, std::size_t from, std::size_t to, Pieces& out) {
    std::size_t hostEnd = to;
    std::size_t portStart = to;
    if (from < to && url[from] == u'[') {
        const std::size_t close = url.substr(0, to).find(u']', from);
        if (close == Text::npos) return ERROR_INTERNET_INVALID_URL;
        hostEnd = close + 1;
        if (hostEnd < to) {
            if (url[hostEnd] != u':') return ERROR_INTERNET_INVALID_URL;
            portStart = hostEnd + 1;
        }
    } else {
        const std::size_t colon = url.substr(0, to).find(u':', from);
        if (colon != Text::npos) {
            hostEnd = colon;
            portStart = colon + 1;
        }
    }
    out.host = Slice(url, from, hostEnd);

    if (portStart >= to) {
        out.port = DefaultPort(out.scheme);
        return 0;
    }
    unsigned long value = 0;
    for (std::size_t i = portStart; i < to; ++i) {
        if (!IsAsciiDigit(url[i])) return ERROR_INTERNET_INVALID_URL;
        value = value * 10 + (url[i] - u'0');
        if (value > INTERNET_MAX_PORT_NUMBER_VALUE) return ERROR_INTERNET_INVALID_URL;
    }
    out.port = static_cast<INTERNET_PORT>(value);
    return 0;
}

// A file: URL without "//" is taken when what follows is empty, starts with
// a separator, or is a drive alone or before a separator, '?' or '#': the
// forms that read back the same once written with "//". Anything else
// ("file:name", "file:c:x@y") would read back as host or user information.
bool FileUrlWithoutAuthorityIsSound(Text rest) {
    if (rest.empty() || rest[0] == u'/' || rest[0] == u'\\') return true;
    const bool drive = rest.size() >= 2 && IsAsciiAlpha(rest[0]) && rest[1] == u':';
    return drive && (rest.size() == 2 || Text(u"/\\?#").find(rest[2]) != Text::npos);
}

// Splits `url` into its parts. The extra information stays in the path when
// the caller does not ask for it (`splitExtra` false), as on the platform.
// Returns 0 or the error code.
DWORD Split(Text url, bool splitExtra, Pieces& out) {
    std::size_t schemeEnd = 0;
    while (schemeEnd < url.size() && IsSchemeChar(url[schemeEnd])) ++schemeEnd;
    if (schemeEnd == 0 || schemeEnd == url.size() || url[schemeEnd] != u':')
        return ERROR_INTERNET_UNRECOGNIZED_SCHEME;
    out.schemeText = Slice(url, 0, schemeEnd);
    out.scheme = SchemeFromName(out.schemeText.View());

    const std::size_t rest = schemeEnd + 1;
    std::size_t extraStart = url.find(u'?', rest);
    if (extraStart == Text::npos) extraStart = url.find(u'#', rest);
    if (extraStart == Text::npos) extraStart = url.size();

    const bool isFile = out.scheme == INTERNET_SCHEME_FILE;
    std::size_t pathStart = rest;
    if (url.substr(rest, 2) == u"//") {
        const std::size_t netStart = rest + 2;
        std::size_t netEnd = url.find_first_of(isFile ? Text(u"/\\") : Text(u"/"), netStart);
        if (netEnd == Text::npos || netEnd > extraStart) netEnd = extraStart;

        std::size_t hostStart = netStart;
        const std::size_t at = url.find(u'@', netStart);
        if (at != Text::npos && at < netEnd) {
            const std::size_t colon = url.substr(0, at).rfind(u':');
            if (colon != Text::npos && colon >= netStart) {
                out.user = Slice(url, netStart, colon);
                out.password = Slice(url, colon + 1, at);
            } else {
                out.user = Slice(url, netStart, at);
            }
            hostStart = at + 1;
        }

        pathStart = netEnd;
        if (out.scheme == INTERNET_SCHEME_RES) {
            // res: names a module, which may hold ':'; there is no port.
            out.host = Slice(url, hostStart, netEnd);
        } else if (isFile &&
                   (netEnd - hostStart <= 1 || url[hostStart] == u':' || url[hostStart + 1] == u':')) {
            // No host, or a DOS drive ("C:"): it is all path.
            pathStart = hostStart;
        } else if (DWORD error = ReadHostAndPort(url, hostStart, netEnd, out)) {
            return error;
        }
    } else if (SchemeHas(out.scheme, kSchemeNeedsAuthority)) {
        return ERROR_INTERNET_INVALID_URL;
    } else if (isFile && !FileUrlWithoutAuthorityIsSound(url.substr(rest))) {
        return ERROR_INTERNET_INVALID_URL;
    }

    const bool hasExtra = extraStart < url.size();
    out.path = Slice(url, pathStart, hasExtra && splitExtra ? extraStart : url.size());
    if (hasExtra) out.extra = Slice(url, extraStart, url.size());
    return 0;
}

// The DOS path a file: URL's path stands for, as the platform copies it out:
// separators become '\'; a path in URL form (starting with '/') loses the
// slash before a drive and has its "%hh" escapes decoded, except a UNC path
// ("//server/share"), which is taken as written; `decode` asks for the
// escapes to be decoded in any case. A path ending in "\." or "\.." gets a
// closing '\'.
std::u16string FileUrlPathToDos(Text path, bool decode) {
    std::u16string dos;
    if (!path.empty() && path[0] == u'/') {
        if (StartsWithDrive(path.substr(1))) {
            path.remove_prefix(1);
            decode = true;
        } else {
            decode = decode || path.substr(0, 2) != u"//";
        }
    }
    dos.assign(path);
    for (char16_t& c : dos)
        if (c == u'/') c = u'\\';
    if (decode) {
        if (StartsWithDrive(dos)) dos[1] = u':';
        dos = PercentDecode(dos);
    }
    const Text view(dos);
    if (view.ends_with(u"\\.") || view.ends_with(u"\\..")) dos.push_back(u'\\');
    return dos;
}

// One URL_COMPONENTSW part and the value to hand over for it.
struct Slot {
    LPWSTR* pointer;
    DWORD* length;
    Piece piece;                         // where the part stands in the URL
    std::optional<std::u16string> copy;  // what to copy instead, if it differs
};

// Hands every requested part over, all or nothing: a part whose length
// field is 0 is not wanted; a null pointer gets a pointer into the URL and
// the part's length; a buffer gets a copy and a terminator, or, when it is
// too small, the size it needs (terminator included) and the call fails.
BOOL Deliver(Slot* slots, std::size_t count) {
    bool fits = true;
    for (std::size_t i = 0; i < count; ++i) {
        Slot& s = slots[i];
        if (!*s.length || !*s.pointer) continue;
        const std::size_t size = s.copy ? s.copy->size() : s.piece.length;
        if (*s.length <= size) {
            *s.length = static_cast<DWORD>(size + 1);
            fits = false;
        }
    }
    if (!fits) return Fail(ERROR_INSUFFICIENT_BUFFER);

    for (std::size_t i = 0; i < count; ++i) {
        Slot& s = slots[i];
        if (!*s.length) continue;
        if (!*s.pointer) {
            *s.pointer = const_cast<LPWSTR>(s.piece.begin);
            *s.length = static_cast<DWORD>(s.piece.length);
            continue;
        }
        const Text value = s.copy ? Text(*s.copy) : s.piece.View();
        value.copy(*s.pointer, value.size());
        (*s.pointer)[value.size()] = 0;
        *s.length = static_cast<DWORD>(value.size());
    }
    return TRUE;
}

BOOL Crack(Text url, DWORD flags, URL_COMPONENTSW& uc) {
    // Decoding needs somewhere to put the decoded text: pointers into the
    // caller's URL cannot show it.
    if (flags & (ICU_DECODE | ICU_ESCAPE)) {
        const LPWSTR pointers[] = {uc.lpszScheme,   uc.lpszHostName, uc.lpszUserName,
                                   uc.lpszPassword, uc.lpszUrlPath,  uc.lpszExtraInfo};
        const DWORD lengths[] = {uc.dwSchemeLength,   uc.dwHostNameLength, uc.dwUserNameLength,
                                 uc.dwPasswordLength, uc.dwUrlPathLength,  uc.dwExtraInfoLength};
        for (std::size_t i = 0; i < 6; ++i)
            if (lengths[i] && !pointers[i]) return Fail(ERROR_INVALID_PARAMETER);
    }

    Pieces pieces;
    if (DWORD error = Split(url, uc.dwExtraInfoLength != 0, pieces)) return Fail(error);

    Slot slots[] = {
        {&uc.lpszScheme, &uc.dwSchemeLength, pieces.schemeText, {}},
        {&uc.lpszHostName, &uc.dwHostNameLength, pieces.host, {}},
        {&uc.lpszUserName, &uc.dwUserNameLength, pieces.user, {}},
        {&uc.lpszPassword, &uc.dwPasswordLength, pieces.password, {}},
        {&uc.lpszUrlPath, &uc.dwUrlPathLength, pieces.path, {}},
        {&uc.lpszExtraInfo, &uc.dwExtraInfoLength, pieces.extra, {}},
    };

    // The parts are decoded after the URL is split, so an escaped '/', '?'
    // or '@' never moves a boundary: ICU_DECODE decodes every part but the
    // scheme, ICU_ESCAPE the path and the extra information.
    const bool decodeAll = flags & ICU_DECODE;
    const bool decodePath = decodeAll || (flags & ICU_ESCAPE);
    if (decodeAll)
        for (std::size_t i = 1; i <= 3; ++i) slots[i].copy = PercentDecode(slots[i].piece.View());
    Slot& path = slots[4];
    if (uc.lpszUrlPath && pieces.scheme == INTERNET_SCHEME_FILE)
        path.copy = FileUrlPathToDos(pieces.path.View(), decodePath);
    else if (decodePath)
        path.copy = PercentDecode(pieces.path.View());
    if (decodePath) slots[5].copy = PercentDecode(pieces.extra.View());

    if (!Deliver(slots, 6)) return FALSE;
    uc.nScheme = pieces.scheme;
    uc.nPort = pieces.port;
    return TRUE;
}

}  // namespace

}  // namespace Corvane::Backend

extern "C" BOOL WINAPI InternetCrackUrlW(LPCWSTR lpszUrl, DWORD dwUrlLength, DWORD dwFlags,
                                         LPURL_COMPONENTSW lpUrlComponents) {
    return Corvane::Backend::Guarded<BOOL>(FALSE, [&]() -> BOOL {
        using namespace Corvane::Backend;
        if (!lpszUrl || !lpUrlComponents || lpUrlComponents->dwStructSize != sizeof(URL_COMPONENTSW))
            return Fail(ERROR_INVALID_PARAMETER);
        // The length is a limit: the text also ends at a terminator within it.
        std::size_t length = 0;
        if (dwUrlLength == 0)
            length = TextLength(lpszUrl);
        else
            while (length < dwUrlLength && lpszUrl[length]) ++length;
        if (length == 0) return Fail(ERROR_INTERNET_UNRECOGNIZED_SCHEME);
        return Crack(std::u16string_view(lpszUrl, length), dwFlags, *lpUrlComponents);
    });
}
