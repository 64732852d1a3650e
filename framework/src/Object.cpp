#include <cstdlib>
#include <memory>
#include <string>
#include <typeinfo>

#include "Framework/Classes.h"

#if defined(__GNUC__) || defined(__clang__)
#include <cxxabi.h>
#endif

namespace Framework {

namespace {

// The type's name as the compiler spells it in source form.
std::string Demangled(const std::type_info& Type) {
#if defined(__GNUC__) || defined(__clang__)
    int Status = 0;
    std::unique_ptr<char, void (*)(void*)> Name(abi::__cxa_demangle(Type.name(), nullptr, nullptr, &Status),
                                                std::free);
    if (Status == 0 && Name) return Name.get();
    return Type.name();
#else
    std::string Name = Type.name();
    for (const char* Prefix : {"class ", "struct ", "enum ", "union "})
        if (Name.rfind(Prefix, 0) == 0) return Name.substr(std::char_traits<char>::length(Prefix));
    return Name;
#endif
}

}  // namespace

// Drops the namespace qualifiers of the outermost name, leaving template
// arguments (which may hold qualified names themselves) untouched.
UnicodeString TypeNameWithoutNamespace(const std::type_info& Type) {
    const std::string Name = Demangled(Type);
    std::size_t Start = 0;
    int Depth = 0;
    for (std::size_t I = 0; I < Name.size(); ++I) {
        const char C = Name[I];
        if (C == '<' || C == '(') ++Depth;
        else if (C == '>' || C == ')') --Depth;
        else if (Depth == 0 && C == ':' && I + 1 < Name.size() && Name[I + 1] == ':') {
            Start = I + 2;
            ++I;
        }
    }
    return Utf8ToUtf16(std::string_view(Name).substr(Start));
}

TObject::~TObject() = default;

UnicodeString TObject::ClassName() const {
    return TypeNameWithoutNamespace(typeid(*this));
}

}  // namespace Framework
