// Public suffixes through libpsl.
#include "posix/cookies/PublicSuffix.h"

#include "posix/text/Ascii.h"

#include <libpsl.h>

namespace Corvane::Backend {

namespace {

// The list compiled into libpsl: no file to find or to go stale at run time
// in a way that would change which cookies a process accepts.
const psl_ctx_t* List() {
    static const psl_ctx_t* const list = psl_builtin();
    return list;
}

}  // namespace

bool IsIpAddress(std::string_view host) {
    if (host.find(':') != host.npos) return true;
    if (host.empty()) return false;
    int dots = 0;
    for (char c : host) {
        if (c == '.')
            ++dots;
        else if (!IsAsciiDigit(c))
            return false;
    }
    return dots == 3;
}

bool IsPublicSuffix(std::string_view domain) {
    if (IsIpAddress(domain)) return false;
    const std::string text(domain);
    if (const psl_ctx_t* list = List()) return psl_is_public_suffix(list, text.c_str()) != 0;
    // Without a list only a bare label is known to be one.
    return text.find('.') == text.npos;
}

std::string CookieKey(std::string_view domain) {
    if (IsIpAddress(domain)) return std::string(domain);
    const std::string text(domain);
    if (const psl_ctx_t* list = List())
        if (const char* registrable = psl_registrable_domain(list, text.c_str())) return registrable;
    if (List()) return text;
    // Without a list: the last two labels.
    const std::size_t last = text.rfind('.');
    if (last == text.npos || last == 0) return text;
    const std::size_t before = text.rfind('.', last - 1);
    return before == text.npos ? text : text.substr(before + 1);
}

}  // namespace Corvane::Backend
