// Exceptions, integer conversion, system texts, UTF conversion, Format and
// resource strings.
#include <cerrno>
#include <climits>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "Framework/Framework.h"

using namespace Framework;

namespace {
std::string Narrow(const UnicodeString& s) {
    return Utf16ToUtf8(s);
}
}  // namespace

TEST(Exceptions, MessageIsUtf16AndWhatIsUtf8InStep) {
    Exception e(u"Gr\u00fc\u00dfe \U0001F600");
    EXPECT_EQ(e.Message(), u"Gr\u00fc\u00dfe \U0001F600");
    EXPECT_STREQ(e.what(),
                 "Gr\xC3\xBC\xC3\x9F"
                 "e \xF0\x9F\x98\x80");
    e.SetMessage(u"changed");
    EXPECT_STREQ(e.what(), "changed");

    // Copies (as exception_ptr and rethrow make) keep their own text.
    Exception copy = e;
    e.SetMessage(u"again");
    EXPECT_STREQ(copy.what(), "changed");
}

TEST(Exceptions, AbortRaisesEAbortCaughtAsFrameworkAndStdException) {
    EXPECT_THROW(Abort(), EAbort);
    try {
        Abort();
    } catch (const std::exception& e) {
        EXPECT_NE(dynamic_cast<const EAbort*>(&e), nullptr);
        EXPECT_STRNE(e.what(), "");
    }
    try {
        throw EConvertError(u"bad");
    } catch (const Exception& e) {
        EXPECT_EQ(e.ClassName(), u"EConvertError");
        EXPECT_EQ(e.Message(), u"bad");
    }
}

TEST(IntegerText, IntToStrAtTheExtremes) {
    EXPECT_EQ(IntToStr(Integer{0}), u"0");
    EXPECT_EQ(IntToStr(Integer{INT32_MIN}), u"-2147483648");
    EXPECT_EQ(IntToStr(Cardinal{4294967295u}), u"4294967295");
    EXPECT_EQ(IntToStr(Int64{INT64_MIN}), u"-9223372036854775808");
    EXPECT_EQ(IntToStr(Int64{INT64_MAX}), u"9223372036854775807");
    EXPECT_EQ(IntToStr(UInt64{UINT64_MAX}), u"18446744073709551615");
    // A 32-bit code widened without sign prints as a positive number.
    EXPECT_EQ(IntToStr(static_cast<UInt64>(static_cast<Cardinal>(-1))), u"4294967295");
    EXPECT_EQ(IntToStr(static_cast<long long>(-5)), u"-5");
    EXPECT_EQ(IntToStr(static_cast<unsigned short>(65535)), u"65535");
}

TEST(IntegerText, StrToIntAcceptsDecimalAndHexAtTheLimits) {
    EXPECT_EQ(StrToInt(u"0"), 0);
    EXPECT_EQ(StrToInt(u"-0"), 0);
    EXPECT_EQ(StrToInt(u"  +42"), 42);
    EXPECT_EQ(StrToInt(u"2147483647"), INT32_MAX);
    EXPECT_EQ(StrToInt(u"-2147483648"), INT32_MIN);
    EXPECT_EQ(StrToInt(u"$7fffFFFF"), INT32_MAX);
    EXPECT_EQ(StrToInt(u"-0x10"), -16);
    EXPECT_EQ(StrToInt64(u"-9223372036854775808"), INT64_MIN);
    EXPECT_EQ(StrToInt64(u"9223372036854775807"), INT64_MAX);
}

TEST(IntegerText, StrToIntRejectsNonIntegersAndOutOfRangeWithClearMessages) {
    for (const char16_t* bad : {u"", u" ", u"abc", u"12a", u"1 ", u"+", u"-", u"$", u"0x", u"1.0", u"--1",
                                u"\uFF11" /* fullwidth digit one */}) {
        try {
            StrToInt(bad);
            ADD_FAILURE() << "accepted '" << Narrow(bad) << "'";
        } catch (const EConvertError& e) {
            EXPECT_EQ(e.Message(), u"'" + UnicodeString(bad) + u"' is not a valid integer value");
        }
    }
    for (const char16_t* big : {u"2147483648", u"-2147483649", u"$80000000", u"99999999999999999999999"}) {
        try {
            StrToInt(big);
            ADD_FAILURE() << "accepted " << Narrow(big);
        } catch (const EConvertError& e) {
            EXPECT_EQ(e.Message(), u"'" + UnicodeString(big) + u"' is outside the range of a 32-bit integer");
        }
    }
    EXPECT_THROW(StrToInt64(u"9223372036854775808"), EConvertError);
    EXPECT_THROW(StrToInt64(u"-9223372036854775809"), EConvertError);
    EXPECT_THROW(StrToInt64(u"18446744073709551616"), EConvertError);

    Integer value = 7;
    EXPECT_FALSE(TryStrToInt(u"x", value));
    EXPECT_EQ(value, 7);
    EXPECT_EQ(StrToIntDef(u"2147483648", -1), -1);
}

TEST(SystemText, SysErrorMessageGivesTheSystemsText) {
    const UnicodeString text = SysErrorMessage(ENOENT);
    EXPECT_FALSE(text.empty());
    EXPECT_NE(text.back(), u'\n');
    EXPECT_NE(text, SysErrorMessage(EACCES));
#if defined(_WIN32)
    // The operating system has no text for codes it does not know.
    EXPECT_TRUE(SysErrorMessage(4294967295u).empty());
    EXPECT_TRUE(SysErrorMessage(123456).empty());
#else
    EXPECT_FALSE(SysErrorMessage(4294967295u).empty());
    EXPECT_FALSE(SysErrorMessage(123456).empty());
#endif
}

TEST(Utf, Utf8RoundTripsEveryPlaneIncludingSurrogatePairs) {
    const std::string utf8 = "A\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\xF4\x8F\xBF\xBF";
    const std::u16string utf16 = Utf8ToUtf16(utf8);
    EXPECT_EQ(utf16, (std::u16string{u'A', 0x00E9, 0x20AC, 0xD83D, 0xDE00, 0xDBFF, 0xDFFF}));
    EXPECT_EQ(Utf16ToUtf8(utf16), utf8);
    EXPECT_EQ(Utf8ToUtf16(std::string("a\0b", 3)), std::u16string(u"a\0b", 3));
}

// The library's one UTF-8 decoder (the portable backend decodes with it
// too), against the Unicode standard's "U+FFFD substitution of maximal
// subparts": a lead byte and the continuation bytes that can still complete
// it make one U+FFFD; the byte that cannot is decoded afresh.
TEST(Utf, IllFormedUtf8BecomesOneReplacementPerMaximalSubpart) {
    struct TCase {
        const char* Input;
        std::u16string Expected;
    };
    const TCase cases[] = {
        // the standard's own example (Table 3-8)
        {"\x61\xF1\x80\x80\xE1\x80\xC2\x62\x80\x63\x80\xBF\x64", u"a\uFFFD\uFFFD\uFFFDb\uFFFDc\uFFFD\uFFFDd"},
        {"\x80", u"\uFFFD"},  // stray continuation
        {"a\xFF"
         "b",
         u"a\uFFFDb"},                  // never a UTF-8 byte
        {"\xC0\xAF", u"\uFFFD\uFFFD"},  // overlong lead bytes
        {"\xC1\xBF", u"\uFFFD\uFFFD"},
        {"\xE0\x80\xAF", u"\uFFFD\uFFFD\uFFFD"},  // overlong 3- and 4-byte forms
        {"\xF0\x80\x80\xAF", u"\uFFFD\uFFFD\uFFFD\uFFFD"},
        {"\xE0\x9F\xBF", u"\uFFFD\uFFFD\uFFFD"},
        {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},  // encoded surrogates
        {"\xED\xBF\xBF", u"\uFFFD\uFFFD\uFFFD"},
        {"\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},  // above U+10FFFF
        {"\xF5\x80\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},
        {"\xF8\x88\x80\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD"},
        {"\xE2\x82", u"\uFFFD"},  // truncated at the end
        {"\xF0\x9F\x98", u"\uFFFD"},
        {"\xE2\x82\x41", u"\uFFFDA"},                                     // truncated before ASCII
        {"\xF0\x9F\xE2\x82\xAC", u"\uFFFD\u20AC"},                        // truncated before a sequence
        {"\xED\x9F\xBF\xEE\x80\x80\xEF\xBF\xBF", u"\uD7FF\uE000\uFFFF"},  // the edges that are valid
    };
    for (const auto& c : cases) EXPECT_EQ(Utf8ToUtf16(c.Input), c.Expected) << c.Input;
}

TEST(Utf, LoneSurrogatesBecomeReplacementCharacters) {
    EXPECT_EQ(Utf16ToUtf8(std::u16string{0xD800}), "\xEF\xBF\xBD");
    EXPECT_EQ(Utf16ToUtf8(std::u16string{0xDC00, u'a'}),
              "\xEF\xBF\xBD"
              "a");
    EXPECT_EQ(Utf16ToUtf8(std::u16string{0xD83D, 0xD83D, 0xDE00}), "\xEF\xBF\xBD\xF0\x9F\x98\x80");
    EXPECT_EQ(Utf16ToUtf8(std::u16string{u'x', 0xD83D}), "x\xEF\xBF\xBD");
}

TEST(TextHelpers, FormatSubstitutesSequentialAndIndexedPlaceholders) {
    EXPECT_EQ(Format(u"%s and %s", {u"a", u"b"}), u"a and b");
    EXPECT_EQ(Format(u"%1:s before %0:s", {u"a", u"b"}), u"b before a");
    EXPECT_EQ(Format(u"100%% of %s", {u"x"}), u"100% of x");
    EXPECT_EQ(Format(u"%s %s", {u"only"}), u"only %s");
    EXPECT_EQ(Format(u"%d %", {}), u"%d %");
    EXPECT_EQ(Format(u"%s", {u"%s"}), u"%s");  // arguments are not scanned again
}

TEST(TextHelpers, SameTextAndIdentifiersAreAsciiOnly) {
    EXPECT_TRUE(SameText(u"Session1", u"SESSION1"));
    EXPECT_FALSE(SameText(u"\u00e9", u"\u00c9"));
    EXPECT_FALSE(SameText(u"ab", u"abc"));
    EXPECT_TRUE(IsValidIdent(u"_a1"));
    EXPECT_FALSE(IsValidIdent(u""));
    EXPECT_FALSE(IsValidIdent(u"9a"));
}

TEST(ResourceStrings, TranslationsApplyByLanguageThenPrimaryLanguageThenDefault) {
    constexpr TResourceString sGreeting{"Tests.SGreeting", u"Hello"};
    constexpr TResourceString sOther{"Tests.SOther", u"Other"};
    EXPECT_EQ(LoadResString(sGreeting), u"Hello");

    RegisterResourceTranslation(u"de", "Tests.SGreeting", u"Hallo");
    RegisterResourceTranslation(u"DE-at", "Tests.SGreeting", u"Servus");
    EXPECT_EQ(LoadResString(sGreeting), u"Hello");  // no language chosen yet

    SetResourceLanguage(u"de-AT");
    EXPECT_EQ(LoadResString(sGreeting), u"Servus");
    SetResourceLanguage(u"de-CH");
    EXPECT_EQ(LoadResString(sGreeting), u"Hallo");
    EXPECT_EQ(LoadResString(sOther), u"Other");
    SetResourceLanguage(u"fr");
    EXPECT_EQ(LoadResString(sGreeting), u"Hello");

    // The framework's own messages are resource strings too.
    RegisterResourceTranslation(u"fr", "Framework.SInvalidInteger", u"'%s' n'est pas un entier");
    try {
        StrToInt(u"x");
        ADD_FAILURE();
    } catch (const EConvertError& e) {
        EXPECT_EQ(e.Message(), u"'x' n'est pas un entier");
    }

    ClearResourceTranslations(u"fr");
    ClearResourceTranslations(u"de");
    ClearResourceTranslations(u"de-at");
    SetResourceLanguage(u"");
}

TEST(ResourceStrings, LoadingWhileAnotherThreadRegistersIsSafe) {
    constexpr TResourceString sText{"Tests.SRace", u"default"};
    SetResourceLanguage(u"xx");
    std::thread writer([] {
        for (int i = 0; i < 2000; ++i) RegisterResourceTranslation(u"xx", "Tests.SRace", u"v" + IntToStr(i));
    });
    for (int i = 0; i < 2000; ++i) {
        const UnicodeString text = LoadResString(sText);
        ASSERT_TRUE(text == u"default" || text[0] == u'v');
    }
    writer.join();
    EXPECT_EQ(LoadResString(sText), u"v1999");
    ClearResourceTranslations(u"xx");
    SetResourceLanguage(u"");
}
