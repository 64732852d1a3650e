// The libcurl side of HTTP requests: one multi handle per connection handle
// and certificate policy (a TransferGroup, which owns the connection cache,
// so requests of one connection handle reuse kept-alive connections), and one
// easy handle per request (a Transfer), driven in pull mode: libcurl runs only
// while a caller waits for headers or body bytes, on the caller's thread.
//
// Bounded buffering: body bytes go straight into the reader's buffer when a
// read is waiting, else into a queue of at most kQueueLimit bytes (plus one
// receive buffer); when it is full the transfer is paused until the reader
// drains it.
//
// Status notifications raised inside libcurl's callbacks are queued and
// delivered after libcurl returns, with no lock held, so a status callback
// may call back into the API.
#pragma once

#include "posix/handles/Handle.h"
#include "posix/handles/StatusEvents.h"
#include "posix/handles/Timeouts.h"
#include "posix/http/ByteRing.h"
#include "posix/http/Headers.h"
#include "posix/http/Tls.h"

#include <curl/curl.h>

#include <chrono>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <vector>


namespace Corvane::Backend {

/// A multi handle with its connection cache, its lock, and a few spare easy
/// handles.
class TransferGroup {
public:
    /// `owner` gets the notifications of connections closed when no request
    /// is being served (the connection handle; it outlives the group's use).
    TransferGroup(Handle& owner, DWORD ignoreFlags);
    ~TransferGroup();
    TransferGroup(const TransferGroup&) = delete;
    TransferGroup& operator=(const TransferGroup&) = delete;

    /// The certificate ignore flags of every connection in this group.
    DWORD IgnoreFlags() const { return FIgnoreFlags; }

    /// Closes every cached connection and returns the notifications of
    /// their closing; the group serves no request afterwards.
    std::vector<StatusEvent> Shutdown();

private:
    friend class Transfer;

    void Queue(Handle* target, DWORD status, const void* data, std::size_t size);
    // The data encodings of MakeTextEvent and MakeAddressEvent.
    void QueueText(Handle* target, DWORD status, const std::string& text);
    void QueueAddress(Handle* target, DWORD status, const std::string& address);
    std::vector<StatusEvent> TakeEvents();
    void CollectDone();
    static int CloseSocket(void* group, curl_socket_t socket);

    std::mutex FMutex;
    CURLM* FMulti = nullptr;
    Handle& FOwner;
    const DWORD FIgnoreFlags;
    std::vector<CURL*> FSpare;
    std::vector<StatusEvent> FEvents;
    // The handle whose work is under way (the request being pumped or
    // closed); null outside.
    Handle* FCurrent = nullptr;
};

/// What one hop of a request sends.
struct HopConfig {
    std::string url;
    /// Host name for the certificate's name check (no brackets).
    std::string host;
    std::string verb;
    /// The body, or null for none (kept alive by the caller during the hop).
    const std::string* body = nullptr;
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

    /// Starts a hop in `group`: forgets the previous hop's response and body
    /// and hands the request to libcurl. Nothing is sent until a wait.
    DWORD Start(const std::shared_ptr<TransferGroup>& group, const HopConfig& hop);

    /// Waits until the final response's headers are in (ERROR_SUCCESS), or
    /// the hop failed (its error).
    DWORD WaitForHeaders();

    /// Reads and drops the rest of the body (at most `limit` bytes), then
    /// lets go of the easy handle; used before following a redirect.
    void Discard(std::size_t limit);

    /// Body bytes that can be read at once, waiting for at least one unless
    /// the body has ended (0). Fails with the error that ended the transfer
    /// once everything before it was read.
    DWORD Available(DWORD* available);

    /// Reads up to `size` body bytes; *read 0 at the end of the body.
    DWORD Read(void* buffer, DWORD size, DWORD* read);

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

    DWORD Pump(std::unique_lock<std::mutex>& lock, TransferGroup& group, Want want);
    bool Satisfied(Want want) const;
    DWORD ResultError() const;
    void Touch() { FLastActivity = std::chrono::steady_clock::now(); }
    void Configure(const HopConfig& hop);
    void MakeFinal();
    void Finish(CURLcode result);
    void ReleaseLocked(std::vector<StatusEvent>& events);
    std::unique_lock<std::mutex> LockGroup(std::shared_ptr<TransferGroup>& group);

    static std::size_t OnHeader(char* data, std::size_t size, std::size_t count, void* self);
    static std::size_t OnWrite(char* data, std::size_t size, std::size_t count, void* self);
    static int OnDebug(CURL*, curl_infotype type, char* data, std::size_t size, void* self);
    static curl_socket_t OnOpenSocket(void* self, curlsocktype purpose, curl_sockaddr* address);
    static int OnPrerequest(void* self, char* primaryIp, char* localIp, int primaryPort, int localPort);
    static CURLcode OnSslContext(CURL*, void* sslContext, void* self);

    Handle& FOwner;
    std::mutex FGroupMutex;  // guards FGroup itself
    std::shared_ptr<TransferGroup> FGroup;
    CURL* FEasy = nullptr;
    bool FAttached = false;
    curl_slist* FHeaderList = nullptr;
    std::string FHost;
    std::size_t FBodySize = 0;
    bool FExpectAuth = false;
    Timeouts FTimeouts;

    // What the hop received (guarded by the group's lock).
    ResponseHead FBuilding;
    ResponseHead FFinal;
    bool FInHead = false;
    bool FTentative = false;
    bool FHeadersFinal = false;
    bool FDone = false;
    CURLcode FResult = CURLE_OK;
    DWORD FAbortError = ERROR_SUCCESS;
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
    std::shared_ptr<CertificateCheck> FCheck;
    DWORD FTlsState = 0;
    std::chrono::steady_clock::time_point FLastActivity;

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
