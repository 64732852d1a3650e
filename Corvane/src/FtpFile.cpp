// The FTP component's open remote file (or a command's data): opening,
// closing, locking, its size, and reading and writing it piecewise or whole.
#include "Corvane/Ftp.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include <Framework/Classes.h>
#include <Platform/InternetApi.h>

#include "PlatformText.h"

namespace Corvane {

namespace {

// A length as the platform's 32-bit count; a larger buffer is offered only
// in part, which a write reports through its count.
DWORD BufferLength(std::size_t length) {
    return static_cast<DWORD>(std::min<std::size_t>(length, std::numeric_limits<DWORD>::max()));
}

// One read of at most Length bytes into a fresh container, shortened to the
// count read. Length 0 makes no read.
// Reads and writes wait for a pending call (an asynchronous session): the
// count, and for reads the buffer, are the component's own.
template <class Container>
Container ReadPiece(TCustomINetFtp& ftp, HINTERNET file, Cardinal length) {
    Container result(length, 0);
    if (length == 0) return result;
    DWORD read = 0;
    const bool success = ftp.Synchronously(
        file, [&] { return Platform().InternetReadFile(file, result.data(), length, &read) != FALSE; });
    Check(success);
    result.resize(success ? std::min<DWORD>(read, length) : 0);
    return result;
}

template <class Container>
Cardinal WritePiece(TCustomINetFtp& ftp, HINTERNET file, const Container& data) {
    if (data.empty()) return 0;
    DWORD written = 0;
    Check(ftp.Synchronously(file, [&] {
        return Platform().InternetWriteFile(file, data.data(), BufferLength(data.size()), &written) != FALSE;
    }));
    return written;
}

}  // namespace

void TCustomINetFtp::OpenFile(const UnicodeString& fileName, bool write) {
    CheckActive();
    CloseFile();
    const DWORD access = write ? GENERIC_WRITE : GENERIC_READ;
    FFileHandle = Platform().FtpOpenFileW(Handle(), WholePlatformText(fileName), access,
                                          GetTransferType() | GetCacheFlags(), Context());
    Check(FFileHandle != nullptr);
}

void TCustomINetFtp::CloseFile() {
    if (FFileHandle == nullptr) return;
    CheckActive();
    UnlockFile();
    const bool closed = CloseInternetHandle(FFileHandle);
    CancelWaits();
    Check(closed);
}

void TCustomINetFtp::LockFile() {
    CheckActive();
    UnlockFile();
    Check(Platform().InternetLockRequestFile(FFileHandle, &FLockHandle));
}

// The lock is forgotten only once the platform has released it; a failed
// release keeps it for the next attempt.
void TCustomINetFtp::UnlockFile() {
    if (FLockHandle == nullptr) return;
    CheckActive();
    Check(Platform().InternetUnlockRequestFile(FLockHandle));
    FLockHandle = nullptr;
}

Cardinal TCustomINetFtp::AvailableData() {
    CheckActive();
    DWORD count = 0;
    if (!Synchronously(FFileHandle, [&] {
            return Platform().InternetQueryDataAvailable(FFileHandle, &count, 0, 0) != FALSE;
        })) {
        Check(false);
        return 0;
    }
    return count;
}

// The platform answers a failed query with a low part of INVALID_FILE_SIZE
// and a last error, while a size whose low part is 0xFFFFFFFF comes back
// with the last error untouched; hence the last error is cleared first.
Framework::Int64 TCustomINetFtp::GetFileSize() {
    CheckActive();
    InternetApi& api = Platform();
    api.SetLastError(0);
    DWORD high = 0;
    const DWORD low = api.FtpGetFileSize(FFileHandle, &high);
    if (low == INVALID_FILE_SIZE && api.GetLastError() != 0) return -1;
    return static_cast<Framework::Int64>((static_cast<std::uint64_t>(high) << 32) | low);
}

AnsiString TCustomINetFtp::ReadFile(Cardinal length) {
    CheckActive();
    return ReadPiece<AnsiString>(*this, FFileHandle, length);
}

TBytes TCustomINetFtp::ReadFileBytes(Cardinal length) {
    CheckActive();
    return ReadPiece<TBytes>(*this, FFileHandle, length);
}

namespace {

// Reads to the end: while data is available, ask once more how much and
// read exactly that, collecting the pieces in one growable buffer; the
// result is made from it in one copy at the end. An exception leaves the
// buffer and the piece to their destructors and the result unset.
template <class Container, class ReadAvailable, class ReadLength>
Container ReadWhole(ReadAvailable&& available, ReadLength&& read) {
    Framework::TMemoryStream buffer;
    Container chunk;
    while (available() > 0) {
        chunk = read(available());
        if (!chunk.empty()) buffer.Write(chunk.data(), static_cast<Framework::Int64>(chunk.size()));
    }
    Container result(static_cast<std::size_t>(buffer.Size()), 0);
    if (!result.empty()) std::memcpy(result.data(), buffer.Memory(), result.size());
    return result;
}

}  // namespace

AnsiString TCustomINetFtp::ReadFile() {
    return ReadWhole<AnsiString>([this] { return AvailableData(); },
                                 [this](Cardinal length) { return ReadFile(length); });
}

TBytes TCustomINetFtp::ReadFileBytes() {
    return ReadWhole<TBytes>([this] { return AvailableData(); },
                             [this](Cardinal length) { return ReadFileBytes(length); });
}

Cardinal TCustomINetFtp::WriteFile(const AnsiString& data) {
    CheckActive();
    return WritePiece(*this, FFileHandle, data);
}

Cardinal TCustomINetFtp::WriteFile(const TBytes& data) {
    CheckActive();
    return WritePiece(*this, FFileHandle, data);
}

}  // namespace Corvane
