// An FTP find handle (FtpFindFirstFileW): the listing, read whole when the
// handle was made, handed out one entry at a time by InternetFindNextFileW.
// It holds its connection's control connection until it closes, as on the
// platform.
#pragma once

#include "posix/ftp/FtpConnection.h"
#include "posix/ftp/FtpListing.h"

#include <memory>
#include <mutex>
#include <vector>

namespace Corvane::Backend {

class FtpFind : public Handle {
public:
    static const HandleOps Ops;

    FtpFind(std::shared_ptr<FtpConnection> connection, DWORD_PTR context,
            std::vector<FtpListingEntry> entries);

    /// Fills `data` with the next entry; ERROR_NO_MORE_FILES past the last.
    DWORD Next(WIN32_FIND_DATAW* data);

private:
    friend struct FtpFindOps;

    const std::shared_ptr<FtpConnection> FConnection;
    std::mutex FMutex;
    std::vector<FtpListingEntry> FEntries;
    std::size_t FNext = 0;
};

/// A listing entry as WIN32_FIND_DATAW: the name in UTF-16, cut to fit
/// MAX_PATH with its terminator (never inside a surrogate pair); the size;
/// DIRECTORY or NORMAL, READONLY instead of NORMAL for a file the listing
/// shows without write permission (added to DIRECTORY for a directory); the
/// time as last write, creation and last access time alike.
void FillFindData(const FtpListingEntry& entry, WIN32_FIND_DATAW* data);

}  // namespace Corvane::Backend
