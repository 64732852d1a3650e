// FTP find handles.
#include "posix/ftp/FtpFind.h"

#include "posix/text/Utf.h"

#include <algorithm>
#include <cstring>

namespace Corvane::Backend {

void FillFindData(const FtpListingEntry& entry, WIN32_FIND_DATAW* data) {
    std::memset(data, 0, sizeof(*data));
    std::u16string name = Utf8ToUtf16(entry.name);
    if (name.size() >= MAX_PATH) {
        std::size_t keep = MAX_PATH - 1;
        if (name[keep - 1] >= 0xD800 && name[keep - 1] <= 0xDBFF) --keep;
        name.resize(keep);
    }
    std::copy(name.begin(), name.end(), data->cFileName);
    data->nFileSizeHigh = static_cast<DWORD>(entry.size >> 32);
    data->nFileSizeLow = static_cast<DWORD>(entry.size);
    if (entry.isDirectory)
        data->dwFileAttributes = FILE_ATTRIBUTE_DIRECTORY | (entry.readOnly ? FILE_ATTRIBUTE_READONLY : 0);
    else
        data->dwFileAttributes = entry.readOnly ? FILE_ATTRIBUTE_READONLY : FILE_ATTRIBUTE_NORMAL;
    if (entry.hasTime) {
        data->ftLastWriteTime = entry.lastWrite;
        data->ftCreationTime = entry.lastWrite;
        data->ftLastAccessTime = entry.lastWrite;
    }
}

FtpFind::FtpFind(std::shared_ptr<FtpConnection> connection, DWORD_PTR context,
                 std::vector<FtpListingEntry> entries)
    : Handle(Ops, connection, context), FConnection(std::move(connection)), FEntries(std::move(entries)) {}

DWORD FtpFind::Next(WIN32_FIND_DATAW* data) {
    std::lock_guard<std::mutex> lock(FMutex);
    if (FNext >= FEntries.size()) return ERROR_NO_MORE_FILES;
    FillFindData(FEntries[FNext++], data);
    return ERROR_SUCCESS;
}

struct FtpFindOps {
    static DWORD FindNext(Handle& handle, void* data) {
        return static_cast<FtpFind&>(handle).Next(static_cast<WIN32_FIND_DATAW*>(data));
    }

    static void Close(Handle& handle) { static_cast<FtpFind&>(handle).FConnection->Free(); }
};

const HandleOps FtpFind::Ops = {
    .handleType = INTERNET_HANDLE_TYPE_FTP_FIND,
    .name = "ftp find",
    .findNext = &FtpFindOps::FindNext,
    .close = &FtpFindOps::Close,
};

}  // namespace Corvane::Backend
