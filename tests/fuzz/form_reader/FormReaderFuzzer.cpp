// Feeds arbitrary text to the form-file reader. A text that fails must raise
// a framework exception and leave the root as it was; a text that reads must
// write, read back into a fresh root and write again to the same text.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "FormTestClasses.h"

using namespace Framework;
using namespace FormTest;

namespace {

// Gives the root the handlers the dictionary names.
void AddHandlers(TComponent& root) {
    root.Handlers().Add<TNotifyEvent>(u"Changed", [](TObject*) {});
    root.Handlers().Add<TValueEvent>(u"ValueWanted", [](TObject*, int& v) { v = 1; });
}

[[noreturn]] void Finding(const char* what, const UnicodeString& detail) {
    std::fprintf(stderr, "%s: %s\n", what, Utf16ToUtf8(detail).c_str());
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    RegisterFormTestClasses();
    const UnicodeString text = Utf8ToUtf16(std::string_view(reinterpret_cast<const char*>(data), size));

    TComponent root(nullptr);
    AddHandlers(root);
    try {
        TextToComponent(text, &root);
    } catch (const Exception&) {
        // Refused (EReadError), or a component's Loaded failed: nothing of
        // the read may remain.
        if (root.ComponentCount() != 0 || !root.ComponentState().Empty() || !root.Name().empty())
            Finding("failed read left components or states behind", text);
        return 0;
    }

    UnicodeString first;
    try {
        first = ComponentToText(&root);
    } catch (const Exception& e) {
        Finding("a root that was read cannot be written", e.Message());
    }
    TComponent copy(nullptr);
    AddHandlers(copy);
    try {
        // The copy takes the same name; references to the root by that name
        // resolve to the root being read before any other loaded root.
        TextToComponent(first, &copy);
    } catch (const Exception& e) {
        Finding("written text does not read back", e.Message() + u"\n" + first);
    }
    if (ComponentToText(&copy) != first) Finding("round trip changed the text", first);
    return 0;
}
