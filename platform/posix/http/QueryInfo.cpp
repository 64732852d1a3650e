// HttpQueryInfoW: response and request headers by information level, by
// name, as text, number or date.
#include "posix/text/InternetDate.h"
#include "posix/handles/Options.h"
#include "posix/http/HttpRequest.h"
#include "posix/text/Ascii.h"
#include "posix/text/Utf.h"

#include <array>
#include <limits>

namespace Corvane::Backend {

namespace {

// The header name of each information level up to HTTP_QUERY_MAX; null for
// the levels that are not a header (answered on their own) or not known.
constexpr std::array<const char*, HTTP_QUERY_MAX + 1> kLevelNames = {
    "Mime-Version",
    "Content-Type",
    "Content-Transfer-Encoding",
    "Content-ID",
    "Content-Description",
    "Content-Length",
    "Content-Language",
    "Allow",
    "Public",
    "Date",
    "Expires",
    "Last-Modified",
    "Message-ID",
    "URI",
    "Derived-From",
    "Cost",
    "Link",
    "Pragma",
    nullptr /* VERSION */,
    nullptr /* STATUS_CODE */,
    nullptr /* STATUS_TEXT */,
    nullptr /* RAW_HEADERS */,
    nullptr /* RAW_HEADERS_CRLF */,
    "Connection",
    "Accept",
    "Accept-Charset",
    "Accept-Encoding",
    "Accept-Language",
    "Authorization",
    "Content-Encoding",
    "Forwarded",
    "From",
    "If-Modified-Since",
    "Location",
    "Orig-URI",
    "Referer",
    "Retry-After",
    "Server",
    "Title",
    "User-Agent",
    "WWW-Authenticate",
    "Proxy-Authenticate",
    "Accept-Ranges",
    "Set-Cookie",
    "Cookie",
    nullptr /* REQUEST_METHOD */,
    "Refresh",
    "Content-Disposition",
    "Age",
    "Cache-Control",
    "Content-Base",
    "Content-Location",
    "Content-MD5",
    "Content-Range",
    "ETag",
    "Host",
    "If-Match",
    "If-None-Match",
    "If-Range",
    "If-Unmodified-Since",
    "Max-Forwards",
    "Proxy-Authorization",
    "Range",
    "Transfer-Encoding",
    "Upgrade",
    "Vary",
    "Via",
    "Warning",
    "Expect",
    "Proxy-Connection",
    "Unless-Modified-Since",
    nullptr /* ECHO_REQUEST */,
    nullptr /* ECHO_REPLY */,
    nullptr /* ECHO_HEADERS */,
    nullptr /* ECHO_HEADERS_CRLF */,
    "Proxy-Support",
    "Authentication-Info",
    "PassportURLs",
    "PassportConfig",
    "X-Content-Type-Options",
    "P3P",
    "X-P2P-PeerDist",
    "Translate",
    "X-UA-Compatible",
    "Default-Style",
    "X-Frame-Options",
    "X-XSS-Protection",
    "Set-Cookie2",
    "DNT",
    "Keep-Alive",
    "HTTP2-Settings",
    "Strict-Transport-Security",
    "Sec-Token-Binding",
    "Include-Referred-Token-Binding-ID",
    "Public-Key-Pins",
    "Public-Key-Pins-Report-Only",
};

// Writes a value as the modifiers ask: a DWORD (FLAG_NUMBER), a 64-bit
// number (FLAG_NUMBER64), a SYSTEMTIME (FLAG_SYSTEMTIME) or text. A value
// that is not a number or a date fails with ERROR_HTTP_INVALID_HEADER.
DWORD Answer(std::string_view value, DWORD modifiers, void* buffer, DWORD* size) {
    if (modifiers & (HTTP_QUERY_FLAG_NUMBER | HTTP_QUERY_FLAG_NUMBER64)) {
        value = TrimStart(value);
        if (value.empty() || !IsAsciiDigit(value.front())) return ERROR_HTTP_INVALID_HEADER;
        ULONGLONG number = 0;
        for (char c : value) {
            if (!IsAsciiDigit(c)) break;
            if (number > (std::numeric_limits<ULONGLONG>::max() - 9) / 10) return ERROR_HTTP_INVALID_HEADER;
            number = number * 10 + static_cast<ULONGLONG>(c - '0');
        }
        if (modifiers & HTTP_QUERY_FLAG_NUMBER64) return QueryValue(buffer, size, number);
        if (number > std::numeric_limits<DWORD>::max()) return ERROR_HTTP_INVALID_HEADER;
        return QueryValue(buffer, size, static_cast<DWORD>(number));
    }
    if (modifiers & HTTP_QUERY_FLAG_SYSTEMTIME) {
        const auto seconds = ParseHttpDate(value);
        if (!seconds) return ERROR_HTTP_INVALID_HEADER;
        return QueryValue(buffer, size, SystemTimeFromUnix(*seconds));
    }
    return QueryText(buffer, size, HeaderText(value));
}

}  // namespace

// The request's headers: as sent once they went out, else as they stand.
HeaderBlock HttpRequest::RequestBlock() {
    const std::string sent = FTransfer.SentHead();
    if (!sent.empty()) return HeaderBlock::Parse(sent);
    std::lock_guard<std::mutex> lock(FMutex);
    return HeaderBlock{FVerb + " " + FObject + (FHttp10 ? " HTTP/1.0" : " HTTP/1.1"), FHeaders.Fields()};
}

// Sizes are in bytes; a text answer needs room for its terminator and
// reports the bytes written without it. The index, when given, selects the
// occurrence of a repeated header and is advanced past it on success.
DWORD HttpRequest::QueryInfo(DWORD level, void* buffer, DWORD* size, DWORD* index) {
    if (!size) return ERROR_INVALID_PARAMETER;
    const DWORD modifiers = level & HTTP_QUERY_MODIFIER_FLAGS_MASK;
    const DWORD info = level & HTTP_QUERY_HEADER_MASK;
    const bool ofRequest = (modifiers & HTTP_QUERY_FLAG_REQUEST_HEADERS) != 0;

    if (info == HTTP_QUERY_REQUEST_METHOD) return Answer(CurrentVerb(), modifiers, buffer, size);

    ResponseHead response;
    HeaderBlock block;
    if (ofRequest) {
        block = RequestBlock();
    } else {
        if (!FTransfer.HasResponse()) return ERROR_HTTP_HEADER_NOT_FOUND;
        response = FTransfer.Response();
        block = response;
    }

    std::string value;
    switch (info) {
    case HTTP_QUERY_STATUS_CODE:
        if (ofRequest) return ERROR_HTTP_INVALID_QUERY_REQUEST;
        value = std::to_string(response.status);
        break;
    case HTTP_QUERY_STATUS_TEXT:
        if (ofRequest) return ERROR_HTTP_INVALID_QUERY_REQUEST;
        value = response.statusText;
        break;
    case HTTP_QUERY_VERSION:
        if (ofRequest) {
            const std::size_t space = block.firstLine.rfind(' ');
            value = space == std::string::npos ? std::string() : block.firstLine.substr(space + 1);
        } else {
            value = response.version;
        }
        break;
    case HTTP_QUERY_RAW_HEADERS:
        // Each line ends in a zero; the terminator is the final zero.
        value = block.Raw(std::string_view("\0", 1));
        value.pop_back();
        break;
    case HTTP_QUERY_RAW_HEADERS_CRLF:
        value = block.Raw("\r\n");
        break;
    default: {
        std::string name;
        if (info == HTTP_QUERY_CUSTOM) {
            // The name comes in the buffer, zero-terminated within its size.
            if (!buffer) return ERROR_INVALID_PARAMETER;
            const auto* text = static_cast<const WCHAR*>(buffer);
            name = Utf16ToUtf8(std::u16string_view(text, BoundedLength(text, *size / sizeof(WCHAR))));
            if (name.empty()) return ERROR_HTTP_HEADER_NOT_FOUND;
        } else if (info <= HTTP_QUERY_MAX && kLevelNames[info]) {
            name = kLevelNames[info];
        } else {
            return ERROR_HTTP_INVALID_QUERY_REQUEST;
        }
        const HeaderField* field = block.Find(name, index ? *index : 0);
        if (!field) return ERROR_HTTP_HEADER_NOT_FOUND;
        const DWORD error = Answer(field->value, modifiers, buffer, size);
        if (error == ERROR_SUCCESS && index) ++*index;
        return error;
    }
    }
    return Answer(value, modifiers, buffer, size);
}

}  // namespace Corvane::Backend
