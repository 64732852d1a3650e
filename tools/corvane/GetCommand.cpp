// corvane get: one HTTP exchange through a session and an HTTP component,
// from the command line or from a form file.
#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include <Corvane/Errors.h>
#include <Corvane/Http.h>
#include <Corvane/Session.h>
#include <Framework/Classes.h>
#include <Framework/SysUtils.h>
#include <Platform/InternetApi.h>
#include <Platform/WinInet.h>

#include "CommandLine.h"
#include "Files.h"
#include "Progress.h"
#include "Tool.h"

namespace Tool {

namespace {

using namespace Corvane;
using Framework::TComponent;

const char* const GetHelp =
    "Usage: corvane get [OPTIONS] URL\n"
    "       corvane get --form FILE [OPTIONS] [URL]\n"
    "\n"
    "Sends an HTTP or HTTPS request through Corvane's session and HTTP components\n"
    "and writes the response body to standard output or to a file. Redirects are\n"
    "followed (from http to https too, never from https to http) and cookies set\n"
    "along the way are sent back. The response's status does not change the exit\n"
    "status.\n"
    "\n"
    "Options:\n"
    "  -o, --output FILE        write the body to FILE; FILE is replaced only once\n"
    "                           the whole body has arrived\n"
    "  -I, --head               send HEAD and print the status line and headers\n"
    "  -X, --request VERB       the request's verb (default GET, POST with data)\n"
    "  -H, --header 'NAME: VALUE'\n"
    "                           add a request header or replace one of that name\n"
    "                           (repeatable)\n"
    "  -d, --data DATA          send DATA as the body, with the Content-Type\n"
    "                           application/x-www-form-urlencoded unless -H gives one;\n"
    "                           several are joined with '&'\n"
    "      --data-binary @FILE  send the bytes of FILE as the body, unchanged\n"
    "                           (without '@': the text itself)\n"
    "  -u, --user USER:PASSWORD credentials for servers that ask for them (Basic,\n"
    "                           Digest)\n"
    "  -k, --insecure           accept certificates that the checks refuse: unknown\n"
    "                           authority, wrong name, out of date, revoked, wrong usage\n"
    "      --proxy HOST:PORT    send the request through this HTTP proxy\n"
    "      --no-redirect        do not follow redirects: the redirect is the response\n"
    "      --no-cookies         neither send the store's cookies nor keep those the\n"
    "                           response sets\n"
    "      --timeout SECONDS    give up connecting, sending or receiving after this long\n"
    "  -v, --verbose            print the status notifications, one line each, and the\n"
    "                           request and response headers on standard error\n"
    "      --form FILE          take the session and the HTTP component from a form\n"
    "                           file (the first TINetHttp in it); URL replaces its Url\n"
    "      --progress           show the progress bar even when standard error is not\n"
    "                           a terminal\n"
    "      --async              open the session in asynchronous mode: the request and\n"
    "                           each read that cannot finish at once complete later on\n"
    "                           a library thread, and the command waits for each\n"
    "                           completion (-v prints them)\n"
    "  -h, --help               show this help\n"
    "\n"
    "The progress bar (bytes, rate and, when the length is known, time left) is\n"
    "drawn on standard error when it is a terminal and the body goes to a file or\n"
    "a pipe.\n"
    "\n"
    "Exit status: 0 when a response arrived, 1 for an Internet error, 2 for a wrong\n"
    "command line, 3 for a URL or form file that cannot be used, 4 when a local\n"
    "file cannot be read or written.\n";

// What the command line asks for, checked before anything goes out.
struct TRequestOptions {
    bool Help = false;
    std::optional<std::string> Url;
    std::string Output;
    bool Head = false;
    std::string Verb;
    std::vector<std::pair<std::string, std::string>> Headers;
    std::optional<std::string> Body;
    bool FormBody = false;
    std::optional<std::pair<std::string, std::string>> Credentials;
    bool Insecure = false;
    std::string Proxy;
    bool NoRedirect = false;
    bool NoCookies = false;
    std::optional<Cardinal> TimeoutMs;
    bool Verbose = false;
    std::string FormFile;
    bool ForceProgress = false;
    bool Async = false;
};

std::string Trim(const std::string& text) {
    const std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

bool SameAscii(std::string_view a, std::string_view b) {
    return Framework::SameText(U16(a), U16(b));
}

// "Name: value": the name without blanks around it, the value without
// leading and trailing blanks. A line break in either would smuggle in
// another header, so it is refused here with a usage error.
std::pair<std::string, std::string> ParseHeader(const std::string& text) {
    if (text.find_first_of("\r\n") != std::string::npos)
        UsageError("header " + Quoted(text) + " holds a line break");
    const std::size_t colon = text.find(':');
    if (colon == std::string::npos)
        UsageError("header " + Quoted(text) + " is not of the form 'Name: value'");
    std::string name = Trim(text.substr(0, colon));
    if (name.empty()) UsageError("header " + Quoted(text) + " has no name");
    if (name.find_first_of(" \t") != std::string::npos)
        UsageError("header name " + Quoted(name) + " holds a blank");
    return {std::move(name), Trim(text.substr(colon + 1))};
}

// A decimal number of seconds above zero, as milliseconds.
Cardinal ParseTimeout(const std::string& text) {
    std::size_t end = 0;
    double seconds = 0;
    try {
        seconds = std::stod(text, &end);
    } catch (const std::exception&) {
        end = 0;
    }
    if (end == 0 || end != text.size() || !(seconds > 0) || seconds > 4294967.0)
        UsageError("invalid timeout " + Quoted(text) + "; give a number of seconds above 0");
    return static_cast<Cardinal>(std::max(1.0, std::round(seconds * 1000)));
}

// HOST:PORT, as the session's proxy setting takes it.
void CheckProxy(const std::string& text) {
    const std::size_t colon = text.rfind(':');
    const std::string port = colon == std::string::npos ? std::string() : text.substr(colon + 1);
    Framework::Integer number = 0;
    if (colon == std::string::npos || colon == 0 || port.empty() ||
        port.find_first_not_of("0123456789") != std::string::npos ||
        !Framework::TryStrToInt(U16(port), number) || number < 1 || number > 65535 ||
        text.find_first_of(" \t\r\n") != std::string::npos)
        UsageError("invalid proxy " + Quoted(text) + "; give HOST:PORT");
}

TRequestOptions ParseOptions(const TArgs& args) {
    const TCommandLine line({{'h', "help", false},
                             {'o', "output", true},
                             {'I', "head", false},
                             {'X', "request", true},
                             {'H', "header", true},
                             {'d', "data", true},
                             {0, "data-binary", true},
                             {'u', "user", true},
                             {'k', "insecure", false},
                             {0, "proxy", true},
                             {0, "no-redirect", false},
                             {0, "no-cookies", false},
                             {0, "timeout", true},
                             {'v', "verbose", false},
                             {0, "form", true},
                             {0, "progress", false},
                             {0, "async", false}},
                            args);
    TRequestOptions o;
    if (line.Has("help")) {
        o.Help = true;
        return o;
    }
    o.FormFile = line.Value("form");
    if (line.Has("form") && o.FormFile.empty()) UsageError("option '--form' needs a file name");
    if (line.Operands().size() > 1) UsageError("unexpected argument " + Quoted(line.Operands()[1]));
    if (line.Operands().empty() && !line.Has("form")) UsageError("no URL given");
    if (!line.Operands().empty()) o.Url = line.Operands()[0];

    o.Output = line.Value("output");
    if (line.Has("output") && o.Output.empty()) UsageError("option '--output' needs a file name");
    o.Head = line.Has("head");
    o.Verb = line.Value("request");
    if (line.Has("request") && (o.Verb.empty() || o.Verb.find_first_of(" \t\r\n") != std::string::npos))
        UsageError("invalid verb " + Quoted(o.Verb));
    for (const std::string& header : line.Values("header")) o.Headers.push_back(ParseHeader(header));

    if (line.Has("data") && line.Has("data-binary"))
        UsageError("give either --data or --data-binary, not both");
    if (line.Has("data")) {
        std::string body;
        for (const std::string& piece : line.Values("data")) body += (body.empty() ? "" : "&") + piece;
        o.Body = body;
        o.FormBody = true;
    }
    if (line.Has("data-binary")) {
        std::string body;
        bool first = true;
        for (const std::string& piece : line.Values("data-binary")) {
            if (!first) body += '&';
            first = false;
            if (!piece.empty() && piece[0] == '@') {
                if (piece.size() == 1) UsageError("option '--data-binary' needs a file name after '@'");
                body += ReadFileBytes(piece.substr(1));
            } else {
                body += piece;
            }
        }
        o.Body = body;
    }

    if (line.Has("user")) {
        const std::string user = line.Value("user");
        const std::size_t colon = user.find(':');
        if (colon == 0 || user.empty()) UsageError("option '--user' needs USER:PASSWORD");
        o.Credentials = colon == std::string::npos ? std::pair{user, std::string()}
                                                   : std::pair{user.substr(0, colon), user.substr(colon + 1)};
    }
    o.Insecure = line.Has("insecure");
    if (line.Has("proxy")) {
        o.Proxy = line.Value("proxy");
        CheckProxy(o.Proxy);
    }
    o.NoRedirect = line.Has("no-redirect");
    o.NoCookies = line.Has("no-cookies");
    if (line.Has("timeout")) o.TimeoutMs = ParseTimeout(line.Value("timeout"));
    o.Verbose = line.Has("verbose");
    o.ForceProgress = line.Has("progress");
    o.Async = line.Has("async");
    return o;
}

// The first HTTP component of a form: the root itself or one it owns,
// depth first.
TINetHttp* FindHttp(TComponent& c) {
    if (auto* http = dynamic_cast<TINetHttp*>(&c)) return http;
    for (int i = 0; i < c.ComponentCount(); ++i)
        if (TINetHttp* found = FindHttp(*c.Components(i))) return found;
    return nullptr;
}

// The HTTP component's URL must name an HTTP or HTTPS server; the
// component itself cracks it and would only fail later, less clearly.
void CheckHttpUrl(const TINetHttp& http) {
    const std::string text = U8(http.Url());
    const std::string scheme = U8(Framework::LowerCase(http.Scheme()));
    if (scheme.empty()) {
        // A failed crack leaves every part empty; a component whose Url was
        // never assigned keeps its initial host and has no scheme.
        if (text.empty()) throw ECommandError(ExitInvalidInput, "no URL given");
        if (http.ServerName().empty() && http.UrlPath().empty())
            throw ECommandError(ExitInvalidInput, "the platform cannot crack the URL " + Quoted(text));
        throw ECommandError(ExitInvalidInput, "the HTTP component has no URL; give one on the command line");
    }
    if (scheme != "http" && scheme != "https")
        throw ECommandError(ExitInvalidInput, "not an HTTP or HTTPS URL: " + Quoted(text));
    if (http.ServerName().empty())
        throw ECommandError(ExitInvalidInput, "no host name in the URL " + Quoted(text));
}

// The request target: the URL's path (or "/") and its query, without the
// fragment, which belongs to the client and never goes to the server.
UnicodeString ObjectName(const TINetHttp& http) {
    UnicodeString extra = http.ExtraInfo();
    const std::size_t hash = extra.find(u'#');
    if (hash != UnicodeString::npos) extra.resize(hash);
    UnicodeString path = http.UrlPath();
    if (path.empty()) path = u"/";
    return path + extra;
}

// The names of the status notifications, for --verbose.
const char* StatusName(Integer status) {
    switch (status) {
    case INTERNET_STATUS_RESOLVING_NAME:
        return "Resolving name";
    case INTERNET_STATUS_NAME_RESOLVED:
        return "Name resolved";
    case INTERNET_STATUS_CONNECTING_TO_SERVER:
        return "Connecting to server";
    case INTERNET_STATUS_CONNECTED_TO_SERVER:
        return "Connected to server";
    case INTERNET_STATUS_SENDING_REQUEST:
        return "Sending request";
    case INTERNET_STATUS_REQUEST_SENT:
        return "Request sent";
    case INTERNET_STATUS_RECEIVING_RESPONSE:
        return "Receiving response";
    case INTERNET_STATUS_RESPONSE_RECEIVED:
        return "Response received";
    case INTERNET_STATUS_CTL_RESPONSE_RECEIVED:
        return "Control response received";
    case INTERNET_STATUS_PREFETCH:
        return "Prefetch";
    case INTERNET_STATUS_CLOSING_CONNECTION:
        return "Closing connection";
    case INTERNET_STATUS_CONNECTION_CLOSED:
        return "Connection closed";
    case INTERNET_STATUS_HANDLE_CREATED:
        return "Handle created";
    case INTERNET_STATUS_HANDLE_CLOSING:
        return "Handle closing";
    case INTERNET_STATUS_DETECTING_PROXY:
        return "Detecting proxy";
    case INTERNET_STATUS_REQUEST_COMPLETE:
        return "Request complete";
    case INTERNET_STATUS_REDIRECT:
        return "Redirect";
    case INTERNET_STATUS_INTERMEDIATE_RESPONSE:
        return "Intermediate response";
    case INTERNET_STATUS_USER_INPUT_REQUIRED:
        return "User input required";
    case INTERNET_STATUS_STATE_CHANGE:
        return "State change";
    case INTERNET_STATUS_COOKIE_SENT:
        return "Cookie sent";
    case INTERNET_STATUS_COOKIE_RECEIVED:
        return "Cookie received";
    default:
        return nullptr;
    }
}

// The status data worth showing: the text of the name, address and
// redirect notifications (host names and redirect targets in UTF-16,
// addresses as 8-bit texts; either is recognised by its terminator), and the
// byte counts of the request and response.
std::string StatusInformation(Integer status, const void* information, Integer length) {
    if (information == nullptr || length <= 0) return {};
    switch (status) {
    case INTERNET_STATUS_RESOLVING_NAME:
    case INTERNET_STATUS_NAME_RESOLVED:
    case INTERNET_STATUS_CONNECTING_TO_SERVER:
    case INTERNET_STATUS_CONNECTED_TO_SERVER:
    case INTERNET_STATUS_REDIRECT: {
        const auto* bytes = static_cast<const unsigned char*>(information);
        const auto size = static_cast<std::size_t>(length);
        if (size >= 2 && size % 2 == 0 && bytes[size - 1] == 0 && bytes[size - 2] == 0) {
            std::u16string text(size / 2, u'\0');
            std::memcpy(text.data(), bytes, size);
            text.resize(text.find(u'\0'));
            return U8(text);
        }
        std::string text(reinterpret_cast<const char*>(bytes), size);
        return text.substr(0, text.find('\0'));
    }
    case INTERNET_STATUS_REQUEST_SENT:
    case INTERNET_STATUS_RESPONSE_RECEIVED:
        if (length == static_cast<Integer>(sizeof(DWORD))) {
            DWORD count = 0;
            std::memcpy(&count, information, sizeof count);
            return std::to_string(count) + " bytes";
        }
        return {};
    case INTERNET_STATUS_REQUEST_COMPLETE:
        if (length >= static_cast<Integer>(sizeof(INTERNET_ASYNC_RESULT))) {
            INTERNET_ASYNC_RESULT result{};
            std::memcpy(&result, information, sizeof result);
            return "result " + std::to_string(result.dwResult) + ", error " + std::to_string(result.dwError);
        }
        return {};
    default:
        return {};
    }
}

// Writes a header block as lines behind a marker ("> " or "< "), without
// the empty line that ends it.
void PrintHeaderBlock(const std::string& marker, const UnicodeString& block) {
    std::string text = U8(block);
    std::string lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty()) lines += marker + line + "\n";
        start = end + 1;
    }
    Err(lines);
}

// The body's length from Content-Length, when the response has one.
std::optional<std::uint64_t> ContentLength(TINetHttp& http) {
    try {
        const std::string text = Trim(U8(http.QueryInfo(heContentLength)));
        if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) return std::nullopt;
        return std::stoull(text);
    } catch (const EINetError&) {
        return std::nullopt;
    } catch (const std::out_of_range&) {
        return std::nullopt;
    }
}

// Where the response goes: a file replaced on success, or standard output.
class TSink {
public:
    explicit TSink(const std::string& path) {
        if (!path.empty()) FFile = std::make_unique<TOutputFile>(path);
    }
    void Write(const void* data, std::size_t size) {
        if (FFile)
            FFile->Write(data, size);
        else
            Out(std::string_view(static_cast<const char*>(data), size));
    }
    void Commit() {
        if (FFile) FFile->Commit();
    }

private:
    std::unique_ptr<TOutputFile> FFile;
};

// The completions of an asynchronous session's operations. The HTTP
// component's OnCallback, on the library's thread, hands over each
// INTERNET_STATUS_REQUEST_COMPLETE; the command's thread, whose call came
// back pending, sleeps until it arrives.
class TCompletion {
public:
    /// Forgets the last completion; called before each call that may pend,
    /// since its completion may arrive before the call returns.
    void Arm() {
        const std::lock_guard<std::mutex> lock(FLock);
        FDone = false;
    }
    /// From the library's thread.
    void Complete(const void* information, Integer length) {
        INTERNET_ASYNC_RESULT result{};
        if (information != nullptr && length >= static_cast<Integer>(sizeof result))
            std::memcpy(&result, information, sizeof result);
        {
            const std::lock_guard<std::mutex> lock(FLock);
            FResult = result;
            FDone = true;
        }
        FArrived.notify_one();
    }
    /// Runs one platform call: one that succeeds returns at once, one that
    /// comes back pending is waited for; a failure, at once or in the
    /// completion, raises the platform's error.
    template <class Call>
    void Run(Call call) {
        Arm();
        if (call()) return;
        if (Platform().GetLastError() != ERROR_IO_PENDING) {
            Check(false);
            return;
        }
        std::unique_lock<std::mutex> lock(FLock);
        FArrived.wait(lock, [this] { return FDone; });
        const INTERNET_ASYNC_RESULT result = FResult;
        lock.unlock();
        // dwError counts only when dwResult says the call failed.
        if (result.dwResult == 0) {
            Platform().SetLastError(result.dwError);
            Check(false);
        }
    }

private:
    std::mutex FLock;
    std::condition_variable FArrived;
    bool FDone = false;
    INTERNET_ASYNC_RESULT FResult{};
};

// Sets up the components, sends the request and writes the response.
int Get(const TRequestOptions& o) {
    // Declared before the components, so that they outlive the
    // notifications sent while the components are destroyed. On an
    // asynchronous session the notifications arrive on a library thread,
    // so the bar and standard error are shared under a lock.
    std::mutex output;
    TCompletion completion;
    std::optional<TProgressBar> bar;
    std::unique_ptr<TComponent> root;
    TINetHttp* http = nullptr;
    TINetSession* session = nullptr;
    if (!o.FormFile.empty()) {
        root = LoadFormFile(o.FormFile);
        http = FindHttp(*root);
        if (http == nullptr)
            throw ECommandError(ExitInvalidInput,
                                "the form file " + Quoted(o.FormFile) + " holds no TINetHttp");
        // Settings of a connection change only while it is closed.
        http->Close();
        session = http->Session();
        if (session == nullptr) {
            session = new TINetSession(root.get());
            http->SetSession(session);
        }
        if (!o.Proxy.empty() || o.Async) session->Close();
    } else {
        root = std::make_unique<TComponent>(nullptr);
        session = new TINetSession(root.get());
        http = new TINetHttp(root.get());
        http->SetSession(session);
        http->SetVerb(veGet);
    }

    if (o.Url) http->SetUrl(U16(*o.Url));
    CheckHttpUrl(*http);
    if (o.Credentials) {
        http->SetUserName(U16(o.Credentials->first));
        http->SetPassword(U16(o.Credentials->second));
    }
    if (!o.Proxy.empty()) {
        session->SetAccessType(atProxy);
        session->SetProxyName(U16(o.Proxy));
    }
    if (o.Async) session->SetFlags(session->Flags() + TSessionFlags{flAsync});

    THttpFlags flags = http->Flags();
    if (Framework::SameText(http->Scheme(), u"https")) flags.Include(flSecure);
    if (o.NoRedirect)
        flags.Include(flNoAutoRedirect);
    else
        flags.Include(flIgnoreRedirectToHttps);
    if (o.NoCookies) flags.Include(flNoCookies);
    if (o.Insecure) {
        flags += THttpFlags{flIgnoreCertCnInvalid, flIgnoreCertDateInvalid};
        http->SetSecurityFlags(http->SecurityFlags() + TSecurityFlags{sfIgnoreUnknownCA, sfIgnoreInvalidCN,
                                                                      sfIgnoreInvalidDate, sfIgnoreRevocation,
                                                                      sfIgnoreWrongUsage});
    }
    http->SetFlags(flags);

    // The notifications arrive on this thread while the component works,
    // or on a library thread for an asynchronous session. A completion is
    // printed before it is handed over, so its line comes before whatever
    // the command prints next.
    const bool verbose = o.Verbose;
    TINetCallbackEvent print = [&bar, &output, verbose](TObject*, Integer status, void* information,
                                                        Integer length) {
        if (!verbose) return;
        const char* name = StatusName(status);
        std::string line = name != nullptr ? name : "Status " + std::to_string(status);
        const std::string info = StatusInformation(status, information, length);
        if (!info.empty()) line += ": " + info;
        const std::lock_guard<std::mutex> lock(output);
        if (bar) bar->Interrupt();
        Err("* " + line + "\n");
    };
    if (o.Verbose) session->SetOnCallback(print);
    if (o.Verbose || o.Async)
        http->SetOnCallback(
            [print, &completion](TObject* sender, Integer status, void* information, Integer length) {
                print(sender, status, information, length);
                if (status == INTERNET_STATUS_REQUEST_COMPLETE) completion.Complete(information, length);
            });

    http->Open();
    if (o.TimeoutMs) {
        http->SetInternetOptionDWord(INTERNET_OPTION_CONNECT_TIMEOUT, *o.TimeoutMs);
        http->SetInternetOptionDWord(INTERNET_OPTION_SEND_TIMEOUT, *o.TimeoutMs);
        http->SetInternetOptionDWord(INTERNET_OPTION_RECEIVE_TIMEOUT, *o.TimeoutMs);
    }

    const std::string verb = !o.Verb.empty() ? o.Verb : o.Head ? "HEAD" : o.Body ? "POST" : "";
    http->OpenRequest(U16(verb), ObjectName(*http));
    bool hasContentType = false;
    for (const auto& [Name, Value] : o.Headers) {
        http->AddRequestHeader(U16(Name), U16(Value));
        hasContentType = hasContentType || SameAscii(Name, "Content-Type");
    }
    if (o.FormBody && !hasContentType)
        http->AddRequestHeader(UnicodeString(u"Content-Type"),
                               UnicodeString(u"application/x-www-form-urlencoded"));
    // The body stays in o until the send has completed, pending or not.
    if (o.Async)
        completion.Run([&] {
            void* body = o.Body && !o.Body->empty() ? const_cast<char*>(o.Body->data()) : nullptr;
            return Platform().HttpSendRequestW(http->HttpHandle(), nullptr, 0, body,
                                               o.Body ? static_cast<DWORD>(o.Body->size()) : 0);
        });
    else
        http->SendRequest(UnicodeString(), o.Body ? AnsiString(*o.Body) : AnsiString());

    if (o.Verbose) {
        try {
            constexpr Cardinal requestHeaders = HTTP_QUERY_RAW_HEADERS_CRLF | HTTP_QUERY_FLAG_REQUEST_HEADERS;
            PrintHeaderBlock("> ", http->QueryInfo(requestHeaders));
        } catch (const EINetError&) {
            // The request's headers are not available on every platform.
        }
        PrintHeaderBlock("< ", http->QueryInfo(heRawHeadersCrLf));
    }

    TSink sink(o.Output);
    if (o.Head) {
        const std::string headers = U8(http->QueryInfo(heRawHeadersCrLf));
        sink.Write(headers.data(), headers.size());
    } else {
        const bool showBar =
            o.ForceProgress || (StderrIsTerminal() && (!o.Output.empty() || !StdoutIsTerminal()));
        const std::optional<std::uint64_t> total = ContentLength(*http);
        {
            const std::lock_guard<std::mutex> lock(output);
            bar.emplace(showBar, total);
            bar->Update(0);
        }
        // The body in pieces as large as the buffer, each written at once,
        // so memory does not grow with the body. A pending read fills the
        // buffer and writes the count before its completion arrives.
        TBytes buffer(256 * 1024);
        std::uint64_t done = 0;
        for (;;) {
            DWORD count = 0;
            if (o.Async)
                completion.Run([&] {
                    return Platform().InternetReadFile(http->HttpHandle(), buffer.data(),
                                                       static_cast<DWORD>(buffer.size()), &count);
                });
            else
                count = http->GetBytes(buffer);
            if (count == 0) break;
            sink.Write(buffer.data(), count);
            done += count;
            const std::lock_guard<std::mutex> lock(output);
            bar->Update(done);
        }
        {
            const std::lock_guard<std::mutex> lock(output);
            bar->Finish(done);
        }
        // A platform may end a body the server cut short as if it were
        // complete; a length that does not add up is a failed download,
        // never a short file that looks whole.
        const Cardinal status = http->QueryInfoValue(heStatusCode);
        const bool hasBody = o.Verb != "HEAD" && status >= 200 && status != 204 && status != 304;
        if (const auto expected = ContentLength(*http); hasBody && expected && done < *expected)
            throw ECommandError(ExitInternetError, "the connection ended after " + std::to_string(done) +
                                                       " of " + std::to_string(*expected) + " bytes");
    }
    sink.Commit();
    http->CloseRequest();
    http->Close();
    return ExitSuccess;
}

}  // namespace

int RunGet(const TArgs& args) {
    const TRequestOptions options = ParseOptions(args);
    if (options.Help) {
        Out(GetHelp);
        return ExitSuccess;
    }
    return Get(options);
}

}  // namespace Tool
