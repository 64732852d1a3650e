// An FTP file handle: a file opened by FtpOpenFileW for reading (RETR) or
// writing (STOR), or the data of a command sent by FtpCommandW. It holds its
// connection's control connection until it closes. Reading binary data
// receives straight into the caller's buffer; ASCII data (and a query of
// what is available) moves through at most one 64 KiB chunk at a time, held
// until the caller takes it. Writing sends what it is given.
#pragma once

#include "posix/ftp/FtpConnection.h"
#include "posix/ftp/FtpText.h"
#include "posix/net/CancelToken.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace Corvane::Backend {

class FtpFile : public Handle {
public:
    static const HandleOps Ops;

    /// `data` is connected and the server has answered the command (1xx, or
    /// 2xx already when `done`).
    FtpFile(std::shared_ptr<FtpConnection> connection, DWORD_PTR context, bool write, bool ascii, Socket data,
            bool done);

    /// The size SIZE reported before the transfer (FtpGetFileSize), or the
    /// error and response of its failure.
    void SetSize(DWORD error, std::uint64_t size, DWORD responseCode, std::u16string response);
    DWORD Size(std::uint64_t* size) const;

private:
    friend struct FtpFileOps;

    // Receives at most `size` bytes from the data connection into `into`,
    // their count in `received`; closes it at its end or when it fails.
    // Holds FIo.
    DWORD Receive(char* into, std::size_t size, std::size_t* received);
    // Receives the next chunk into FPending; at the end, reads the final
    // reply. Holds FIo.
    DWORD Fill();
    // Ends the data connection and reads the final reply (once). Its status
    // notifications wait in FEvents until FIo is let go, so that a callback
    // may use this handle.
    DWORD Finish(DWORD timeout);
    // Runs `body` holding FIo, then delivers what it queued.
    template <class Body>
    DWORD Locked(Body&& body);

    const std::shared_ptr<FtpConnection> FConnection;
    const bool FWrite;
    const bool FAscii;
    CancelToken FCancel;
    // Guards everything below.
    std::mutex FIo;
    Socket FData;
    bool FEnded = false;     // the data connection reached its end
    bool FFinished = false;  // the final reply was read
    DWORD FFinalError = ERROR_SUCCESS;
    // The data connection broke off: every later read or close reports it,
    // whatever the final reply says.
    DWORD FDataError = ERROR_SUCCESS;
    // The server answered 2xx before any data: the data connection may stay
    // open with nothing to come, so it is waited for only briefly.
    const bool FDoneAtOpen;
    std::vector<StatusEvent> FEvents;
    std::string FPending;
    std::size_t FOffset = 0;
    AsciiDecoder FDecoder;
    AsciiEncoder FEncoder;
    DWORD FSizeError = ERROR_SUCCESS;
    std::uint64_t FSize = 0;
    DWORD FSizeCode = 0;
    std::u16string FSizeResponse;
};

}  // namespace Corvane::Backend
