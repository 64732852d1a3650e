// Proxy selection from the session's settings.
#include "posix/http/Proxy.h"

#include "posix/session/Session.h"
#include "posix/text/Ascii.h"
#include "posix/text/Utf.h"

namespace Corvane::Backend {

namespace {

// Glob match with '*', ignoring case.
bool Glob(std::string_view pattern, std::string_view text) {
    std::size_t p = 0, t = 0, star = std::string_view::npos, mark = 0;
    while (t < text.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            star = p++;
            mark = t;
        } else if (p < pattern.size() && ToLowerAscii(pattern[p]) == ToLowerAscii(text[t])) {
            ++p;
            ++t;
        } else if (star != std::string_view::npos) {
            p = star + 1;
            t = ++mark;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') ++p;
    return p == pattern.size();
}

bool IsSeparator(char c) {
    return c == ';' || c == ',' || c == ' ' || c == '\t';
}

}  // namespace

bool BypassesProxy(std::string_view bypass, std::string_view host) {
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
    std::size_t i = 0;
    while (i < bypass.size()) {
        while (i < bypass.size() && IsSeparator(bypass[i])) ++i;
        const std::size_t start = i;
        while (i < bypass.size() && !IsSeparator(bypass[i])) ++i;
        const std::string_view entry = bypass.substr(start, i - start);
        if (entry.empty()) continue;
        if (entry == "<local>") {
            if (host.find('.') == std::string_view::npos && host.find(':') == std::string_view::npos)
                return true;
            continue;
        }
        if (Glob(entry, host)) return true;
    }
    return false;
}

std::string ProxyFor(const SessionSettings& settings, std::string_view scheme, std::string_view host) {
    if (settings.proxyAccessType != INTERNET_OPEN_TYPE_PROXY || settings.proxy.empty()) return {};
    const std::string list = Utf16ToUtf8(settings.proxy);
    if (BypassesProxy(Utf16ToUtf8(settings.proxyBypass), host)) return {};

    std::string own, general;
    std::size_t i = 0;
    while (i < list.size()) {
        while (i < list.size() && (list[i] == ' ' || list[i] == '\t' || list[i] == ';')) ++i;
        const std::size_t start = i;
        while (i < list.size() && list[i] != ' ' && list[i] != '\t' && list[i] != ';') ++i;
        std::string_view entry(list.data() + start, i - start);
        if (entry.empty()) continue;
        const std::size_t equals = entry.find('=');
        if (equals == std::string_view::npos) {
            if (general.empty()) general = entry;
            continue;
        }
        const std::string_view entryScheme = entry.substr(0, equals);
        if (own.empty() && entryScheme.size() == scheme.size() && Glob(entryScheme, scheme))
            own = entry.substr(equals + 1);
    }
    std::string chosen = own.empty() ? general : own;
    if (chosen.empty()) return {};
    // Only HTTP proxies serve HTTP requests here; "socks://" and the like
    // are passed on to libcurl as they stand.
    if (chosen.find("://") == std::string::npos) chosen.insert(0, "http://");
    return chosen;
}

}  // namespace Corvane::Backend
