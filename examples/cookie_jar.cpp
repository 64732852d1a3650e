// The cookie store at work: stores cookies for a URL, lists what the cookie store
// holds for it, and shows what a request to that URL sends.
//
//     example_cookie_jar URL [NAME=VALUE[; ATTRIBUTES]]...
//
// Shows: the cookie component, which owns no handle and keeps no copy:
// assigning CookieData stores a cookie at once, every read of CookieData asks
// the store (one cookie with a CookieName, every cookie of the URL without);
// and the HTTP component sending the stored cookies with its request.
//
// The portable backend keeps cookies with an expiry (Max-Age or Expires) in
// a file shared by the user's processes; CORVANE_COOKIE_FILE names another
// file, which is how to try this without touching the user's cookies.
#include <Corvane/Corvane.h>
#include <Framework/SysUtils.h>

#include <iostream>
#include <string>
#include <vector>

using namespace Corvane;
using Framework::Utf16ToUtf8;
using Framework::Utf8ToUtf16;

int main(int argc, char** argv) {
    if (argc < 2) {
        std::cerr << "usage: " << argv[0] << " URL [NAME=VALUE[; ATTRIBUTES]]...\n";
        return 2;
    }
    try {
        TComponent root(nullptr);
        auto* cookie = new TINetCookie(&root);
        cookie->SetUrl(Utf8ToUtf16(argv[1]));

        std::vector<std::string> names;
        // Each argument is a name and what the store receives for it: the
        // value and any attributes ("42; Path=/; Max-Age=3600").
        for (int i = 2; i < argc; ++i) {
            const std::string argument = argv[i];
            const std::size_t equals = argument.find('=');
            if (equals == std::string::npos || equals == 0) {
                std::cerr << "not NAME=VALUE: " << argument << '\n';
                return 2;
            }
            names.push_back(argument.substr(0, equals));
            cookie->SetCookieName(Utf8ToUtf16(names.back()));
            cookie->SetCookieData(Utf8ToUtf16(argument.substr(equals + 1)));
            std::cout << "stored " << argument << '\n';
        }

        // Without a name: every cookie the store would send to the URL.
        cookie->SetCookieName(u"");
        const UnicodeString all = cookie->CookieData();
        std::cout << "all cookies: " << (all.empty() ? "(none)" : Utf16ToUtf8(all)) << '\n';
        // With a name: that cookie alone, as "name=value"; empty when absent.
        for (const std::string& name : names) {
            cookie->SetCookieName(Utf8ToUtf16(name));
            const UnicodeString one = cookie->CookieData();
            std::cout << "  " << name << ": " << (one.empty() ? "(none)" : Utf16ToUtf8(one)) << '\n';
        }

        // A request to the URL carries the same cookies in its Cookie header;
        // the test server's /cookies answers with the headers it received.
        auto* http = new TINetHttp(&root);
        http->SetUrl(Utf8ToUtf16(argv[1]));
        http->Open();
        http->OpenRequest(u"GET", u"");
        http->SendRequest(u"", TBytes());
        std::string body = http->ReadData();
        while (!body.empty() && (body.back() == '\n' || body.back() == '\r')) body.pop_back();
        std::cout << "the server received: " << (body.empty() ? "(no cookies)" : body) << '\n';
        return 0;
    } catch (const EINetError& e) {
        std::cerr << "error: " << e.what() << '\n';
        return 1;
    }
}
