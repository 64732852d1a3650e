// UTF-8/UTF-16 conversion used inside the portable backend.
#include "posix/text/Utf.h"

#include <cstdint>

namespace Corvane::Backend {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

void AppendUtf16(std::u16string& out, char32_t cp) {
    if (cp < 0x10000) {
        out.push_back(static_cast<char16_t>(cp));
    } else {
        cp -= 0x10000;
        out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
        out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    }
}

}  // namespace

// Decodes one sequence at a time; a lead byte without the right continuation
// bytes, an overlong form, a surrogate or a value past U+10FFFF yields one
// replacement character and decoding resumes at the next byte.
std::u16string Utf8ToUtf16(std::string_view text) {
    std::u16string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        const auto b0 = static_cast<std::uint8_t>(text[i]);
        if (b0 < 0x80) {
            out.push_back(b0);
            ++i;
            continue;
        }
        const int extra = b0 >= 0xC2 && b0 < 0xE0 ? 1 : b0 >= 0xE0 && b0 < 0xF0 ? 2
                        : b0 >= 0xF0 && b0 < 0xF5 ? 3 : 0;
        char32_t cp = 0;
        bool ok = extra > 0 && text.size() - i > static_cast<std::size_t>(extra);
        if (ok) {
            cp = b0 & (0x3F >> extra);
            for (int k = 1; k <= extra; ++k) {
                const auto b = static_cast<std::uint8_t>(text[i + k]);
                if ((b & 0xC0) != 0x80) {
                    ok = false;
                    break;
                }
                cp = (cp << 6) | (b & 0x3F);
            }
        }
        if (ok) {
            const char32_t minimum = extra == 1 ? 0x80 : extra == 2 ? 0x800 : 0x10000;
            ok = cp >= minimum && cp <= 0x10FFFF && !(cp >= 0xD800 && cp <= 0xDFFF);
        }
        if (ok) {
            AppendUtf16(out, cp);
            i += static_cast<std::size_t>(extra) + 1;
        } else {
            out.push_back(static_cast<char16_t>(kReplacement));
            ++i;
        }
    }
    return out;
}

// Encodes code points; a surrogate without its partner becomes U+FFFD.
std::string Utf16ToUtf8(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t cp = text[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            cp = kReplacement;
        }
        if (cp < 0x80) {
            out.push_back(static_cast<char>(cp));
        } else if (cp < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        }
    }
    return out;
}

std::size_t BoundedLength(const char16_t* text, std::size_t limit) {
    std::size_t n = 0;
    while (n < limit && text[n] != 0) ++n;
    return n;
}

}  // namespace Corvane::Backend
