// The FTP connection handle (InternetConnectW with INTERNET_SERVICE_FTP): one
// control connection, opened and logged in by InternetConnectW, and the
// exchanges on it that every FTP function is made of (a command and its
// reply, the transfer type, opening a data connection).
//
// One caller at a time uses the control connection: an entry point holds it
// through an FtpConnection::Use for its whole exchange. While a file, find or
// command handle beneath it has a transfer going (or its listing), the
// connection is that handle's: every other command fails with
// ERROR_FTP_TRANSFER_IN_PROGRESS until that handle closes. A 421 reply or a
// control connection that breaks leaves the connection dead: every later
// command fails with ERROR_INTERNET_CONNECTION_ABORTED at once.
#pragma once

#include "posix/ftp/FtpReply.h"
#include "posix/handles/Handle.h"
#include "posix/handles/StatusEvents.h"
#include "posix/handles/Timeouts.h"
#include "posix/net/CancelToken.h"
#include "posix/net/LineReader.h"
#include "posix/net/Socket.h"

#include <mutex>
#include <string>
#include <vector>

namespace Corvane::Backend {

class FtpConnection : public Handle {
public:
    static const HandleOps Ops;

    FtpConnection(HandleRef session, DWORD_PTR context, std::string server, INTERNET_PORT port, bool passive);

    /// One entry point's exclusive use of the control connection: the lock,
    /// the notifications to deliver once it is released, the handle they
    /// concern and the waiter of the steps (cancelled by that handle's close).
    /// The notifications go after the lock (they are declared first): each
    /// holds a reference to its handle, which must not be let go of under it.
    struct Use {
        std::vector<StatusEvent> events;
        std::unique_lock<std::mutex> lock;
        Handle* notify = nullptr;
        const CancelToken* cancel = nullptr;
    };

    /// Resolves, connects, reads the greeting and logs in (an empty user
    /// logs in as "anonymous"), then learns the server's features.
    DWORD Open(const std::string& user, const std::string& password, std::vector<StatusEvent>& events);

    /// Takes the control connection for an entry point: ERROR_SUCCESS, or
    /// ERROR_FTP_TRANSFER_IN_PROGRESS while a child holds it, or
    /// ERROR_INTERNET_CONNECTION_ABORTED once it is dead.
    DWORD Acquire(Use* use);

    /// Takes the control connection for a child that holds it (to read a
    /// transfer's final reply): no busy check.
    void AcquireForChild(Use* use, Handle& child, const CancelToken& cancel);

    /// Sends one command line and reads its reply (past preliminary 1xx
    /// replies unless `preliminary`); the reply becomes the thread's last
    /// response. A broken connection or a 421 reply makes it dead.
    DWORD Command(Use& use, const std::string& line, FtpReply* reply, bool preliminary = false);

    /// Command with the reply checked: 2xx (and 3xx when `intermediate`)
    /// is success, any other ERROR_INTERNET_EXTENDED_ERROR.
    DWORD Simple(Use& use, const std::string& line, bool intermediate = false, FtpReply* reply = nullptr);

    /// Reads the next reply (the final one of a transfer).
    DWORD ReadReply(Use& use, FtpReply* reply, DWORD timeout);

    /// Reads replies up to the first that is not preliminary (1xx); too many
    /// preliminary ones make the connection dead.
    DWORD ReadFinalReply(Use& use, FtpReply* reply, DWORD timeout);

    /// Forgets the transfer type the server was last told: a raw command may
    /// have changed it, so the next transfer sends TYPE again.
    void ForgetType(Use& /*use*/) { FType = 0; }

    /// Sends TYPE A or TYPE I when the current type differs.
    DWORD SetType(Use& use, bool ascii);

    /// Opens a data connection for `command` (RETR, STOR, LIST, ...) in the
    /// connection's mode and sends the command. On success the server has
    /// answered 1xx (or already 2xx: `*done` is then true) and `data` is
    /// connected.
    DWORD OpenData(Use& use, const std::string& command, Socket* data, bool* done);

    /// Delivers the notifications and releases the control connection.
    static void Release(Use& use);

    /// Marks the connection held by a child (a transfer, listing or command
    /// data) that is about to be created; `use` holds the lock.
    void Hold(Use& use);
    /// Frees the connection again once that child is done.
    void Free();

    /// Marks the control connection out of step with the server.
    void SetDead();
    /// The same while `use` holds the control connection.
    void SetDead(Use& use);

    /// Whether the server offers MLSD (FEAT lists MLST).
    bool HasMlsd() const { return FMlsd; }

    Timeouts EffectiveTimeouts() const;
    /// The timeouts of data connections: the session's.
    DWORD DataSendTimeout() const;
    DWORD DataReceiveTimeout() const;

private:
    DWORD ReadReplyLines(Use& use, FtpReply* reply, DWORD timeout);
    friend struct FtpConnectionOps;

    DWORD SendLine(Use& use, const std::string& line);
    DWORD Login(Use& use, const std::string& user, const std::string& password);
    DWORD Passive(Use& use, Socket* data);

    const std::string FServer;
    const INTERNET_PORT FPort;
    const bool FPassive;
    CancelToken FCancel;
    // Guards everything below; held by a Use for a whole exchange.
    std::mutex FControl;
    Socket FSocket;
    LineReader FReader;
    FtpReplyParser FParser;
    bool FBusy = false;
    bool FDead = false;
    bool FMlsd = false;
    bool FNoEpsv = false;
    char FType = 0;  // 'A', 'I' or 0 for not sent yet
    // The timeouts set on this handle; guarded by FOptions.
    mutable std::mutex FOptions;
    TimeoutOverrides FTimeouts;
};

/// Whether an FTP function's argument may go on a control line, as UTF-8:
/// non-null, non-empty (unless `emptyOk`) and free of CR, LF and NUL.
bool FtpArgument(LPCWSTR text, std::string* utf8, bool emptyOk = false);

}  // namespace Corvane::Backend
