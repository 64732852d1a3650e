// The FTP connection handle and its control connection.
#include "posix/ftp/FtpConnection.h"

#include "posix/async/Async.h"
#include "posix/connection/OfflineMode.h"
#include "posix/errors/LastError.h"
#include "posix/ftp/FtpText.h"
#include "posix/handles/Options.h"
#include "posix/net/Listener.h"
#include "posix/net/Resolver.h"
#include "posix/session/Session.h"
#include "posix/text/Ascii.h"
#include "posix/text/Utf.h"

#include <netinet/in.h>

#include <algorithm>
#include <array>
#include <cstring>

namespace Corvane::Backend {

namespace {

// How many preliminary (1xx) replies a command may get before its final one.
constexpr int kMaxPreliminary = 8;
// How long closing waits for the reply to QUIT.
constexpr DWORD kQuitTimeout = 2000;

std::u16string ResponseText(const FtpReply& reply) {
    return Utf8ToUtf16(reply.text + "\r\n");
}

bool Positive(const FtpReply& reply, bool intermediate) {
    return (reply.code >= 200 && reply.code < 300) || (intermediate && reply.code >= 300 && reply.code < 400);
}

}  // namespace

bool FtpArgument(LPCWSTR text, std::string* utf8, bool emptyOk) {
    if (!text) {
        utf8->clear();
        return emptyOk;
    }
    *utf8 = Utf16ToUtf8(text);
    return (emptyOk || !utf8->empty()) && IsSafeArgument(*utf8);
}

FtpConnection::FtpConnection(HandleRef session, DWORD_PTR context, std::string server, INTERNET_PORT port,
                             bool passive)
    : Handle(Ops, std::move(session), context),
      FServer(std::move(server)),
      FPort(port ? port : INTERNET_DEFAULT_FTP_PORT),
      FPassive(passive) {}

Timeouts FtpConnection::EffectiveTimeouts() const {
    Timeouts timeouts = SessionTimeouts(Parent());
    std::lock_guard<std::mutex> lock(FOptions);
    FTimeouts.ApplyTo(timeouts);
    return timeouts;
}

DWORD FtpConnection::DataSendTimeout() const {
    const auto session = SessionOf(Parent());
    return session ? session->Settings().dataSendTimeout : Timeouts::kDefaultSend;
}

DWORD FtpConnection::DataReceiveTimeout() const {
    const auto session = SessionOf(Parent());
    return session ? session->Settings().dataReceiveTimeout : Timeouts::kDefaultReceive;
}

DWORD FtpConnection::Acquire(Use* use) {
    use->lock = std::unique_lock<std::mutex>(FControl);
    use->notify = this;
    use->cancel = &FCancel;
    if (FDead || !FSocket.IsOpen()) return ERROR_INTERNET_CONNECTION_ABORTED;
    if (FBusy) return ERROR_FTP_TRANSFER_IN_PROGRESS;
    return ERROR_SUCCESS;
}

void FtpConnection::AcquireForChild(Use* use, Handle& child, const CancelToken& cancel) {
    use->lock = std::unique_lock<std::mutex>(FControl);
    use->notify = &child;
    use->cancel = &cancel;
}

void FtpConnection::Release(Use& use) {
    if (use.lock.owns_lock()) use.lock.unlock();
    DeliverEvents(use.events);
}

void FtpConnection::Hold(Use& /*use*/) {
    FBusy = true;
}

void FtpConnection::Free() {
    std::lock_guard<std::mutex> lock(FControl);
    FBusy = false;
}

void FtpConnection::SetDead() {
    std::lock_guard<std::mutex> lock(FControl);
    FDead = true;
}

void FtpConnection::SetDead(Use& /*use*/) {
    FDead = true;
}

DWORD FtpConnection::SendLine(Use& use, const std::string& line) {
    if (FDead) return ERROR_INTERNET_CONNECTION_ABORTED;
    const std::string wire = line + "\r\n";
    use.events.push_back(MakeEvent(*use.notify, INTERNET_STATUS_SENDING_REQUEST));
    const DWORD result =
        FSocket.Send(wire.data(), wire.size(), Deadline::After(EffectiveTimeouts().send), Waiter(use.cancel));
    if (result != ERROR_SUCCESS) {
        FDead = true;
        return result;
    }
    const DWORD sent = static_cast<DWORD>(wire.size());
    try {
        use.events.push_back(MakeEvent(*use.notify, INTERNET_STATUS_REQUEST_SENT, &sent, sizeof(sent)));
    } catch (...) {
        // The command went out but its reply will not be read.
        FDead = true;
        throw;
    }
    return ERROR_SUCCESS;
}

DWORD FtpConnection::ReadReply(Use& use, FtpReply* reply, DWORD timeout) {
    // A reply broken off by an exception (memory running out) leaves its
    // lines unread or half parsed: the next command would read them as its
    // own reply, so the control connection is given up instead.
    try {
        return ReadReplyLines(use, reply, timeout);
    } catch (...) {
        FDead = true;
        throw;
    }
}

DWORD FtpConnection::ReadReplyLines(Use& use, FtpReply* reply, DWORD timeout) {
    if (FDead) return ERROR_INTERNET_CONNECTION_ABORTED;
    use.events.push_back(MakeEvent(*use.notify, INTERNET_STATUS_RECEIVING_RESPONSE));
    const Deadline deadline = Deadline::After(timeout);
    const Waiter waiter(use.cancel);
    std::string line;
    DWORD bytes = 0;
    for (;;) {
        DWORD result = FReader.ReadLine(FSocket, &line, deadline, waiter);
        if (result == ERROR_SUCCESS) {
            bytes += static_cast<DWORD>(line.size() + 2);
            const auto fed = FParser.Feed(line, *reply);
            if (fed == FtpReplyParser::Result::kComplete) break;
            if (fed == FtpReplyParser::Result::kNeedMore) continue;
            result = ERROR_INTERNET_CONNECTION_ABORTED;
        }
        // Whatever broke off, the control connection is out of step now.
        FDead = true;
        return result;
    }
    use.events.push_back(MakeEvent(*use.notify, INTERNET_STATUS_RESPONSE_RECEIVED, &bytes, sizeof(bytes)));
    SetLastResponseInfo(static_cast<DWORD>(reply->code), ResponseText(*reply));
    if (reply->code == 421) {
        // The server is closing the control connection.
        FDead = true;
        return ERROR_INTERNET_CONNECTION_ABORTED;
    }
    return ERROR_SUCCESS;
}

DWORD FtpConnection::Command(Use& use, const std::string& line, FtpReply* reply, bool preliminary) {
    if (const DWORD sent = SendLine(use, line); sent != ERROR_SUCCESS) return sent;
    const DWORD timeout = EffectiveTimeouts().receive;
    if (preliminary) return ReadReply(use, reply, timeout);
    return ReadFinalReply(use, reply, timeout);
}

DWORD FtpConnection::ReadFinalReply(Use& use, FtpReply* reply, DWORD timeout) {
    for (int i = 0;; ++i) {
        if (const DWORD read = ReadReply(use, reply, timeout); read != ERROR_SUCCESS) return read;
        if (reply->code >= 200) return ERROR_SUCCESS;
        if (i == kMaxPreliminary) {
            FDead = true;
            return ERROR_INTERNET_CONNECTION_ABORTED;
        }
    }
}

DWORD FtpConnection::Simple(Use& use, const std::string& line, bool intermediate, FtpReply* reply) {
    FtpReply local;
    FtpReply* answer = reply ? reply : &local;
    if (const DWORD result = Command(use, line, answer); result != ERROR_SUCCESS) return result;
    return Positive(*answer, intermediate) ? ERROR_SUCCESS : ERROR_INTERNET_EXTENDED_ERROR;
}

DWORD FtpConnection::SetType(Use& use, bool ascii) {
    const char type = ascii ? 'A' : 'I';
    if (FType == type) return ERROR_SUCCESS;
    const DWORD result = Simple(use, std::string("TYPE ") + type);
    if (result == ERROR_SUCCESS) FType = type;
    return result;
}

DWORD FtpConnection::Open(const std::string& user, const std::string& password,
                          std::vector<StatusEvent>& events) {
    Use use;
    use.lock = std::unique_lock<std::mutex>(FControl);
    use.notify = this;
    use.cancel = &FCancel;
    const Timeouts timeouts = EffectiveTimeouts();
    const Deadline connectBy = Deadline::After(timeouts.connect);
    const Waiter waiter(&FCancel);
    std::vector<SocketAddress> addresses;
    DWORD result = Resolver().Resolve(FServer, FPort, connectBy, waiter, &addresses, this, use.events);
    if (result == ERROR_SUCCESS)
        result = Socket::Connect(addresses, connectBy, waiter, &FSocket, this, use.events);
    if (result == ERROR_SUCCESS) {
        // The greeting, past any "120 ready in n minutes".
        FtpReply greeting;
        for (int i = 0; result == ERROR_SUCCESS && i <= kMaxPreliminary; ++i) {
            result = ReadReply(use, &greeting, timeouts.receive);
            if (result == ERROR_SUCCESS && greeting.code >= 200) break;
        }
        if (result == ERROR_SUCCESS && !Positive(greeting, false))
            result = greeting.code >= 200 ? ERROR_INTERNET_EXTENDED_ERROR : ERROR_INTERNET_CONNECTION_ABORTED;
    }
    if (result == ERROR_SUCCESS) result = Login(use, user, password);
    if (result != ERROR_SUCCESS) FDead = true;
    events.insert(events.end(), std::make_move_iterator(use.events.begin()),
                  std::make_move_iterator(use.events.end()));
    return result;
}

DWORD FtpConnection::Login(Use& use, const std::string& user, const std::string& password) {
    FtpReply reply;
    const bool anonymous = user.empty();
    DWORD result = Command(use, "USER " + (anonymous ? std::string("anonymous") : user), &reply);
    if (result != ERROR_SUCCESS) return result;
    if (reply.code == 331) {
        result =
            Command(use, "PASS " + (anonymous && password.empty() ? std::string("User@") : password), &reply);
        if (result != ERROR_SUCCESS) return result;
    }
    // 332 asks for an account, which the platform's functions have no way to give.
    if (reply.code < 200 || reply.code >= 300) return ERROR_INTERNET_LOGIN_FAILURE;

    // The login's reply stays the last response: FEAT and OPTS are the
    // backend's own business.
    const std::u16string loginText = ResponseText(reply);
    const DWORD loginCode = static_cast<DWORD>(reply.code);
    DWORD features = Command(use, "FEAT", &reply);
    if (features == ERROR_SUCCESS && reply.code == 211) {
        bool utf8 = false;
        std::string_view rest = reply.text;
        while (!rest.empty()) {
            const std::size_t end = rest.find("\r\n");
            std::string_view line = Trim(rest.substr(0, end));
            rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 2);
            const std::string_view name = line.substr(0, line.find(' '));
            if (EqualsIgnoringAsciiCase(name, "MLST")) FMlsd = true;
            if (EqualsIgnoringAsciiCase(name, "UTF8")) utf8 = true;
        }
        if (utf8) features = Command(use, "OPTS UTF8 ON", &reply);
    }
    // A refusal of either is no failure; a control connection that broke
    // off or timed out while they ran fails the login with that error.
    if (FDead) return features != ERROR_SUCCESS ? features : ERROR_INTERNET_CONNECTION_ABORTED;
    SetLastResponseInfo(loginCode, loginText);
    return ERROR_SUCCESS;
}

// EPSV, or PASV once the server refused EPSV (and from then on); the data
// connection goes to the control connection's peer, whatever address a
// PASV reply names.
DWORD FtpConnection::Passive(Use& use, Socket* data) {
    FtpReply reply;
    std::uint16_t port = 0;
    DWORD result = ERROR_SUCCESS;
    if (!FNoEpsv) {
        result = Command(use, "EPSV", &reply);
        if (result != ERROR_SUCCESS) return result;
        if (reply.code == 229 && !ParseEpsvReply(reply.text, port)) return ERROR_INTERNET_EXTENDED_ERROR;
        if (reply.code >= 500)
            FNoEpsv = true;
        else if (reply.code != 229)
            return ERROR_INTERNET_EXTENDED_ERROR;
    }
    if (FNoEpsv) {
        if (FSocket.PeerAddress().Family() != AF_INET) return ERROR_FTP_NO_PASSIVE_MODE;
        result = Command(use, "PASV", &reply);
        if (result != ERROR_SUCCESS) return result;
        std::array<std::uint8_t, 4> ignored{};
        if (reply.code != 227 || !ParsePasvReply(reply.text, ignored, port))
            return reply.code >= 500 ? ERROR_FTP_NO_PASSIVE_MODE : ERROR_INTERNET_EXTENDED_ERROR;
    }
    SocketAddress peer = FSocket.PeerAddress();
    peer.SetPort(port);
    std::vector<StatusEvent> none;
    result = Socket::Connect({peer}, Deadline::After(EffectiveTimeouts().connect), Waiter(use.cancel), data,
                             nullptr, none);
    return result;
}

DWORD FtpConnection::OpenData(Use& use, const std::string& command, Socket* data, bool* done) {
    *done = false;
    Listener listener;
    DWORD result = ERROR_SUCCESS;
    if (FPassive) {
        result = Passive(use, data);
    } else {
        result = Listener::Open(FSocket, &listener);
        if (result != ERROR_SUCCESS) return result;
        const SocketAddress& local = listener.Address();
        std::string line;
        if (local.Family() == AF_INET) {
            std::array<std::uint8_t, 4> bytes{};
            const auto* in = reinterpret_cast<const sockaddr_in*>(local.Data());
            std::memcpy(bytes.data(), &in->sin_addr, 4);
            line = "PORT " + FormatPortArgument(bytes, listener.Port());
        } else {
            line = "EPRT " + FormatEprtArgument(true, local.Text(), listener.Port());
        }
        result = Simple(use, line);
    }
    if (result != ERROR_SUCCESS) return result;

    FtpReply reply;
    result = Command(use, command, &reply, true);
    if (result != ERROR_SUCCESS) return result;
    if (reply.code >= 300) return ERROR_INTERNET_EXTENDED_ERROR;
    // A 2xx at once: the transfer is over (an empty listing, say); what the
    // data connection holds is still to be read.
    *done = reply.code >= 200;
    if (!FPassive) {
        const SocketAddress peer = FSocket.PeerAddress();
        result =
            listener.Accept(data, Deadline::After(EffectiveTimeouts().connect), Waiter(use.cancel), &peer);
        // The server may well have finished with a 2xx before connecting
        // for an empty transfer; without a connection there is nothing to read.
        if (result != ERROR_SUCCESS && *done) return ERROR_SUCCESS;
        if (result != ERROR_SUCCESS) FDead = true;
    }
    return result;
}

// The connection kind's operations; a friend of FtpConnection.
struct FtpConnectionOps {
    static DWORD Query(Handle& handle, DWORD option, void* buffer, DWORD* size) {
        return QueryTimeoutOption(static_cast<FtpConnection&>(handle).EffectiveTimeouts(), option, buffer,
                                  size);
    }

    static DWORD Set(Handle& handle, DWORD option, const void* buffer, DWORD size) {
        auto& connection = static_cast<FtpConnection&>(handle);
        std::lock_guard<std::mutex> lock(connection.FOptions);
        return SetTimeoutOption(connection.FTimeouts, option, buffer, size);
    }

    // Its children are closed by now. A step running on another thread is
    // cancelled at once; otherwise the server hears QUIT, with a short wait
    // for its answer.
    static void Close(Handle& handle) {
        auto& connection = static_cast<FtpConnection&>(handle);
        std::unique_lock<std::mutex> lock(connection.FControl, std::try_to_lock);
        if (!lock.owns_lock()) {
            connection.FCancel.Cancel();
            lock.lock();
        }
        if (!connection.FDead && connection.FSocket.IsOpen() && !connection.FCancel.IsCancelled()) {
            const Waiter waiter(&connection.FCancel);
            const Deadline deadline = Deadline::After(kQuitTimeout);
            if (connection.FSocket.Send("QUIT\r\n", 6, deadline, waiter) == ERROR_SUCCESS) {
                std::string line;
                connection.FReader.ReadLine(connection.FSocket, &line, deadline, waiter);
            }
        }
        connection.FCancel.Cancel();
        connection.FDead = true;
        connection.FSocket.Close();
    }
};

const HandleOps FtpConnection::Ops = {
    .handleType = INTERNET_HANDLE_TYPE_CONNECT_FTP,
    .name = "ftp connection",
    .queryOption = &FtpConnectionOps::Query,
    .setOption = &FtpConnectionOps::Set,
    .close = &FtpConnectionOps::Close,
};

// InternetConnectW for INTERNET_SERVICE_FTP: the handle is created (and
// reported) first, then it connects and logs in; a failure closes it again.
HINTERNET ConnectFtp(const HandleRef& session, LPCWSTR server, INTERNET_PORT port, LPCWSTR user,
                     LPCWSTR password, DWORD flags, DWORD_PTR context) {
    if (OfflineMode::IsOffline(session)) return FailWith<HINTERNET>(ERROR_INTERNET_OFFLINE, nullptr);
    std::string userText;
    std::string passwordText;
    if (!FtpArgument(user, &userText, true) || !FtpArgument(password, &passwordText, true))
        return FailWith<HINTERNET>(ERROR_INVALID_PARAMETER, nullptr);
    auto connection = std::make_shared<FtpConnection>(session, context, Utf16ToUtf8(server), port,
                                                      (flags & INTERNET_FLAG_PASSIVE) != 0);
    DWORD error = ERROR_SUCCESS;
    const HINTERNET value = HandleTable::Register(connection, &error);
    if (!value) return FailWith<HINTERNET>(error, nullptr);
    if (Async::IsAsync(*connection)) {
        // The handle is reported to the new handle's callback in
        // HANDLE_CREATED at once and in the completion once logged in; a
        // connection that fails reports its error, then closes.
        error = Async::Begin(connection, [connection, value, userText, passwordText] {
            std::vector<StatusEvent> events;
            DWORD opened = ERROR_INTERNET_INTERNAL_ERROR;
            try {
                opened = connection->Open(userText, passwordText, events);
            } catch (const std::bad_alloc&) {
                opened = ERROR_NOT_ENOUGH_MEMORY;
            } catch (...) {}
            DeliverEvents(events);
            if (opened == ERROR_SUCCESS)
                return Async::Result{reinterpret_cast<DWORD_PTR>(value), ERROR_SUCCESS};
            return Async::Result{0, opened, true};
        });
        if (error != ERROR_IO_PENDING) HandleTable::Close(value);
        return FailWith<HINTERNET>(error, nullptr);
    }
    // Memory running out while logging in must not leave the handle behind.
    try {
        std::vector<StatusEvent> events;
        error = connection->Open(userText, passwordText, events);
        DeliverEvents(events);
    } catch (...) {
        HandleTable::Close(value);
        throw;
    }
    if (error == ERROR_SUCCESS) return value;
    HandleTable::Close(value);
    return FailWith<HINTERNET>(error, nullptr);
}

}  // namespace Corvane::Backend
