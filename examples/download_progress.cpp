// A download with a progress display: its stages from the status
// notifications, its percentage from the reads.
//
//     example_download_progress URL FILE
//
// Shows: a session and an HTTP component owned by one root component; the
// OnCallback event, which reports each stage of the exchange (connecting,
// request sent, response received, with the size of the response's head)
// to the display; the Content-Length header read through QueryInfo; and the
// body read piece by piece into one buffer, each piece advancing the
// percentage the same display draws.
#include <Corvane/Corvane.h>
#include <Framework/SysUtils.h>

#include <cstdint>
#include <fstream>
#include <iostream>
#include <string>

using namespace Corvane;

namespace {

// What the display knows: the stage the notifications reported last, and the
// bytes of the body so far out of the total (0 when unknown).
struct Progress {
    std::uint64_t done = 0;
    std::uint64_t total = 0;
    int shownPercent = -1;

    // One status notification of the component, as a line of its own.
    void Stage(Integer status, const void* information, Integer length) {
        switch (status) {
        case INTERNET_STATUS_CONNECTING_TO_SERVER:
            std::cout << "Connecting to server\n";
            break;
        case INTERNET_STATUS_CONNECTED_TO_SERVER:
            std::cout << "Connected to server\n";
            break;
        case INTERNET_STATUS_REQUEST_SENT:
            std::cout << "Request sent\n";
            break;
        case INTERNET_STATUS_RESPONSE_RECEIVED:
            // The information is a DWORD: the bytes received with the head.
            if (length == sizeof(DWORD))
                std::cout << "Response received (" << *static_cast<const DWORD*>(information)
                          << " bytes of headers)\n";
            break;
        case INTERNET_STATUS_CLOSING_CONNECTION:
            std::cout << "Closing connection\n";
            break;
        default:
            break;  // Many more exist: see INTERNET_STATUS_... in Platform/WinInet.h.
        }
    }

    // Redraws the percentage when it changed by a tenth.
    void Advance(std::uint64_t count) {
        done += count;
        if (total == 0) return;
        const int percent = static_cast<int>(done * 100 / total);
        if (percent / 10 == shownPercent / 10) return;
        shownPercent = percent;
        std::cout << percent << "% (" << done << " of " << total << " bytes)\n";
    }
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: " << argv[0] << " URL FILE\n";
        return 2;
    }
    try {
        // The root owns the components and frees them when it goes.
        TComponent root(nullptr);
        auto* session = new TINetSession(&root);
        auto* http = new TINetHttp(&root);
        http->SetSession(session);
        http->SetUrl(Framework::Utf8ToUtf16(argv[1]));  // sets ServerName, Port, UrlPath...

        Progress progress;
        // On a session without flAsync the notifications arrive on this
        // thread, during the call that causes them.
        http->SetOnCallback([&progress](TObject*, Integer status, void* information, Integer length) {
            progress.Stage(status, information, length);
        });

        http->Open();                      // connects beneath the session (opening it first)
        http->OpenRequest(u"GET", u"");    // empty object name: the URL's path and query
        http->SendRequest(u"", TBytes());  // returns once the response's head is in
        const Cardinal status = http->QueryInfoValue(heStatusCode);
        if (status != 200) {
            std::cerr << "the server answered " << status << '\n';
            return 1;
        }
        try {
            progress.total = std::stoull(Framework::Utf16ToUtf8(http->QueryInfo(heContentLength)));
        } catch (const EINetError&) {
            // No Content-Length: the display shows no percentage.
        }

        std::ofstream file(argv[2], std::ios::binary);
        TBytes buffer(64 * 1024);
        while (const Cardinal count = http->GetBytes(buffer)) {  // 0 at the end of the body
            file.write(reinterpret_cast<const char*>(buffer.data()), count);
            progress.Advance(count);
        }
        file.close();
        if (!file) {
            std::cerr << "cannot write " << argv[2] << '\n';
            return 1;
        }
        http->Close();  // closes the request and the connection
        std::cout << "saved " << progress.done << " bytes to " << argv[2] << '\n';
        return 0;
    } catch (const EINetError& e) {
        // Every failure of a component, with the platform's message.
        std::cerr << "error: " << e.what() << '\n';
        return 1;
    }
}
