// Header lists of HTTP requests and responses: the request headers an
// application adds (HttpAddRequestHeadersW's rules) and the header blocks
// that were sent and received, as HttpQueryInfoW reads them.
#pragma once

#include <Platform/WinInet.h>

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace Corvane::Backend {

struct HeaderField {
    std::string name;
    std::string value;
};

/// Whether two header names are the same (ASCII, any case).
bool SameHeaderName(std::string_view a, std::string_view b);

/// A start line (request line or status line) and its header fields, in the
/// order they stand.
struct HeaderBlock {
    std::string firstLine;
    std::vector<HeaderField> fields;

    /// The `index`-th field called `name` (0 is the first), or null.
    const HeaderField* Find(std::string_view name, std::size_t index = 0) const;
    /// The start line and the fields, each line ending in `separator`, and
    /// `separator` once more at the end (RAW_HEADERS uses a zero character,
    /// RAW_HEADERS_CRLF CR LF).
    std::string Raw(std::string_view separator) const;
    /// Reads a block as it stands on the wire ("GET / HTTP/1.1\r\nA: b\r\n
    /// \r\n"); continuation lines are joined to the field before them.
    static HeaderBlock Parse(std::string_view text);
};

/// A received status line and its headers.
struct ResponseHead : HeaderBlock {
    std::string version;     // "HTTP/1.1"
    DWORD status = 0;        // 200
    std::string statusText;  // "OK" (may be empty)
    /// Bytes of the header block as received.
    std::size_t bytes = 0;
    /// A proxy's refusal of a tunnel (its answer to CONNECT), not the
    /// server's response: it sets no cookies and is never followed.
    bool fromProxy = false;

    /// Takes the status line apart; false when it is not one.
    bool SetStatusLine(std::string_view line);
    /// Adds one header line (or a continuation line) as received.
    void AddLine(std::string_view line);
};

/// The headers an application adds to a request, in order.
class RequestHeaders {
public:
    /// Applies one or more header lines, separated by CR LF (a lone LF is
    /// accepted too, an empty line is skipped), with the HTTP_ADDREQ_FLAG_
    /// modifiers: ADD_IF_NEW fails with ERROR_HTTP_HEADER_ALREADY_EXISTS for
    /// a header that is there; REPLACE replaces the first of that name (an
    /// empty value removes it) and, without ADD, fails with
    /// ERROR_HTTP_HEADER_NOT_FOUND when there is none; COALESCE_WITH_COMMA /
    /// _WITH_SEMICOLON append the value to the one there; otherwise the line
    /// is added. A line that is not "name: value" with a token for a name
    /// fails with ERROR_HTTP_INVALID_HEADER. Lines before a failing one stay
    /// applied, as on the platform.
    DWORD Apply(std::string_view text, DWORD modifiers);

    /// Applies one header (what Apply does per line).
    DWORD ApplyOne(std::string_view name, std::string_view value, DWORD modifiers);

    /// Sets a header, replacing every one of that name.
    void Set(std::string_view name, std::string_view value);
    bool Has(std::string_view name) const;
    void Remove(std::string_view name);
    const std::vector<HeaderField>& Fields() const { return FFields; }

private:
    std::vector<HeaderField> FFields;
};

/// Whether `name` is an HTTP token (the characters a header name or method
/// may have).
bool IsToken(std::string_view name);

}  // namespace Corvane::Backend
