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
void AddHandlers(TComponent& Root) {
    Root.Handlers().Add<TNotifyEvent>(u"Changed", [](TObject*) {});
    Root.Handlers().Add<TValueEvent>(u"ValueWanted", [](TObject*, int& V) { V = 1; });
}

[[noreturn]] void Finding(const char* What, const UnicodeString& Detail) {
    std::fprintf(stderr, "%s: %s\n", What, Utf16ToUtf8(Detail).c_str());
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
    RegisterFormTestClasses();
    const UnicodeString Text = Utf8ToUtf16(std::string_view(reinterpret_cast<const char*>(Data), Size));

    TComponent Root(nullptr);
    AddHandlers(Root);
    try {
        TextToComponent(Text, &Root);
    } catch (const Exception&) {
        // Refused (EReadError), or a component's Loaded failed: nothing of
        // the read may remain.
        if (Root.ComponentCount() != 0 || !Root.ComponentState().Empty() || !Root.Name().empty())
            Finding("failed read left components or states behind", Text);
        return 0;
    }

    UnicodeString First;
    try {
        First = ComponentToText(&Root);
    } catch (const Exception& E) {
        Finding("a root that was read cannot be written", E.Message());
    }
    TComponent Copy(nullptr);
    AddHandlers(Copy);
    try {
        // The copy takes the same name; references to the root by that name
        // resolve to the root being read before any other loaded root.
        TextToComponent(First, &Copy);
    } catch (const Exception& E) {
        Finding("written text does not read back", E.Message() + u"\n" + First);
    }
    if (ComponentToText(&Copy) != First) Finding("round trip changed the text", First);
    return 0;
}
