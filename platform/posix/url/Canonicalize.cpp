// InternetCanonicalizeUrlW and the canonical form it produces.
//
// The work is done in three passes over the text, as the platform does it:
// a structural rewrite (scheme and host case, DOS and UNC paths, dot
// segments), an optional decoding of every "%hh", and an optional escaping
// of unsafe characters. Scheme-specific rules are the traits of the scheme
// table (UrlSchemes.h), read through the small predicates below.
#include "posix/url/Canonicalize.h"
#include "posix/errors/Barrier.h"

#include "posix/errors/LastError.h"
#include "posix/url/UrlSchemes.h"
#include "posix/url/UrlText.h"

namespace Corvane::Backend {

namespace {

// The scheme a text is canonicalized under: a row of the scheme table that
// canonicalization has rules for, an unknown scheme, or none (the text has
// no scheme name).
class Kind {
public:
    static Kind None() { return Kind(false, nullptr); }
    static Kind Named(std::u16string_view name) {
        const UrlScheme* row = FindScheme(name);
        return Kind(true, row && row->Has(kSchemeCanonical) ? row : nullptr);
    }
    static Kind Of(INTERNET_SCHEME number) { return Kind(true, FindScheme(number)); }

    bool Known() const { return FRow != nullptr; }
    bool Unknown() const { return FNamed && !FRow; }
    bool Is(INTERNET_SCHEME number) const { return FRow && FRow->number == number; }
    bool Has(UrlSchemeTrait trait) const { return FRow && FRow->Has(trait); }

private:
    Kind(bool named, const UrlScheme* row) : FNamed(named), FRow(row) {}

    bool FNamed;
    const UrlScheme* FRow;
};

// Length of the scheme at the start of `text` (letters, digits, '+', '-',
// '.' followed by ':', at least two of them so that "C:" stays a drive), or
// 0 when there is none.
std::size_t SchemeLength(const char16_t* text) {
    std::size_t n = 0;
    while (IsSchemeChar(text[n])) ++n;
    return text[n] == u':' && n >= 2 ? n : 0;
}

bool IsOpaque(Kind k) {
    return k.Has(kSchemeOpaque);
}

bool PreservesBackslashes(Kind k) {
    return !k.Known() || k.Has(kSchemeKeepsBackslashes);
}

bool UsesHostName(Kind k) {
    return !IsOpaque(k) && !k.Has(kSchemeNoHostName);
}

bool IsFile(Kind k) {
    return k.Is(INTERNET_SCHEME_FILE);
}

bool IsSlash(char16_t c) {
    return c == u'/' || c == u'\\';
}

bool IsSeparator(Kind k, char16_t c) {
    return c == u'/' || (c == u'\\' && k.Known());
}

bool EndsHostName(Kind k, char16_t c) {
    switch (c) {
    case 0:
    case u'/':
    case u'?':
        return true;
    case u'\\':
        return !PreservesBackslashes(k);
    case u'#':
        return !IsFile(k);
    default:
        return false;
    }
}

bool EndsDotSegment(Kind k, char16_t c) {
    switch (c) {
    case 0:
    case u'/':
    case u'?':
        return true;
    case u'#':
        return !IsFile(k);
    case u'\\':
        return k.Known() && !k.Has(kSchemeBackslashKeepsDots);
    default:
        return false;
    }
}

// Schemes whose paths are treated as relative: dot segments are always
// resolved, and a ".." that would climb above the root is kept.
bool AlwaysRelative(Kind k) {
    return !k.Known() || IsFile(k);
}

bool DriveAt(const char16_t* p) {
    return IsAsciiAlpha(p[0]) && (p[1] == u':' || p[1] == u'|');
}

bool StartsWithIgnoringCase(const char16_t* p, const char16_t* end, std::u16string_view word) {
    return StartsWithIgnoringAsciiCase(std::u16string_view(p, static_cast<std::size_t>(end - p)), word);
}

// The structural pass. `url` is zero-terminated; the pass may look one or
// two characters ahead, never past the terminator.
class Rewriter {
public:
    Rewriter(const char16_t* url, bool simplify) : FUrl(url), FSimplify(simplify) {}

    std::u16string Run();

private:
    // The separator to write for one met in the source (0: none met): file:
    // paths use backslashes until a '#' has been written, the schemes that
    // keep backslashes keep what was there, the rest use '/'.
    char16_t SlashFor(char16_t source) const {
        if (source && PreservesBackslashes(FKind)) return source;
        if (IsFile(FKind) && FOut.find(u'#') == std::u16string::npos) return u'\\';
        return u'/';
    }

    void ReadScheme();
    void WriteHostPart();
    void WritePath(const char16_t* pathEnd);

    const char16_t* FUrl;
    const char16_t* FSrc = nullptr;
    bool FSimplify;
    std::u16string FOut;
    Kind FKind = Kind::None();
    bool FRelative = false;
    bool FHasHostName = false;
    bool FInitialSlash = false;
    const char16_t* FHostName = nullptr;
    std::size_t FHostLength = 0;
    std::size_t FRoot = 0;
};

// Writes the scheme (lower case) and decides where a host name stands:
// after "//" for hierarchical schemes, implied for DOS drives and UNC paths.
void Rewriter::ReadScheme() {
    FSrc = FUrl;
    if (std::size_t n = SchemeLength(FUrl)) {
        FKind = Kind::Named(std::u16string_view(FUrl, n));
        for (; FSrc <= FUrl + n; ++FSrc) FOut.push_back(ToLowerAscii(*FSrc));
    } else if (FUrl[0] == u'\\' && FUrl[1] == u'\\') {
        FOut += u"file:";
        FKind = Kind::Of(INTERNET_SCHEME_FILE);
        FHasHostName = true;
    }

    if (DriveAt(FUrl)) {
        FOut += u"file://";
        FKind = Kind::Of(INTERNET_SCHEME_FILE);
        FHostLength = 0;
        FHasHostName = true;
    } else if (UsesHostName(FKind) && IsSeparator(FKind, FSrc[0]) && IsSeparator(FKind, FSrc[1])) {
        const bool keep = PreservesBackslashes(FKind);
        FOut.push_back(keep ? FSrc[0] : u'/');
        FOut.push_back(keep ? FSrc[1] : u'/');
        FSrc += 2;
        if (IsFile(FKind) && IsSlash(FSrc[0]) && IsSlash(FSrc[1]))
            while (IsSlash(*FSrc)) ++FSrc;
        FHostName = FSrc;
        while (!EndsHostName(FKind, *FSrc)) ++FSrc;
        FHostLength = static_cast<std::size_t>(FSrc - FHostName);
        FHasHostName = true;
        FInitialSlash = true;
    } else if (IsSeparator(FKind, FSrc[0])) {
        FInitialSlash = true;
        if (!FKind.Known()) {
            // An unknown scheme with a single slash takes that slash as its root.
            FOut.push_back(*FSrc++);
            if (*FSrc == u'\\') ++FSrc;
        } else if (IsFile(FKind)) {
            ++FSrc;
            FOut += u"//";
            FHostLength = 0;
            FHasHostName = true;
        }
    } else if (IsFile(FKind) && DriveAt(FSrc)) {
        FOut += u"//";
        FHostLength = 0;
        FHasHostName = true;
    }
}

// Writes the host name, or for file: URLs the drive or "\\host" part in DOS
// form, and notes whether the path starts with a dot segment (then dots are
// left alone, as in a relative reference).
void Rewriter::WriteHostPart() {
    if (IsFile(FKind)) {
        bool drive = false;
        if (IsSlash(*FSrc)) ++FSrc;
        if (FHostLength >= 2 && DriveAt(FHostName)) {
            FHostLength = 0;
            FSrc = FHostName;
            drive = true;
        } else if (DriveAt(FSrc)) {
            drive = true;
        }
        if (FHostLength == 9 && EqualsIgnoringAsciiCase(std::u16string_view(FHostName, 9), u"localhost")) {
            FHostLength = 0;
            if (IsSlash(*FSrc)) ++FSrc;
            if (DriveAt(FSrc)) drive = true;
        }
        if (drive) {
            while (!EndsHostName(FKind, *FSrc)) FOut.push_back(*FSrc++);
            if (IsSlash(*FSrc)) {
                FOut.push_back(u'\\');
                ++FSrc;
            }
        } else {
            if (FHostLength) {
                FOut += u"\\\\";
                FOut.append(FHostName, FHostLength);
            }
            FOut.push_back(SlashFor(0));
        }
    } else {
        const bool keepCase = !FKind.Known();
        for (std::size_t i = 0; i < FHostLength; ++i)
            FOut.push_back(keepCase ? FHostName[i] : ToLowerAscii(FHostName[i]));
        char16_t slash = u'/';
        if (IsSlash(*FSrc)) {
            if (PreservesBackslashes(FKind)) slash = *FSrc;
            ++FSrc;
        }
        FOut.push_back(slash);
    }
    const bool dots = (FSrc[0] == u'.' && EndsDotSegment(FKind, FSrc[1])) ||
                      (FSrc[0] == u'.' && FSrc[1] == u'.' && EndsDotSegment(FKind, FSrc[2]));
    if (dots && !AlwaysRelative(FKind)) FRelative = true;
}

// Copies the path segment by segment up to `pathEnd`, dropping "." and
// resolving ".." against what was written after the root.
void Rewriter::WritePath(const char16_t* pathEnd) {
    bool simplify = FSimplify;
    if (FKind.Unknown() && !FInitialSlash) {
        if (simplify && FSrc[0] == u'.' && pathEnd == FSrc + 1) ++FSrc;
        simplify = false;
    }
    while (FSrc < pathEnd) {
        bool dots = false;
        std::size_t len = 0;
        while (FSrc + len < pathEnd && !IsSeparator(FKind, FSrc[len])) ++len;

        if (FSrc[0] == u'.' && EndsDotSegment(FKind, FSrc[1])) {
            if (!FRelative) {
                if (!simplify) {
                    dots = true;
                } else {
                    ++FSrc;
                    if (IsSlash(*FSrc)) ++FSrc;
                    continue;
                }
            }
        } else if (FSrc[0] == u'.' && FSrc[1] == u'.' && EndsDotSegment(FKind, FSrc[2])) {
            if (!FRelative) {
                if (!simplify) {
                    dots = true;
                } else if (FOut.size() == FRoot && AlwaysRelative(FKind)) {
                    // Nothing to climb out of: keep the ".." and move the root past it.
                    FOut += u"..";
                    FSrc += 2;
                    FOut.push_back(IsSlash(*FSrc) ? SlashFor(*FSrc++) : SlashFor(0));
                    FRoot = FOut.size();
                    continue;
                } else {
                    if (FOut.size() > FRoot) FOut.pop_back();
                    while (FOut.size() > FRoot && !IsSeparator(FKind, FOut.back())) FOut.pop_back();
                    FSrc += 2;
                    if (IsSlash(*FSrc)) ++FSrc;
                    continue;
                }
            }
        }

        if (len) {
            FOut.append(FSrc, len);
            FSrc += len;
        }
        if (*FSrc == u'?' || *FSrc == u'#' || !*FSrc) {
            if (FKind.Unknown() && !FInitialSlash) dots = false;
            if (dots && AlwaysRelative(FKind)) FOut.push_back(SlashFor(0));
        } else {
            FOut.push_back(SlashFor(*FSrc++));
        }
    }
}

std::u16string Rewriter::Run() {
    ReadScheme();
    if (FHasHostName) WriteHostPart();
    FRoot = FOut.size();

    const char16_t* end = FSrc + TextLength(FSrc);
    if (IsOpaque(FKind)) {
        FOut.append(FSrc, end);
        return FOut;
    }

    // Split off the query and the fragment; file: paths may hold '#', except
    // right after ".htm" or ".html".
    const char16_t* query = nullptr;
    const char16_t* hash = nullptr;
    for (const char16_t* p = FSrc; p < end && !query; ++p)
        if (*p == u'?') query = p;
    if (IsFile(FKind)) {
        for (const char16_t* p = FSrc; p < end; ++p) {
            if (StartsWithIgnoringCase(p, end, u".htm#"))
                hash = p + 4;
            else if (StartsWithIgnoringCase(p, end, u".html#"))
                hash = p + 5;
        }
    } else {
        for (const char16_t* p = FSrc; p < end && !hash; ++p)
            if (*p == u'#') hash = p;
    }
    const char16_t* queryEnd = hash && query && hash > query ? hash : end;
    const char16_t* hashEnd = query && hash && query > hash ? query : end;
    const char16_t* pathEnd = end;
    if (query) pathEnd = query;
    if (hash && hash < pathEnd) pathEnd = hash;

    WritePath(pathEnd);

    if (FOut.empty() && pathEnd != FUrl) FOut.push_back(u'/');

    // Known schemes keep the order of query and fragment; file:, unknown
    // schemes and texts without a scheme put the query first.
    const bool keepOrder = FKind.Known() && !IsFile(FKind);
    if (query && hash && keepOrder && hash < query) {
        FOut.append(hash, hashEnd);
        FOut.append(query, queryEnd);
    } else {
        if (query) FOut.append(query, queryEnd);
        if (hash) FOut.append(hash, hashEnd);
    }
    return FOut;
}

// The escaping pass. Escaping stops at the first '?' or '#' (file: URLs go
// on through '#', escaping it; mailto: escapes everything, '/', '?' and '#'
// included) unless only spaces are escaped, which happens everywhere.
std::u16string Escape(const std::u16string& text, bool spacesOnly, bool percent) {
    const std::size_t schemeLength = SchemeLength(text.c_str());
    const Kind kind =
        schemeLength ? Kind::Named(std::u16string_view(text.data(), schemeLength)) : Kind::None();
    const char16_t* suffix = text.c_str() + (schemeLength ? schemeLength + 1 : 0);

    bool stopOnHash = !spacesOnly, stopOnQuestion = !spacesOnly;
    bool backslashAsSlash = false, collapseSlashes = false;
    bool escapeSlash = false, escapeQuestion = false, escapeHash = false;
    if (IsFile(kind)) {
        backslashAsSlash = collapseSlashes = escapeHash = true;
        stopOnHash = false;
    } else if (kind.Is(INTERNET_SCHEME_HTTP) || kind.Is(INTERNET_SCHEME_HTTPS)) {
        backslashAsSlash = true;
        escapeSlash = !IsSlash(suffix[0]);
    } else if (kind.Is(INTERNET_SCHEME_MAILTO)) {
        escapeSlash = escapeQuestion = escapeHash = true;
        stopOnHash = stopOnQuestion = false;
    } else if (schemeLength) {
        escapeSlash = suffix[0] != u'/';
    }

    auto needsEscape = [&](char16_t c) {
        if (spacesOnly) return c == u' ';
        if (percent && c == u'%') return true;
        if (c <= 31 || (c >= 127 && c <= 255)) return true;
        switch (c) {
        case u' ':
        case u'<':
        case u'>':
        case u'"':
        case u'{':
        case u'}':
        case u'|':
        case u'\\':
        case u'^':
        case u']':
        case u'[':
        case u'`':
        case u'&':
            return true;
        case u'/':
            return escapeSlash;
        case u'?':
            return escapeQuestion;
        case u'#':
            return escapeHash;
        default:
            return false;
        }
    };

    static constexpr char16_t digits[] = u"0123456789ABCDEF";
    std::u16string out;
    out.reserve(text.size());
    bool stopped = false;
    const char16_t* const start = text.c_str();
    const char16_t* p = start;
    while (*p) {
        char16_t c = *p;
        if (collapseSlashes && p == suffix) {
            // file: takes "//" before a host and "///" before a local path.
            std::size_t slashes = 0;
            while (IsSlash(c)) {
                ++slashes;
                c = *++p;
            }
            if (slashes == 2 && StartsWithIgnoringCase(p, start + text.size(), u"localhost")) {
                if (IsSlash(p[9])) p += 10;
                slashes = 3;
            }
            if (slashes == 1 || slashes == 3) {
                out += u"///";
                continue;
            }
            if (slashes > 0) {
                out += u"//";
                continue;
            }
        }
        if (c == u'#' && stopOnHash) stopped = true;
        if (c == u'?' && stopOnQuestion) stopped = true;
        if (c == u'\\' && backslashAsSlash && !stopped) c = u'/';
        if (!stopped && needsEscape(c)) {
            out.push_back(u'%');
            out.push_back(digits[(c >> 4) & 0xF]);
            out.push_back(digits[c & 0xF]);
        } else {
            out.push_back(c);
        }
        ++p;
    }
    return out;
}

}  // namespace

std::u16string CanonicalizeUrlText(std::u16string_view url, DWORD flags) {
    // Trim control characters and spaces at both ends; drop tabs and line
    // breaks inside.
    std::size_t begin = 0, end = url.size();
    while (begin < end && url[begin] > 0 && url[begin] <= 0x20) ++begin;
    while (end > begin && url[end - 1] > 0 && url[end - 1] <= 0x20) --end;
    std::u16string cleaned;
    cleaned.reserve(end - begin);
    for (std::size_t i = begin; i < end; ++i)
        if (url[i] != u'\t' && url[i] != u'\n' && url[i] != u'\r') cleaned.push_back(url[i]);
    if (cleaned.empty()) return cleaned;

    std::u16string text = Rewriter(cleaned.c_str(), !(flags & ICU_NO_META)).Run();

    if (flags & ICU_DECODE) {
        text = PercentDecode(text);
        if (std::size_t nul = text.find(u'\0'); nul != std::u16string::npos) text.resize(nul);
    }

    const bool spacesOnly = flags & ICU_ENCODE_SPACES_ONLY;
    const bool percent = flags & ICU_ENCODE_PERCENT;
    if (!(flags & ICU_NO_ENCODE) || spacesOnly || percent) text = Escape(text, spacesOnly, percent);
    return text;
}

}  // namespace Corvane::Backend

extern "C" BOOL WINAPI InternetCanonicalizeUrlW(LPCWSTR lpszUrl, LPWSTR lpszBuffer, LPDWORD lpdwBufferLength,
                                                DWORD dwFlags) {
    return Corvane::Backend::Guarded<BOOL>(FALSE, [&]() -> BOOL {
        using namespace Corvane::Backend;
        if (!lpszUrl || !lpszBuffer || !lpdwBufferLength || !*lpdwBufferLength)
            return Fail(ERROR_INVALID_PARAMETER);
        const std::u16string canonical =
            CanonicalizeUrlText(std::u16string_view(lpszUrl, TextLength(lpszUrl)), dwFlags);
        return HandOver(canonical, lpszBuffer, lpdwBufferLength);
    });
}
