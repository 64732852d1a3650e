// The adapter's conversions between wininet.dll's conventions and the
// contract, each run against scripted stand-ins for the DLL function: one
// that behaves as the system's DLL is documented to (sizes in characters,
// ERROR_INSUFFICIENT_BUFFER with the size needed), one as Wine's (never
// reports a short buffer, fills it without a terminator), and failing ones.
#include "windows/WinInetAdapter.h"

#include <gtest/gtest.h>

#include <cwchar>
#include <string>
#include <vector>

using namespace Corvane::WinInetConventions;

namespace {

constexpr DWORD Sentinel = 0xC0DE;

// ---------------------------------------------------------------------------
// Stand-ins for InternetGetLastResponseInfoW.

std::wstring Response;       // the text the stand-in holds
DWORD ResponseError = 12015;  // the code it reports with it
int Calls = 0;
std::vector<DWORD> SizesSeen;  // the sizes it was given, in characters

// As the system's DLL is documented: sizes in characters; a missing or short
// buffer fails with ERROR_INSUFFICIENT_BUFFER and the characters needed.
BOOL WINAPI Documented(LPDWORD Error, LPWSTR Buffer, LPDWORD Size) {
    ++Calls;
    SizesSeen.push_back(*Size);
    *Error = ResponseError;
    if (!Buffer || *Size <= Response.size()) {
        *Size = static_cast<DWORD>(Response.size() + 1);
        ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    wcscpy(Buffer, Response.c_str());
    *Size = static_cast<DWORD>(Response.size());
    ::SetLastError(0);  // a success that touches the last error
    return TRUE;
}

// As Wine's was: never fails, copies what fits without terminating a cut
// text, and reports the length found in the buffer.
BOOL WINAPI NeverShort(LPDWORD Error, LPWSTR Buffer, LPDWORD Size) {
    ++Calls;
    SizesSeen.push_back(*Size);
    *Error = ResponseError;
    if (!Buffer) {
        *Size = 0;
        return TRUE;
    }
    const std::size_t Copied = std::min<std::size_t>(*Size, Response.size() + 1);
    std::wmemcpy(Buffer, Response.c_str(), Copied);
    *Size = static_cast<DWORD>(wcslen(Buffer));
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
    const DWORD TextBytes = static_cast<DWORD>(Response.size() * sizeof(WCHAR));
    DWORD Error = 0;
    DWORD Size = 0;
    ::SetLastError(Sentinel);
    EXPECT_FALSE(LastResponseInfoInBytes(GetParam(), &Error, nullptr, &Size));
    EXPECT_EQ(::GetLastError(), DWORD(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(Size, TextBytes + sizeof(WCHAR));
    EXPECT_EQ(Error, ResponseError);

    std::vector<WCHAR> Buffer(Response.size() + 4, L'#');
    Size = TextBytes + 1;
    EXPECT_FALSE(LastResponseInfoInBytes(GetParam(), &Error, Buffer.data(), &Size));
    EXPECT_EQ(::GetLastError(), DWORD(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(Size, TextBytes + sizeof(WCHAR));
    EXPECT_EQ(Buffer[0], L'#') << "nothing written";

    Size = TextBytes + sizeof(WCHAR);
    ::SetLastError(Sentinel);
    ASSERT_TRUE(LastResponseInfoInBytes(GetParam(), &Error, Buffer.data(), &Size));
    EXPECT_EQ(::GetLastError(), Sentinel) << "success keeps the caller's last error";
    EXPECT_EQ(Size, TextBytes);
    EXPECT_EQ(std::wstring(Buffer.data()), Response);
    EXPECT_EQ(Buffer[Response.size() + 1], L'#') << "nothing past the terminator";
}

// A text longer than the adapter's first buffer is read whole.
TEST_P(LastResponse, LongTextsAreReadWhole) {
    Response = L"220-" + std::wstring(5000, L'x') + L"\r\n220 end";
    DWORD Error = 0;
    DWORD Size = 0;
    EXPECT_FALSE(LastResponseInfoInBytes(GetParam(), &Error, nullptr, &Size));
    EXPECT_EQ(Size, (Response.size() + 1) * sizeof(WCHAR));
    std::vector<WCHAR> Buffer(Size / sizeof(WCHAR));
    ASSERT_TRUE(LastResponseInfoInBytes(GetParam(), &Error, Buffer.data(), &Size));
    EXPECT_EQ(std::wstring(Buffer.data()), Response);
    for (DWORD Given : SizesSeen)
        EXPECT_GT(Given, 0u) << "the DLL always gets a buffer of the adapter's";
}

TEST_P(LastResponse, NoResponseIsSuccessWithSizeZero) {
    Response.clear();
    DWORD Error = 1;
    DWORD Size = 0;
    ASSERT_TRUE(LastResponseInfoInBytes(GetParam(), &Error, nullptr, &Size));
    EXPECT_EQ(Size, 0u);
    WCHAR Buffer[4] = {L'#', L'#', L'#', L'#'};
    Size = sizeof Buffer;
    ASSERT_TRUE(LastResponseInfoInBytes(GetParam(), &Error, Buffer, &Size));
    EXPECT_EQ(Size, 0u);
    EXPECT_EQ(Buffer[0], 0);
}

INSTANTIATE_TEST_SUITE_P(Dll, LastResponse, testing::Values(&Documented, &NeverShort),
                         [](const testing::TestParamInfo<LastResponseInfoFunction>& Info) {
                             return Info.param == &Documented ? "Documented" : "NeverShort";
                         });

TEST(LastResponseFailures, AFailingDllPassesItsErrorOnAndMissingOutputsAreRefused) {
    DWORD Error = 0;
    DWORD Size = 0;
    EXPECT_FALSE(LastResponseInfoInBytes(&Broken, &Error, nullptr, &Size));
    EXPECT_EQ(::GetLastError(), DWORD(ERROR_INTERNET_INTERNAL_ERROR));

    Calls = 0;
    EXPECT_FALSE(LastResponseInfoInBytes(&Documented, nullptr, nullptr, &Size));
    EXPECT_EQ(::GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
    EXPECT_FALSE(LastResponseInfoInBytes(&Documented, &Error, nullptr, nullptr));
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
BOOL WINAPI CreateWritingPastTheEnd(LPURL_COMPONENTSW Components, DWORD, LPWSTR Url, LPDWORD Length) {
    if (!Components) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    CreateSizesSeen.push_back(Url ? *Length : 0);
    if (!Url || *Length < Composed.size()) {
        *Length = static_cast<DWORD>((Composed.size() + 1) * sizeof(WCHAR));
        ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    wcscpy(Url, Composed.c_str());
    *Length = static_cast<DWORD>(Composed.size());
    return TRUE;
}

TEST(CreateUrl, ABufferWithoutRoomForTheTerminatorNeverReachesTheDll) {
    URL_COMPONENTSW Components{};
    Components.dwStructSize = sizeof Components;
    std::vector<WCHAR> Buffer(Composed.size() + 1, L'#');
    const DWORD BytesNeeded = static_cast<DWORD>((Composed.size() + 1) * sizeof(WCHAR));

    CreateSizesSeen.clear();
    DWORD Length = static_cast<DWORD>(Composed.size());
    ::SetLastError(Sentinel);
    EXPECT_FALSE(CreateUrlWithinBuffer(&CreateWritingPastTheEnd, &Components, 0, Buffer.data(), &Length));
    EXPECT_EQ(::GetLastError(), DWORD(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(Length, BytesNeeded);
    EXPECT_EQ(Buffer[Composed.size()], L'#') << "nothing written past the buffer";
    EXPECT_EQ(CreateSizesSeen, std::vector<DWORD>{0}) << "only the size was asked for";

    Length = static_cast<DWORD>(Composed.size() + 1);
    ::SetLastError(Sentinel);
    ASSERT_TRUE(CreateUrlWithinBuffer(&CreateWritingPastTheEnd, &Components, 0, Buffer.data(), &Length));
    EXPECT_EQ(::GetLastError(), Sentinel);
    EXPECT_EQ(Length, Composed.size());
    EXPECT_EQ(std::wstring(Buffer.data()), Composed);

    // Without a buffer the DLL answers itself; its other failures pass
    // through with the length untouched.
    Length = 0;
    EXPECT_FALSE(CreateUrlWithinBuffer(&CreateWritingPastTheEnd, &Components, 0, nullptr, &Length));
    EXPECT_EQ(Length, BytesNeeded);
    Length = 77;
    EXPECT_FALSE(CreateUrlWithinBuffer(&CreateWritingPastTheEnd, nullptr, 0, Buffer.data(), &Length));
    EXPECT_EQ(::GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(Length, 77u);
}

// ---------------------------------------------------------------------------
// Text measured in the buffer.

TEST(TextOptions, SizesComeFromTheTextInTheBufferAndNeverExceedIt) {
    const WCHAR Agent[] = L"Agent/1.0";
    EXPECT_EQ(TextOptionBytes(Agent, sizeof Agent), 18u);
    const WCHAR Unterminated[4] = {L'a', L'b', L'c', L'd'};
    EXPECT_EQ(TextOptionBytes(Unterminated, sizeof Unterminated), 8u);
    EXPECT_EQ(TextOptionBytes(Unterminated, 5), 4u) << "an odd byte count holds no extra character";
    EXPECT_TRUE(IsTextOption(INTERNET_OPTION_USER_AGENT));
    EXPECT_TRUE(IsTextOption(INTERNET_OPTION_URL));
    EXPECT_FALSE(IsTextOption(INTERNET_OPTION_CONNECT_TIMEOUT));
    EXPECT_FALSE(IsTextOption(INTERNET_OPTION_PROXY)) << "a record, not a text";
}

}  // namespace
