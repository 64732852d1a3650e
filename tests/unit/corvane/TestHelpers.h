// Helpers shared by the runtime unit's tests against the mocked platform.
#pragma once

#include <Corvane/Corvane.h>
#include <Framework/Forms.h>
#include <Framework/SysUtils.h>

#include <gmock/gmock.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "MockInternetApi.h"
#include "TestText.h"

namespace CorvaneTest {

// Distinct fake handles; the mock never dereferences them.
inline HINTERNET FakeHandle(std::uintptr_t n) {
    return reinterpret_cast<HINTERNET>(0x1000 + 0x10 * n);
}

// Matches a wide-string argument equal to Expected (a null pointer never
// matches, not even an empty expectation).
MATCHER_P(WStrEq, Expected, "points to u\"" + Framework::Utf16ToUtf8(Expected) + "\"") {
    return arg != nullptr &&
           std::u16string(reinterpret_cast<const char16_t*>(arg)) == std::u16string(Expected);
}

// The message of the EINetError that Action raises, or "<nothing raised>".
inline std::string RaisedMessage(const std::function<void()>& action) {
    try {
        action();
    } catch (const Corvane::EINetError& e) {
        return U8(e.Message());
    }
    return "<nothing raised>";
}

// Collects what the application object is asked to show while it lives.
class ShownExceptions {
public:
    ShownExceptions() {
        Framework::Application().SetOnException([this](Framework::TObject* sender, Framework::Exception& e) {
            Senders.push_back(sender);
            Messages.push_back(U8(e.Message()));
        });
    }
    ~ShownExceptions() { Framework::Application().SetOnException(nullptr); }

    std::vector<Framework::TObject*> Senders;
    std::vector<std::string> Messages;
};

}  // namespace CorvaneTest
