// What the component tests say about texts: UTF-8 of the components'
// UTF-16 texts, so failed comparisons print readably, and the message an
// action raises.
#pragma once

#include <string>

#include <Corvane/Errors.h>
#include <Framework/SysUtils.h>

inline std::string U8(const std::u16string& text) {
    return Framework::Utf16ToUtf8(text);
}

/// The message of the EINetError that Action raises, or "<nothing raised>".
template <class Action>
std::string Raised(Action&& action) {
    try {
        action();
    } catch (const Corvane::EINetError& e) {
        return U8(e.Message());
    }
    return "<nothing raised>";
}
