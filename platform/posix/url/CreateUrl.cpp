// InternetCreateUrlW: writes a URL from its parts.
//
//   scheme ":" [ "//" ] [ user [ ":" password ] "@" ] [ host [ ":" port ] [ "/" ] ] path extra
//
// - the scheme is the given text, or the name of nScheme when no text is
//   given (INTERNET_SCHEME_DEFAULT meaning http);
// - "//" is written for ftp, gopher, http, https and file, and for any other
//   scheme when a host is given;
// - the port is written only with a host, and only when it is neither 0 nor
//   the scheme's default port;
// - a '/' is put between host and a path that does not start with one;
// - ICU_ESCAPE escapes the unsafe characters of path and extra information.
#include "posix/errors/LastError.h"
#include "posix/errors/Barrier.h"
#include "posix/url/UrlSchemes.h"
#include "posix/url/UrlText.h"

#include <optional>
#include <string>

namespace Corvane::Backend {

namespace {

using Text = std::u16string_view;

// A text part of the record: absent when its pointer is null; its length is
// the length field, or the length of the zero-terminated text when that is 0.
std::optional<Text> PartOf(LPCWSTR pointer, DWORD length) {
    if (!pointer) return std::nullopt;
    return Text(pointer, length ? length : TextLength(pointer));
}

// Builds the URL text into `out`. Returns 0 or the error code.
DWORD Compose(const URL_COMPONENTSW& uc, DWORD flags, std::u16string& out) {
    const auto schemeText = PartOf(uc.lpszScheme, uc.dwSchemeLength);
    const auto host = PartOf(uc.lpszHostName, uc.dwHostNameLength);
    const auto user = PartOf(uc.lpszUserName, uc.dwUserNameLength);
    const auto password = PartOf(uc.lpszPassword, uc.dwPasswordLength);
    const auto path = PartOf(uc.lpszUrlPath, uc.dwUrlPathLength);
    const auto extra = PartOf(uc.lpszExtraInfo, uc.dwExtraInfoLength);

    if (password && !user) return ERROR_INVALID_PARAMETER;

    INTERNET_SCHEME scheme;
    if (schemeText && !schemeText->empty()) {
        scheme = SchemeFromName(*schemeText);
        out.assign(*schemeText);
    } else {
        scheme = uc.nScheme == INTERNET_SCHEME_DEFAULT ? INTERNET_SCHEME_HTTP : uc.nScheme;
        const Text name = SchemeName(scheme);
        if (name.empty()) return ERROR_INTERNET_UNRECOGNIZED_SCHEME;
        out.assign(name);
    }
    out.push_back(u':');

    if (SchemeHas(scheme, kSchemeAlwaysAuthority) || host) out += u"//";
    if (user) {
        out += *user;
        if (password) {
            out.push_back(u':');
            out += *password;
        }
        out.push_back(u'@');
    }
    if (host) {
        out += *host;
        if (uc.nPort != INTERNET_INVALID_PORT_NUMBER && uc.nPort != DefaultPort(scheme)) {
            out.push_back(u':');
            for (char c : std::to_string(uc.nPort)) out.push_back(static_cast<char16_t>(c));
        }
        // A file: path in DOS form may start with '\', which ends the host too.
        if (path && !path->empty() && (*path)[0] != u'/' &&
            !(scheme == INTERNET_SCHEME_FILE && (*path)[0] == u'\\'))
            out.push_back(u'/');
    }

    for (const auto& part : {path, extra}) {
        if (!part) continue;
        if (flags & ICU_ESCAPE)
            AppendEscapedUnsafe(out, *part);
        else
            out += *part;
    }
    return 0;
}

}  // namespace

}  // namespace Corvane::Backend

// When the buffer is too small the size needed is reported in bytes,
// terminator included, as the platform reports it for this function.
extern "C" BOOL WINAPI InternetCreateUrlW(LPURL_COMPONENTSW lpUrlComponents, DWORD dwFlags, LPWSTR lpszUrl,
                                          LPDWORD lpdwUrlLength) {
    return Corvane::Backend::Guarded<BOOL>(FALSE, [&]() -> BOOL {
        using namespace Corvane::Backend;
        if (!lpUrlComponents || lpUrlComponents->dwStructSize != sizeof(URL_COMPONENTSW) || !lpdwUrlLength)
            return Fail(ERROR_INVALID_PARAMETER);

        std::u16string url;
        if (DWORD error = Compose(*lpUrlComponents, dwFlags, url)) return Fail(error);

        if (!lpszUrl || *lpdwUrlLength <= url.size()) {
            *lpdwUrlLength = static_cast<DWORD>((url.size() + 1) * sizeof(WCHAR));
            return Fail(ERROR_INSUFFICIENT_BUFFER);
        }
        url.copy(lpszUrl, url.size());
        lpszUrl[url.size()] = 0;
        *lpdwUrlLength = static_cast<DWORD>(url.size());
        return TRUE;
    });
}
