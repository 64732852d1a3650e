// The adapter's conversions between wininet.dll's conventions and the
// contract, each run against scripted stand-ins for the DLL function: one
// that behaves as the system's DLL is documented to (sizes in characters,
// ERROR_INSUFFICIENT_BUFFER with the size needed), one as Wine's (never
// reports a short buffer, fills it without a terminator), and failing ones.
#include "windows/WinInetAdapter.h"

#include <gtest/gtest.h>

#include <cwchar>
#include <functional>
#include <string>
#include <utility>
#include <vector>

using namespace Corvane::WinInetConventions;

namespace {

constexpr DWORD Sentinel = 0xC0DE;

// ---------------------------------------------------------------------------
// Stand-ins for InternetGetLastResponseInfoW.

std::wstring Response;        // the text the stand-in holds
DWORD ResponseError = 12015;  // the code it reports with it
int Calls = 0;
std::vector<DWORD> SizesSeen;  // the sizes it was given, in characters

// As the system's DLL is documented: sizes in characters; a missing or short
// buffer fails with ERROR_INSUFFICIENT_BUFFER and the characters needed.
BOOL WINAPI Documented(LPDWORD error, LPWSTR buffer, LPDWORD size) {
    ++Calls;
    SizesSeen.push_back(*size);
    *error = ResponseError;
    if (!buffer || *size <= Response.size()) {
        *size = static_cast<DWORD>(Response.size() + 1);
        ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    wcscpy(buffer, Response.c_str());
    *size = static_cast<DWORD>(Response.size());
    ::SetLastError(0);  // a success that touches the last error
    return TRUE;
}

// As Wine's was: never fails, copies what fits without terminating a cut
// text, and reports the length found in the buffer.
BOOL WINAPI NeverShort(LPDWORD error, LPWSTR buffer, LPDWORD size) {
    ++Calls;
    SizesSeen.push_back(*size);
    *error = ResponseError;
    if (!buffer) {
        *size = 0;
        return TRUE;
    }
    const std::size_t copied = std::min<std::size_t>(*size, Response.size() + 1);
    std::wmemcpy(buffer, Response.c_str(), copied);
    *size = static_cast<DWORD>(wcslen(buffer));
    return TRUE;
}

BOOL WINAPI Broken(LPDWORD, LPWSTR, LPDWORD) {
    ++Calls;
    ::SetLastError(ERROR_INTERNET_INTERNAL_ERROR);
    return FALSE;
}

class LastResponse : public testing::TestWithParam<LastResponseInfoFunction> {
protected:
    void SetUp() override {
        Calls = 0;
        SizesSeen.clear();
        Response = L"530 Login incorrect.";
    }
};

// The contract's size dialogue on top of either DLL: the bytes needed with
// the terminator; a buffer one byte short is refused untouched; the exact
// one gets the text and the bytes without the terminator.
TEST_P(LastResponse, SizesAreBytesAndAShortBufferIsRefused) {
    const DWORD textBytes = static_cast<DWORD>(Response.size() * sizeof(WCHAR));
    DWORD error = 0;
    DWORD size = 0;
    ::SetLastError(Sentinel);
    EXPECT_FALSE(LastResponseInfoInBytes(GetParam(), &error, nullptr, &size));
    EXPECT_EQ(::GetLastError(), DWORD(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(size, textBytes + sizeof(WCHAR));
    EXPECT_EQ(error, ResponseError);

    std::vector<WCHAR> buffer(Response.size() + 4, L'#');
    size = textBytes + 1;
    EXPECT_FALSE(LastResponseInfoInBytes(GetParam(), &error, buffer.data(), &size));
    EXPECT_EQ(::GetLastError(), DWORD(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(size, textBytes + sizeof(WCHAR));
    EXPECT_EQ(buffer[0], L'#') << "nothing written";

    size = textBytes + sizeof(WCHAR);
    ::SetLastError(Sentinel);
    ASSERT_TRUE(LastResponseInfoInBytes(GetParam(), &error, buffer.data(), &size));
    EXPECT_EQ(::GetLastError(), Sentinel) << "success keeps the caller's last error";
    EXPECT_EQ(size, textBytes);
    EXPECT_EQ(std::wstring(buffer.data()), Response);
    EXPECT_EQ(buffer[Response.size() + 1], L'#') << "nothing past the terminator";
}

// A text longer than the adapter's first buffer is read whole.
TEST_P(LastResponse, LongTextsAreReadWhole) {
    Response = L"220-" + std::wstring(5000, L'x') + L"\r\n220 end";
    DWORD error = 0;
    DWORD size = 0;
    EXPECT_FALSE(LastResponseInfoInBytes(GetParam(), &error, nullptr, &size));
    EXPECT_EQ(size, (Response.size() + 1) * sizeof(WCHAR));
    std::vector<WCHAR> buffer(size / sizeof(WCHAR));
    ASSERT_TRUE(LastResponseInfoInBytes(GetParam(), &error, buffer.data(), &size));
    EXPECT_EQ(std::wstring(buffer.data()), Response);
    for (DWORD given : SizesSeen) EXPECT_GT(given, 0u) << "the DLL always gets a buffer of the adapter's";
}

TEST_P(LastResponse, NoResponseIsSuccessWithSizeZero) {
    Response.clear();
    DWORD error = 1;
    DWORD size = 0;
    ASSERT_TRUE(LastResponseInfoInBytes(GetParam(), &error, nullptr, &size));
    EXPECT_EQ(size, 0u);
    WCHAR buffer[4] = {L'#', L'#', L'#', L'#'};
    size = sizeof buffer;
    ASSERT_TRUE(LastResponseInfoInBytes(GetParam(), &error, buffer, &size));
    EXPECT_EQ(size, 0u);
    EXPECT_EQ(buffer[0], 0);
}

INSTANTIATE_TEST_SUITE_P(Dll, LastResponse, testing::Values(&Documented, &NeverShort),
                         [](const testing::TestParamInfo<LastResponseInfoFunction>& Info) {
                             return Info.param == &Documented ? "Documented" : "NeverShort";
                         });

TEST(LastResponseFailures, AFailingDllPassesItsErrorOnAndMissingOutputsAreRefused) {
    DWORD error = 0;
    DWORD size = 0;
    EXPECT_FALSE(LastResponseInfoInBytes(&Broken, &error, nullptr, &size));
    EXPECT_EQ(::GetLastError(), DWORD(ERROR_INTERNET_INTERNAL_ERROR));

    Calls = 0;
    EXPECT_FALSE(LastResponseInfoInBytes(&Documented, nullptr, nullptr, &size));
    EXPECT_EQ(::GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
    EXPECT_FALSE(LastResponseInfoInBytes(&Documented, &error, nullptr, nullptr));
    EXPECT_EQ(::GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(Calls, 0);
}

// ---------------------------------------------------------------------------
// InternetCreateUrlW: the DLL never sees a buffer without room for the
// terminator.

const std::wstring Composed = L"http://www.winehq.org/site/about";
std::vector<DWORD> CreateSizesSeen;

// As Wine's: a buffer as long as the URL (no room for the terminator) is
// accepted and the terminator written past it.
BOOL WINAPI CreateWritingPastTheEnd(LPURL_COMPONENTSW components, DWORD, LPWSTR url, LPDWORD length) {
    if (!components) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    CreateSizesSeen.push_back(url ? *length : 0);
    if (!url || *length < Composed.size()) {
        *length = static_cast<DWORD>((Composed.size() + 1) * sizeof(WCHAR));
        ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    wcscpy(url, Composed.c_str());
    *length = static_cast<DWORD>(Composed.size());
    return TRUE;
}

TEST(CreateUrl, ABufferWithoutRoomForTheTerminatorNeverReachesTheDll) {
    URL_COMPONENTSW components{};
    components.dwStructSize = sizeof components;
    std::vector<WCHAR> buffer(Composed.size() + 1, L'#');
    const DWORD bytesNeeded = static_cast<DWORD>((Composed.size() + 1) * sizeof(WCHAR));

    CreateSizesSeen.clear();
    DWORD length = static_cast<DWORD>(Composed.size());
    ::SetLastError(Sentinel);
    EXPECT_FALSE(CreateUrlWithinBuffer(&CreateWritingPastTheEnd, &components, 0, buffer.data(), &length));
    EXPECT_EQ(::GetLastError(), DWORD(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(length, bytesNeeded);
    EXPECT_EQ(buffer[Composed.size()], L'#') << "nothing written past the buffer";
    EXPECT_EQ(CreateSizesSeen, std::vector<DWORD>{0}) << "only the size was asked for";

    length = static_cast<DWORD>(Composed.size() + 1);
    ::SetLastError(Sentinel);
    ASSERT_TRUE(CreateUrlWithinBuffer(&CreateWritingPastTheEnd, &components, 0, buffer.data(), &length));
    EXPECT_EQ(::GetLastError(), Sentinel);
    EXPECT_EQ(length, Composed.size());
    EXPECT_EQ(std::wstring(buffer.data()), Composed);

    // Without a buffer the DLL answers itself; its other failures pass
    // through with the length untouched.
    length = 0;
    EXPECT_FALSE(CreateUrlWithinBuffer(&CreateWritingPastTheEnd, &components, 0, nullptr, &length));
    EXPECT_EQ(length, bytesNeeded);
    length = 77;
    EXPECT_FALSE(CreateUrlWithinBuffer(&CreateWritingPastTheEnd, nullptr, 0, buffer.data(), &length));
    EXPECT_EQ(::GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(length, 77u);
}

// ---------------------------------------------------------------------------
// Text measured in the buffer.

TEST(TextOptions, SizesComeFromTheTextInTheBufferAndNeverExceedIt) {
    const WCHAR agent[] = L"Agent/1.0";
    EXPECT_EQ(TextOptionBytes(agent, sizeof agent), 18u);
    const WCHAR unterminated[4] = {L'a', L'b', L'c', L'd'};
    EXPECT_EQ(TextOptionBytes(unterminated, sizeof unterminated), 8u);
    EXPECT_EQ(TextOptionBytes(unterminated, 5), 4u) << "an odd byte count holds no extra character";
    EXPECT_TRUE(IsTextOption(INTERNET_OPTION_USER_AGENT));
    EXPECT_TRUE(IsTextOption(INTERNET_OPTION_URL));
    EXPECT_FALSE(IsTextOption(INTERNET_OPTION_CONNECT_TIMEOUT));
    EXPECT_FALSE(IsTextOption(INTERNET_OPTION_PROXY)) << "a record, not a text";
}

// ---------------------------------------------------------------------------
// Stand-ins for FtpGetCurrentDirectoryW: sizes in characters; a short buffer
// fails with ERROR_INSUFFICIENT_BUFFER and, documented, the characters
// needed, or, as Wine, the size left as it was.

std::wstring Directory;
bool ReportsNeeded = true;

BOOL WINAPI CurrentDirectory(HINTERNET, LPWSTR buffer, LPDWORD size) {
    if (*size < Directory.size() + 1) {
        if (ReportsNeeded) *size = static_cast<DWORD>(Directory.size() + 1);
        ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    wcscpy(buffer, Directory.c_str());
    *size = static_cast<DWORD>(Directory.size() + 1);
    return TRUE;
}

// Bytes in and out on top of either DLL, for a short and a long directory.
TEST(CurrentDirectory, SizesAreBytesWhateverTheLength) {
    for (const bool reports : {true, false}) {
        for (const std::wstring& path : {std::wstring(L"/pub"), L"/" + std::wstring(700, L'd')}) {
            ReportsNeeded = reports;
            Directory = path;
            const DWORD needed = static_cast<DWORD>((path.size() + 1) * sizeof(WCHAR));
            DWORD size = 0;
            EXPECT_FALSE(CurrentDirectoryInBytes(&CurrentDirectory, nullptr, nullptr, &size));
            EXPECT_EQ(::GetLastError(), DWORD(ERROR_INSUFFICIENT_BUFFER));
            EXPECT_EQ(size, needed) << reports;
            std::vector<WCHAR> buffer(path.size() + 2, L'#');
            size = needed - 1;
            EXPECT_FALSE(CurrentDirectoryInBytes(&CurrentDirectory, nullptr, buffer.data(), &size));
            EXPECT_EQ(buffer[0], L'#') << "nothing written";
            size = needed;
            ASSERT_TRUE(CurrentDirectoryInBytes(&CurrentDirectory, nullptr, buffer.data(), &size));
            EXPECT_EQ(size, needed - sizeof(WCHAR));
            EXPECT_EQ(std::wstring(buffer.data()), path);
        }
    }
}

// Every FTP function refuses, before the DLL sees it, a remote text that
// would not reach the server as it is. The handle is null, so a call that
// got through to the DLL would fail with ERROR_INVALID_HANDLE instead.
TEST(FtpNames, TextsThatWouldNotGoOutAsTheyAreNeverReachTheDll) {
    EXPECT_TRUE(IsSafeFtpText(nullptr));
    EXPECT_TRUE(IsSafeFtpText(L"dir/a b.txt"));
    Corvane::WinInetAdapter adapter;
    WIN32_FIND_DATAW found{};
    HINTERNET file = nullptr;
    // A line break, a best-fit "/" (U+FF0F), a character outside the code
    // page, and y-diaeresis, which is 0xFF, a Telnet command, in it.
    for (const wchar_t* bad : {L"a\r\nDELE b",
                               L"sub\xFF0F"
                               L"f",
                               L"\x0444.txt", L"\x00FF"}) {
        EXPECT_FALSE(IsSafeFtpText(bad));
        const std::vector<std::pair<const char*, std::function<bool()>>> calls = {
            {"Connect",
             [&] {
                 return adapter.InternetConnectW(nullptr, L"h", 21, bad, L"p", INTERNET_SERVICE_FTP, 0, 0) !=
                        nullptr;
             }},
            {"Command", [&] { return adapter.FtpCommandW(nullptr, FALSE, 0, bad, 0, &file) != FALSE; }},
            {"CreateDirectory", [&] { return adapter.FtpCreateDirectoryW(nullptr, bad) != FALSE; }},
            {"RemoveDirectory", [&] { return adapter.FtpRemoveDirectoryW(nullptr, bad) != FALSE; }},
            {"SetCurrentDirectory", [&] { return adapter.FtpSetCurrentDirectoryW(nullptr, bad) != FALSE; }},
            {"DeleteFile", [&] { return adapter.FtpDeleteFileW(nullptr, bad) != FALSE; }},
            {"RenameFile from", [&] { return adapter.FtpRenameFileW(nullptr, bad, L"b") != FALSE; }},
            {"RenameFile to", [&] { return adapter.FtpRenameFileW(nullptr, L"a", bad) != FALSE; }},
            {"GetFile", [&] { return adapter.FtpGetFileW(nullptr, bad, L"local", FALSE, 0, 0, 0) != FALSE; }},
            {"PutFile", [&] { return adapter.FtpPutFileW(nullptr, L"local", bad, 0, 0) != FALSE; }},
            {"OpenFile", [&] { return adapter.FtpOpenFileW(nullptr, bad, GENERIC_READ, 0, 0) != nullptr; }},
            {"FindFirstFile",
             [&] { return adapter.FtpFindFirstFileW(nullptr, bad, &found, 0, 0) != nullptr; }},
        };
        for (const auto& [name, call] : calls) {
            ::SetLastError(Sentinel);
            EXPECT_FALSE(call()) << name;
            EXPECT_EQ(::GetLastError(), DWORD(ERROR_INVALID_PARAMETER)) << name;
        }
    }
}

// ---------------------------------------------------------------------------
// InternetGetCookieW: a stand-in as Wine's, which ignores the name and counts
// characters on success, bytes otherwise.

const std::wstring CookieList = L"ab=1; a=2=3; e; =d; a=4";

BOOL WINAPI WineGetCookie(LPCWSTR, LPCWSTR, LPWSTR data, LPDWORD size) {
    const DWORD characters = static_cast<DWORD>(CookieList.size() + 1);
    if (data && *size >= characters) {
        wcscpy(data, CookieList.c_str());
        *size = characters;
        return TRUE;
    }
    *size = characters * sizeof(WCHAR);
    if (!data) return TRUE;
    ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
}

// The first cookie of exactly that name, whatever its neighbours; the
// contract's sizes in bytes, also for a buffer one character short.
TEST(Cookies, TheNamedCookieIsPickedAndSizedInBytes) {
    for (const auto& [name, expected] : {std::pair{L"a", L"a=2=3"}, std::pair{L"ab", L"ab=1"},
                                         std::pair{L"e", L"e="}, std::pair{L"b", L""}, std::pair{L"d", L""}})
        EXPECT_EQ(CookieNamed(CookieList, name), expected) << name;

    std::vector<WCHAR> buffer(6, L'#');
    DWORD size = 5;
    EXPECT_FALSE(CookieWithContractSizes(&WineGetCookie, L"http://h/", L"a", buffer.data(), &size));
    EXPECT_EQ(::GetLastError(), DWORD(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(size, 12u);
    EXPECT_EQ(buffer[0], L'#') << "nothing written";
    size = 6;
    ASSERT_TRUE(CookieWithContractSizes(&WineGetCookie, L"http://h/", L"a", buffer.data(), &size));
    EXPECT_EQ(size, 12u);
    EXPECT_EQ(std::wstring(buffer.data()), L"a=2=3");
    EXPECT_FALSE(CookieWithContractSizes(&WineGetCookie, L"http://h/", L"zz", nullptr, &size));
    EXPECT_EQ(::GetLastError(), DWORD(ERROR_NO_MORE_ITEMS));
}

}  // namespace
