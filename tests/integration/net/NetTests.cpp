// The backend's network layer against loopback peers the tests make on
// ephemeral ports: what each step reports (notifications, errors), how each
// ends by its deadline, and that closing the owning handle from another
// thread wakes every blocked step at once.
#include "posix/handles/Handle.h"
#include "posix/handles/StatusEvents.h"
#include "posix/net/CancelToken.h"
#include "posix/net/LineReader.h"
#include "posix/net/Listener.h"
#include "posix/net/Resolver.h"
#include "posix/net/Socket.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

using namespace Corvane::Backend;
using namespace std::chrono_literals;

namespace {

using Clock = std::chrono::steady_clock;

// How long a cancelled step may take to return, generously for a loaded
// machine.
constexpr auto kCancelBound = 2s;

Deadline Soon() {
    return Deadline::After(5000);
}

// A numeric address (port 0: one the system picks, for a listener).
SocketAddress Loopback(const char* ip, INTERNET_PORT port = 0) {
    std::vector<SocketAddress> found;
    std::vector<StatusEvent> none;
    Resolver().Resolve(ip, port, Soon(), Waiter(), &found, nullptr, none);
    return found.empty() ? SocketAddress() : found.front();
}

bool HasIpv6Loopback() {
    Listener listener;
    return Listener::Open(Loopback("::1"), &listener) == ERROR_SUCCESS;
}

// A port on which nothing listens.
SocketAddress ClosedPort() {
    Listener listener;
    Listener::Open(Loopback("127.0.0.1"), &listener);
    return listener.Address();
}

// The server side's plain calls, on a blocking descriptor.
void SendText(int fd, const std::string& text) {
    (void)::send(fd, text.data(), text.size(), MSG_NOSIGNAL);
}
void WaitForClose(int fd) {
    pollfd peer{fd, POLLRDHUP, 0};
    ::poll(&peer, 1, 10000);
}

// A loopback server for one connection: accepts it on a thread of its own
// and serves it with `serve`.
class Peer {
public:
    Peer(const char* ip, std::function<void(int)> serve) {
        EXPECT_EQ(Listener::Open(Loopback(ip), &FListener), ERROR_SUCCESS);
        FThread = std::thread([this, serve = std::move(serve)] {
            Socket socket;
            if (FListener.Accept(&socket, Deadline::After(10000), Waiter(&FStop)) != ERROR_SUCCESS) return;
            ::fcntl(socket.Fd(), F_SETFL, 0);
            serve(socket.Fd());
        });
    }
    ~Peer() {
        FStop.Cancel();  // ends an accept that got nobody
        FThread.join();
    }
    const SocketAddress& Address() const { return FListener.Address(); }

private:
    Listener FListener;
    CancelToken FStop;
    std::thread FThread;
};

// A client connected to a Peer. The client closes first, with a reset, so
// that a peer waiting for the end learns at once (an orderly end would wait
// behind data the peer never read).
struct Link {
    explicit Link(std::function<void(int)> serve) : peer("127.0.0.1", std::move(serve)) {
        std::vector<StatusEvent> none;
        EXPECT_EQ(Socket::Connect({peer.Address()}, Soon(), Waiter(), &client, nullptr, none), ERROR_SUCCESS);
    }
    ~Link() {
        const linger abort{1, 0};
        ::setsockopt(client.Fd(), SOL_SOCKET, SO_LINGER, &abort, sizeof(abort));
    }
    Peer peer;
    Socket client;
};

// A listener whose queue is full and never accepted from: a connect to it
// gets no answer.
struct Blackhole {
    Blackhole() {
        Listener::Open(Loopback("127.0.0.1"), &listener);
        for (int i = 0; i < 16; ++i) {
            const Socket& filler =
                fillers.emplace_back(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
            (void)::connect(filler.Fd(), Address().Data(), Address().Length());
            pollfd pending{filler.Fd(), POLLOUT, 0};
            if (::poll(&pending, 1, 100) == 0) return;  // this one hangs: the queue is full
        }
        ADD_FAILURE() << "the listen queue never filled";
    }
    const SocketAddress& Address() const { return listener.Address(); }
    Listener listener;
    std::vector<Socket> fillers;
};

// A notification as the tests compare them: its status and its data, the
// UTF-16 texts narrowed, each checked for its terminator.
struct Seen {
    DWORD status;
    std::string data;
    bool operator==(const Seen&) const = default;
};

std::vector<Seen> Describe(const std::vector<StatusEvent>& events, const HandleRef& target) {
    std::vector<Seen> seen;
    for (const StatusEvent& event : events) {
        EXPECT_EQ(event.target, target);
        std::string data;
        const bool wide = event.status == INTERNET_STATUS_RESOLVING_NAME;
        for (std::size_t i = 0; i < event.data.size(); i += wide ? 2 : 1)
            data.push_back(static_cast<char>(event.data[i] | (wide ? event.data.at(i + 1) << 8 : 0)));
        EXPECT_TRUE(!data.empty() && data.back() == '\0') << "no terminator in status " << event.status;
        if (!data.empty()) data.pop_back();
        seen.push_back({event.status, data});
    }
    return seen;
}

const HandleOps kPlainOps = {.handleType = INTERNET_HANDLE_TYPE_CONNECT_FTP, .name = "net test"};

// Name services: one that knows no name, one that does not answer until
// released (or 10 s pass).
int NoSuchName(const char*, const char*, const addrinfo*, addrinfo**) {
    return EAI_NONAME;
}
std::atomic<bool> gReleaseLookup{false};
int HangingLookup(const char*, const char*, const addrinfo*, addrinfo**) {
    for (int i = 0; i < 1000 && !gReleaseLookup; ++i) std::this_thread::sleep_for(10ms);
    return EAI_AGAIN;
}

// A handle kind that owns a cancellation token and cancels it on close, as
// the FTP handles will.
struct CancellableHandle : Handle {
    CancellableHandle() : Handle(Ops, nullptr, 0) {}
    static const HandleOps Ops;
    CancelToken token;
};
const HandleOps CancellableHandle::Ops = {
    .handleType = INTERNET_HANDLE_TYPE_CONNECT_FTP,
    .name = "cancellable",
    .close = [](Handle& handle) { static_cast<CancellableHandle&>(handle).token.Cancel(); },
};

}  // namespace

// Opening a connection to "localhost" as the FTP connection will: the name
// is looked up by the system, and each step is reported with its data.
TEST(NetConnect, ResolvingAndConnectingLocalhostReportEachStep) {
    std::vector<SocketAddress> addresses;
    std::vector<StatusEvent> events;
    ASSERT_EQ(Resolver().Resolve("localhost", 0, Deadline(), Waiter(), &addresses, nullptr, events),
              ERROR_SUCCESS);
    const std::string ip = addresses.front().Text();
    Peer peer(ip.c_str(), WaitForClose);

    const auto handle = std::make_shared<Handle>(kPlainOps, nullptr, 1);
    ASSERT_EQ(Resolver().Resolve("localhost", peer.Address().Port(), Soon(), Waiter(), &addresses,
                                 handle.get(), events),
              ERROR_SUCCESS);
    Socket socket;
    ASSERT_EQ(Socket::Connect(addresses, Soon(), Waiter(), &socket, handle.get(), events), ERROR_SUCCESS);
    EXPECT_EQ(Describe(events, handle), (std::vector<Seen>{{INTERNET_STATUS_RESOLVING_NAME, "localhost"},
                                                           {INTERNET_STATUS_NAME_RESOLVED, ip},
                                                           {INTERNET_STATUS_CONNECTING_TO_SERVER, ip},
                                                           {INTERNET_STATUS_CONNECTED_TO_SERVER, ip}}));
    EXPECT_EQ(socket.PeerAddress().Port(), peer.Address().Port());

    // A name the name service does not know: only the attempt is reported.
    events.clear();
    EXPECT_EQ(
        Resolver(&NoSuchName).Resolve("no-such-host", 21, Soon(), Waiter(), &addresses, handle.get(), events),
        ERROR_INTERNET_NAME_NOT_RESOLVED);
    EXPECT_TRUE(addresses.empty());
    EXPECT_EQ(Describe(events, handle),
              (std::vector<Seen>{{INTERNET_STATUS_RESOLVING_NAME, "no-such-host"}}));
}

TEST(NetConnect, EachAddressIsTriedInTurnWithinOneDeadline) {
    Peer peer("127.0.0.1", WaitForClose);
    Blackhole hole;
    const SocketAddress closed = ClosedPort();
    constexpr DWORD kTrying = INTERNET_STATUS_CONNECTING_TO_SERVER,
                    kDone = INTERNET_STATUS_CONNECTED_TO_SERVER;
    struct Case {
        const char* name;
        std::vector<SocketAddress> addresses;
        DWORD timeout;
        DWORD error;
        std::vector<DWORD> notices;  // all for 127.0.0.1
    };
    const Case cases[] = {
        {"refused", {closed}, 5000, ERROR_INTERNET_CANNOT_CONNECT, {kTrying}},
        {"refused, then accepted", {closed, peer.Address()}, 5000, ERROR_SUCCESS, {kTrying, kTrying, kDone}},
        {"no answer: the deadline ends it all",
         {hole.Address(), peer.Address()},
         300,
         ERROR_INTERNET_TIMEOUT,
         {kTrying}},
        {"no address", {}, 5000, ERROR_INTERNET_CANNOT_CONNECT, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto handle = std::make_shared<Handle>(kPlainOps, nullptr, 1);
        std::vector<StatusEvent> events;
        Socket socket;
        const auto start = Clock::now();
        EXPECT_EQ(
            Socket::Connect(c.addresses, Deadline::After(c.timeout), Waiter(), &socket, handle.get(), events),
            c.error);
        const auto took = Clock::now() - start;
        EXPECT_EQ(socket.IsOpen(), c.error == ERROR_SUCCESS);
        EXPECT_TRUE(took < 2s && (c.error != ERROR_INTERNET_TIMEOUT || took >= 300ms));
        std::vector<Seen> expected;
        for (DWORD status : c.notices) expected.push_back({status, "127.0.0.1"});
        EXPECT_EQ(Describe(events, handle), expected);
    }
}

TEST(NetStreams, EachPeerMisbehaviourEndsTheStepWithItsError) {
    // What the client sees, step by step: a receive ("r", its bytes or "" for
    // the end), a send ("s"), a line ("l", the line), each with its error.
    struct Step {
        char kind;
        std::string text;
        DWORD error = ERROR_SUCCESS;
    };
    struct Case {
        const char* name;
        std::function<void(int)> serve;
        std::vector<Step> steps;
        std::size_t maxLine = LineReader::kDefaultMaxLine;
    };
    const std::string lots(32u << 20, 'x');
    const Case cases[] = {
        {"silent peer: the receive ends at its deadline", WaitForClose, {{'r', "", ERROR_INTERNET_TIMEOUT}}},
        {"peer not reading: the send ends at its deadline",
         WaitForClose,
         {{'s', lots, ERROR_INTERNET_TIMEOUT}}},
        {"slow peer: lines come whole however they drip",
         [](int fd) {
             for (char c : std::string("220 Service ready\r\n")) {
                 SendText(fd, std::string(1, c));
                 std::this_thread::sleep_for(15ms);
             }
             SendText(fd, "230 Bare LF\n231 Kept for the next call\r\n");
             WaitForClose(fd);
         },
         {{'l', "220 Service ready"}, {'l', "230 Bare LF"}, {'l', "231 Kept for the next call"}}},
        {"peer ends mid-line, in order",
         [](int fd) { SendText(fd, "220 Serv"); },
         {{'l', "", ERROR_INTERNET_CONNECTION_ABORTED}, {'r', ""}}},
        {"endless line: the reader stops at its maximum",
         [](int fd) {
             SendText(fd, std::string(1 << 16, 'x'));
             WaitForClose(fd);
         },
         {{'l', "", ERROR_INTERNET_CONNECTION_ABORTED}},
         100},
        {"peer resets mid-read: receive and send report it, with no SIGPIPE",
         [](int fd) {
             SendText(fd, "abc");
             char go;
             (void)::recv(fd, &go, 1, 0);
             const linger abort{1, 0};
             ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &abort, sizeof(abort));
         },
         {{'r', "abc"},
          {'s', "g"},
          {'r', "", ERROR_INTERNET_CONNECTION_RESET},
          {'s', "more", ERROR_INTERNET_CONNECTION_RESET}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Link link(c.serve);
        LineReader reader(c.maxLine);
        for (const Step& step : c.steps) {
            // Steps that fail by the deadline get a short one.
            const Deadline deadline = step.error == ERROR_INTERNET_TIMEOUT ? Deadline::After(300) : Soon();
            const auto start = Clock::now();
            std::string got(4096, '\0');
            std::size_t received = 0;
            DWORD error = step.kind == 's'
                              ? link.client.Send(step.text.data(), step.text.size(), deadline, Waiter())
                          : step.kind == 'l'
                              ? reader.ReadLine(link.client, &got, deadline, Waiter())
                              : link.client.Receive(got.data(), got.size(), &received, deadline, Waiter());
            if (step.kind == 'r') got.resize(received);
            EXPECT_EQ(error, step.error) << step.kind << " " << step.text.substr(0, 20);
            if (step.kind != 's' && error == ERROR_SUCCESS) {
                EXPECT_EQ(got, step.text);
            }
            const auto took = Clock::now() - start;
            EXPECT_TRUE(took < 2s && (step.error != ERROR_INTERNET_TIMEOUT || took >= 300ms));
        }
        EXPECT_LE(reader.Buffered(), c.maxLine + 2);
    }
}

// FTP's active mode end to end on each loopback address, given as numeric
// text (no name service): the client listens beside its control connection
// and the server connects back (on IPv4 after a stranger from another
// address, whom the client turns away).
TEST(NetListen, TheServerConnectsBackBesideTheControlConnection) {
    for (const char* ip : {"127.0.0.1", "::1"}) {
        SCOPED_TRACE(ip);
        const bool v4 = !std::strchr(ip, ':');
        if (!v4 && !HasIpv6Loopback()) {
            std::printf("no IPv6 loopback: %s skipped\n", ip);
            continue;
        }
        std::atomic<bool> strangerTurnedAway{!v4};
        Peer server(ip, [&](int control) {
            char command[64] = {};
            if (::recv(control, command, sizeof(command) - 1, 0) < 6) return;
            const SocketAddress back = Loopback(ip, static_cast<INTERNET_PORT>(std::atoi(command + 5)));
            if (v4) {
                const int stranger = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
                const SocketAddress from = Loopback("127.0.0.2");
                ::bind(stranger, from.Data(), from.Length());
                char byte;
                strangerTurnedAway = ::connect(stranger, back.Data(), back.Length()) == 0 &&
                                     ::recv(stranger, &byte, 1, 0) <= 0;
                ::close(stranger);
            }
            const int data = ::socket(back.Family(), SOCK_STREAM | SOCK_CLOEXEC, 0);
            ::connect(data, back.Data(), back.Length());
            SendText(data, "listing");
            ::close(data);
            SendText(control, "226 Transfer complete\r\n");
            WaitForClose(control);
        });

        std::vector<SocketAddress> addresses;
        std::vector<StatusEvent> events;
        ASSERT_EQ(Resolver(&NoSuchName)
                      .Resolve(ip, server.Address().Port(), Soon(), Waiter(), &addresses, nullptr, events),
                  ERROR_SUCCESS);
        Socket control;
        ASSERT_EQ(Socket::Connect(addresses, Soon(), Waiter(), &control, nullptr, events), ERROR_SUCCESS);
        Listener listener;
        ASSERT_EQ(Listener::Open(control, &listener), ERROR_SUCCESS);
        EXPECT_EQ(listener.Address().Text(), ip);
        EXPECT_NE(listener.Port(), 0);

        Socket data;
        const SocketAddress expected = control.PeerAddress();
        EXPECT_EQ(listener.Accept(&data, Deadline::After(100), Waiter(), &expected), ERROR_INTERNET_TIMEOUT);
        const std::string command = "PORT " + std::to_string(listener.Port()) + "\r\n";
        ASSERT_EQ(control.Send(command.data(), command.size(), Soon(), Waiter()), ERROR_SUCCESS);
        ASSERT_EQ(listener.Accept(&data, Soon(), Waiter(), &expected), ERROR_SUCCESS);

        std::string received;
        char buffer[64];
        for (std::size_t got = 1; got > 0;) {
            ASSERT_EQ(data.Receive(buffer, sizeof(buffer), &got, Soon(), Waiter()), ERROR_SUCCESS);
            received.append(buffer, got);
        }
        EXPECT_EQ(received, "listing");
        LineReader reader;
        std::string reply;
        EXPECT_EQ(reader.ReadLine(control, &reply, Soon(), Waiter()), ERROR_SUCCESS);
        EXPECT_EQ(reply, "226 Transfer complete");
        EXPECT_TRUE(strangerTurnedAway);
    }
}

TEST(NetCancel, ClosingTheHandleWakesEveryBlockedStepAtOnce) {
    // Each step would wait far longer than the close takes; its deadline
    // only turns a lost wake-up into a failure rather than a hang.
    using Step = std::function<DWORD(const Waiter&)>;
    struct Case {
        const char* name;
        std::function<Step()> prepare;  // sets the scene, returns the step that blocks
    };
    const Case cases[] = {
        {"connect to a full listen queue",
         [] {
             auto hole = std::make_shared<Blackhole>();
             return [hole](const Waiter& waiter) {
                 Socket socket;
                 std::vector<StatusEvent> none;
                 return Socket::Connect({hole->Address()}, Soon(), waiter, &socket, nullptr, none);
             };
         }},
        {"receive from a silent peer",
         [] {
             auto link = std::make_shared<Link>(WaitForClose);
             return [link](const Waiter& waiter) {
                 char byte;
                 std::size_t received;
                 return link->client.Receive(&byte, 1, &received, Soon(), waiter);
             };
         }},
        {"accept with nobody calling",
         [] {
             auto listener = std::make_shared<Listener>();
             EXPECT_EQ(Listener::Open(Loopback("127.0.0.1"), listener.get()), ERROR_SUCCESS);
             return [listener](const Waiter& waiter) {
                 Socket accepted;
                 return listener->Accept(&accepted, Soon(), waiter);
             };
         }},
        {"name lookup that does not answer",
         [] {
             gReleaseLookup = false;
             return [](const Waiter& waiter) {
                 std::vector<SocketAddress> addresses;
                 std::vector<StatusEvent> none;
                 return Resolver(&HangingLookup)
                     .Resolve("slow.name", 21, Soon(), waiter, &addresses, nullptr, none);
             };
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Step step = c.prepare();
        const auto handle = std::make_shared<CancellableHandle>();
        DWORD error = 0;
        const HINTERNET value = HandleTable::Register(handle, &error);
        ASSERT_NE(value, nullptr);
        const Waiter waiter(&handle->token);

        std::atomic<Clock::rep> closedAt{0};
        std::thread closer([&] {
            std::this_thread::sleep_for(150ms);
            closedAt = Clock::now().time_since_epoch().count();
            HandleTable::Close(value);
        });
        EXPECT_EQ(step(waiter), ERROR_INTERNET_OPERATION_CANCELLED);
        const auto returnedAt = Clock::now();
        closer.join();
        const Clock::time_point closed{Clock::duration(closedAt.load())};
        EXPECT_TRUE(returnedAt >= closed && returnedAt - closed < kCancelBound);
        // A step begun after the close fails at once.
        EXPECT_EQ(step(waiter), ERROR_INTERNET_OPERATION_CANCELLED);
    }
    // The abandoned lookup finishes by itself and frees what it held.
    gReleaseLookup = true;
    const auto start = Clock::now();
    while (Resolver::PendingLookups() != 0 && Clock::now() - start < 5s) std::this_thread::sleep_for(5ms);
    EXPECT_EQ(Resolver::PendingLookups(), 0u);
}
