// corvane get: one HTTP exchange through a session and an HTTP component,
// from the command line or from a form file.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <string>

#include <Corvane/Errors.h>
#include <Corvane/Http.h>
#include <Corvane/Session.h>
#include <Framework/Classes.h>
#include <Framework/SysUtils.h>
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
    "      --timeout SECONDS    give up connecting, sending or receiving after this long\n"
    "  -v, --verbose            print the status notifications, one line each, and the\n"
    "                           request and response headers on standard error\n"
    "      --form FILE          take the session and the HTTP component from a form\n"
    "                           file (the first TINetHttp in it); URL replaces its Url\n"
    "      --progress           show the progress bar even when standard error is not\n"
    "                           a terminal\n"
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
    std::optional<Cardinal> TimeoutMs;
    bool Verbose = false;
    std::string FormFile;
    bool ForceProgress = false;
};

std::string Trim(const std::string& Text)
{
    const std::size_t First = Text.find_first_not_of(" \t");
    if (First == std::string::npos) return {};
    return Text.substr(First, Text.find_last_not_of(" \t") - First + 1);
}

bool SameAscii(std::string_view A, std::string_view B)
{
    return Framework::SameText(U16(A), U16(B));
}

// "Name: value": the name without blanks around it, the value without
// leading and trailing blanks. A line break in either would smuggle in
// another header, so it is refused here with a usage error.
std::pair<std::string, std::string> ParseHeader(const std::string& Text)
{
    if (Text.find_first_of("\r\n") != std::string::npos)
        UsageError("header " + Quoted(Text) + " holds a line break");
    const std::size_t Colon = Text.find(':');
    if (Colon == std::string::npos) UsageError("header " + Quoted(Text) + " is not of the form 'Name: value'");
    std::string Name = Trim(Text.substr(0, Colon));
    if (Name.empty()) UsageError("header " + Quoted(Text) + " has no name");
    if (Name.find_first_of(" \t") != std::string::npos) UsageError("header name " + Quoted(Name) + " holds a blank");
    return {std::move(Name), Trim(Text.substr(Colon + 1))};
}

// A decimal number of seconds above zero, as milliseconds.
Cardinal ParseTimeout(const std::string& Text)
{
    std::size_t End = 0;
    double Seconds = 0;
    try {
        Seconds = std::stod(Text, &End);
    } catch (const std::exception&) {
        End = 0;
    }
    if (End == 0 || End != Text.size() || !(Seconds > 0) || Seconds > 4294967.0)
        UsageError("invalid timeout " + Quoted(Text) + "; give a number of seconds above 0");
    return static_cast<Cardinal>(std::max(1.0, std::round(Seconds * 1000)));
}

// HOST:PORT, as the session's proxy setting takes it.
void CheckProxy(const std::string& Text)
{
    const std::size_t Colon = Text.rfind(':');
    const std::string Port = Colon == std::string::npos ? std::string() : Text.substr(Colon + 1);
    Framework::Integer Number = 0;
    if (Colon == std::string::npos || Colon == 0 || Port.empty() ||
        Port.find_first_not_of("0123456789") != std::string::npos || !Framework::TryStrToInt(U16(Port), Number) ||
        Number < 1 || Number > 65535 || Text.find_first_of(" \t\r\n") != std::string::npos)
        UsageError("invalid proxy " + Quoted(Text) + "; give HOST:PORT");
}

TRequestOptions ParseOptions(const TArgs& Args)
{
    const TCommandLine Line({{'h', "help", false},
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
                             {0, "timeout", true},
                             {'v', "verbose", false},
                             {0, "form", true},
                             {0, "progress", false}},
                            Args);
    TRequestOptions O;
    if (Line.Has("help")) {
        O.Help = true;
        return O;
    }
    O.FormFile = Line.Value("form");
    if (Line.Has("form") && O.FormFile.empty()) UsageError("option '--form' needs a file name");
    if (Line.Operands().size() > 1) UsageError("unexpected argument " + Quoted(Line.Operands()[1]));
    if (Line.Operands().empty() && !Line.Has("form")) UsageError("no URL given");
    if (!Line.Operands().empty()) O.Url = Line.Operands()[0];

    O.Output = Line.Value("output");
    if (Line.Has("output") && O.Output.empty()) UsageError("option '--output' needs a file name");
    O.Head = Line.Has("head");
    O.Verb = Line.Value("request");
    if (Line.Has("request") &&
        (O.Verb.empty() || O.Verb.find_first_of(" \t\r\n") != std::string::npos))
        UsageError("invalid verb " + Quoted(O.Verb));
    for (const std::string& Header : Line.Values("header")) O.Headers.push_back(ParseHeader(Header));

    if (Line.Has("data") && Line.Has("data-binary")) UsageError("give either --data or --data-binary, not both");
    if (Line.Has("data")) {
        std::string Body;
        for (const std::string& Piece : Line.Values("data")) Body += (Body.empty() ? "" : "&") + Piece;
        O.Body = Body;
        O.FormBody = true;
    }
    if (Line.Has("data-binary")) {
        std::string Body;
        bool First = true;
        for (const std::string& Piece : Line.Values("data-binary")) {
            if (!First) Body += '&';
            First = false;
            if (!Piece.empty() && Piece[0] == '@') {
                if (Piece.size() == 1) UsageError("option '--data-binary' needs a file name after '@'");
                Body += ReadFileBytes(Piece.substr(1));
            } else {
                Body += Piece;
            }
        }
        O.Body = Body;
    }

    if (Line.Has("user")) {
        const std::string User = Line.Value("user");
        const std::size_t Colon = User.find(':');
        if (Colon == 0 || User.empty()) UsageError("option '--user' needs USER:PASSWORD");
        O.Credentials = Colon == std::string::npos ? std::pair{User, std::string()}
                                                   : std::pair{User.substr(0, Colon), User.substr(Colon + 1)};
    }
    O.Insecure = Line.Has("insecure");
    if (Line.Has("proxy")) {
        O.Proxy = Line.Value("proxy");
        CheckProxy(O.Proxy);
    }
    O.NoRedirect = Line.Has("no-redirect");
    if (Line.Has("timeout")) O.TimeoutMs = ParseTimeout(Line.Value("timeout"));
    O.Verbose = Line.Has("verbose");
    O.ForceProgress = Line.Has("progress");
    return O;
}

// The first HTTP component of a form: the root itself or one it owns,
// depth first.
TINetHttp* FindHttp(TComponent& C)
{
    if (auto* Http = dynamic_cast<TINetHttp*>(&C)) return Http;
    for (int I = 0; I < C.ComponentCount(); ++I)
        if (TINetHttp* Found = FindHttp(*C.Components(I))) return Found;
    return nullptr;
}

// The HTTP component's URL must name an HTTP or HTTPS server; the
// component itself cracks it and would only fail later, less clearly.
void CheckHttpUrl(const TINetHttp& Http)
{
    const std::string Text = U8(Http.Url());
    const std::string Scheme = U8(Framework::LowerCase(Http.Scheme()));
    if (Scheme.empty()) {
        // A failed crack leaves every part empty; a component whose Url was
        // never assigned keeps its initial host and has no scheme.
        if (Text.empty()) throw ECommandError(ExitInvalidInput, "no URL given");
        if (Http.ServerName().empty() && Http.UrlPath().empty())
            throw ECommandError(ExitInvalidInput, "the platform cannot crack the URL " + Quoted(Text));
        throw ECommandError(ExitInvalidInput, "the HTTP component has no URL; give one on the command line");
    }
    if (Scheme != "http" && Scheme != "https")
        throw ECommandError(ExitInvalidInput, "not an HTTP or HTTPS URL: " + Quoted(Text));
    if (Http.ServerName().empty()) throw ECommandError(ExitInvalidInput, "no host name in the URL " + Quoted(Text));
}

// The request target: the URL's path (or "/") and its query, without the
// fragment, which belongs to the client and never goes to the server.
UnicodeString ObjectName(const TINetHttp& Http)
{
    UnicodeString Extra = Http.ExtraInfo();
    const std::size_t Hash = Extra.find(u'#');
    if (Hash != UnicodeString::npos) Extra.resize(Hash);
    UnicodeString Path = Http.UrlPath();
    if (Path.empty()) Path = u"/";
    return Path + Extra;
}

// The names of the status notifications, for --verbose.
const char* StatusName(Integer Status)
{
    switch (Status) {
    case INTERNET_STATUS_RESOLVING_NAME: return "Resolving name";
    case INTERNET_STATUS_NAME_RESOLVED: return "Name resolved";
    case INTERNET_STATUS_CONNECTING_TO_SERVER: return "Connecting to server";
    case INTERNET_STATUS_CONNECTED_TO_SERVER: return "Connected to server";
    case INTERNET_STATUS_SENDING_REQUEST: return "Sending request";
    case INTERNET_STATUS_REQUEST_SENT: return "Request sent";
    case INTERNET_STATUS_RECEIVING_RESPONSE: return "Receiving response";
    case INTERNET_STATUS_RESPONSE_RECEIVED: return "Response received";
    case INTERNET_STATUS_CTL_RESPONSE_RECEIVED: return "Control response received";
    case INTERNET_STATUS_PREFETCH: return "Prefetch";
    case INTERNET_STATUS_CLOSING_CONNECTION: return "Closing connection";
    case INTERNET_STATUS_CONNECTION_CLOSED: return "Connection closed";
    case INTERNET_STATUS_HANDLE_CREATED: return "Handle created";
    case INTERNET_STATUS_HANDLE_CLOSING: return "Handle closing";
    case INTERNET_STATUS_DETECTING_PROXY: return "Detecting proxy";
    case INTERNET_STATUS_REQUEST_COMPLETE: return "Request complete";
    case INTERNET_STATUS_REDIRECT: return "Redirect";
    case INTERNET_STATUS_INTERMEDIATE_RESPONSE: return "Intermediate response";
    case INTERNET_STATUS_USER_INPUT_REQUIRED: return "User input required";
    case INTERNET_STATUS_STATE_CHANGE: return "State change";
    case INTERNET_STATUS_COOKIE_SENT: return "Cookie sent";
    case INTERNET_STATUS_COOKIE_RECEIVED: return "Cookie received";
    default: return nullptr;
    }
}

// The status data worth showing: the text of the name, address and
// redirect notifications (host names and redirect targets in UTF-16,
// addresses as 8-bit texts; either is recognised by its terminator), and the
// byte counts of the request and response.
std::string StatusInformation(Integer Status, const void* Information, Integer Length)
{
    if (Information == nullptr || Length <= 0) return {};
    switch (Status) {
    case INTERNET_STATUS_RESOLVING_NAME:
    case INTERNET_STATUS_NAME_RESOLVED:
    case INTERNET_STATUS_CONNECTING_TO_SERVER:
    case INTERNET_STATUS_CONNECTED_TO_SERVER:
    case INTERNET_STATUS_REDIRECT: {
        const auto* Bytes = static_cast<const unsigned char*>(Information);
        const auto Size = static_cast<std::size_t>(Length);
        if (Size >= 2 && Size % 2 == 0 && Bytes[Size - 1] == 0 && Bytes[Size - 2] == 0) {
            std::u16string Text(Size / 2, u'\0');
            std::memcpy(Text.data(), Bytes, Size);
            Text.resize(Text.find(u'\0'));
            return U8(Text);
        }
        std::string Text(reinterpret_cast<const char*>(Bytes), Size);
        return Text.substr(0, Text.find('\0'));
    }
    case INTERNET_STATUS_REQUEST_SENT:
    case INTERNET_STATUS_RESPONSE_RECEIVED:
        if (Length == static_cast<Integer>(sizeof(DWORD))) {
            DWORD Count = 0;
            std::memcpy(&Count, Information, sizeof Count);
            return std::to_string(Count) + " bytes";
        }
        return {};
    default:
        return {};
    }
}

// Writes a header block as lines behind a marker ("> " or "< "), without
// the empty line that ends it.
void PrintHeaderBlock(const std::string& Marker, const UnicodeString& Block)
{
    std::string Text = U8(Block);
    std::string Lines;
    std::size_t Start = 0;
    while (Start < Text.size()) {
        std::size_t End = Text.find('\n', Start);
        if (End == std::string::npos) End = Text.size();
        std::string Line = Text.substr(Start, End - Start);
        if (!Line.empty() && Line.back() == '\r') Line.pop_back();
        if (!Line.empty()) Lines += Marker + Line + "\n";
        Start = End + 1;
    }
    Err(Lines);
}

// The body's length from Content-Length, when the response has one.
std::optional<std::uint64_t> ContentLength(TINetHttp& Http)
{
    try {
        const std::string Text = Trim(U8(Http.QueryInfo(heContentLength)));
        if (Text.empty() || Text.find_first_not_of("0123456789") != std::string::npos) return std::nullopt;
        return std::stoull(Text);
    } catch (const EINetError&) {
        return std::nullopt;
    } catch (const std::out_of_range&) {
        return std::nullopt;
    }
}

// Where the response goes: a file replaced on success, or standard output.
class TSink {
public:
    explicit TSink(const std::string& Path)
    {
        if (!Path.empty()) FFile = std::make_unique<TOutputFile>(Path);
    }
    void Write(const void* Data, std::size_t Size)
    {
        if (FFile)
            FFile->Write(Data, Size);
        else
            Out(std::string_view(static_cast<const char*>(Data), Size));
    }
    void Commit()
    {
        if (FFile) FFile->Commit();
    }

private:
    std::unique_ptr<TOutputFile> FFile;
};

// Sets up the components, sends the request and writes the response.
int Get(const TRequestOptions& O)
{
    // Declared before the components, so that it outlives the notifications
    // they send while they are destroyed.
    std::optional<TProgressBar> Bar;
    std::unique_ptr<TComponent> Root;
    TINetHttp* Http = nullptr;
    TINetSession* Session = nullptr;
    if (!O.FormFile.empty()) {
        Root = LoadFormFile(O.FormFile);
        Http = FindHttp(*Root);
        if (Http == nullptr)
            throw ECommandError(ExitInvalidInput, "the form file " + Quoted(O.FormFile) + " holds no TINetHttp");
        // Settings of a connection change only while it is closed.
        Http->Close();
        Session = Http->Session();
        if (Session == nullptr) {
            Session = new TINetSession(Root.get());
            Http->SetSession(Session);
        }
        if (!O.Proxy.empty()) Session->Close();
    } else {
        Root = std::make_unique<TComponent>(nullptr);
        Session = new TINetSession(Root.get());
        Http = new TINetHttp(Root.get());
        Http->SetSession(Session);
        Http->SetVerb(veGet);
    }

    if (O.Url) Http->SetUrl(U16(*O.Url));
    CheckHttpUrl(*Http);
    if (O.Credentials) {
        Http->SetUserName(U16(O.Credentials->first));
        Http->SetPassword(U16(O.Credentials->second));
    }
    if (!O.Proxy.empty()) {
        Session->SetAccessType(atProxy);
        Session->SetProxyName(U16(O.Proxy));
    }

    THttpFlags Flags = Http->Flags();
    if (Framework::SameText(Http->Scheme(), u"https")) Flags.Include(flSecure);
    if (O.NoRedirect)
        Flags.Include(flNoAutoRedirect);
    else
        Flags.Include(flIgnoreRedirectToHttps);
    if (O.Insecure) {
        Flags += THttpFlags{flIgnoreCertCnInvalid, flIgnoreCertDateInvalid};
        Http->SetSecurityFlags(Http->SecurityFlags() + TSecurityFlags{sfIgnoreUnknownCA, sfIgnoreInvalidCN,
                                                                      sfIgnoreInvalidDate, sfIgnoreRevocation,
                                                                      sfIgnoreWrongUsage});
    }
    Http->SetFlags(Flags);

    if (O.Verbose) {
        // The notifications arrive on this thread while the component works.
        TINetCallbackEvent Print = [&Bar](TObject*, Integer Status, void* Information, Integer Length) {
            const char* Name = StatusName(Status);
            std::string Line = Name != nullptr ? Name : "Status " + std::to_string(Status);
            const std::string Info = StatusInformation(Status, Information, Length);
            if (!Info.empty()) Line += ": " + Info;
            if (Bar) Bar->Interrupt();
            Err("* " + Line + "\n");
        };
        Session->SetOnCallback(Print);
        Http->SetOnCallback(Print);
    }

    Http->Open();
    if (O.TimeoutMs) {
        Http->SetInternetOptionDWord(INTERNET_OPTION_CONNECT_TIMEOUT, *O.TimeoutMs);
        Http->SetInternetOptionDWord(INTERNET_OPTION_SEND_TIMEOUT, *O.TimeoutMs);
        Http->SetInternetOptionDWord(INTERNET_OPTION_RECEIVE_TIMEOUT, *O.TimeoutMs);
    }

    const std::string Verb = !O.Verb.empty() ? O.Verb : O.Head ? "HEAD" : O.Body ? "POST" : "";
    Http->OpenRequest(U16(Verb), ObjectName(*Http));
    bool HasContentType = false;
    for (const auto& [Name, Value] : O.Headers) {
        Http->AddRequestHeader(U16(Name), U16(Value));
        HasContentType = HasContentType || SameAscii(Name, "Content-Type");
    }
    if (O.FormBody && !HasContentType)
        Http->AddRequestHeader(UnicodeString(u"Content-Type"), UnicodeString(u"application/x-www-form-urlencoded"));
    Http->SendRequest(UnicodeString(), O.Body ? AnsiString(*O.Body) : AnsiString());

    if (O.Verbose) {
        try {
            constexpr Cardinal RequestHeaders = HTTP_QUERY_RAW_HEADERS_CRLF | HTTP_QUERY_FLAG_REQUEST_HEADERS;
            PrintHeaderBlock("> ", Http->QueryInfo(RequestHeaders));
        } catch (const EINetError&) {
            // The request's headers are not available on every platform.
        }
        PrintHeaderBlock("< ", Http->QueryInfo(heRawHeadersCrLf));
    }

    TSink Sink(O.Output);
    if (O.Head) {
        const std::string Headers = U8(Http->QueryInfo(heRawHeadersCrLf));
        Sink.Write(Headers.data(), Headers.size());
    } else {
        const bool ShowBar =
            O.ForceProgress || (StderrIsTerminal() && (!O.Output.empty() || !StdoutIsTerminal()));
        Bar.emplace(ShowBar, ContentLength(*Http));
        // The body in pieces as large as the buffer, each written at once,
        // so memory does not grow with the body.
        TBytes Buffer(256 * 1024);
        std::uint64_t Done = 0;
        Bar->Update(0);
        for (;;) {
            const Cardinal Count = Http->GetBytes(Buffer);
            if (Count == 0) break;
            Sink.Write(Buffer.data(), Count);
            Done += Count;
            Bar->Update(Done);
        }
        Bar->Finish(Done);
        // A platform may end a body the server cut short as if it were
        // complete; a length that does not add up is a failed download,
        // never a short file that looks whole.
        const Cardinal Status = Http->QueryInfoValue(heStatusCode);
        const bool HasBody = O.Verb != "HEAD" && Status >= 200 && Status != 204 && Status != 304;
        if (const auto Expected = ContentLength(*Http); HasBody && Expected && Done < *Expected)
            throw ECommandError(ExitInternetError, "the connection ended after " + std::to_string(Done) + " of " +
                                                       std::to_string(*Expected) + " bytes");
    }
    Sink.Commit();
    Http->CloseRequest();
    Http->Close();
    return ExitSuccess;
}

}  // namespace

int RunGet(const TArgs& Args)
{
    const TRequestOptions Options = ParseOptions(Args);
    if (Options.Help) {
        Out(GetHelp);
        return ExitSuccess;
    }
    return Get(Options);
}

}  // namespace Tool
