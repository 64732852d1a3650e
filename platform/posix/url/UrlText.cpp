// Character helpers, percent-escapes and the hand-over of results.
#include "posix/url/UrlText.h"

#include "posix/errors/LastError.h"
#include "posix/text/Utf.h"

namespace Corvane::Backend {

int HexValue(char16_t c) {
    if (IsAsciiDigit(c)) return c - u'0';
    if (c >= u'a' && c <= u'f') return c - u'a' + 10;
    if (c >= u'A' && c <= u'F') return c - u'A' + 10;
    return -1;
}

bool StartsWithDrive(std::u16string_view text) {
    return text.size() >= 2 && IsAsciiAlpha(text[0]) && (text[1] == u':' || text[1] == u'|');
}

std::u16string PercentDecode(std::u16string_view text) {
    std::u16string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == u'%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 &&
            HexValue(text[i + 2]) >= 0) {
            out.push_back(static_cast<char16_t>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2])));
            i += 2;
        } else {
            out.push_back(text[i]);
        }
    }
    return out;
}

namespace {

bool IsUnsafeAscii(char16_t c) {
    if (c <= 0x20 || c == 0x7F) return true;
    switch (c) {
    case u'"':
    case u'<':
    case u'>':
    case u'^':
    case u'`':
    case u'{':
    case u'|':
    case u'}':
        return true;
    default:
        return false;
    }
}

void AppendHexEscape(std::u16string& out, unsigned byte) {
    static constexpr char16_t digits[] = u"0123456789ABCDEF";
    out.push_back(u'%');
    out.push_back(digits[(byte >> 4) & 0xF]);
    out.push_back(digits[byte & 0xF]);
}

}  // namespace

// Runs of characters beyond ASCII are converted to UTF-8 together, so a
// surrogate pair becomes the four bytes of its code point.
void AppendEscapedUnsafe(std::u16string& out, std::u16string_view text) {
    std::size_t i = 0;
    while (i < text.size()) {
        const char16_t c = text[i];
        if (c >= 0x80) {
            std::size_t end = i;
            while (end < text.size() && text[end] >= 0x80) ++end;
            for (unsigned char byte : Utf16ToUtf8(text.substr(i, end - i))) AppendHexEscape(out, byte);
            i = end;
        } else {
            if (IsUnsafeAscii(c))
                AppendHexEscape(out, c);
            else
                out.push_back(c);
            ++i;
        }
    }
}

std::size_t TextLength(const WCHAR* text) {
    std::size_t n = 0;
    while (text[n]) ++n;
    return n;
}

BOOL HandOver(std::u16string_view text, WCHAR* buffer, DWORD* length) {
    if (!buffer || *length <= text.size()) {
        *length = static_cast<DWORD>(text.size() + 1);
        return Fail(ERROR_INSUFFICIENT_BUFFER);
    }
    text.copy(buffer, text.size());
    buffer[text.size()] = 0;
    *length = static_cast<DWORD>(text.size());
    return TRUE;
}

}  // namespace Corvane::Backend
