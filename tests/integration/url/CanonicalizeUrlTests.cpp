// InternetCanonicalizeUrlW, table-driven: URL and flags in, canonical text
// out; and the size rules of its buffer.
//
// The Platform table holds what wininet.dll gives; ...BackendRules hold the
// portable backend's answers where the platform's are not established.
#include "UrlTestSupport.h"

#include <vector>

using namespace UrlTests;

namespace {

struct CanonicalCase {
    const char16_t* url;
    DWORD flags;
    const char16_t* expected;
    // A known platform difference for this case (PlatformDifferences.h).
    const char* difference = nullptr;
};

void PrintTo(const CanonicalCase& c, std::ostream* os) {
    *os << Narrow(c.url) << " flags 0x" << std::hex << c.flags;
}

// One URL with an escape, a space, a "." segment, an unsafe '>' and a
// fragment, under every flag the URL component hands over.
constexpr const char16_t* Mixed = u"http://www.winehq.org/%27/ /./>/#>  ";

const CanonicalCase PlatformCases[] = {
    {Mixed, 0, u"http://www.winehq.org/%27/%20/%3E/#>"},
    {Mixed, ICU_BROWSER_MODE, u"http://www.winehq.org/%27/%20/%3E/#>"},
    {Mixed, ICU_ESCAPE, u"http://www.winehq.org/%27/%20/%3E/#>"},
    {Mixed, ICU_DECODE, u"http://www.winehq.org/'/%20/%3E/#>"},
    {Mixed, ICU_ENCODE_PERCENT, u"http://www.winehq.org/%2527/%20/%3E/#>"},
    {Mixed, ICU_ENCODE_SPACES_ONLY, u"http://www.winehq.org/%27/%20/>/#>"},
    {Mixed, ICU_NO_ENCODE, u"http://www.winehq.org/%27/ />/#>"},
    {Mixed, ICU_NO_META, u"http://www.winehq.org/%27/%20/./%3E/#>"},
    {Mixed, ICU_DECODE | ICU_NO_ENCODE, u"http://www.winehq.org/'/ />/#>"},
    {u"http://swupmf.adobe.com/manifest/50/win/AdobeUpdater.upd", 0,
     u"http://swupmf.adobe.com/manifest/50/win/AdobeUpdater.upd"},
    {u"file:///C:/Program%20Files/Atmel/AVR%20Tools/STK500/STK500.xml", ICU_DECODE | ICU_NO_ENCODE,
     u"file://C:\\Program Files\\Atmel\\AVR Tools\\STK500\\STK500.xml"},
    {u"http://www.winehq.org/index.php?x= ", ICU_BROWSER_MODE, u"http://www.winehq.org/index.php?x="},
    {u"http://www.winehq.org/tests/../tests/../..", 0, u"http://www.winehq.org/",
     "wine-canonicalize-dot-segments"},
    {u"http://www.winehq.org/tests/../tests/", 0, u"http://www.winehq.org/tests/"},
    {u"http://www.winehq.org/tests/./", 0, u"http://www.winehq.org/tests/"},
    {u"http://www.winehq.org/tests/.", 0, u"http://www.winehq.org/tests/", "wine-canonicalize-dot-segments"},
    {u"http://www.winehq.org/tests\\../#example", 0, u"http://www.winehq.org/#example"},
    {u"HTTP://WWW.WineHQ.ORG/Path", 0, u"http://www.winehq.org/Path", "wine-canonicalize-case"},
    {u"http://www.winehq.org", 0, u"http://www.winehq.org/"},
    {u"http://www.winehq.org/a\\b", 0, u"http://www.winehq.org/a/b"},
};

const CanonicalCase BackendCases[] = {
    // Leading and trailing blanks go, tabs and line breaks inside too.
    {u" \thttp://h/a\tb\r\nc \n", 0, u"http://h/abc"},
    // Dots kept with ICU_NO_META, resolved otherwise.
    {u"http://h/a/./b/../c", 0, u"http://h/a/c"},
    {u"http://h/a/./b/../c", ICU_NO_META, u"http://h/a/./b/../c"},
    // A path that starts with a dot segment is left as it is.
    {u"http://h/./../a", 0, u"http://h/./../a"},
    // The query is never escaped, spaces excepted under ICU_ENCODE_SPACES_ONLY.
    {u"http://h/a b?c d<e>", 0, u"http://h/a%20b?c d<e>"},
    {u"http://h/a b?c d", ICU_ENCODE_SPACES_ONLY, u"http://h/a%20b?c%20d"},
    {u"http://h/100%", ICU_ENCODE_PERCENT, u"http://h/100%25"},
    // Latin-1 characters are escaped by their code, wider ones left alone.
    {u"http://h/caf\u00e9/\u20ac", 0, u"http://h/caf%E9/\u20ac"},
    {u"http://h/caf%E9", ICU_DECODE | ICU_NO_ENCODE, u"http://h/caf\u00e9"},
    // Opaque schemes are not restructured.
    {u"mailto:Someone@Example.com", ICU_NO_ENCODE, u"mailto:Someone@Example.com"},
    {u"JavaScript:a/../b", ICU_NO_ENCODE, u"javascript:a/../b"},
    // Unknown schemes keep the host's case and a ".." above the root.
    {u"wine://Host/a/../../b/.", ICU_NO_ENCODE, u"wine://Host/../b/"},
    // DOS and UNC paths become file: URLs.
    {u"C:\\dir\\..\\f.txt", ICU_NO_ENCODE, u"file://C:\\f.txt"},
    {u"\\\\server\\share\\f", ICU_NO_ENCODE, u"file://\\\\server\\share\\f"},
    {u"file://localhost/C:/x", ICU_NO_ENCODE, u"file://C:\\x"},
    // A decoded "%00" ends the text.
    {u"http://h/a%00b", ICU_DECODE, u"http://h/a"},
};

class CanonicalTable : public testing::TestWithParam<CanonicalCase> {};

TEST_P(CanonicalTable, GivesTheCanonicalForm) {
    const CanonicalCase& c = GetParam();
    if (c.difference) SKIP_IF_PLATFORM_DIFFERS(c.difference);
    std::vector<WCHAR> buffer(256, u'#');
    DWORD length = static_cast<DWORD>(buffer.size());
    SetLastError(Sentinel);
    ASSERT_TRUE(InternetCanonicalizeUrlW(W(c.url), buffer.data(), &length, c.flags)) << GetLastError();
    EXPECT_EQ(View(buffer.data(), length), std::u16string_view(c.expected))
        << Narrow(View(buffer.data(), length));
    EXPECT_EQ(buffer[length], 0);
}

INSTANTIATE_TEST_SUITE_P(Platform, CanonicalTable, testing::ValuesIn(PlatformCases));
INSTANTIATE_TEST_SUITE_P(BackendRules, CanonicalTable, testing::ValuesIn(BackendCases));

// The length is in characters: too small gives ERROR_INSUFFICIENT_BUFFER
// and the length needed with the terminator; enough gives the length
// written without it.
TEST(CanonicalizeUrlSize, LengthsAreCharactersWithTerminatorWhenNeeded) {
    const std::u16string_view url = u"http://swupmf.adobe.com/manifest/50/win/AdobeUpdater.upd";
    const DWORD n = DWORD(url.size());
    std::vector<WCHAR> buffer(n + 8, u'#');
    for (DWORD given : {DWORD(1), n}) {
        DWORD length = given;
        SetLastError(Sentinel);
        EXPECT_FALSE(InternetCanonicalizeUrlW(W(url.data()), buffer.data(), &length, 0)) << given;
        EXPECT_EQ(GetLastError(), DWORD(ERROR_INSUFFICIENT_BUFFER)) << given;
        EXPECT_EQ(length, n + 1) << given;
    }
    for (DWORD given : {n + 1, n + 2}) {
        DWORD length = given;
        ASSERT_TRUE(InternetCanonicalizeUrlW(W(url.data()), buffer.data(), &length, 0)) << given;
        EXPECT_EQ(length, n);
        EXPECT_EQ(View(buffer.data(), length), url);
        EXPECT_EQ(buffer[n], 0);
    }
}

// The needed length is that of the escaped result, not of the input.
TEST(CanonicalizeUrlSize, NeededLengthCountsEscapes) {
    DWORD length = 1;
    WCHAR buffer[4];
    EXPECT_FALSE(InternetCanonicalizeUrlW(W(u"http://h/a b"), buffer, &length, 0));
    EXPECT_EQ(length, DWORD(std::u16string_view(u"http://h/a%20b").size() + 1));
}

TEST(CanonicalizeUrlParameters, NullPointersAreInvalidParameter) {
    WCHAR buffer[64];
    DWORD length = 64;
    SetLastError(Sentinel);
    EXPECT_FALSE(InternetCanonicalizeUrlW(nullptr, buffer, &length, 0));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
    SetLastError(Sentinel);
    EXPECT_FALSE(InternetCanonicalizeUrlW(W(u"http://h/"), nullptr, &length, 0));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
    SetLastError(Sentinel);
    EXPECT_FALSE(InternetCanonicalizeUrlW(W(u"http://h/"), buffer, nullptr, 0));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
}

TEST(CanonicalizeUrlBackendRules, ZeroLengthIsInvalidParameterAndEmptyUrlIsEmpty) {
    WCHAR buffer[8] = {u'#'};
    DWORD length = 0;
    SetLastError(Sentinel);
    EXPECT_FALSE(InternetCanonicalizeUrlW(W(u"http://h/"), buffer, &length, 0));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));

    length = 8;
    ASSERT_TRUE(InternetCanonicalizeUrlW(W(u""), buffer, &length, 0));
    EXPECT_EQ(length, 0u);
    EXPECT_EQ(buffer[0], 0);
}

}  // namespace
