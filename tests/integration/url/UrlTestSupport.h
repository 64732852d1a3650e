// Helpers shared by the tables of the URL routine tests.
#pragma once

#include <Platform/WinInet.h>

#include "PlatformDifferences.h"
#include "WideText.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <string>
#include <string_view>

namespace UrlTests {

using WideText::W;
using WideText::WField;

/// Set as the last error before each call, so a test can tell that a call
/// set no error at all.
constexpr DWORD Sentinel = 0xDEADBEEF;

inline std::u16string_view View(const WCHAR* text, DWORD length) {
    return WideText::U(text, length);
}

/// A URL_COMPONENTSW whose six text parts point at buffers of `capacity`
/// characters owned by this object (copy mode).
struct CopyComponents {
    explicit CopyComponents(DWORD capacity = 256) {
        for (auto& b : Buffers) b.assign(capacity + 1, u'#');
        uc.dwStructSize = sizeof(URL_COMPONENTSW);
        uc.lpszScheme = W(Buffers[0].data());
        uc.lpszHostName = W(Buffers[1].data());
        uc.lpszUserName = W(Buffers[2].data());
        uc.lpszPassword = W(Buffers[3].data());
        uc.lpszUrlPath = W(Buffers[4].data());
        uc.lpszExtraInfo = W(Buffers[5].data());
        uc.dwSchemeLength = uc.dwHostNameLength = uc.dwUserNameLength = uc.dwPasswordLength =
            uc.dwUrlPathLength = uc.dwExtraInfoLength = capacity;
    }

    std::u16string_view Scheme() const { return View(uc.lpszScheme, uc.dwSchemeLength); }
    std::u16string_view Host() const { return View(uc.lpszHostName, uc.dwHostNameLength); }
    std::u16string_view User() const { return View(uc.lpszUserName, uc.dwUserNameLength); }
    std::u16string_view Password() const { return View(uc.lpszPassword, uc.dwPasswordLength); }
    std::u16string_view Path() const { return View(uc.lpszUrlPath, uc.dwUrlPathLength); }
    std::u16string_view Extra() const { return View(uc.lpszExtraInfo, uc.dwExtraInfoLength); }

    URL_COMPONENTSW uc{};
    std::array<std::u16string, 6> Buffers;
};

/// A URL_COMPONENTSW asking for every part as a pointer into the URL.
inline URL_COMPONENTSW PointerComponents() {
    URL_COMPONENTSW uc{};
    uc.dwStructSize = sizeof(URL_COMPONENTSW);
    uc.dwSchemeLength = uc.dwHostNameLength = uc.dwUserNameLength = uc.dwPasswordLength = uc.dwUrlPathLength =
        uc.dwExtraInfoLength = 1;
    return uc;
}

/// Readable UTF-8 for failure messages.
inline std::string Narrow(std::u16string_view text) {
    std::string out;
    for (char16_t c : text) {
        if (c >= 0x20 && c < 0x7F) {
            out.push_back(static_cast<char>(c));
        } else {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04X", static_cast<unsigned>(c));
            out += buf;
        }
    }
    return out;
}

}  // namespace UrlTests
