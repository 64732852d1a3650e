// A designer host built against the installed library: it links the shared
// runtime and the designer registry and loads the installed design-time
// package, whose registrations it must then see.
#include <Corvane/Corvane.h>
#include <Framework/Designer.h>
#include <Framework/Packages.h>

int main() {
    auto package = Framework::LoadPackage(u"" PACKAGE);
    const auto pages = Framework::DesignRegistry().Pages();
    if (pages.size() != 1 || pages[0].Name != u"Ostrel" || pages[0].Classes.size() != 6) return 1;
    if (pages[0].Classes[0] != Framework::ClassOf<Corvane::TINetConnection>()) return 2;
    return Framework::DesignRegistry().Editors().size() == 3 ? 0 : 3;
}
