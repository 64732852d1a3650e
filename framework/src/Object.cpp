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
std::string Demangled(const std::type_info& type) {
#if defined(__GNUC__) || defined(__clang__)
    int status = 0;
    std::unique_ptr<char, void (*)(void*)> name(abi::__cxa_demangle(type.name(), nullptr, nullptr, &status),
                                                std::free);
    if (status == 0 && name) return name.get();
    return type.name();
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
UnicodeString TypeNameWithoutNamespace(const std::type_info& type) {
    const std::string name = Demangled(type);
    std::size_t start = 0;
    int depth = 0;
    for (std::size_t i = 0; i < name.size(); ++i) {
        const char c = name[i];
        if (c == '<' || c == '(')
            ++depth;
        else if (c == '>' || c == ')')
            --depth;
        else if (depth == 0 && c == ':' && i + 1 < name.size() && name[i + 1] == ':') {
            start = i + 2;
            ++i;
        }
    }
    return Utf8ToUtf16(std::string_view(name).substr(start));
}

TObject::~TObject() = default;

UnicodeString TObject::ClassName() const {
    return TypeNameWithoutNamespace(typeid(*this));
}

}  // namespace Framework
