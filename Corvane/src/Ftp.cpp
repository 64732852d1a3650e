// The FTP component's connection, directories, whole-file transfers,
// listings and raw commands, and the flag words they pass.
#include "Corvane/Ftp.h"

#include <algorithm>

#include <Platform/InternetApi.h>

#include "EnumTables.h"
#include "PlatformText.h"

namespace Corvane {

Cardinal GetAttributeFlags(TFileAttributes attributes) {
    return EnumTables::FlagWord(EnumTables::kFileAttributes, attributes);
}

TCustomINetFtp::TCustomINetFtp(TComponent* owner) : TINetHandle(owner) {}

// FreeHandle is this class's own, so closing must run here rather than in the
// base destructor. A close that could not complete (a release refused)
// leaves the handle to CloseOnDestroy's quiet release; the session's list
// must not keep the component either way.
TCustomINetFtp::~TCustomINetFtp() {
    CloseOnDestroy();
    LeaveEnteredSession();
}

void TCustomINetFtp::SetFlags(TFtpFlags value) {
    CheckInactive();
    FFlags = value;
}

void TCustomINetFtp::SetPassword(const UnicodeString& value) {
    CheckInactive();
    FPassword = value;
}

void TCustomINetFtp::SetPort(Word value) {
    CheckInactive();
    FPort = value;
}

void TCustomINetFtp::SetServerName(const UnicodeString& value) {
    CheckInactive();
    FServerName = value;
}

void TCustomINetFtp::SetSession(TINetSession* value) {
    SetSessionReference(FSession, value);
}

void TCustomINetFtp::SetUserName(const UnicodeString& value) {
    CheckInactive();
    FUserName = value;
}

void TCustomINetFtp::SetTransferType(TFtpTransferType value) {
    EnumTables::CheckElement(EnumTables::kFtpTransferTypes, value, u"TFtpTransferType");
    FTransferType = value;
}

Cardinal TCustomINetFtp::GetTransferType() const {
    // A value no element stands for cannot be stored, but the flag word
    // stays 0 rather than reading past the table should one appear.
    if (!EnumTables::IsElement(EnumTables::kFtpTransferTypes, FTransferType))
        return FTP_TRANSFER_TYPE_UNKNOWN;
    return EnumTables::ValueOf(EnumTables::kFtpTransferTypes, FTransferType);
}

Cardinal TCustomINetFtp::GetCacheFlags() const {
    return EnumTables::FlagWord(EnumTables::kFtpCacheFlags, FCacheFlags);
}

// Entered only when a connection handle was really obtained: an opening that
// ends without a handle and without an error (a pending asynchronous
// connect) leaves the component closed, and a closed component is never
// listed.
void TCustomINetFtp::CreateHandle() {
    TINetHandle::CreateHandle();
    if (Handle() != nullptr && FSession != nullptr) {
        EnterSession(FSession);
        FEnteredSession = FSession;
    }
}

// Lock, file, listing, then the connection. A failing release raises at its
// step; the component leaves its session's list exactly when the connection
// handle is gone, which the base FreeHandle ensures even when the close
// itself fails. A failure before that leaves it open, and so listed.
void TCustomINetFtp::FreeHandle() {
    try {
        UnlockFile();
        CloseFile();
        CompleteFindFile();
        TINetHandle::FreeHandle();
    } catch (...) {
        if (Handle() == nullptr) LeaveEnteredSession();
        throw;
    }
    LeaveEnteredSession();
}

void TCustomINetFtp::LeaveEnteredSession() {
    TCustomINetSession* entered = FEnteredSession;
    FEnteredSession = nullptr;
    LeaveSession(entered);
}

HINTERNET TCustomINetFtp::CreateInternalHandle() {
    TCustomINetSession* target = FSession != nullptr ? FSession : GetDefaultSession();
    Check(target != nullptr);
    // No default session any more (the program is ending): no connection.
    if (target == nullptr) return nullptr;
    target->Open();
    const DWORD flags = EnumTables::FlagWord(EnumTables::kFtpFlags, FFlags);
    return Platform().InternetConnectW(target->Handle(), WholePlatformText(FServerName), FPort,
                                       WholePlatformText(FUserName), WholePlatformText(FPassword),
                                       INTERNET_SERVICE_FTP, flags, Context());
}

// As for the HTTP component: a session being destroyed has closed this one
// already (unless a BeforeClose handler refused), and its list dies with it.
void TCustomINetFtp::Notification(TComponent* component, Framework::TOperation operation) {
    TINetHandle::Notification(component, operation);
    SessionNotification(FSession, component, operation);
    if (operation == Framework::opRemove && component != nullptr && component == FEnteredSession &&
        component->ComponentState().Contains(Framework::csDestroying))
        FEnteredSession = nullptr;
}

void TCustomINetFtp::CreateDirectory(const UnicodeString& directoryName) {
    CheckActive();
    Check(Platform().FtpCreateDirectoryW(Handle(), WholePlatformText(directoryName)));
}

void TCustomINetFtp::RemoveDirectory(const UnicodeString& directoryName) {
    CheckActive();
    Check(Platform().FtpRemoveDirectoryW(Handle(), WholePlatformText(directoryName)));
}

void TCustomINetFtp::SetCurrentDirectory(const UnicodeString& directoryName) {
    CheckActive();
    Check(Platform().FtpSetCurrentDirectoryW(Handle(), WholePlatformText(directoryName)));
}

void TCustomINetFtp::DeleteFile(const UnicodeString& fileName) {
    CheckActive();
    Check(Platform().FtpDeleteFileW(Handle(), WholePlatformText(fileName)));
}

void TCustomINetFtp::RenameFile(const UnicodeString& oldFileName, const UnicodeString& newFileName) {
    CheckActive();
    Check(
        Platform().FtpRenameFileW(Handle(), WholePlatformText(oldFileName), WholePlatformText(newFileName)));
}

void TCustomINetFtp::PutFile(const UnicodeString& localFileName, const UnicodeString& remoteFileName) {
    CheckActive();
    Check(Platform().FtpPutFileW(Handle(), WholePlatformText(localFileName),
                                 WholePlatformText(remoteFileName), GetTransferType() | GetCacheFlags(),
                                 Context()));
}

void TCustomINetFtp::GetFile(const UnicodeString& remoteFileName, const UnicodeString& localFileName,
                             bool failIfExists, TFileAttributes localFileAttributes) {
    CheckActive();
    Check(Platform().FtpGetFileW(Handle(), WholePlatformText(remoteFileName),
                                 WholePlatformText(localFileName), failIfExists ? TRUE : FALSE,
                                 GetAttributeFlags(localFileAttributes), GetTransferType() | GetCacheFlags(),
                                 Context()));
}

// The first read offers the Windows path limit (MAX_PATH characters and the
// terminator). Sizes are in bytes, in and out, as the platform's contract
// has them: a directory that does not fit fails with
// ERROR_INSUFFICIENT_BUFFER and the bytes it needs, and is read once more
// into a buffer of that size.
UnicodeString TCustomINetFtp::GetCurrentDirectory() {
    CheckActive();
    InternetApi& api = Platform();
    UnicodeString buffer(MAX_PATH + 1, u'\0');
    DWORD size = static_cast<DWORD>(buffer.size() * sizeof(char16_t));
    // The buffer and its size are this call's own: a pending query is
    // waited for.
    const auto read = [&] {
        return Synchronously(Handle(), [&] {
            return api.FtpGetCurrentDirectoryW(Handle(), PlatformBuffer(buffer.data()), &size) != FALSE;
        });
    };
    bool success = read();
    if (!success && api.GetLastError() == ERROR_INSUFFICIENT_BUFFER &&
        size > buffer.size() * sizeof(char16_t)) {
        buffer.assign((size + 1) / sizeof(char16_t), u'\0');
        size = static_cast<DWORD>(buffer.size() * sizeof(char16_t));
        success = read();
    }
    Check(success);
    if (!success) return {};
    buffer.resize(std::min(buffer.find(u'\0'), buffer.size()));
    return buffer;
}

bool TCustomINetFtp::FindFirstFile(const UnicodeString& searchFile, WIN32_FIND_DATAW& findFileData) {
    CheckActive();
    CompleteFindFile();
    InternetApi& api = Platform();
    FFindFileHandle = api.FtpFindFirstFileW(Handle(), WholePlatformText(searchFile), &findFileData,
                                            GetCacheFlags(), Context());
    if (FFindFileHandle != nullptr) return true;
    if (api.GetLastError() == ERROR_NO_MORE_FILES) return false;
    // A pending asynchronous listing: Check lets it pass, and its handle
    // comes later through the status callback.
    Check(false);
    return true;
}

bool TCustomINetFtp::FindNextFile(WIN32_FIND_DATAW& findFileData) {
    CheckActive();
    InternetApi& api = Platform();
    if (api.InternetFindNextFileW(FFindFileHandle, &findFileData)) return true;
    if (api.GetLastError() == ERROR_NO_MORE_FILES) return false;
    Check(false);
    return false;
}

void TCustomINetFtp::CompleteFindFile() {
    if (FFindFileHandle == nullptr) return;
    CheckActive();
    Check(CloseInternetHandle(FFindFileHandle));
}

// With a response expected, the command's data handle takes the open file's
// place. Without, the platform fills no handle; it is given a place of its
// own all the same, so an open file's handle can never be overwritten, and
// a handle it returned regardless is released at once.
void TCustomINetFtp::SendCommand(const UnicodeString& command, bool expectResponse) {
    CheckActive();
    if (expectResponse) {
        CloseFile();
        Check(Platform().FtpCommandW(Handle(), TRUE, GetTransferType(), WholePlatformText(command), Context(),
                                     &FFileHandle));
        return;
    }
    HINTERNET unexpected = nullptr;
    const BOOL success = Platform().FtpCommandW(Handle(), FALSE, GetTransferType(),
                                                WholePlatformText(command), Context(), &unexpected);
    if (!success) {
        Check(false);
        return;
    }
    if (unexpected != nullptr) CloseInternetHandle(unexpected);
}

}  // namespace Corvane
