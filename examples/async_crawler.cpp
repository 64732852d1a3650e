// An asynchronous crawler: fetches several URLs at once through one
// asynchronous session.
//
//     example_async_crawler URL...
//
// Shows: a session with flAsync; one HTTP component per URL, all beneath
// that session; SendRequest returning at once while the exchange goes on in
// the background; the completion (INTERNET_STATUS_REQUEST_COMPLETE) arriving
// in OnCallback on one of the library's threads, so the handler shares its
// data with the main thread under a mutex; and the component's reads, which
// wait by themselves for data still on its way.
#include <Corvane/Corvane.h>
#include <Framework/SysUtils.h>

#include <chrono>
#include <condition_variable>
#include <iostream>
#include <mutex>
#include <string>
#include <vector>

using namespace Corvane;
using Framework::Utf8ToUtf16;

namespace {

// What the main thread learns from the library's threads: how many
// requests were answered, and how many of those failed.
struct Completions {
    std::mutex lock;
    std::condition_variable arrived;
    int count = 0;
    int failed = 0;
};

// One URL, its component, and what its request's completion said.
struct Page {
    std::string url;
    TINetHttp* http = nullptr;
    bool answered = false;  // set under Completions::lock
    bool failed = false;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::cerr << "usage: " << argv[0] << " URL...\n";
        return 2;
    }
    // Declared before the components, which their handlers outlive: a
    // notification may come up to a component's destruction. The vector
    // never grows, so each handler's reference to its page stays valid.
    Completions completions;
    std::vector<Page> pages(static_cast<std::size_t>(argc - 1));
    try {
        TComponent root(nullptr);
        auto* session = new TINetSession(&root);
        session->SetFlags(TSessionFlags{flAsync});

        for (std::size_t i = 0; i < pages.size(); ++i) {
            Page& page = pages[i];
            page.url = argv[i + 1];
            page.http = new TINetHttp(&root);
            page.http->SetSession(session);
            page.http->SetUrl(Utf8ToUtf16(page.url));
            page.http->SetOnCallback(
                [&completions, &page](TObject*, Integer status, void* information, Integer) {
                    if (status != INTERNET_STATUS_REQUEST_COMPLETE) return;
                    const std::lock_guard<std::mutex> guard(completions.lock);
                    // The first completion is the request's; later ones finish
                    // reads of the body, which the component waits for itself.
                    if (page.answered) return;
                    page.answered = true;
                    // dwResult is 0 when the request failed, with the reason in dwError.
                    const auto* result = static_cast<const INTERNET_ASYNC_RESULT*>(information);
                    if (result->dwResult == 0) {
                        std::cout << "failed: " << page.url << " (error " << result->dwError << ")\n";
                        page.failed = true;
                        ++completions.failed;
                    } else {
                        std::cout << "answered: " << page.url << '\n';
                    }
                    ++completions.count;
                    completions.arrived.notify_one();
                });
        }

        // Every request goes out before any answer is awaited.
        for (Page& page : pages) {
            page.http->Open();
            page.http->OpenRequest(u"GET", u"");
            page.http->SendRequest(u"", TBytes());  // pending: completes in OnCallback
        }
        {
            std::unique_lock<std::mutex> guard(completions.lock);
            const bool all = completions.arrived.wait_for(guard, std::chrono::seconds(60), [&] {
                return completions.count == static_cast<int>(pages.size());
            });
            if (!all) {
                std::cerr << "no answer from " << pages.size() - completions.count << " servers in 60 s\n";
                return 1;  // destroying root closes the requests still pending
            }
        }

        // The responses' heads are in; reading a body waits for its bytes.
        int fetched = 0;
        for (Page& page : pages) {
            if (page.failed) continue;
            const Cardinal status = page.http->QueryInfoValue(heStatusCode);
            const TBytes body = page.http->ReadBytes();
            std::cout << status << ' ' << body.size() << " bytes " << page.url << '\n';
            if (status == 200) ++fetched;
        }
        // Closing the session closes every component open beneath it first.
        session->Close();
        std::cout << fetched << " of " << pages.size() << " pages fetched\n";
        return completions.failed == 0 ? 0 : 1;
    } catch (const EINetError& e) {
        std::cerr << "error: " << e.what() << '\n';
        return 1;
    }
}
