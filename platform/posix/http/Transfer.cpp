// libcurl's multi interface driven in pull mode: transfers, their callbacks
// and their bounded body buffers.
#include "posix/http/Transfer.h"

#include "posix/http/CurlMemory.h"
#include "posix/text/Utf.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <limits>

namespace Corvane::Backend {

namespace {



std::string AddressText(const curl_sockaddr* address) {
    char text[INET6_ADDRSTRLEN] = {};
    if (address->family == AF_INET) {
        const auto* in = reinterpret_cast<const sockaddr_in*>(&address->addr);
        inet_ntop(AF_INET, &in->sin_addr, text, sizeof(text));
    } else if (address->family == AF_INET6) {
        const auto* in6 = reinterpret_cast<const sockaddr_in6*>(&address->addr);
        inet_ntop(AF_INET6, &in6->sin6_addr, text, sizeof(text));
    }
    return text;
}

// The Internet error for how a transfer ended.
DWORD CurlError(CURLcode result, const CertificateCheck* check) {
    switch (result) {
    case CURLE_OK:
        return ERROR_SUCCESS;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
        return ERROR_INTERNET_NAME_NOT_RESOLVED;
    case CURLE_COULDNT_CONNECT:
        return ERROR_INTERNET_CANNOT_CONNECT;
    case CURLE_OPERATION_TIMEDOUT:
        return ERROR_INTERNET_TIMEOUT;
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_INVALIDCERTSTATUS:
        if (check && check->firstError.load() != 0) return CertificateError(check->firstError.load());
        return ERROR_INTERNET_SECURITY_CHANNEL_ERROR;
    case CURLE_PARTIAL_FILE:
        return ERROR_INTERNET_CONNECTION_ABORTED;
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
        return ERROR_INTERNET_CONNECTION_RESET;
    case CURLE_GOT_NOTHING:
    case CURLE_WEIRD_SERVER_REPLY:
    case CURLE_UNSUPPORTED_PROTOCOL:
        return ERROR_HTTP_INVALID_SERVER_RESPONSE;
    case CURLE_URL_MALFORMAT:
        return ERROR_INTERNET_INVALID_URL;
    case CURLE_OUT_OF_MEMORY:
        return ERROR_NOT_ENOUGH_MEMORY;
    case CURLE_LOGIN_DENIED:
        return ERROR_INTERNET_LOGIN_FAILURE;
    case CURLE_ABORTED_BY_CALLBACK:
        return ERROR_INTERNET_OPERATION_CANCELLED;
    case CURLE_BAD_CONTENT_ENCODING:
        return ERROR_INTERNET_DECODING_FAILED;
    default:
        return ERROR_INTERNET_CONNECTION_ABORTED;
    }
}

}  // namespace

// ---------------------------------------------------------------------------
// TransferGroup

TransferGroup::TransferGroup(Handle& owner, DWORD ignoreFlags)
    : FOwner(owner), FIgnoreFlags(ignoreFlags) {
    EnsureCurl();
    FMulti = curl_multi_init();
}

TransferGroup::~TransferGroup() {
    for (CURL* easy : FSpare) curl_easy_cleanup(easy);
    FCurrent = nullptr;
    if (FMulti) curl_multi_cleanup(FMulti);
}

std::vector<StatusEvent> TransferGroup::Shutdown() {
    std::lock_guard<std::mutex> lock(FMutex);
    for (CURL* easy : FSpare) curl_easy_cleanup(easy);
    FSpare.clear();
    FCurrent = nullptr;
    if (FMulti) curl_multi_cleanup(FMulti);
    FMulti = nullptr;
    return TakeEvents();
}

void TransferGroup::Queue(Handle* target, DWORD status, const void* data, std::size_t size) {
    StatusEvent event = MakeEvent(target ? *target : FOwner, status, data, size);
    if (event.target) FEvents.push_back(std::move(event));
}

void TransferGroup::QueueText(Handle* target, DWORD status, const std::string& text) {
    StatusEvent event = MakeTextEvent(target ? *target : FOwner, status, text);
    if (event.target) FEvents.push_back(std::move(event));
}

void TransferGroup::QueueAddress(Handle* target, DWORD status, const std::string& address) {
    StatusEvent event = MakeAddressEvent(target ? *target : FOwner, status, address);
    if (event.target) FEvents.push_back(std::move(event));
}

std::vector<StatusEvent> TransferGroup::TakeEvents() {
    std::vector<StatusEvent> events;
    events.swap(FEvents);
    return events;
}

void TransferGroup::CollectDone() {
    int left = 0;
    while (CURLMsg* message = curl_multi_info_read(FMulti, &left)) {
        if (message->msg != CURLMSG_DONE) continue;
        char* owner = nullptr;
        curl_easy_getinfo(message->easy_handle, CURLINFO_PRIVATE, &owner);
        if (owner) reinterpret_cast<Transfer*>(owner)->Finish(message->data.result);
    }
}

// Called by libcurl for every socket of the group's connections, also when
// the cache closes an idle one; the group outlives all of them.
int TransferGroup::CloseSocket(void* self, curl_socket_t socket) {
    auto* group = static_cast<TransferGroup*>(self);
    group->Queue(group->FCurrent, INTERNET_STATUS_CLOSING_CONNECTION, nullptr, 0);
    const int result = ::close(socket);
    group->Queue(group->FCurrent, INTERNET_STATUS_CONNECTION_CLOSED, nullptr, 0);
    return result;
}

// ---------------------------------------------------------------------------
// Transfer

Transfer::Transfer(Handle& owner) : FOwner(owner) {}

// The owner is being destroyed: nothing is reported any more.
Transfer::~Transfer() {
    std::shared_ptr<TransferGroup> group;
    auto lock = LockGroup(group);
    if (!group) return;
    group->FCurrent = nullptr;
    std::vector<StatusEvent> dropped;
    ReleaseLocked(dropped);
}

std::unique_lock<std::mutex> Transfer::LockGroup(std::shared_ptr<TransferGroup>& group) {
    {
        std::lock_guard<std::mutex> lock(FGroupMutex);
        group = FGroup;
    }
    if (!group) return {};
    return std::unique_lock<std::mutex>(group->FMutex);
}

DWORD Transfer::Start(const std::shared_ptr<TransferGroup>& group, const HopConfig& hop) {
    std::vector<StatusEvent> events;
    {
        std::shared_ptr<TransferGroup> previous;
        auto lock = LockGroup(previous);
        if (previous) ReleaseLocked(events);
    }
    DeliverEvents(events);
    {
        std::lock_guard<std::mutex> lock(FGroupMutex);
        FGroup = group;
    }
    std::lock_guard<std::mutex> lock(group->FMutex);
    if (!group->FMulti) return ERROR_INVALID_HANDLE;
    if (!group->FSpare.empty()) {
        FEasy = group->FSpare.back();
        group->FSpare.pop_back();
    } else {
        FEasy = curl_easy_init();
        if (!FEasy) return ERROR_NOT_ENOUGH_MEMORY;
    }

    FBuilding = ResponseHead();
    FFinal = ResponseHead();
    FInHead = FTentative = FHeadersFinal = FDone = false;
    FResult = CURLE_OK;
    FAbortError = ERROR_SUCCESS;
    FSentHead.clear();
    FAwaitingResponse = FResolvedNotified = FNewConnection = FConnectedNotified = FConnected = false;
    FCheck.reset();
    FTlsState = 0;
    FQueue.Clear();
    FTarget = nullptr;
    FTargetSize = FTargetFilled = 0;
    FPaused = FResuming = FDiscard = false;
    FDiscarded = 0;
    FHost = hop.host;
    FBodySize = hop.body ? hop.body->size() : 0;
    FExpectAuth = hop.useCredentials;
    FTimeouts = hop.timeouts;

    Configure(hop);
    if (curl_multi_add_handle(group->FMulti, FEasy) != CURLM_OK) {
        curl_easy_cleanup(FEasy);
        FEasy = nullptr;
        return ERROR_INTERNET_INTERNAL_ERROR;
    }
    FAttached = true;
    Touch();
    return ERROR_SUCCESS;
}

// Every option of one hop, set afresh on a reset easy handle.
void Transfer::Configure(const HopConfig& hop) {
    CURL* easy = FEasy;
    curl_easy_setopt(easy, CURLOPT_URL, hop.url.c_str());
    curl_easy_setopt(easy, CURLOPT_PRIVATE, reinterpret_cast<char*>(this));
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_HTTP_VERSION,
                     hop.http10 ? long(CURL_HTTP_VERSION_1_0) : long(CURL_HTTP_VERSION_1_1));
    curl_easy_setopt(easy, CURLOPT_PATH_AS_IS, 1L);
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &Transfer::OnHeader);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, this);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &Transfer::OnWrite);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, this);
    // The debug stream is the one place libcurl shows the request head as
    // sent (HTTP_QUERY_FLAG_REQUEST_HEADERS reads it).
    curl_easy_setopt(easy, CURLOPT_DEBUGFUNCTION, &Transfer::OnDebug);
    curl_easy_setopt(easy, CURLOPT_DEBUGDATA, this);
    curl_easy_setopt(easy, CURLOPT_VERBOSE, 1L);
    curl_easy_setopt(easy, CURLOPT_OPENSOCKETFUNCTION, &Transfer::OnOpenSocket);
    curl_easy_setopt(easy, CURLOPT_OPENSOCKETDATA, this);
    curl_easy_setopt(easy, CURLOPT_CLOSESOCKETFUNCTION, &TransferGroup::CloseSocket);
    curl_easy_setopt(easy, CURLOPT_CLOSESOCKETDATA, FGroup.get());
    curl_easy_setopt(easy, CURLOPT_PREREQFUNCTION, &Transfer::OnPrerequest);
    curl_easy_setopt(easy, CURLOPT_PREREQDATA, this);
    curl_easy_setopt(easy, CURLOPT_BUFFERSIZE, long(kChunk));
    curl_easy_setopt(easy, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
    // An empty proxy also keeps libcurl from taking one from the environment,
    // and an empty exception list keeps it from reading NO_PROXY: the session
    // and its bypass list decide.
    curl_easy_setopt(easy, CURLOPT_PROXY, hop.proxy.c_str());
    curl_easy_setopt(easy, CURLOPT_NOPROXY, "");
    FTunnelHead = ResponseHead();
    FInTunnel = false;
    if (!hop.proxyUser.empty()) {
        curl_easy_setopt(easy, CURLOPT_PROXYUSERNAME, hop.proxyUser.c_str());
        curl_easy_setopt(easy, CURLOPT_PROXYPASSWORD, hop.proxyPassword.c_str());
        curl_easy_setopt(easy, CURLOPT_PROXYAUTH, long(CURLAUTH_BASIC | CURLAUTH_DIGEST | CURLAUTH_NTLM));
        // libcurl answers the proxy's 407 itself, as it does a 401.
        FExpectAuth = true;
    }
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS,
                     !IsLimited(hop.timeouts.connect) ? 0L : long(hop.timeouts.connect));
    if (!hop.userAgent.empty()) curl_easy_setopt(easy, CURLOPT_USERAGENT, hop.userAgent.c_str());

    const std::string& verb = hop.verb;
    const bool carriesBody = hop.body || verb == "POST" || verb == "PUT" || verb == "PATCH";
    if (carriesBody) {
        static const char kEmpty[] = "";
        curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE,
                         curl_off_t(hop.body ? hop.body->size() : 0));
        curl_easy_setopt(easy, CURLOPT_POSTFIELDS, hop.body ? hop.body->data() : kEmpty);
        if (verb != "POST") curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, verb.c_str());
    } else if (verb == "HEAD") {
        curl_easy_setopt(easy, CURLOPT_NOBODY, 1L);
    } else {
        curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
        if (verb != "GET") curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, verb.c_str());
    }

    if (FHeaderList) curl_slist_free_all(FHeaderList);
    FHeaderList = nullptr;
    for (const std::string& line : hop.headers) {
        curl_slist* next = curl_slist_append(FHeaderList, line.c_str());
        if (next) FHeaderList = next;
    }
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, FHeaderList);

    if (hop.useCredentials) {
        curl_easy_setopt(easy, CURLOPT_USERNAME, hop.user.c_str());
        curl_easy_setopt(easy, CURLOPT_PASSWORD, hop.password.c_str());
        curl_easy_setopt(easy, CURLOPT_HTTPAUTH, long(CURLAUTH_BASIC | CURLAUTH_DIGEST | CURLAUTH_NTLM));
    }

    // Certificates: libcurl checks the chain; the context hook hands the
    // name check to OpenSSL and adds the security flags, so libcurl's own
    // name check is off. That needs libcurl's TLS library to be the
    // backend's OpenSSL: with any other, HTTPS is refused before a transfer
    // starts (HttpRequest), and libcurl's name check stays on here all the
    // same.
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L);
    // No TLS session resumption: a resumed session skips the certificate
    // checks that this request's flags may want.
    curl_easy_setopt(easy, CURLOPT_SSL_SESSIONID_CACHE, 0L);
    if (TlsLibraryUsable() &&
        curl_easy_setopt(easy, CURLOPT_SSL_CTX_FUNCTION, &Transfer::OnSslContext) == CURLE_OK) {
        curl_easy_setopt(easy, CURLOPT_SSL_CTX_DATA, this);
        curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 0L);
    } else {
        curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 2L);
    }
    if (const std::string file = TrustFileFromEnvironment(); !file.empty())
        curl_easy_setopt(easy, CURLOPT_CAINFO, file.c_str());
    if (const std::string dir = TrustDirectoryFromEnvironment(); !dir.empty())
        curl_easy_setopt(easy, CURLOPT_CAPATH, dir.c_str());
}

// Header lines of every response of the hop (interim 1xx ones, a 401 that
// libcurl answers itself, the final one). A block ends with an empty line.
std::size_t Transfer::OnHeader(char* data, std::size_t size, std::size_t count, void* self) {
    auto* t = static_cast<Transfer*>(self);
    const std::size_t n = size * count;
    const std::string_view line(data, n);
    TransferGroup& group = *t->FGroup;
    t->Touch();
    if (line.size() >= 5 && line.substr(0, 5) == "HTTP/") {
        if (t->FHeadersFinal) return n;
        if (t->FAwaitingResponse) {
            const DWORD sent = static_cast<DWORD>(t->FSentHead.size() + t->FBodySize);
            group.Queue(&t->FOwner, INTERNET_STATUS_REQUEST_SENT, &sent, sizeof(sent));
            group.Queue(&t->FOwner, INTERNET_STATUS_RECEIVING_RESPONSE, nullptr, 0);
            t->FAwaitingResponse = false;
        }
        t->FTentative = false;
        t->FBuilding = ResponseHead();
        t->FBuilding.SetStatusLine(line);
        t->FBuilding.bytes = n;
        t->FInHead = true;
        return n;
    }
    if (!t->FInHead) return n;  // trailers of a chunked body
    t->FBuilding.bytes += n;
    if (line == "\r\n" || line == "\n") {
        t->FInHead = false;
        const DWORD status = t->FBuilding.status;
        if (status >= 100 && status < 200) return n;
        // libcurl answers a challenge itself when it has credentials; its
        // body is skipped and a new status line follows. Whether it will is
        // only known then, or when body bytes or the end arrive instead.
        if ((status == 401 || status == 407) && t->FExpectAuth) {
            t->FTentative = true;
            return n;
        }
        t->MakeFinal();
        return n;
    }
    t->FBuilding.AddLine(line);
    return n;
}

void Transfer::MakeFinal() {
    FFinal = std::move(FBuilding);
    FBuilding = ResponseHead();
    FHeadersFinal = true;
    FTentative = false;
    FInHead = false;
    const DWORD bytes = static_cast<DWORD>(FFinal.bytes);
    FGroup->Queue(&FOwner, INTERNET_STATUS_RESPONSE_RECEIVED, &bytes, sizeof(bytes));
    curl_tlssessioninfo* info = nullptr;
    if (curl_easy_getinfo(FEasy, CURLINFO_TLS_SSL_PTR, &info) == CURLE_OK && info &&
        info->backend == CURLSSLBACKEND_OPENSSL && info->internals)
        FTlsState = SECURITY_FLAG_SECURE | CipherStrength(info->internals);
}

// Body bytes. With a reader waiting they are copied straight into its
// buffer; once it holds bytes and the next piece does not fit, the transfer
// pauses and libcurl keeps that piece for the next read, so a steady reader
// gets every byte with one copy. Without a reader they go to the queue,
// and the transfer pauses instead of letting the queue grow past its limit.
// What libcurl hands back on resuming is taken whole (a pause then would
// make it hold and copy the rest again), so the queue stays below the limit
// plus one receive buffer.
std::size_t Transfer::OnWrite(char* data, std::size_t size, std::size_t count, void* self) {
    auto* t = static_cast<Transfer*>(self);
    const std::size_t n = size * count;
    t->Touch();
    if (!t->FHeadersFinal) t->MakeFinal();
    if (t->FDiscard) {
        t->FDiscarded += n;
        return n;
    }
    if (t->FTarget) {
        const std::size_t room = t->FTargetSize - t->FTargetFilled;
        if (n <= room) {
            std::memcpy(t->FTarget + t->FTargetFilled, data, n);
            t->FTargetFilled += n;
            return n;
        }
        if (t->FTargetFilled > 0 && !t->FResuming) {
            t->FPaused = true;
            return CURL_WRITEFUNC_PAUSE;
        }
        // A read smaller than the piece: what fits, the rest queued.
        std::memcpy(t->FTarget + t->FTargetFilled, data, room);
        t->FTargetFilled += room;
        t->FQueue.Push(data + room, n - room);
        return n;
    }
    const std::size_t queued = t->FQueue.Size();
    if (!t->FResuming && queued > 0 && queued + n > kQueueLimit) {
        t->FPaused = true;
        return CURL_WRITEFUNC_PAUSE;
    }
    t->FQueue.Push(data, n);
    return n;
}

// The request head as sent, and the lines of a proxy's answer to CONNECT
// (one line a call), which come before the request is sent through the
// tunnel.
int Transfer::OnDebug(CURL*, curl_infotype type, char* data, std::size_t size, void* self) {
    auto* t = static_cast<Transfer*>(self);
    const std::string_view text(data, size);
    if (type == CURLINFO_HEADER_OUT) {
        t->FInTunnel = text.substr(0, 8) == "CONNECT ";
        if (t->FInTunnel) t->FTunnelHead = ResponseHead();
        else t->FSentHead.assign(text);
    } else if (type == CURLINFO_HEADER_IN && t->FInTunnel) {
        if (text.substr(0, 5) == "HTTP/") {
            t->FTunnelHead = ResponseHead();
            t->FTunnelHead.SetStatusLine(text);
        } else if (text != "\r\n" && text != "\n") {
            t->FTunnelHead.AddLine(text);
        }
        t->FTunnelHead.bytes += size;
    }
    return 0;
}

// A new connection is being made: the name was resolved to `address`.
curl_socket_t Transfer::OnOpenSocket(void* self, curlsocktype purpose, curl_sockaddr* address) {
    if (purpose != CURLSOCKTYPE_IPCXN) return CURL_SOCKET_BAD;
    auto* t = static_cast<Transfer*>(self);
    const int fd = ::socket(address->family, address->socktype | SOCK_CLOEXEC, address->protocol);
    if (fd < 0) return CURL_SOCKET_BAD;
    TransferGroup& group = *t->FGroup;
    const std::string ip = AddressText(address);
    if (!t->FResolvedNotified) {
        group.QueueText(&t->FOwner, INTERNET_STATUS_RESOLVING_NAME, t->FHost);
        group.QueueAddress(&t->FOwner, INTERNET_STATUS_NAME_RESOLVED, ip);
        t->FResolvedNotified = true;
    }
    group.QueueAddress(&t->FOwner, INTERNET_STATUS_CONNECTING_TO_SERVER, ip);
    t->FNewConnection = true;
    return fd;
}

// The connection is ready (new or reused) and the request goes out next.
int Transfer::OnPrerequest(void* self, char* primaryIp, char*, int, int) {
    auto* t = static_cast<Transfer*>(self);
    TransferGroup& group = *t->FGroup;
    t->Touch();
    if (t->FNewConnection && !t->FConnectedNotified) {
        group.QueueAddress(&t->FOwner, INTERNET_STATUS_CONNECTED_TO_SERVER, primaryIp ? primaryIp : "");
        t->FConnectedNotified = true;
    }
    group.Queue(&t->FOwner, INTERNET_STATUS_SENDING_REQUEST, nullptr, 0);
    t->FConnected = true;
    t->FAwaitingResponse = true;
    return CURL_PREREQFUNC_OK;
}

CURLcode Transfer::OnSslContext(CURL*, void* sslContext, void* self) {
    auto* t = static_cast<Transfer*>(self);
    t->FCheck = PrepareTlsContext(sslContext, t->FHost, t->FGroup->IgnoreFlags());
    return CURLE_OK;
}

void Transfer::Finish(CURLcode result) {
    // A proxy that refused the tunnel (a 407 its credentials did not
    // satisfy, a 403, ...) answered the request, as it does a plain one:
    // its status and headers are the response, without a body.
    if (result != CURLE_OK && !FHeadersFinal && FTunnelHead.status >= 300) {
        FBuilding = std::move(FTunnelHead);
        FTunnelHead = ResponseHead();
        FTentative = true;
        result = CURLE_OK;
    }
    FDone = true;
    FResult = result;
    FPaused = false;
    if (!FHeadersFinal && (FTentative || (result == CURLE_OK && FBuilding.status != 0))) MakeFinal();
}

DWORD Transfer::ResultError() const {
    if (FAbortError != ERROR_SUCCESS) return FAbortError;
    return CurlError(FResult, FCheck.get());
}

bool Transfer::Satisfied(Want want) const {
    switch (want) {
    case Want::Headers:
        return FHeadersFinal;
    case Want::Data:
        return FTargetFilled > 0 || !FQueue.Empty();
    case Want::End:
        return FDiscarded > FDiscardLimit;
    }
    return true;
}

// Runs libcurl until `want` holds, the transfer ends, the owner is closed or
// the connection has been idle for longer than the timeout that applies.
// Called and returns with the group's lock held; releases it only while it
// delivers notifications.
DWORD Transfer::Pump(std::unique_lock<std::mutex>& lock, TransferGroup& group, Want want) {
    for (;;) {
        if (Satisfied(want) || FDone) return ERROR_SUCCESS;
        if (FOwner.IsClosed() || !FAttached || !group.FMulti) return ERROR_INTERNET_OPERATION_CANCELLED;
        group.FCurrent = &FOwner;
        if (FPaused && FQueue.Size() <= kQueueLimit / 2) {
            FPaused = false;
            FResuming = true;
            curl_easy_pause(FEasy, CURLPAUSE_CONT);
            FResuming = false;
        }
        int running = 0;
        const CURLMcode code = curl_multi_perform(group.FMulti, &running);
        group.CollectDone();
        group.FCurrent = nullptr;
        if (!group.FEvents.empty()) {
            std::vector<StatusEvent> events = group.TakeEvents();
            lock.unlock();
            DeliverEvents(events);
            lock.lock();
            continue;
        }
        if (code != CURLM_OK) return ERROR_INTERNET_INTERNAL_ERROR;
        if (Satisfied(want) || FDone) continue;

        int waitMs = 1000;
        if (FConnected) {
            // Sending the body is bounded by the send timeout, waiting for
            // the response and its body by the receive timeout.
            DWORD limit = FTimeouts.receive;
            if (!FHeadersFinal && FBodySize > 0) {
                curl_off_t uploaded = 0;
                curl_easy_getinfo(FEasy, CURLINFO_SIZE_UPLOAD_T, &uploaded);
                if (static_cast<std::size_t>(uploaded) < FBodySize) limit = FTimeouts.send;
            }
            if (IsLimited(limit)) {
                const auto idle = std::chrono::duration_cast<std::chrono::milliseconds>(
                                      std::chrono::steady_clock::now() - FLastActivity)
                                      .count();
                if (idle >= static_cast<long long>(limit)) {
                    FAbortError = ERROR_INTERNET_TIMEOUT;
                    std::vector<StatusEvent> events;
                    ReleaseLocked(events);
                    lock.unlock();
                    DeliverEvents(events);
                    lock.lock();
                    return ERROR_INTERNET_TIMEOUT;
                }
                waitMs = static_cast<int>(std::min<long long>(waitMs, limit - idle));
            }
        }
        curl_multi_poll(group.FMulti, nullptr, 0, waitMs, nullptr);
    }
}

DWORD Transfer::WaitForHeaders() {
    std::shared_ptr<TransferGroup> group;
    auto lock = LockGroup(group);
    if (!group) return ERROR_INTERNET_INCORRECT_HANDLE_STATE;
    const DWORD error = Pump(lock, *group, Want::Headers);
    if (error != ERROR_SUCCESS) return error;
    if (FHeadersFinal) return ERROR_SUCCESS;
    const DWORD failure = ResultError();
    return failure != ERROR_SUCCESS ? failure : ERROR_HTTP_INVALID_SERVER_RESPONSE;
}

void Transfer::Discard(std::size_t limit) {
    std::shared_ptr<TransferGroup> group;
    std::vector<StatusEvent> events;
    {
        auto lock = LockGroup(group);
        if (!group) return;
        FDiscard = true;
        FDiscardLimit = limit;
        FDiscarded = FQueue.Size();
        FQueue.Clear();
        Pump(lock, *group, Want::End);
        ReleaseLocked(events);
    }
    DeliverEvents(events);
}

DWORD Transfer::Available(DWORD* available) {
    *available = 0;
    std::shared_ptr<TransferGroup> group;
    auto lock = LockGroup(group);
    if (!group) return ERROR_INTERNET_INCORRECT_HANDLE_STATE;
    if (FQueue.Empty() && !FDone) {
        const DWORD error = Pump(lock, *group, Want::Data);
        if (error != ERROR_SUCCESS) return error;
    }
    if (!FQueue.Empty()) {
        *available = static_cast<DWORD>(std::min<std::size_t>(FQueue.Size(), std::numeric_limits<DWORD>::max()));
        return ERROR_SUCCESS;
    }
    return ResultError();
}

// Queued bytes first; with none queued, the reader's buffer becomes the
// transfer's target, so libcurl's bytes are copied once, straight into it.
DWORD Transfer::Read(void* buffer, DWORD size, DWORD* read) {
    *read = 0;
    std::shared_ptr<TransferGroup> group;
    auto lock = LockGroup(group);
    if (!group) return ERROR_INTERNET_INCORRECT_HANDLE_STATE;
    if (size == 0) return ERROR_SUCCESS;
    if (!FQueue.Empty()) {
        *read = static_cast<DWORD>(FQueue.Pop(static_cast<char*>(buffer), size));
        return ERROR_SUCCESS;
    }
    if (FDone) return ResultError();

    FTarget = static_cast<char*>(buffer);
    FTargetSize = size;
    FTargetFilled = 0;
    const DWORD error = Pump(lock, *group, Want::Data);
    std::size_t got = FTargetFilled;
    FTarget = nullptr;
    FTargetSize = FTargetFilled = 0;
    if (got == 0) got = FQueue.Pop(static_cast<char*>(buffer), size);
    *read = static_cast<DWORD>(got);
    if (got > 0) return ERROR_SUCCESS;
    if (error != ERROR_SUCCESS) return error;
    return ResultError();
}

// Takes the easy handle out of the multi handle (which closes its connection
// when the transfer is unfinished) and keeps it for the group's next
// request. The received state stays for reading.
void Transfer::ReleaseLocked(std::vector<StatusEvent>& events) {
    TransferGroup& group = *FGroup;
    if (FEasy) {
        Handle* previous = group.FCurrent;
        group.FCurrent = previous ? previous : &FOwner;
        if (FAttached && group.FMulti) curl_multi_remove_handle(group.FMulti, FEasy);
        group.FCurrent = previous;
        if (group.FMulti && group.FSpare.size() < 4) {
            curl_easy_reset(FEasy);
            group.FSpare.push_back(FEasy);
        } else {
            curl_easy_cleanup(FEasy);
        }
        FEasy = nullptr;
    }
    FAttached = false;
    FPaused = false;
    if (!FDone) {
        FDone = true;
        if (FAbortError == ERROR_SUCCESS) FAbortError = ERROR_INTERNET_OPERATION_CANCELLED;
    }
    if (FHeaderList) curl_slist_free_all(FHeaderList);
    FHeaderList = nullptr;
    std::vector<StatusEvent> more = group.TakeEvents();
    for (StatusEvent& event : more) events.push_back(std::move(event));
}

void Transfer::Release() {
    std::shared_ptr<TransferGroup> group;
    std::vector<StatusEvent> events;
    {
        // A wait on another thread holds the group's lock while it polls:
        // wake it, so it sees that its owner is closing and lets go.
        {
            std::lock_guard<std::mutex> lock(FGroupMutex);
            if (FGroup && FGroup->FMulti) curl_multi_wakeup(FGroup->FMulti);
        }
        auto lock = LockGroup(group);
        if (!group) return;
        ReleaseLocked(events);
    }
    DeliverEvents(events);
}

bool Transfer::HasResponse() {
    std::shared_ptr<TransferGroup> group;
    auto lock = LockGroup(group);
    return group && FHeadersFinal;
}

ResponseHead Transfer::Response() {
    std::shared_ptr<TransferGroup> group;
    auto lock = LockGroup(group);
    return group ? FFinal : ResponseHead();
}

std::string Transfer::SentHead() {
    std::shared_ptr<TransferGroup> group;
    auto lock = LockGroup(group);
    return group ? FSentHead : std::string();
}

DWORD Transfer::TlsState() {
    std::shared_ptr<TransferGroup> group;
    auto lock = LockGroup(group);
    return group ? FTlsState : 0;
}

}  // namespace Corvane::Backend
