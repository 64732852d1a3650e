// The public headers on Windows: usable after <windows.h> with UNICODE
// defined, and without taking min and max away from the caller.
#define UNICODE
#define _UNICODE
#include <windows.h>

#include <Corvane/Corvane.h>
#include <Platform/InternetApi.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>

namespace {

TEST(WindowsHeaders, PlainEntryPointsStayPlainUnderUnicode) {
    // The contract's InternetSetStatusCallback is the plain export, whatever
    // UNICODE says, and takes the status callback of the runtime unit.
    INTERNET_STATUS_CALLBACK(WINAPI * setCallback)
    (HINTERNET, INTERNET_STATUS_CALLBACK) = &::InternetSetStatusCallback;
    EXPECT_NE(setCallback, nullptr);
    DWORD(WINAPI * confirm)(HWND, LPSTR, LPSTR, BOOL) = &::InternetConfirmZoneCrossing;
    EXPECT_NE(confirm, nullptr);
    EXPECT_EQ(std::max(2, 3), 3);
    EXPECT_EQ(std::numeric_limits<DWORD>::max(), 0xFFFFFFFFu);
}

TEST(WindowsHeaders, ProxyRecordHasTheWideLayout) {
    INTERNET_PROXY_INFOW info{INTERNET_OPEN_TYPE_PROXY, L"proxy:8080", L"<local>"};
    EXPECT_EQ(sizeof info, sizeof(DWORD_PTR) + 2 * sizeof(LPCWSTR));
    EXPECT_EQ(info.lpszProxy[0], L'p');
}

}  // namespace
