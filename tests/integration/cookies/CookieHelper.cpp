// A second process for the cookie store's tests: sets or reads cookies
// through the C API, with the store file the environment names.
//
//   cookie_helper set URL NAME DATA    InternetSetCookieW; exit 0 on success
//   cookie_helper get URL [NAME]       prints what InternetGetCookieW gives
//   cookie_helper many TAG COUNT       sets COUNT persistent cookies, each on
//                                      its own host TAG-<n>.example
#include <Platform/WinInet.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

std::u16string Wide(const std::string& text) {
    return std::u16string(text.begin(), text.end());
}

bool Set(const std::string& url, const std::string& name, const std::string& data) {
    const std::u16string u = Wide(url), n = Wide(name), d = Wide(data);
    if (InternetSetCookieW(u.c_str(), n.c_str(), d.c_str())) return true;
    std::fprintf(stderr, "InternetSetCookieW(%s): error %u\n", url.c_str(),
                 static_cast<unsigned>(GetLastError()));
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "set" && argc == 5) return Set(argv[2], argv[3], argv[4]) ? 0 : 1;
    if (command == "get" && (argc == 3 || argc == 4)) {
        const std::u16string url = Wide(argv[2]), name = Wide(argc == 4 ? argv[3] : "");
        DWORD size = 0;
        if (!InternetGetCookieW(url.c_str(), name.c_str(), nullptr, &size)) return 1;
        std::u16string data(size / 2, u'\0');
        size = static_cast<DWORD>(data.size());
        if (!InternetGetCookieW(url.c_str(), name.c_str(), data.data(), &size)) return 1;
        for (char16_t c : data)
            if (c != 0) std::putchar(static_cast<char>(c));
        std::putchar('\n');
        return 0;
    }
    if (command == "many" && argc == 4) {
        const int count = std::atoi(argv[3]);
        for (int i = 0; i < count; ++i)
            if (!Set("http://" + std::string(argv[2]) + "-" + std::to_string(i) + ".example/", "n",
                     std::to_string(i) + "; max-age=3600"))
                return 1;
        return 0;
    }
    std::fprintf(stderr, "usage: cookie_helper set URL NAME DATA | get URL [NAME] | many TAG COUNT\n");
    return 2;
}
