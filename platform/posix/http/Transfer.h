// The libcurl side of HTTP requests: one multi handle per pool entry (a
// TransferGroup, which owns the connection cache of one server under one
// policy, shared by every connection handle of the process; see
// ConnectionPool.h), and one easy handle per request (a Transfer), driven in
// pull mode: libcurl runs only while a caller waits for headers or body
// bytes, on the caller's thread.
//
// Threads. Several threads may wait on transfers of one group at once. Only
// one of them at a time has the use of the multi handle (the "pumper": it
// runs curl_multi_perform for every transfer of the group, then waits in
// curl_multi_poll, both with no lock held); the others sleep on the group's
// condition variable and are woken after each round to see whether their
// own transfer got what they wait for. A thread that must add or remove an
// easy handle wakes the pumper (curl_multi_wakeup) and takes the multi
// handle before it does. The group's mutex guards the state of every
// transfer in it. During curl_multi_perform libcurl's callbacks take it for
// what they change that other threads read (the fields exempt are listed
// with them below); from any other libcurl call they run with it held by
// the caller.
//
// Bounded buffering: body bytes go straight into the reader's buffer when a
// read is waiting, else into a queue of at most kQueueLimit bytes (plus one
// receive buffer); when it is full the transfer is paused until the reader
// drains it.
//
// Status notifications raised inside libcurl's callbacks are queued on the
// transfer they concern and delivered by the thread that waits on it (or
// the next call on its request), after libcurl returns and with no lock
// held, so a status callback may call back into the API.
#pragma once

#include "posix/handles/Handle.h"
#include "posix/handles/StatusEvents.h"
#include "posix/handles/Timeouts.h"
#include "posix/http/ByteRing.h"
#include "posix/http/Headers.h"
#include "posix/http/Tls.h"

#include <curl/curl.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace Corvane::Backend {

class Transfer;

/// A multi handle with its connection cache, its lock, and a few spare easy
/// handles.
class TransferGroup {
public:
    /// A group whose connections are all made under `ignoreFlags`, with at
    /// most `maxConnections` connections to its server at once.
    TransferGroup(DWORD ignoreFlags, long maxConnections);
    ~TransferGroup();
    TransferGroup(const TransferGroup&) = delete;
    TransferGroup& operator=(const TransferGroup&) = delete;

    /// Whether the multi handle could be made and set up.
    bool IsValid() const { return FMulti != nullptr; }
    /// Whether a transfer failed in a way that may have left one of the
    /// group's connections unusable; the pool then stops handing it out.
    bool IsSpoiled() const { return FSpoiled.load(std::memory_order_acquire); }
    /// The certificate ignore flags of every connection in this group.
    DWORD IgnoreFlags() const { return FIgnoreFlags; }
    /// Whether no transfer has used the group since `since`.
    bool IdleSince(std::chrono::steady_clock::time_point since);

    /// How long a connection may stay idle and still be reused, in seconds;
    /// the pool drops a group idle that long, closing its connections.
    static constexpr long kIdleSeconds = 60;

private:
    friend class Transfer;
    class Use;
    class CallbackLock;

    // One round of libcurl for every transfer of the group, run by the
    // thread that has the multi handle, with the group's lock let go
    // meanwhile: libcurl's callbacks take it for what they change (see
    // CallbackLock), so the threads that read or start transfers are not
    // held up for the round. Called and returns with the lock held.
    CURLMcode Perform(std::unique_lock<std::mutex>& lock, int* running);

    // Runs libcurl for the group on a worker thread for as long as a
    // transfer waits for its headers with no thread of its own
    // (Transfer::WhenHeaders), and hands each its call when they are in.
    static void Drive(const std::shared_ptr<TransferGroup>& self) noexcept;
    // Moves the calls of the waiting transfers whose wait is over to FFired.
    void TakeReadyCalls();
    void AddPending();
    std::chrono::steady_clock::time_point EndWaits(std::chrono::steady_clock::time_point now,
                                                   CURLMcode failed);

    void CollectDone();
    void ResumePaused();
    // Wakes the threads that sleep on transfers of the group: those whose
    // transfer has news for them, or with `all` every one (the multi handle
    // came free, so one of them must run libcurl).
    void WakeSleepers(bool all);
    static int CloseSocket(void* group, curl_socket_t socket) noexcept;

    // Easy handles kept for the next requests (room reserved up front, so
    // keeping one never fails).
    static constexpr std::size_t kSpareHandles = 4;

    std::mutex FMutex;
    // Signalled when the multi handle is free again, for the threads that
    // wait to add or remove an easy handle. Threads waiting on a transfer
    // sleep on the transfer's own FWake, woken only when it has news or the
    // multi handle came free, so a round of libcurl wakes no one in vain.
    std::condition_variable FChanged;
    CURLM* FMulti = nullptr;
    const DWORD FIgnoreFlags;
    // A thread has the use of the multi handle (see above); guarded by
    // FMutex, held across curl_multi_poll.
    bool FBusy = false;
    // Threads waiting to add or remove an easy handle: the pumper lets them
    // have the multi handle before it polls again.
    int FWantUse = 0;
    std::vector<CURL*> FSpare;
    // The transfers whose easy handles are in the multi handle, and those
    // whose easy handles the thread that runs libcurl is to add.
    std::vector<Transfer*> FAttached;
    std::vector<Transfer*> FToAdd;
    // Transfers waiting with a call (WhenHeaders), counted until the call
    // is made; the calls whose wait is over, to be made by the driver; the
    // driver runs, and sleeps on FDriverWake while another thread has the
    // multi handle.
    int FCalls = 0;
    std::vector<std::function<void()>> FFired;
    bool FDriving = false;
    bool FDriverSleeping = false;
    std::condition_variable FDriverWake;
    std::chrono::steady_clock::time_point FLastUse;
    std::atomic<bool> FSpoiled{false};
};

/// Scheme, host and port of a URL (the scheme's default port when it names
/// none), in lower case: what tells servers apart.
struct UrlOrigin {
    std::string scheme;
    std::string host;
    std::string port;
    bool operator==(const UrlOrigin&) const = default;
};

/// What one hop of a request sends.
struct HopConfig {
    std::string url;
    /// The URL's origin, read once with the URL.
    std::optional<UrlOrigin> origin;
    /// Host name for the certificate's name check (no brackets).
    std::string host;
    std::string verb;
    /// The body, or null for none; the transfer keeps it while libcurl may
    /// read it, whatever the request does with its own copy meanwhile.
    std::shared_ptr<const std::string> body;
    /// Header lines for libcurl ("Name: value"; "Name:" suppresses one of
    /// libcurl's own).
    std::vector<std::string> headers;
    std::string userAgent;
    bool useCredentials = false;
    std::string user;
    std::string password;
    bool http10 = false;
    /// Proxy URL, empty for a direct connection.
    std::string proxy;
    /// Credentials for the proxy's challenges (none when the user is empty).
    std::string proxyUser;
    std::string proxyPassword;
    Timeouts timeouts;
};

/// One request's easy handle and what it received.
class Transfer {
public:
    /// `owner` is the request handle: it gets the notifications, and its
    /// closing stops a wait.
    explicit Transfer(Handle& owner);
    ~Transfer();
    Transfer(const Transfer&) = delete;
    Transfer& operator=(const Transfer&) = delete;

    /// The right to make calls that send or read (Start and the waits that
    /// follow it, Available, Read): one thread at a time per request, so
    /// that a second reader never takes the first one's bytes and a second
    /// send never replaces what libcurl is still sending. Another thread
    /// waits for it; the thread that holds it (a status callback calling
    /// back) does not get it again, and `Entered()` is then false.
    class Caller {
    public:
        explicit Caller(Transfer& transfer);
        ~Caller();
        Caller(const Caller&) = delete;
        Caller& operator=(const Caller&) = delete;
        bool Entered() const { return FEntered; }

    private:
        Transfer& FTransfer;
        bool FEntered = false;
    };

    /// Starts a hop in `group`: forgets the previous hop's response and body
    /// and hands the request to libcurl. Nothing is sent until a wait.
    DWORD Start(const std::shared_ptr<TransferGroup>& group, const HopConfig& hop);

    /// Waits until the final response's headers are in (ERROR_SUCCESS), or
    /// the hop failed (its error).
    DWORD WaitForHeaders();

    /// How WhenHeaders took its call.
    enum class Waiting {
        /// It is made later.
        Registered,
        /// WaitForHeaders answers at once already (or no hop was started):
        /// the caller makes it.
        Over,
        /// No worker thread could be had: it is not made.
        NoWorker,
    };
    /// Takes `ready` (a call that cannot fail) and makes it once
    /// WaitForHeaders would answer at once (the headers are in, the hop
    /// ended or was released: a close of the request), with no thread
    /// waiting meanwhile: a worker thread runs libcurl for the group and
    /// makes the call, with no lock held. `ready` is left alone unless
    /// Registered.
    Waiting WhenHeaders(std::function<void()>& ready);

    /// Reads and drops the rest of the body (at most `limit` bytes), then
    /// lets go of the easy handle; used before following a redirect.
    void Discard(std::size_t limit);

    /// Body bytes that can be read at once, waiting for at least one unless
    /// the body has ended (0). Fails with the error that ended the transfer
    /// once everything before it was read.
    DWORD Available(DWORD* available);

    /// Reads up to `size` body bytes; *read 0 at the end of the body.
    /// Without `wait`, takes only what is queued or what libcurl receives
    /// without waiting (*read 0 when nothing is there yet).
    DWORD Read(void* buffer, DWORD size, DWORD* read, bool wait = true);

    /// Whether a read of `wanted` bytes would answer without waiting: that
    /// many body bytes are queued, the transfer ended, or there is none.
    bool Ready(std::size_t wanted);

    /// Lets go of the easy handle (a connection in the middle of a body is
    /// closed); the notifications of that go to the owner.
    void Release();

    /// Whether a hop was started and its final headers are in.
    bool HasResponse();
    /// A copy of the final response's head.
    ResponseHead Response();
    /// The request head as last sent (empty before).
    std::string SentHead();
    /// SECURITY_FLAG_SECURE and the cipher strength when the hop's
    /// connection uses TLS, else 0.
    DWORD TlsState();

    /// Bytes queued ahead of the reader before the transfer pauses: small
    /// enough to stay in the processor's cache while it is copied in and
    /// out (1 MiB was slower), large enough for few pauses.
    static constexpr std::size_t kQueueLimit = 512 << 10;
    /// libcurl's receive buffer: each receive is a system call, and fewer,
    /// larger ones measured faster than 64 or 128 KiB (docs/BENCHMARKS.md).
    static constexpr std::size_t kChunk = 256 << 10;

private:
    friend class TransferGroup;
    enum class Want { Headers, Data, End };
    using Clock = std::chrono::steady_clock;

    DWORD Pump(std::unique_lock<std::mutex>& lock, TransferGroup& group, Want want, bool wait = true);
    bool Satisfied(Want want) const;
    Clock::time_point Deadline() const;
    DWORD ResultError() const;
    // The idle clock: set by libcurl's callbacks without the group's lock.
    void Touch() { FLastActivity.store(Clock::now().time_since_epoch().count(), std::memory_order_relaxed); }
    Clock::time_point LastActivity() const {
        return Clock::time_point(Clock::duration(FLastActivity.load(std::memory_order_relaxed)));
    }
    CURLcode Configure(const HopConfig& hop);
    void MakeFinal();
    void Finish(CURLcode result);
    void Fail(DWORD error) noexcept;
    template <typename Result, typename Body>
    static Result InCallback(Transfer& t, Result failure, Body&& body) noexcept;
    void ReleaseLocked(std::vector<StatusEvent>& events);
    void ReleaseUsing(TransferGroup& group, std::unique_lock<std::mutex>& lock,
                      std::vector<StatusEvent>& events);
    void Detach();
    void MakeCallDue() noexcept;
    void TakeEvents(std::vector<StatusEvent>& events);
    std::unique_lock<std::mutex> LockGroup(std::shared_ptr<TransferGroup>& group);

    void RoomForEvent();
    void Queue(DWORD status, const void* data = nullptr, std::size_t size = 0);
    // The data encodings of MakeTextEvent and MakeAddressEvent.
    void QueueText(DWORD status, const std::string& text);
    void QueueAddress(DWORD status, const std::string& address);

    static std::size_t OnHeader(char* data, std::size_t size, std::size_t count, void* self) noexcept;
    static std::size_t OnWrite(char* data, std::size_t size, std::size_t count, void* self) noexcept;
    static int OnDebug(CURL*, curl_infotype type, char* data, std::size_t size, void* self) noexcept;
    static int OnProgress(void* self, curl_off_t, curl_off_t, curl_off_t, curl_off_t uploaded) noexcept;
    static curl_socket_t OnOpenSocket(void* self, curlsocktype purpose, curl_sockaddr* address) noexcept;
    static int OnPrerequest(void* self, char* primaryIp, char* localIp, int primaryPort,
                            int localPort) noexcept;
    static CURLcode OnSslContext(CURL*, void* sslContext, void* self) noexcept;

    bool HasNews() const;

    Handle& FOwner;
    // The call WhenHeaders was given, until its wait is over (guarded by
    // the group's lock).
    std::function<void()> FOnHeaders;
    // A thread waits in Pump for this transfer while another runs libcurl
    // (guarded by the group's lock), and what it waits for.
    std::condition_variable FWake;
    bool FSleeping = false;
    Want FWant = Want::Data;
    // The caller right (see Caller).
    std::mutex FCallMutex;
    std::atomic<std::thread::id> FCaller{};
    // Guards FGroup itself; it changes only while the old group's lock is
    // held too, so a thread holding a group's lock sees a stable FGroup.
    std::mutex FGroupMutex;
    std::shared_ptr<TransferGroup> FGroup;

    // Everything below is guarded by the group's lock, with one exception:
    // while the easy handle is in the multi handle, the fields that only
    // libcurl's callbacks and the thread running libcurl use (the head being
    // built: FBuilding, FInHead, FTentative; the proxy's answer: FInTunnel,
    // FTunnelHead; FAwaitingResponse and the connection's progress flags)
    // are used by that thread without it, and the flags that only it
    // writes then (FHeadersFinal, FUploaded, FFailed) it reads without it.
    // Start sets them all while no thread runs libcurl for the transfer.
    CURL* FEasy = nullptr;
    bool FAttached = false;
    // In the group's FToAdd: attached, but not yet in the multi handle.
    bool FPendingAdd = false;
    curl_slist* FHeaderList = nullptr;
    std::shared_ptr<const std::string> FBody;
    std::string FHost;
    std::size_t FBodySize = 0;
    curl_off_t FUploaded = 0;
    bool FExpectAuth = false;
    Timeouts FTimeouts;
    std::vector<StatusEvent> FEvents;

    // What the hop received.
    ResponseHead FBuilding;
    ResponseHead FFinal;
    bool FInHead = false;
    bool FTentative = false;
    bool FHeadersFinal = false;
    bool FDone = false;
    CURLcode FResult = CURLE_OK;
    DWORD FAbortError = ERROR_SUCCESS;
    // A callback failed in a way libcurl does not end the transfer for.
    bool FFailed = false;
    std::string FSentHead;
    // The proxy's answer to the hop's last CONNECT, read from the debug
    // stream (libcurl passes its headers on to no one else): the response
    // when the proxy refused the tunnel.
    ResponseHead FTunnelHead;
    bool FInTunnel = false;
    bool FAwaitingResponse = false;
    bool FResolvedNotified = false;
    bool FNewConnection = false;
    bool FConnectedNotified = false;
    bool FConnected = false;
    // The socket of the connection the hop made, and the local port of the
    // connection it uses (made or reused): they tell its connection apart
    // when libcurl closes one.
    curl_socket_t FSocket = CURL_SOCKET_BAD;
    int FLocalPort = -1;
    std::shared_ptr<CertificateCheck> FCheck;
    DWORD FTlsState = 0;
    Clock::time_point FStarted;
    std::atomic<Clock::rep> FLastActivity{0};

    // The body: a waiting reader's buffer first, then the queue.
    ByteRing FQueue;
    char* FTarget = nullptr;
    std::size_t FTargetSize = 0;
    std::size_t FTargetFilled = 0;
    bool FPaused = false;
    // Set while libcurl hands back what it held during a pause: taken
    // whole, so it is not held and copied again.
    bool FResuming = false;
    bool FDiscard = false;
    std::size_t FDiscarded = 0;
    std::size_t FDiscardLimit = 0;
};

}  // namespace Corvane::Backend
