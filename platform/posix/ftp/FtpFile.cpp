// FTP file and command-data handles.
#include "posix/ftp/FtpFile.h"

#include "posix/errors/LastError.h"

#include <algorithm>
#include <cstring>

namespace Corvane::Backend {

namespace {

// The most one receive takes from the data connection.
constexpr std::size_t kChunk = 64 * 1024;
// How long closing a handle before its end waits for the final reply.
constexpr DWORD kAbortTimeout = 5000;
// How long data is waited for after the server answered 2xx at once.
constexpr DWORD kDoneDataTimeout = 500;

DWORD Shorter(DWORD timeout, DWORD bound) {
    return IsLimited(timeout) ? std::min(timeout, bound) : bound;
}

}  // namespace

FtpFile::FtpFile(std::shared_ptr<FtpConnection> connection, DWORD_PTR context, bool write, bool ascii,
                 Socket data, bool done)
    : Handle(Ops, connection, context),
      FConnection(std::move(connection)),
      FWrite(write),
      FAscii(ascii),
      FData(std::move(data)),
      FFinished(done),
      FDoneAtOpen(done) {}

void FtpFile::SetSize(DWORD error, std::uint64_t size, DWORD responseCode, std::u16string response) {
    std::lock_guard<std::mutex> lock(FIo);
    FSizeError = error;
    FSize = size;
    FSizeCode = responseCode;
    FSizeResponse = std::move(response);
}

DWORD FtpFile::Size(std::uint64_t* size) const {
    auto& self = const_cast<FtpFile&>(*this);
    std::lock_guard<std::mutex> lock(self.FIo);
    if (FSizeError != ERROR_SUCCESS) {
        if (!FSizeResponse.empty()) SetLastResponseInfo(FSizeCode, FSizeResponse);
        return FSizeError;
    }
    *size = FSize;
    return ERROR_SUCCESS;
}

DWORD FtpFile::Finish(DWORD timeout) {
    if (FFinished) return FFinalError;
    FData.Close();
    FEnded = true;
    FtpConnection::Use use;
    FConnection->AcquireForChild(&use, *this, FCancel);
    FtpReply reply;
    DWORD result = FConnection->ReadFinalReply(use, &reply, timeout);
    if (result == ERROR_SUCCESS && (reply.code < 200 || reply.code >= 300))
        result = ERROR_INTERNET_EXTENDED_ERROR;
    if (use.lock.owns_lock()) use.lock.unlock();
    // The final reply is consumed: the outcome is kept before anything that
    // can fail, or closing would wait for a second reply that never comes.
    FFinished = true;
    FFinalError = FDataError != ERROR_SUCCESS ? FDataError : result;
    FEvents.insert(FEvents.end(), std::make_move_iterator(use.events.begin()),
                   std::make_move_iterator(use.events.end()));
    return FFinalError;
}

template <class Body>
DWORD FtpFile::Locked(Body&& body) {
    std::vector<StatusEvent> events;
    DWORD result;
    {
        std::lock_guard<std::mutex> lock(FIo);
        result = body();
        events.swap(FEvents);
    }
    DeliverEvents(events);
    return result;
}

DWORD FtpFile::Receive(char* into, std::size_t size, std::size_t* received) {
    const DWORD timeout = FDoneAtOpen ? Shorter(FConnection->DataReceiveTimeout(), kDoneDataTimeout)
                                      : FConnection->DataReceiveTimeout();
    DWORD result = FData.Receive(into, size, received, Deadline::After(timeout), Waiter(&FCancel));
    if (result == ERROR_INTERNET_TIMEOUT && FDoneAtOpen) {
        *received = 0;  // nothing was to come
        result = ERROR_SUCCESS;
    }
    // The transfer broke off: the final reply is read (or given up on) when
    // the handle closes, and cannot make the data whole.
    if (result != ERROR_SUCCESS) FDataError = result;
    // Broken off, or ended.
    if (result != ERROR_SUCCESS || *received == 0) {
        FData.Close();
        FEnded = true;
    }
    return result;
}

DWORD FtpFile::Fill() {
    FPending.clear();
    FOffset = 0;
    while (FPending.empty()) {
        if (FDataError != ERROR_SUCCESS) return FDataError;
        if (!FData.IsOpen()) {
            if (FAscii) FDecoder.Finish(FPending);
            if (!FPending.empty()) return ERROR_SUCCESS;
            return Finish(FConnection->EffectiveTimeouts().receive);
        }
        char chunk[kChunk];
        std::size_t received = 0;
        if (const DWORD result = Receive(chunk, sizeof(chunk), &received); result != ERROR_SUCCESS)
            return result;
        if (received == 0) continue;
        if (FAscii)
            FDecoder.Convert(chunk, received, FPending);
        else
            FPending.assign(chunk, received);
    }
    return ERROR_SUCCESS;
}

// The file kind's operations; a friend of FtpFile.
struct FtpFileOps {
    // Fills the caller's buffer as far as the data goes, as a synchronous
    // read does; 0 bytes once the data and the final reply are in.
    static DWORD Read(Handle& handle, void* buffer, DWORD toRead, DWORD* read) {
        auto& file = static_cast<FtpFile&>(handle);
        if (file.FWrite) return ERROR_INTERNET_INCORRECT_HANDLE_STATE;
        return file.Locked([&] { return ReadLocked(file, buffer, toRead, read); });
    }

    static DWORD ReadLocked(FtpFile& file, void* buffer, DWORD toRead, DWORD* read) {
        auto* out = static_cast<char*>(buffer);
        while (*read < toRead) {
            if (file.FOffset == file.FPending.size()) {
                if (file.FEnded && file.FFinished) break;
                if (!file.FAscii && file.FData.IsOpen()) {
                    // Binary data needs no conversion: it goes straight into
                    // the caller's buffer, as much as one receive brings.
                    // Once it ends, Fill reads the final reply.
                    std::size_t received = 0;
                    const DWORD result = file.Receive(out + *read, toRead - *read, &received);
                    if (result != ERROR_SUCCESS) return *read > 0 ? ERROR_SUCCESS : result;
                    *read += static_cast<DWORD>(received);
                    continue;
                }
                const DWORD result = file.Fill();
                if (result != ERROR_SUCCESS) return *read > 0 ? ERROR_SUCCESS : result;
                if (file.FPending.empty()) break;
            }
            const std::size_t take =
                std::min<std::size_t>(toRead - *read, file.FPending.size() - file.FOffset);
            std::memcpy(out + *read, file.FPending.data() + file.FOffset, take);
            file.FOffset += take;
            *read += static_cast<DWORD>(take);
        }
        if (*read == 0 && file.FFinished) return file.FFinalError;
        return ERROR_SUCCESS;
    }

    static DWORD Available(Handle& handle, DWORD* available) {
        auto& file = static_cast<FtpFile&>(handle);
        if (file.FWrite) return ERROR_INTERNET_INCORRECT_HANDLE_STATE;
        return file.Locked([&]() -> DWORD {
            if (file.FOffset == file.FPending.size()) {
                if (file.FEnded && file.FFinished) {
                    // At the end: nothing more, unless the end was a failure.
                    if (file.FFinalError != ERROR_SUCCESS) return file.FFinalError;
                } else if (const DWORD result = file.Fill(); result != ERROR_SUCCESS) {
                    return result;
                }
            }
            *available = static_cast<DWORD>(file.FPending.size() - file.FOffset);
            return ERROR_SUCCESS;
        });
    }

    static DWORD Write(Handle& handle, const void* buffer, DWORD toWrite, DWORD* written) {
        auto& file = static_cast<FtpFile&>(handle);
        if (!file.FWrite) return ERROR_INTERNET_INCORRECT_HANDLE_STATE;
        std::lock_guard<std::mutex> lock(file.FIo);
        if (file.FDataError != ERROR_SUCCESS) return file.FDataError;
        if (!file.FData.IsOpen())
            return file.FFinished ? file.FFinalError : ERROR_INTERNET_CONNECTION_ABORTED;
        const char* data = static_cast<const char*>(buffer);
        std::string encoded;
        std::size_t size = toWrite;
        if (file.FAscii) {
            file.FEncoder.Convert(data, toWrite, encoded);
            data = encoded.data();
            size = encoded.size();
        }
        const DWORD result = file.FData.Send(data, size, Deadline::After(file.FConnection->DataSendTimeout()),
                                             Waiter(&file.FCancel));
        if (result != ERROR_SUCCESS) {
            // A reset: the server must not keep the part it got as the file.
            file.FData.Abort();
            file.FDataError = result;
            return result;
        }
        *written = toWrite;
        return ERROR_SUCCESS;
    }

    // InternetCloseHandle on an upload: the data connection ends and the
    // server's final reply decides the outcome.
    static DWORD Complete(Handle& handle) {
        auto& file = static_cast<FtpFile&>(handle);
        if (!file.FWrite) return ERROR_SUCCESS;
        return file.Locked([&] { return file.Finish(file.FConnection->EffectiveTimeouts().receive); });
    }

    // A step on another thread is cancelled at once (the control connection
    // is then out of step); otherwise a transfer closed before its end gets
    // its final reply, briefly waited for, so the connection can go on.
    static void Close(Handle& handle) {
        auto& file = static_cast<FtpFile&>(handle);
        std::unique_lock<std::mutex> lock(file.FIo, std::try_to_lock);
        if (!lock.owns_lock()) {
            file.FCancel.Cancel();
            lock.lock();
        }
        // An upload not completed (its parent is closing) is broken off
        // with a reset, so the server does not keep it as a whole file.
        if (file.FWrite && !file.FFinished)
            file.FData.Abort();
        else
            file.FData.Close();
        if (!file.FFinished) {
            if (file.FCancel.IsCancelled()) {
                file.FConnection->SetDead();
            } else {
                // A broken control connection is marked dead by the reading.
                // Whatever else fails (memory for a notification), the
                // connection is let go below; out of step only when its
                // final reply was not read.
                try {
                    file.Finish(Shorter(file.FConnection->EffectiveTimeouts().receive, kAbortTimeout));
                } catch (...) {
                    if (!file.FFinished) file.FConnection->SetDead();
                }
            }
        }
        file.FCancel.Cancel();
        file.FConnection->Free();
        std::vector<StatusEvent> events;
        events.swap(file.FEvents);
        lock.unlock();
        DeliverEvents(events);
    }
};

const HandleOps FtpFile::Ops = {
    .handleType = INTERNET_HANDLE_TYPE_FTP_FILE,
    .name = "ftp file",
    .read = &FtpFileOps::Read,
    .write = &FtpFileOps::Write,
    .close = &FtpFileOps::Close,
    .queryDataAvailable = &FtpFileOps::Available,
    .complete = &FtpFileOps::Complete,
};

}  // namespace Corvane::Backend
