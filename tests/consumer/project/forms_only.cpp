// A program that uses the components only through a form file: it names no
// Corvane symbol, yet the classes the form names must be there to read it.
#include <Framework/Classes.h>
#include <Framework/FormFiles.h>

#include <iostream>
#include <memory>

int main() {
    auto root = std::make_unique<Framework::TComponent>(nullptr);
    try {
        Framework::TextToComponent(u"object Root: TComponent\n  object Session1: TINetSession\n  end\nend\n",
                                   root.get());
    } catch (const std::exception& e) {
        std::cerr << "forms_only: " << e.what() << "\n";
        return 1;
    }
    return root->ComponentCount() == 1 ? 0 : 2;
}
