// Components and their event wiring read from a form file.
//
//     example_form_file FORM_FILE [URL]
//
// Shows: a form file (downloader.form beside this file) that holds a
// session and an HTTP component, their settings, the reference from the
// HTTP component to its session, and events bound to handlers by name; the
// application registering those handlers on the root component before it
// reads the file; finding a component by name afterwards and using it. URL,
// when given, replaces the one the form stores.
#include <Corvane/Corvane.h>
#include <Framework/FormFiles.h>
#include <Framework/SysUtils.h>

#include <iostream>
#include <string>

using namespace Corvane;
using Framework::Utf16ToUtf8;
using Framework::Utf8ToUtf16;

namespace {

std::string NameOf(TObject* sender) {
    auto* component = dynamic_cast<TComponent*>(sender);
    return component != nullptr ? Utf16ToUtf8(component->Name()) : "?";
}

// The handlers the form's events name ("AfterOpen = SessionOpened"). Reading
// a form that names a handler the table lacks fails with the line and column.
void AddHandlers(TComponent& root) {
    Framework::THandlerTable& handlers = root.Handlers();
    handlers.Add<TNotifyEvent>(u"SessionOpened", [](TObject* sender) {
        auto* session = dynamic_cast<TINetSession*>(sender);
        std::cout << NameOf(sender) << " opened: agent " << Utf16ToUtf8(session->Agent()) << '\n';
    });
    handlers.Add<TNotifyEvent>(u"HttpOpened", [](TObject* sender) {
        auto* http = dynamic_cast<TINetHttp*>(sender);
        std::cout << NameOf(sender) << " opened: connected to " << Utf16ToUtf8(http->ServerName()) << ':'
                  << http->Port() << '\n';
    });
    handlers.Add<TNotifyEvent>(u"HttpClosing",
                               [](TObject* sender) { std::cout << NameOf(sender) << " closing\n"; });
    handlers.Add<TINetCallbackEvent>(u"HttpStatus", [](TObject* sender, Integer status, void*, Integer) {
        if (status == INTERNET_STATUS_RESPONSE_RECEIVED)
            std::cout << NameOf(sender) << ": response received\n";
    });
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2 && argc != 3) {
        std::cerr << "usage: " << argv[0] << " FORM_FILE [URL]\n";
        return 2;
    }
    try {
        TComponent root(nullptr);
        AddHandlers(root);
        // Creates the components the file lists (owned by root), sets their
        // properties, resolves references, then runs each one's Loaded.
        Framework::ReadComponentFile(Utf8ToUtf16(argv[1]), &root);
        std::cout << "read form " << Utf16ToUtf8(root.Name()) << " with " << root.ComponentCount()
                  << " components\n";

        auto* http = dynamic_cast<TINetHttp*>(root.FindComponent(u"Http1"));
        if (http == nullptr) {
            std::cerr << "the form holds no TINetHttp called Http1\n";
            return 1;
        }
        if (argc == 3) http->SetUrl(Utf8ToUtf16(argv[2]));  // only while closed

        http->Open();                 // opens Session1 first; both AfterOpen events fire
        http->OpenRequest(u"", u"");  // the Verb property (veGet) and the URL's path
        http->SendRequest(u"", TBytes());
        const Cardinal status = http->QueryInfoValue(heStatusCode);
        const TBytes body = http->ReadBytes();
        std::cout << "status " << status << ", " << body.size() << " bytes\n";
        http->Close();  // BeforeClose fires
        return 0;
    } catch (const Framework::EReadError& e) {
        // A form that does not fit: "Line L, column C: reason".
        std::cerr << argv[1] << ": " << e.what() << '\n';
        return 1;
    } catch (const Framework::Exception& e) {
        // EINetError and the framework's other errors (a file that cannot be read).
        std::cerr << "error: " << e.what() << '\n';
        return 1;
    }
}
