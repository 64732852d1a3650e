// The message table: its coverage of the Internet error codes, FormatMessageW
// on it and on the system texts, and GetModuleHandleW.
#include "BackendTesting.h"

#include "posix/messages/MessageTable.h"

#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

using namespace BackendTesting;
using Corvane::Backend::ErrorSymbol;
using Corvane::Backend::FindMessage;
using Corvane::Backend::InternetModule;
using Corvane::Backend::MessageSource;

namespace {

struct HeaderCode {
    std::string symbol;
    DWORD code;
};

// Every ERROR_INTERNET_, ERROR_FTP_, ERROR_GOPHER_ and ERROR_HTTP_ code the
// contract header defines, read from the header itself so that a code added
// there without a text here fails the test.
std::vector<HeaderCode> InternetCodesOfTheHeader() {
    std::ifstream in(CORVANE_WININET_HEADER);
    std::stringstream content;
    content << in.rdbuf();
    const std::string text = content.str();
    const std::regex define(
        R"(#define\s+(ERROR_(?:INTERNET|FTP|GOPHER|HTTP)_\w+)\s+\(INTERNET_ERROR_BASE\s*\+\s*(\d+)\))");
    std::vector<HeaderCode> codes;
    for (auto it = std::sregex_iterator(text.begin(), text.end(), define); it != std::sregex_iterator(); ++it)
        codes.push_back({(*it)[1].str(), static_cast<DWORD>(12000 + std::stoul((*it)[2].str()))});
    return codes;
}

TEST(MessageTable, HasATextEndingInCrLfForEveryInternetCodeOfTheHeader) {
    const auto codes = InternetCodesOfTheHeader();
    ASSERT_GT(codes.size(), 100u) << "could not read " << CORVANE_WININET_HEADER;
    for (const HeaderCode& c : codes) {
        SCOPED_TRACE(c.symbol);
        const auto* entry = FindMessage(MessageSource::Internet, c.code);
        ASSERT_NE(entry, nullptr);
        EXPECT_EQ(entry->symbol, c.symbol);
        EXPECT_GT(entry->text.size(), 3u);
        EXPECT_TRUE(entry->text.ends_with(u"\r\n"));
        EXPECT_EQ(entry->text.find(u"\r\n"), entry->text.size() - 2) << "one line per text";
    }
}

TEST(MessageTable, SymbolsForDiagnostics) {
    EXPECT_STREQ(ErrorSymbol(12002), "ERROR_INTERNET_TIMEOUT");
    EXPECT_STREQ(ErrorSymbol(12150), "ERROR_HTTP_HEADER_NOT_FOUND");
    EXPECT_STREQ(ErrorSymbol(122), "ERROR_INSUFFICIENT_BUFFER");
    EXPECT_EQ(ErrorSymbol(12035), nullptr);  // a gap in the numbering
    EXPECT_EQ(ErrorSymbol(4294967295u), nullptr);
}

TEST(GetModuleHandle, KnowsOnlyTheInternetLibrary) {
    const struct {
        const char16_t* name;
        bool found;
    } cases[] = {
        {u"wininet.dll", true},
        {u"WININET.DLL", true},
        {u"WinInet", true},
        {u"C:\\Windows\\System32\\wininet.dll", true},
        {u"/opt/lib/WinInet.Dll", true},
        {u"kernel32.dll", false},
        {u"wininet.dll.bak", false},
        {u"xwininet.dll", false},
        {u"wininet.dl", false},
        {u"", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(Narrow(c.name));
        ArmLastError();
        const HMODULE module = GetModuleHandleW(c.name);
        if (c.found) {
            EXPECT_EQ(module, InternetModule());
            EXPECT_EQ(::GetLastError(), kSentinel);
        } else {
            EXPECT_EQ(module, nullptr);
            EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
        }
    }
    EXPECT_NE(GetModuleHandleW(nullptr), nullptr);
    EXPECT_NE(GetModuleHandleW(nullptr), InternetModule());
}

// FormatMessageW the way the components call it: FROM_HMODULE with the
// module of "wininet.dll", language 0, a buffer and its size in characters.
DWORD FormatInternet(DWORD code, WCHAR* buffer, DWORD size, DWORD extraFlags = 0) {
    return FormatMessageW(FORMAT_MESSAGE_FROM_HMODULE | extraFlags, GetModuleHandleW(u"wininet.dll"), code, 0,
                          buffer, size, nullptr);
}

TEST(FormatMessage, CopiesTheInternetTextWithItsLineBreak) {
    const std::u16string_view expected = FindMessage(MessageSource::Internet, 12003)->text;
    WCHAR buffer[257];
    ArmLastError();
    const DWORD length = FormatInternet(12003, buffer, 256);
    EXPECT_EQ(length, expected.size());
    EXPECT_EQ(std::u16string_view(buffer), expected);
    EXPECT_EQ(::GetLastError(), kSentinel);
}

TEST(FormatMessage, NeedsRoomForTheTerminator) {
    const DWORD textLength = static_cast<DWORD>(FindMessage(MessageSource::Internet, 12029)->text.size());
    std::u16string buffer(textLength + 1, u'#');

    ArmLastError();
    EXPECT_EQ(FormatInternet(12029, buffer.data(), textLength + 1), textLength);

    std::fill(buffer.begin(), buffer.end(), u'#');
    ArmLastError();
    EXPECT_EQ(FormatInternet(12029, buffer.data(), textLength), 0u);
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(buffer[0], u'\0');  // an empty string, never a truncated text
    EXPECT_EQ(buffer[1], u'#');   // and nothing beyond it

    ArmLastError();
    EXPECT_EQ(FormatInternet(12029, buffer.data(), 0), 0u);
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
}

TEST(FormatMessage, FailuresReportTheExactReason) {
    WCHAR buffer[64];
    const HMODULE wininet = GetModuleHandleW(u"wininet.dll");
    const struct {
        const char* what;
        DWORD flags;
        LPCVOID source;
        DWORD code;
        DWORD language;
        WCHAR* buffer;
        DWORD expected;
    } cases[] = {
        {"a system code in the Internet table", FORMAT_MESSAGE_FROM_HMODULE, wininet, 2, 0, buffer,
         ERROR_MR_MID_NOT_FOUND},
        {"a gap in the Internet codes", FORMAT_MESSAGE_FROM_HMODULE, wininet, 12035, 0, buffer,
         ERROR_MR_MID_NOT_FOUND},
        {"a module without a message table", FORMAT_MESSAGE_FROM_HMODULE, GetModuleHandleW(nullptr), 12002, 0,
         buffer, ERROR_RESOURCE_TYPE_NOT_FOUND},
        {"an unknown system code", FORMAT_MESSAGE_FROM_SYSTEM, nullptr, 424242, 0, buffer,
         ERROR_MR_MID_NOT_FOUND},
        {"a language the table lacks", FORMAT_MESSAGE_FROM_HMODULE, wininet, 12002, 0x0407, buffer,
         ERROR_RESOURCE_LANG_NOT_FOUND},
        {"no source", 0, wininet, 12002, 0, buffer, ERROR_INVALID_PARAMETER},
        {"no buffer", FORMAT_MESSAGE_FROM_HMODULE, wininet, 12002, 0, nullptr, ERROR_INVALID_PARAMETER},
        {"an allocated buffer", FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ALLOCATE_BUFFER, wininet, 12002,
         0, buffer, ERROR_NOT_SUPPORTED},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ArmLastError();
        EXPECT_EQ(FormatMessageW(c.flags, c.source, c.code, c.language, c.buffer, 64, nullptr), 0u);
        EXPECT_EQ(::GetLastError(), c.expected);
    }
}

TEST(FormatMessage, SystemTextsAndTheFallbackToThem) {
    const std::u16string_view fileNotFound = FindMessage(MessageSource::System, 2)->text;
    WCHAR buffer[256];

    ArmLastError();
    EXPECT_EQ(FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, 2, 0, buffer, 256, nullptr),
              fileNotFound.size());
    EXPECT_EQ(std::u16string_view(buffer), fileNotFound);

    // Module first, system second: an Internet code comes from the module...
    EXPECT_EQ(FormatInternet(12002, buffer, 256, FORMAT_MESSAGE_FROM_SYSTEM),
              FindMessage(MessageSource::Internet, 12002)->text.size());
    // ...and a code the module lacks from the system.
    EXPECT_EQ(FormatInternet(2, buffer, 256, FORMAT_MESSAGE_FROM_SYSTEM), fileNotFound.size());
    EXPECT_EQ(std::u16string_view(buffer), fileNotFound);

    // English is accepted besides the neutral language.
    EXPECT_GT(FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, 2, 0x0409, buffer, 256, nullptr), 0u);
}

TEST(FormatMessage, MaximumWidthDropsTheLineBreak) {
    const std::u16string_view text = FindMessage(MessageSource::Internet, 12007)->text;
    WCHAR buffer[256];
    const DWORD length =
        FormatInternet(12007, buffer, 256, FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_MAX_WIDTH_MASK);
    EXPECT_EQ(length, text.size() - 2);
    EXPECT_EQ(std::u16string_view(buffer), text.substr(0, text.size() - 2));
}

}  // namespace
