// A program that uses the installed library the way an application would:
// through the umbrella header, with a session on the portable backend. The
// seam's header (with the list it is made from) is installed too.
#include <Corvane/Corvane.h>
#include <Platform/InternetApi.h>

#include <memory>

using namespace Corvane;

int main() {
    auto owner = std::make_unique<TComponent>(nullptr);
    auto* session = new TINetSession(owner.get());
    session->SetName(u"Session1");
    if (session->Agent() != u"Corvane") return 1;
    session->Open();
    bool opened = session->Active();
    session->Close();
    return opened && !session->Active() ? 0 : 2;
}
