// The two cookie functions as the tests of the store call them, through the
// seam (so on Windows through the adapter): reads as the cookie component
// reads, checking the size rules on the way.
#pragma once

#include <Platform/InternetApi.h>

#include "WideText.h"

#include <gtest/gtest.h>

#include <string>

namespace CookieCalls {

// The text's characters, each cut to 8 bits (the tests' cookies are ASCII).
inline std::string Narrow(const std::u16string& text) {
    std::string out;
    for (char16_t c : text) out += static_cast<char>(c);
    return out;
}

// InternetGetCookieW as the cookie component calls it: the size in bytes
// first, then the text into a buffer whose room is given in characters.
// Checks the size rules on the way; the text, or "error N".
inline std::string GetCookie(const std::u16string& url, const std::u16string& name) {
    using WideText::W;
    Corvane::InternetApi& api = Corvane::Platform();
    const LPCWSTR wideName = W(name.c_str());
    DWORD size = 0;
    if (!api.InternetGetCookieW(W(url.c_str()), wideName, nullptr, &size))
        return "error " + std::to_string(api.GetLastError());
    EXPECT_EQ(size % 2, 0u);
    const DWORD characters = size / 2;
    std::u16string text(characters, u'\0');
    DWORD room = characters - 1;
    EXPECT_FALSE(api.InternetGetCookieW(W(url.c_str()), wideName, W(text.data()), &room));
    EXPECT_EQ(api.GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(room, size) << "a short buffer is told the size in bytes";
    room = characters;
    if (!api.InternetGetCookieW(W(url.c_str()), wideName, W(text.data()), &room))
        return "error " + std::to_string(api.GetLastError());
    EXPECT_EQ(room, size);
    EXPECT_EQ(text.back(), u'\0');
    text.pop_back();
    return Narrow(text);
}

// InternetSetCookieW: "ok", or "error N".
inline std::string SetCookie(const std::u16string& url, const std::u16string& name,
                             const std::u16string& data) {
    using WideText::W;
    Corvane::InternetApi& api = Corvane::Platform();
    if (api.InternetSetCookieW(W(url.c_str()), W(name.c_str()), W(data.c_str()))) return "ok";
    return "error " + std::to_string(api.GetLastError());
}

}  // namespace CookieCalls
