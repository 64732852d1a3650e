// libcurl's multi interface driven in pull mode: transfers, their callbacks
// and their bounded body buffers.
#include "posix/http/Transfer.h"

#include "posix/async/Workers.h"

#include "posix/http/CurlMemory.h"
#include "posix/text/Utf.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>

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

// The local port a socket is bound to, or -1.
int LocalPort(curl_socket_t socket) {
    sockaddr_storage address{};
    socklen_t size = sizeof(address);
    if (::getsockname(socket, reinterpret_cast<sockaddr*>(&address), &size) != 0) return -1;
    if (address.ss_family == AF_INET) return ntohs(reinterpret_cast<const sockaddr_in*>(&address)->sin_port);
    if (address.ss_family == AF_INET6)
        return ntohs(reinterpret_cast<const sockaddr_in6*>(&address)->sin6_port);
    return -1;
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

// The Internet error for an option libcurl refused.
DWORD OptionError(CURLcode result) {
    switch (result) {
    case CURLE_OUT_OF_MEMORY:
        return ERROR_NOT_ENOUGH_MEMORY;
    case CURLE_BAD_FUNCTION_ARGUMENT:
        return ERROR_INVALID_PARAMETER;
    default:
        return ERROR_INTERNET_INTERNAL_ERROR;
    }
}

DWORD MultiError(CURLMcode result) {
    return result == CURLM_OUT_OF_MEMORY ? ERROR_NOT_ENOUGH_MEMORY : ERROR_INTERNET_INTERNAL_ERROR;
}

// The options of one easy handle, set one by one; the first that libcurl
// refuses is kept.
class EasyOptions {
public:
    explicit EasyOptions(CURL* easy) : FEasy(easy) {}
    template <typename T>
    void Set(CURLoption option, T value) {
        const CURLcode result = curl_easy_setopt(FEasy, option, value);
        if (FResult == CURLE_OK) FResult = result;
    }
    CURLcode Result() const { return FResult; }

private:
    CURL* FEasy;
    CURLcode FResult = CURLE_OK;
};

}  // namespace

// ---------------------------------------------------------------------------
// TransferGroup

// The use of the multi handle for as long as the object lives, taken and
// given back with the group's lock held. Taking it wakes the thread that
// has it (which lets go before it polls again) and waits.
class TransferGroup::Use {
public:
    Use(TransferGroup& group, std::unique_lock<std::mutex>& lock) : FGroup(group), FLock(lock) {
        ++group.FWantUse;
        while (group.FBusy) {
            curl_multi_wakeup(group.FMulti);
            group.FChanged.wait(lock);
        }
        --group.FWantUse;
        group.FBusy = true;
    }
    ~Use() {
        if (!FLock.owns_lock()) FLock.lock();
        FGroup.FBusy = false;
        FGroup.FChanged.notify_all();
        FGroup.WakeSleepers(true);
    }
    Use(const Use&) = delete;
    Use& operator=(const Use&) = delete;

private:
    TransferGroup& FGroup;
    std::unique_lock<std::mutex>& FLock;
};

namespace {

// The group whose round of libcurl this thread runs with the group's lock
// let go (TransferGroup::Perform). libcurl calls back from other calls too
// (a paused transfer resumed, an easy handle removed, the multi handle
// cleaned up), and the caller holds the lock then.
thread_local TransferGroup* tPerforming = nullptr;

}  // namespace

// The group's lock for the body of one of libcurl's callbacks, unless the
// thread holds it already (a callback from any libcurl call but
// curl_multi_perform).
class TransferGroup::CallbackLock {
public:
    CallbackLock() : FGroup(tPerforming) {
        if (FGroup) FGroup->FMutex.lock();
    }
    ~CallbackLock() {
        if (FGroup) FGroup->FMutex.unlock();
    }
    CallbackLock(const CallbackLock&) = delete;
    CallbackLock& operator=(const CallbackLock&) = delete;

private:
    TransferGroup* FGroup;
};

CURLMcode TransferGroup::Perform(std::unique_lock<std::mutex>& lock, int* running) {
    lock.unlock();
    tPerforming = this;
    const CURLMcode code = curl_multi_perform(FMulti, running);
    tPerforming = nullptr;
    lock.lock();
    return code;
}

TransferGroup::TransferGroup(DWORD ignoreFlags, long maxConnections) : FIgnoreFlags(ignoreFlags) {
    EnsureCurl();
    FSpare.reserve(kSpareHandles);
    FMulti = curl_multi_init();
    if (FMulti && (curl_multi_setopt(FMulti, CURLMOPT_MAX_HOST_CONNECTIONS, maxConnections) != CURLM_OK ||
                   curl_multi_setopt(FMulti, CURLMOPT_MAXCONNECTS, maxConnections) != CURLM_OK)) {
        curl_multi_cleanup(FMulti);
        FMulti = nullptr;
    }
    FLastUse = std::chrono::steady_clock::now();
}

// Every transfer has let go of the group (each holds it): the cached
// connections close, and nobody hears of it.
TransferGroup::~TransferGroup() {
    for (CURL* easy : FSpare) curl_easy_cleanup(easy);
    if (FMulti) curl_multi_cleanup(FMulti);
}

bool TransferGroup::IdleSince(std::chrono::steady_clock::time_point since) {
    std::lock_guard<std::mutex> lock(FMutex);
    return FAttached.empty() && !FBusy && FLastUse <= since;
}

void TransferGroup::CollectDone() {
    int left = 0;
    while (CURLMsg* message = curl_multi_info_read(FMulti, &left)) {
        if (message->msg != CURLMSG_DONE) continue;
        char* owner = nullptr;
        curl_easy_getinfo(message->easy_handle, CURLINFO_PRIVATE, &owner);
        if (!owner) continue;
        auto* t = reinterpret_cast<Transfer*>(owner);
        t->Finish(message->data.result);
        if (t->FResult == CURLE_OK && t->FAbortError == ERROR_SUCCESS) t->Detach();
    }
}

void TransferGroup::WakeSleepers(bool all) {
    for (Transfer* t : FAttached)
        if (t->FSleeping && (all || t->HasNews())) t->FWake.notify_one();
    if (all)
        for (Transfer* t : FToAdd)
            if (t->FSleeping) t->FWake.notify_one();
    if (FCalls > 0) TakeReadyCalls();
    if (FDriverSleeping && (all || !FFired.empty())) FDriverWake.notify_one();
}

void TransferGroup::TakeReadyCalls() {
    for (Transfer* t : FAttached)
        if (t->FHeadersFinal || t->FDone || t->FOwner.IsClosed()) t->MakeCallDue();
}

// Adds the easy handles of the hops started while this thread had the
// multi handle (room in FAttached was reserved by Start). One that libcurl
// refuses ends its hop with the error.
void TransferGroup::AddPending() {
    for (Transfer* t : FToAdd) {
        t->FPendingAdd = false;
        const CURLMcode added = curl_multi_add_handle(FMulti, t->FEasy);
        if (added == CURLM_OK) {
            FAttached.push_back(t);
            continue;
        }
        std::vector<StatusEvent> kept;
        t->FAbortError = MultiError(added);
        t->FAttached = false;  // nothing to take out of the multi handle
        t->ReleaseLocked(kept);
        t->FEvents.swap(kept);  // still for its reader
    }
    FToAdd.clear();
}

// Ends the hops of transfers waiting with a call whose time is up (or, with
// `failed`, every one: libcurl could not run), as a thread waiting on its
// own transfer would; their notifications stay queued for the thread that
// goes on with them, so no application code runs here. Returns when the
// next of them is due. Called by the thread that runs libcurl, with the
// multi handle.
std::chrono::steady_clock::time_point TransferGroup::EndWaits(std::chrono::steady_clock::time_point now,
                                                              CURLMcode failed) {
    std::chrono::steady_clock::time_point next = now + std::chrono::seconds(1);
    if (FCalls == 0) return next;
    for (std::size_t i = 0; i < FAttached.size();) {
        Transfer* t = FAttached[i];
        if (t->FOnHeaders && !t->FHeadersFinal && !t->FDone) {
            const std::chrono::steady_clock::time_point deadline = t->Deadline();
            if (failed != CURLM_OK || now >= deadline) {
                t->FAbortError = failed != CURLM_OK ? MultiError(failed) : ERROR_INTERNET_TIMEOUT;
                // Released into an empty list, which takes the queue whole
                // (no allocation), and back.
                std::vector<StatusEvent> kept;
                t->ReleaseLocked(kept);  // takes it out of FAttached
                t->FEvents.swap(kept);
                continue;
            }
            next = std::min(next, deadline);
        }
        ++i;
    }
    return next;
}

// The driver: while transfers wait with a call, it makes the calls whose
// wait is over, and runs libcurl for the group whenever no other thread
// does (a thread that waits on a transfer of its own may; the driver then
// sleeps, and is woken when that thread lets go or a call is due). It lets
// go of the multi handle for whoever asks for it, and fails a waiting
// transfer whose time is up as a waiting thread would.
void TransferGroup::Drive(const std::shared_ptr<TransferGroup>& self) noexcept {
    TransferGroup& group = *self;
    std::unique_lock<std::mutex> lock(group.FMutex);
    bool pumping = false;
    const auto letGo = [&] {
        if (!pumping) return;
        pumping = false;
        group.FBusy = false;
        group.FChanged.notify_all();
        group.WakeSleepers(true);
    };
    for (;;) {
        group.TakeReadyCalls();
        if (!group.FFired.empty() || group.FCalls == 0 || group.FWantUse > 0) letGo();
        if (!group.FFired.empty()) {
            std::function<void()> call = std::move(group.FFired.back());
            group.FFired.pop_back();
            --group.FCalls;
            lock.unlock();
            try {
                call();
            } catch (...) {
                // The call only hands the rest of the operation to a worker.
            }
            call = nullptr;
            lock.lock();
            continue;
        }
        if (group.FCalls == 0) {
            group.FDriving = false;
            return;
        }
        if (!pumping) {
            if (group.FBusy || group.FWantUse > 0) {
                group.FDriverSleeping = true;
                group.FDriverWake.wait_for(lock, std::chrono::seconds(1));
                group.FDriverSleeping = false;
                continue;
            }
            group.FBusy = true;
            pumping = true;
        }
        group.AddPending();
        group.ResumePaused();
        int running = 0;
        const CURLMcode code = group.Perform(lock, &running);
        group.CollectDone();
        const Transfer::Clock::time_point now = Transfer::Clock::now();
        const Transfer::Clock::time_point wakeAt = group.EndWaits(now, code);
        group.WakeSleepers(false);
        if (group.FWantUse > 0) group.FChanged.notify_all();
        if (!group.FFired.empty() || group.FWantUse > 0) continue;
        const auto waitMs = std::chrono::duration_cast<std::chrono::milliseconds>(wakeAt - now).count();
        lock.unlock();
        curl_multi_poll(group.FMulti, nullptr, 0, static_cast<int>(std::max<long long>(waitMs, 1)), nullptr);
        lock.lock();
    }
}

// Lets every paused transfer whose queue has drained to half its limit
// receive again, whichever thread waits for it.
void TransferGroup::ResumePaused() {
    for (Transfer* t : FAttached) {
        if (!t->FPaused || t->FQueue.Size() > Transfer::kQueueLimit / 2) continue;
        t->FPaused = false;
        t->FResuming = true;
        curl_easy_pause(t->FEasy, CURLPAUSE_CONT);
        t->FResuming = false;
    }
}

// Called by libcurl for every socket of the group's connections, also when
// the cache closes an idle one; the group outlives all of them. The closing
// is reported to the request whose unfinished exchange used the connection
// (it closes it, by ending or by being closed), else to nobody.
int TransferGroup::CloseSocket(void* self, curl_socket_t socket) noexcept {
    auto* group = static_cast<TransferGroup*>(self);
    const TransferGroup::CallbackLock locked;
    Transfer* user = nullptr;
    const int port = LocalPort(socket);
    for (Transfer* t : group->FAttached)
        if (!t->FDone && (t->FSocket == socket || (port >= 0 && t->FLocalPort == port))) user = t;
    if (user) {
        try {
            user->Queue(INTERNET_STATUS_CLOSING_CONNECTION);
        } catch (...) {
            // The notice is lost; the socket is closed all the same.
        }
        user->FSocket = CURL_SOCKET_BAD;
    }
    const int result = ::close(socket);
    if (user) {
        try {
            user->Queue(INTERNET_STATUS_CONNECTION_CLOSED);
        } catch (...) {}
    }
    return result;
}

// ---------------------------------------------------------------------------
// Transfer

Transfer::Transfer(Handle& owner) : FOwner(owner) {}

// The owner is being destroyed: nothing is reported any more.
Transfer::~Transfer() {
    try {
        std::shared_ptr<TransferGroup> group;
        auto lock = LockGroup(group);
        if (!group) return;
        std::vector<StatusEvent> dropped;
        ReleaseUsing(*group, lock, dropped);
    } catch (...) {
        // Only the notices can fail to be made, and they are dropped anyway.
    }
}

Transfer::Caller::Caller(Transfer& transfer) : FTransfer(transfer) {
    if (transfer.FCaller.load() == std::this_thread::get_id()) return;
    transfer.FCallMutex.lock();
    transfer.FCaller.store(std::this_thread::get_id());
    FEntered = true;
}

Transfer::Caller::~Caller() {
    if (!FEntered) return;
    FTransfer.FCaller.store(std::thread::id());
    FTransfer.FCallMutex.unlock();
}

// The lock of the transfer's current group; a hop that moves the transfer
// to another group meanwhile is noticed, and that group's lock taken.
std::unique_lock<std::mutex> Transfer::LockGroup(std::shared_ptr<TransferGroup>& group) {
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(FGroupMutex);
            group = FGroup;
        }
        if (!group) return {};
        std::unique_lock<std::mutex> lock(group->FMutex);
        std::lock_guard<std::mutex> check(FGroupMutex);
        if (FGroup == group) return lock;
    }
}

// Room is made first, so that once the event holds a reference to the
// handle nothing can fail and drop it here (see MakeEvent).
void Transfer::RoomForEvent() {
    if (FEvents.size() == FEvents.capacity())
        FEvents.reserve(std::max<std::size_t>(8, FEvents.capacity() * 2));
}

void Transfer::Queue(DWORD status, const void* data, std::size_t size) {
    RoomForEvent();
    StatusEvent event = MakeEvent(FOwner, status, data, size);
    if (event.target) FEvents.push_back(std::move(event));
}

void Transfer::QueueText(DWORD status, const std::string& text) {
    RoomForEvent();
    StatusEvent event = MakeTextEvent(FOwner, status, text);
    if (event.target) FEvents.push_back(std::move(event));
}

void Transfer::QueueAddress(DWORD status, const std::string& address) {
    RoomForEvent();
    StatusEvent event = MakeAddressEvent(FOwner, status, address);
    if (event.target) FEvents.push_back(std::move(event));
}

void Transfer::TakeEvents(std::vector<StatusEvent>& events) {
    if (events.empty()) {
        events.swap(FEvents);
        return;
    }
    for (StatusEvent& event : FEvents) events.push_back(std::move(event));
    FEvents.clear();
}

DWORD Transfer::Start(const std::shared_ptr<TransferGroup>& group, const HopConfig& hop) {
    if (!group || !group->IsValid()) return ERROR_NOT_ENOUGH_MEMORY;
    std::vector<StatusEvent> events;
    {
        // The previous hop lets go of its easy handle (and libcurl of its
        // body) before anything of this one is set; the switch to the new
        // group happens under the old group's lock.
        std::shared_ptr<TransferGroup> previous;
        auto lock = LockGroup(previous);
        if (previous) {
            ReleaseUsing(*previous, lock, events);
        }
        std::lock_guard<std::mutex> switching(FGroupMutex);
        FGroup = group;
    }
    DeliverEvents(events);

    std::unique_lock<std::mutex> lock(group->FMutex);
    if (FOwner.IsClosed()) return ERROR_INTERNET_OPERATION_CANCELLED;
    const bool spare = !group->FSpare.empty();
    if (spare) {
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
    FFailed = false;
    FSentHead.clear();
    FAwaitingResponse = FResolvedNotified = FNewConnection = FConnectedNotified = FConnected = false;
    FSocket = CURL_SOCKET_BAD;
    FLocalPort = -1;
    FCheck.reset();
    FTlsState = 0;
    FQueue.Clear();
    FTarget = nullptr;
    FTargetSize = FTargetFilled = 0;
    FPaused = FResuming = FDiscard = false;
    FDiscarded = 0;
    FHost = hop.host;
    FBody = hop.body;
    FBodySize = hop.body ? hop.body->size() : 0;
    FUploaded = 0;
    FExpectAuth = hop.useCredentials;
    FTimeouts = hop.timeouts;

    CURLcode configured = Configure(hop);
    if (configured != CURLE_OK && spare) {
        // A kept handle that refuses an option still holds state of its
        // last transfer: a fresh one instead.
        curl_easy_cleanup(FEasy);
        FEasy = curl_easy_init();
        configured = FEasy ? Configure(hop) : CURLE_OUT_OF_MEMORY;
    }
    DWORD error = configured == CURLE_OK ? ERROR_SUCCESS : OptionError(configured);
    if (error == ERROR_SUCCESS) {
        // Room first, so that listing the transfer once libcurl has it
        // cannot fail.
        group->FAttached.reserve(group->FAttached.size() + group->FToAdd.size() + 1);
        group->FToAdd.reserve(group->FToAdd.size() + 1);
        if (group->FBusy) {
            // Another thread runs libcurl: it adds the easy handle before
            // its next round (AddPending), woken from its poll for it,
            // rather than this thread waiting for the multi handle.
            group->FToAdd.push_back(this);
            FPendingAdd = true;
            curl_multi_wakeup(group->FMulti);
        } else {
            TransferGroup::Use use(*group, lock);
            // While this waited for the multi handle, a close of the request
            // may have released the easy handle (Release).
            if (FOwner.IsClosed() || !FEasy) {
                error = ERROR_INTERNET_OPERATION_CANCELLED;
            } else if (const CURLMcode added = curl_multi_add_handle(group->FMulti, FEasy);
                       added != CURLM_OK) {
                error = MultiError(added);
            } else {
                group->FAttached.push_back(this);
            }
        }
    }
    if (error != ERROR_SUCCESS) {
        if (FEasy) curl_easy_cleanup(FEasy);
        FEasy = nullptr;
        if (FHeaderList) curl_slist_free_all(FHeaderList);
        FHeaderList = nullptr;
        FBody.reset();
        return error;
    }
    FAttached = true;
    FStarted = group->FLastUse = Clock::now();
    Touch();
    return ERROR_SUCCESS;
}

// Every option of one hop, set afresh on a reset easy handle; the first
// that libcurl refuses is returned.
CURLcode Transfer::Configure(const HopConfig& hop) {
    EasyOptions options(FEasy);
    options.Set(CURLOPT_URL, hop.url.c_str());
    options.Set(CURLOPT_PRIVATE, reinterpret_cast<char*>(this));
    options.Set(CURLOPT_NOSIGNAL, 1L);
    options.Set(CURLOPT_PROTOCOLS_STR, "http,https");
    options.Set(CURLOPT_HTTP_VERSION, hop.http10 ? long(CURL_HTTP_VERSION_1_0) : long(CURL_HTTP_VERSION_1_1));
    options.Set(CURLOPT_PATH_AS_IS, 1L);
    options.Set(CURLOPT_FOLLOWLOCATION, 0L);
    options.Set(CURLOPT_HEADERFUNCTION, &Transfer::OnHeader);
    options.Set(CURLOPT_HEADERDATA, this);
    options.Set(CURLOPT_WRITEFUNCTION, &Transfer::OnWrite);
    options.Set(CURLOPT_WRITEDATA, this);
    // The debug stream is the one place libcurl shows the request head as
    // sent (HTTP_QUERY_FLAG_REQUEST_HEADERS reads it).
    options.Set(CURLOPT_DEBUGFUNCTION, &Transfer::OnDebug);
    options.Set(CURLOPT_DEBUGDATA, this);
    options.Set(CURLOPT_VERBOSE, 1L);
    // Progress: bytes of the body going out count as activity, so an
    // upload that moves never times out.
    options.Set(CURLOPT_XFERINFOFUNCTION, &Transfer::OnProgress);
    options.Set(CURLOPT_XFERINFODATA, this);
    options.Set(CURLOPT_NOPROGRESS, 0L);
    options.Set(CURLOPT_OPENSOCKETFUNCTION, &Transfer::OnOpenSocket);
    options.Set(CURLOPT_OPENSOCKETDATA, this);
    options.Set(CURLOPT_CLOSESOCKETFUNCTION, &TransferGroup::CloseSocket);
    options.Set(CURLOPT_CLOSESOCKETDATA, FGroup.get());
    options.Set(CURLOPT_PREREQFUNCTION, &Transfer::OnPrerequest);
    options.Set(CURLOPT_PREREQDATA, this);
    options.Set(CURLOPT_BUFFERSIZE, long(kChunk));
    options.Set(CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
    // An idle connection older than this is closed rather than reused (the
    // pool drops whole groups idle that long).
    options.Set(CURLOPT_MAXAGE_CONN, TransferGroup::kIdleSeconds);
    // An empty proxy also keeps libcurl from taking one from the environment,
    // and an empty exception list keeps it from reading NO_PROXY: the session
    // and its bypass list decide.
    options.Set(CURLOPT_PROXY, hop.proxy.c_str());
    options.Set(CURLOPT_NOPROXY, "");
    FTunnelHead = ResponseHead();
    FInTunnel = false;
    if (!hop.proxyUser.empty()) {
        options.Set(CURLOPT_PROXYUSERNAME, hop.proxyUser.c_str());
        options.Set(CURLOPT_PROXYPASSWORD, hop.proxyPassword.c_str());
        options.Set(CURLOPT_PROXYAUTH, long(CURLAUTH_BASIC | CURLAUTH_DIGEST | CURLAUTH_NTLM));
        // libcurl answers the proxy's 407 itself, as it does a 401.
        FExpectAuth = true;
    }
    options.Set(CURLOPT_CONNECTTIMEOUT_MS,
                !IsLimited(hop.timeouts.connect) ? 0L : long(hop.timeouts.connect));
    if (!hop.userAgent.empty()) options.Set(CURLOPT_USERAGENT, hop.userAgent.c_str());

    // A HEAD response never has a body, whatever the request carried or the
    // response declares; a HEAD request sends none.
    const std::string& verb = hop.verb;
    const bool carriesBody =
        verb != "HEAD" && (hop.body || verb == "POST" || verb == "PUT" || verb == "PATCH");
    if (verb == "HEAD") {
        options.Set(CURLOPT_NOBODY, 1L);
    } else if (carriesBody) {
        static const char kEmpty[] = "";
        options.Set(CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(hop.body ? hop.body->size() : 0));
        options.Set(CURLOPT_POSTFIELDS, hop.body ? hop.body->data() : kEmpty);
        if (verb != "POST") options.Set(CURLOPT_CUSTOMREQUEST, verb.c_str());
    } else {
        options.Set(CURLOPT_HTTPGET, 1L);
        if (verb != "GET") options.Set(CURLOPT_CUSTOMREQUEST, verb.c_str());
    }

    if (FHeaderList) curl_slist_free_all(FHeaderList);
    FHeaderList = nullptr;
    for (const std::string& line : hop.headers) {
        curl_slist* next = curl_slist_append(FHeaderList, line.c_str());
        if (!next) return CURLE_OUT_OF_MEMORY;  // a header left out would change the request
        FHeaderList = next;
    }
    options.Set(CURLOPT_HTTPHEADER, FHeaderList);

    if (hop.useCredentials) {
        options.Set(CURLOPT_USERNAME, hop.user.c_str());
        options.Set(CURLOPT_PASSWORD, hop.password.c_str());
        options.Set(CURLOPT_HTTPAUTH, long(CURLAUTH_BASIC | CURLAUTH_DIGEST | CURLAUTH_NTLM));
    }

    // Certificates: libcurl checks the chain; the context hook hands the
    // name check to OpenSSL and adds the security flags, so libcurl's own
    // name check is off. That needs libcurl's TLS library to be the
    // backend's OpenSSL: with any other, HTTPS is refused before a transfer
    // starts (HttpRequest), and libcurl's name check stays on here all the
    // same.
    options.Set(CURLOPT_SSL_VERIFYPEER, 1L);
    // No TLS session resumption: a resumed session skips the certificate
    // checks that this request's flags may want.
    options.Set(CURLOPT_SSL_SESSIONID_CACHE, 0L);
    if (TlsLibraryUsable() &&
        curl_easy_setopt(FEasy, CURLOPT_SSL_CTX_FUNCTION, &Transfer::OnSslContext) == CURLE_OK) {
        options.Set(CURLOPT_SSL_CTX_DATA, this);
        options.Set(CURLOPT_SSL_VERIFYHOST, 0L);
    } else {
        options.Set(CURLOPT_SSL_VERIFYHOST, 2L);
    }
    if (const std::string file = TrustFileFromEnvironment(); !file.empty())
        options.Set(CURLOPT_CAINFO, file.c_str());
    if (const std::string dir = TrustDirectoryFromEnvironment(); !dir.empty())
        options.Set(CURLOPT_CAPATH, dir.c_str());
    return options.Result();
}

// A callback's body: what it throws (an allocation that failed, in
// practice) ends the transfer. The error is kept for the caller and libcurl
// gets `failure`, its way of ending a transfer from that callback. A body
// takes the group's lock (CallbackLock) for what it changes that other
// threads read; what only the thread running libcurl touches (the head
// being built, the proxy's answer, the connection's progress) needs none.
template <typename Result, typename Body>
Result Transfer::InCallback(Transfer& t, Result failure, Body&& body) noexcept {
    DWORD error = ERROR_SUCCESS;
    try {
        return body();
    } catch (const std::bad_alloc&) {
        error = ERROR_NOT_ENOUGH_MEMORY;
    } catch (...) {
        error = ERROR_INTERNET_INTERNAL_ERROR;
    }
    const TransferGroup::CallbackLock locked;
    t.Fail(error);
    return failure;
}

void Transfer::Fail(DWORD error) noexcept {
    if (FAbortError == ERROR_SUCCESS) FAbortError = error;
    FFailed = true;
}

// Header lines of every response of the hop (interim 1xx ones, a 401 that
// libcurl answers itself, the final one). A block starts with its status
// line and ends with an empty line; a line starting "HTTP/" inside a block
// is an ordinary (malformed) header line there, as it is to libcurl.
std::size_t Transfer::OnHeader(char* data, std::size_t size, std::size_t count, void* self) noexcept {
    auto* t = static_cast<Transfer*>(self);
    const std::size_t n = size * count;
    return InCallback(*t, std::size_t(0), [&]() -> std::size_t {
        const std::string_view line(data, n);
        t->Touch();
        if (!t->FInHead) {
            if (line.substr(0, 5) != "HTTP/") return n;  // trailers of a chunked body
            if (t->FHeadersFinal) return n;
            if (t->FAwaitingResponse) {
                const TransferGroup::CallbackLock locked;
                const DWORD sent = static_cast<DWORD>(t->FSentHead.size() + t->FBodySize);
                t->Queue(INTERNET_STATUS_REQUEST_SENT, &sent, sizeof(sent));
                t->Queue(INTERNET_STATUS_RECEIVING_RESPONSE);
                t->FAwaitingResponse = false;
            }
            t->FTentative = false;
            t->FBuilding = ResponseHead();
            t->FBuilding.SetStatusLine(line);
            t->FBuilding.bytes = n;
            t->FInHead = true;
            return n;
        }
        t->FBuilding.bytes += n;
        if (line == "\r\n" || line == "\n") {
            t->FInHead = false;
            const DWORD status = t->FBuilding.status;
            if (status >= 100 && status < 200) return n;
            // libcurl answers a challenge itself when it has credentials; its
            // body is skipped and a new status line follows. Whether it will
            // is only known then, or when body bytes or the end arrive
            // instead.
            if ((status == 401 || status == 407) && t->FExpectAuth) {
                t->FTentative = true;
                return n;
            }
            const TransferGroup::CallbackLock locked;
            t->MakeFinal();
            return n;
        }
        t->FBuilding.AddLine(line);
        return n;
    });
}

void Transfer::MakeFinal() {
    FFinal = std::move(FBuilding);
    FBuilding = ResponseHead();
    FHeadersFinal = true;
    FTentative = false;
    FInHead = false;
    const DWORD bytes = static_cast<DWORD>(FFinal.bytes);
    Queue(INTERNET_STATUS_RESPONSE_RECEIVED, &bytes, sizeof(bytes));
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
std::size_t Transfer::OnWrite(char* data, std::size_t size, std::size_t count, void* self) noexcept {
    auto* t = static_cast<Transfer*>(self);
    const std::size_t n = size * count;
    return InCallback(*t, std::size_t(CURL_WRITEFUNC_ERROR), [&]() -> std::size_t {
        const TransferGroup::CallbackLock locked;
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
            t->FQueue.Push(data + room, n - room);
            std::memcpy(t->FTarget + t->FTargetFilled, data, room);
            t->FTargetFilled += room;
            return n;
        }
        const std::size_t queued = t->FQueue.Size();
        if (!t->FResuming && queued > 0 && queued + n > kQueueLimit) {
            t->FPaused = true;
            return CURL_WRITEFUNC_PAUSE;
        }
        t->FQueue.Push(data, n);
        return n;
    });
}

// The request head as sent, and the lines of a proxy's answer to CONNECT
// (one line a call), which come before the request is sent through the
// tunnel.
int Transfer::OnDebug(CURL*, curl_infotype type, char* data, std::size_t size, void* self) noexcept {
    if (type != CURLINFO_HEADER_OUT && type != CURLINFO_HEADER_IN) return 0;
    auto* t = static_cast<Transfer*>(self);
    // libcurl ignores what this returns: a failure here ends the transfer at
    // the next progress report.
    return InCallback(*t, 0, [&] {
        const std::string_view text(data, size);
        if (type == CURLINFO_HEADER_OUT) {
            t->FInTunnel = text.substr(0, 8) == "CONNECT ";
            if (t->FInTunnel) {
                t->FTunnelHead = ResponseHead();
            } else {
                const TransferGroup::CallbackLock locked;
                t->FSentHead.assign(text);
            }
        } else if (t->FInTunnel) {
            if (text.substr(0, 5) == "HTTP/") {
                t->FTunnelHead = ResponseHead();
                t->FTunnelHead.SetStatusLine(text);
            } else if (text != "\r\n" && text != "\n") {
                t->FTunnelHead.AddLine(text);
            }
            t->FTunnelHead.bytes += size;
        }
        return 0;
    });
}

// Bytes of the body sent so far: progress resets the idle clock. A failure
// in a callback that cannot end the transfer itself ends it here.
int Transfer::OnProgress(void* self, curl_off_t, curl_off_t, curl_off_t, curl_off_t uploaded) noexcept {
    auto* t = static_cast<Transfer*>(self);
    if (uploaded > t->FUploaded) {
        const TransferGroup::CallbackLock locked;
        t->FUploaded = uploaded;
        t->Touch();
    }
    return t->FFailed ? 1 : 0;
}

// A new connection is being made: the name was resolved to `address`.
curl_socket_t Transfer::OnOpenSocket(void* self, curlsocktype purpose, curl_sockaddr* address) noexcept {
    if (purpose != CURLSOCKTYPE_IPCXN) return CURL_SOCKET_BAD;
    auto* t = static_cast<Transfer*>(self);
    const int fd = ::socket(address->family, address->socktype | SOCK_CLOEXEC, address->protocol);
    if (fd < 0) return CURL_SOCKET_BAD;
    const curl_socket_t result = InCallback(*t, CURL_SOCKET_BAD, [&]() -> curl_socket_t {
        const TransferGroup::CallbackLock locked;
        const std::string ip = AddressText(address);
        if (!t->FResolvedNotified) {
            t->QueueText(INTERNET_STATUS_RESOLVING_NAME, t->FHost);
            t->QueueAddress(INTERNET_STATUS_NAME_RESOLVED, ip);
            t->FResolvedNotified = true;
        }
        t->QueueAddress(INTERNET_STATUS_CONNECTING_TO_SERVER, ip);
        t->FNewConnection = true;
        t->FSocket = fd;
        return fd;
    });
    if (result == CURL_SOCKET_BAD) ::close(fd);
    return result;
}

// The connection is ready (new or reused) and the request goes out next.
int Transfer::OnPrerequest(void* self, char* primaryIp, char*, int, int localPort) noexcept {
    auto* t = static_cast<Transfer*>(self);
    return InCallback(*t, int(CURL_PREREQFUNC_ABORT), [&] {
        const TransferGroup::CallbackLock locked;
        t->Touch();
        t->FLocalPort = localPort;
        if (t->FNewConnection && !t->FConnectedNotified) {
            t->QueueAddress(INTERNET_STATUS_CONNECTED_TO_SERVER, primaryIp ? primaryIp : "");
            t->FConnectedNotified = true;
        }
        t->Queue(INTERNET_STATUS_SENDING_REQUEST);
        t->FConnected = true;
        t->FAwaitingResponse = true;
        return int(CURL_PREREQFUNC_OK);
    });
}

CURLcode Transfer::OnSslContext(CURL*, void* sslContext, void* self) noexcept {
    auto* t = static_cast<Transfer*>(self);
    return InCallback(*t, CURLE_ABORTED_BY_CALLBACK, [&] {
        const TransferGroup::CallbackLock locked;
        t->FCheck = PrepareTlsContext(sslContext, t->FHost, t->FGroup->IgnoreFlags());
        return CURLE_OK;
    });
}

void Transfer::Finish(CURLcode result) {
    // A proxy that refused the tunnel (a 407 its credentials did not
    // satisfy, a 403, ...) answered the request, as it does a plain one:
    // its status and headers are the response, without a body.
    if (result != CURLE_OK && !FHeadersFinal && FTunnelHead.status >= 300) {
        FBuilding = std::move(FTunnelHead);
        FBuilding.fromProxy = true;
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

// Whether a thread sleeping on this transfer has something to look at.
bool Transfer::HasNews() const {
    return !FEvents.empty() || Satisfied(FWant) || FDone || FOwner.IsClosed() || !FAttached;
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

// When the wait for this transfer times out. Until the connection is ready
// (including a wait for a free connection to the server) the connect
// timeout applies from the start of the hop; then the connection may be
// idle for no longer than the send timeout while the body goes out, and the
// receive timeout after that. Bytes moving either way reset the clock.
Transfer::Clock::time_point Transfer::Deadline() const {
    const auto after = [](Clock::time_point from, DWORD limit) {
        return IsLimited(limit) ? from + std::chrono::milliseconds(limit) : Clock::time_point::max();
    };
    if (!FConnected) return after(FStarted, FTimeouts.connect);
    const bool sending = !FHeadersFinal && FUploaded < static_cast<curl_off_t>(FBodySize);
    return after(LastActivity(), sending ? FTimeouts.send : FTimeouts.receive);
}

// Runs libcurl until `want` holds, the transfer ends, the owner is closed or
// the wait times out. Called and returns with the group's lock held; the
// lock is let go while this thread polls, while it delivers this
// transfer's notifications, and while it waits for the thread that runs
// libcurl for the group.
DWORD Transfer::Pump(std::unique_lock<std::mutex>& lock, TransferGroup& group, Want want, bool wait) {
    // The idle clock runs while a caller waits: a reader that comes back
    // after a while finds the time it spent away not counted.
    Touch();
    bool woken = false;
    std::vector<StatusEvent> events;
    for (;;) {
        if (!FEvents.empty()) {
            TakeEvents(events);
            lock.unlock();
            DeliverEvents(events);
            lock.lock();
            continue;
        }
        if (Satisfied(want) || FDone) return ERROR_SUCCESS;
        if (FOwner.IsClosed() || !FAttached) return ERROR_INTERNET_OPERATION_CANCELLED;
        const Clock::time_point deadline = Deadline();
        const Clock::time_point now = Clock::now();
        if (now >= deadline) {
            FAbortError = ERROR_INTERNET_TIMEOUT;
            {
                TransferGroup::Use use(group, lock);
                ReleaseLocked(events);
            }
            lock.unlock();
            DeliverEvents(events);
            lock.lock();
            return ERROR_INTERNET_TIMEOUT;
        }
        const Clock::time_point wakeAt = std::min(deadline, now + std::chrono::seconds(1));

        if (group.FBusy || group.FWantUse > 0) {
            if (!wait) return ERROR_SUCCESS;
            // Another thread runs libcurl for the group, this transfer
            // included. It is woken once, so that it sees at once what this
            // call changed (a reader's buffer, a queue drained enough to
            // resume).
            if (!woken && group.FBusy) {
                curl_multi_wakeup(group.FMulti);
                woken = true;
            }
            FSleeping = true;
            FWant = want;
            FWake.wait_until(lock, wakeAt);
            FSleeping = false;
            continue;
        }

        // This thread runs libcurl for every transfer of the group.
        group.FBusy = true;
        struct Pumping {
            TransferGroup& group;
            std::unique_lock<std::mutex>& lock;
            ~Pumping() {
                if (!lock.owns_lock()) lock.lock();
                group.FBusy = false;
                group.FChanged.notify_all();
                group.WakeSleepers(true);
            }
        } pumping{group, lock};
        group.AddPending();
        group.ResumePaused();
        int running = 0;
        const CURLMcode code = group.Perform(lock, &running);
        group.CollectDone();
        // The transfers that wait with no thread of their own keep their
        // time limits while this thread runs libcurl for them.
        group.EndWaits(Clock::now(), code);
        if (group.FWantUse > 0) group.FChanged.notify_all();
        group.WakeSleepers(false);
        if (code != CURLM_OK) return MultiError(code);
        if (!FEvents.empty() || Satisfied(want) || FDone || FOwner.IsClosed() || group.FWantUse > 0) continue;
        if (!wait) return ERROR_SUCCESS;
        const auto waitMs = std::chrono::duration_cast<std::chrono::milliseconds>(wakeAt - now).count();
        lock.unlock();
        curl_multi_poll(group.FMulti, nullptr, 0, static_cast<int>(std::max<long long>(waitMs, 1)), nullptr);
        lock.lock();
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

Transfer::Waiting Transfer::WhenHeaders(std::function<void()>& ready) {
    std::shared_ptr<TransferGroup> group;
    auto lock = LockGroup(group);
    if (!group || !FAttached || FHeadersFinal || FDone || FOwner.IsClosed()) return Waiting::Over;
    // Room for the call among the due ones, so that moving it there never
    // fails.
    group->FFired.reserve(static_cast<std::size_t>(group->FCalls) + 1);
    if (!group->FDriving) {
        if (!Workers::Post([group] { TransferGroup::Drive(group); })) return Waiting::NoWorker;
        group->FDriving = true;
    }
    FOnHeaders = std::move(ready);
    ++group->FCalls;
    return Waiting::Registered;
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
        ReleaseUsing(*group, lock, events);
    }
    DeliverEvents(events);
}

DWORD Transfer::Available(DWORD* available) {
    *available = 0;
    std::shared_ptr<TransferGroup> group;
    std::vector<StatusEvent> events;
    DWORD error = ERROR_SUCCESS;
    {
        auto lock = LockGroup(group);
        if (!group) return ERROR_INTERNET_INCORRECT_HANDLE_STATE;
        if (FQueue.Empty() && !FDone) error = Pump(lock, *group, Want::Data);
        if (!FQueue.Empty())
            *available =
                static_cast<DWORD>(std::min<std::size_t>(FQueue.Size(), std::numeric_limits<DWORD>::max()));
        else if (error == ERROR_SUCCESS)
            error = ResultError();
        TakeEvents(events);
    }
    DeliverEvents(events);
    return *available ? ERROR_SUCCESS : error;
}

// Queued bytes first; with none queued, the reader's buffer becomes the
// transfer's target, so libcurl's bytes are copied once, straight into it.
DWORD Transfer::Read(void* buffer, DWORD size, DWORD* read, bool wait) {
    *read = 0;
    std::shared_ptr<TransferGroup> group;
    std::vector<StatusEvent> events;
    DWORD error = ERROR_SUCCESS;
    {
        auto lock = LockGroup(group);
        if (!group) return ERROR_INTERNET_INCORRECT_HANDLE_STATE;
        if (size == 0) return ERROR_SUCCESS;
        if (!FQueue.Empty()) {
            *read = static_cast<DWORD>(FQueue.Pop(static_cast<char*>(buffer), size));
            return ERROR_SUCCESS;
        }
        if (!FDone) {
            FTarget = static_cast<char*>(buffer);
            FTargetSize = size;
            FTargetFilled = 0;
            error = Pump(lock, *group, Want::Data, wait);
            std::size_t got = FTargetFilled;
            FTarget = nullptr;
            FTargetSize = FTargetFilled = 0;
            if (got == 0) got = FQueue.Pop(static_cast<char*>(buffer), size);
            *read = static_cast<DWORD>(got);
        }
        if (*read == 0 && error == ERROR_SUCCESS) error = ResultError();
        TakeEvents(events);
    }
    DeliverEvents(events);
    return *read > 0 ? ERROR_SUCCESS : error;
}

// Takes the easy handle out of the multi handle (which closes its connection
// when the transfer is unfinished) and keeps it for the group's next
// request when its transfer ended well. The received state stays for
// reading. Called with the group's lock, and with the use of its multi
// handle while the easy handle is in it.
void Transfer::ReleaseLocked(std::vector<StatusEvent>& events) {
    TransferGroup& group = *FGroup;
    if (FEasy) {
        // Only a handle whose transfer ended well is kept: one stopped on the
        // way may hold state of it that refuses the next hop's options.
        const bool clean = FDone && FResult == CURLE_OK && FAbortError == ERROR_SUCCESS;
        // A transfer that failed in the middle of a message (memory that ran
        // out inside libcurl or OpenSSL, a callback that ended it, a broken
        // send or receive) may have left a cached connection in the middle
        // of a message or a TLS record: no later request may reuse it, so the
        // pool makes a fresh group. Refused connections and timeouts leave
        // no such connection behind.
        if (FResult == CURLE_OUT_OF_MEMORY || FResult == CURLE_SEND_ERROR || FResult == CURLE_RECV_ERROR ||
            FResult == CURLE_ABORTED_BY_CALLBACK || FResult == CURLE_WRITE_ERROR ||
            FAbortError == ERROR_NOT_ENOUGH_MEMORY || FAbortError == ERROR_INTERNET_INTERNAL_ERROR)
            group.FSpoiled.store(true, std::memory_order_release);
        if (FPendingAdd) {
            std::erase(group.FToAdd, this);
            FPendingAdd = false;
        } else if (FAttached) {
            curl_multi_remove_handle(group.FMulti, FEasy);
        }
        std::erase(group.FAttached, this);
        if (clean && group.FSpare.size() < TransferGroup::kSpareHandles) {
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
    FBody.reset();
    group.FLastUse = Clock::now();
    group.FChanged.notify_all();
    // A thread sleeping on this transfer sees that it ended; a call waiting
    // for it is due.
    FWake.notify_all();
    MakeCallDue();
    TakeEvents(events);
}

void Transfer::Release() {
    std::shared_ptr<TransferGroup> group;
    std::vector<StatusEvent> events;
    {
        auto lock = LockGroup(group);
        if (!group) return;
        ReleaseUsing(*group, lock, events);
    }
    DeliverEvents(events);
}

// The multi handle is taken only when the easy handle is still in it (a
// transfer that ended well left it at once: Detach).
void Transfer::ReleaseUsing(TransferGroup& group, std::unique_lock<std::mutex>& lock,
                            std::vector<StatusEvent>& events) {
    if (!FAttached && !FPendingAdd) return ReleaseLocked(events);
    TransferGroup::Use use(group, lock);
    ReleaseLocked(events);
}

// A transfer that ended well leaves the multi handle as soon as the thread
// that runs libcurl sees it end: its connection goes back to the cache, and
// the request's close need not wait for the multi handle (the easy handle,
// out of it, is reset or freed then). What it received stays for reading,
// its notifications for its reader. Called with the group's lock and the
// use of its multi handle.
void Transfer::Detach() {
    TransferGroup& group = *FGroup;
    curl_multi_remove_handle(group.FMulti, FEasy);
    std::erase(group.FAttached, this);
    FAttached = false;
    FPaused = false;
    group.FLastUse = Clock::now();
    FWake.notify_all();
    MakeCallDue();
}

// Moves the call waiting for this transfer's headers, if any, to the
// group's due calls and wakes the driver to make it. Room for every waiting
// call was reserved when it was taken (WhenHeaders), so this cannot fail.
// Called with the group's lock.
void Transfer::MakeCallDue() noexcept {
    if (!FOnHeaders) return;
    TransferGroup& group = *FGroup;
    group.FFired.push_back(std::move(FOnHeaders));
    FOnHeaders = nullptr;
    if (group.FDriverSleeping) group.FDriverWake.notify_one();
}

bool Transfer::Ready(std::size_t wanted) {
    std::shared_ptr<TransferGroup> group;
    auto lock = LockGroup(group);
    return !group || FQueue.Size() >= wanted || FDone;
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
