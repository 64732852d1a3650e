/// \file
/// The FTP client component: one FTP connection (InternetConnectW beneath a
/// session) offering the server's file system as methods, plus one remote file
/// (or the data of a raw command) read or written piecewise, and one directory
/// listing in progress.
#pragma once

#include <cstdint>

#include <Framework/Classes.h>
#include <Framework/Set.h>
#include <Platform/WinInet.h>

#include "Corvane/EnumList.h"
#include "Corvane/Handle.h"
#include "Corvane/Session.h"
#include "Corvane/CorvaneExport.h"

namespace Corvane {

/// TFtpFlag's list (see Corvane/EnumList.h): each element with the
/// InternetConnectW flag it sets.
#define CORVANE_FTP_FLAGS(X) X(flPassive, INTERNET_FLAG_PASSIVE)

/// Connection flags.
enum TFtpFlag : std::uint8_t { CORVANE_FTP_FLAGS(CORVANE_ENUM_ELEMENT) };
/// A set of TFtpFlag elements.
using TFtpFlags = Framework::TSet<TFtpFlag>;

/// TFtpCacheFlag's list: each element with its INTERNET_FLAG_... bit.
#define CORVANE_FTP_CACHE_FLAGS(X)                  \
    X(cfHyperLink, INTERNET_FLAG_HYPERLINK)         \
    X(cfNeedFile, INTERNET_FLAG_NEED_FILE)          \
    X(cfNoCacheWrite, INTERNET_FLAG_NO_CACHE_WRITE) \
    X(cfReload, INTERNET_FLAG_RELOAD)               \
    X(cfResynchronize, INTERNET_FLAG_RESYNCHRONIZE)

/// Cache flags of transfers, listings and opened files.
enum TFtpCacheFlag : std::uint8_t { CORVANE_FTP_CACHE_FLAGS(CORVANE_ENUM_ELEMENT) };
/// A set of TFtpCacheFlag elements.
using TFtpCacheFlags = Framework::TSet<TFtpCacheFlag>;

/// TFtpTransferType's list: each element with its FTP_TRANSFER_TYPE_... value.
#define CORVANE_FTP_TRANSFER_TYPES(X)       \
    X(ttUnknown, FTP_TRANSFER_TYPE_UNKNOWN) \
    X(ttASCII, FTP_TRANSFER_TYPE_ASCII)     \
    X(ttBinary, FTP_TRANSFER_TYPE_BINARY)

/// Transfer type of file operations and raw commands.
enum TFtpTransferType : std::uint8_t { CORVANE_FTP_TRANSFER_TYPES(CORVANE_ENUM_ELEMENT) };

/// TFileAttribute's list: each element with its FILE_ATTRIBUTE_... bit.
#define CORVANE_FILE_ATTRIBUTES(X)           \
    X(faArchive, FILE_ATTRIBUTE_ARCHIVE)     \
    X(faEncrypted, FILE_ATTRIBUTE_ENCRYPTED) \
    X(faHidden, FILE_ATTRIBUTE_HIDDEN)       \
    X(faNormal, FILE_ATTRIBUTE_NORMAL)       \
    X(faOffline, FILE_ATTRIBUTE_OFFLINE)     \
    X(faReadOnly, FILE_ATTRIBUTE_READONLY)   \
    X(faSystem, FILE_ATTRIBUTE_SYSTEM)       \
    X(faTemporary, FILE_ATTRIBUTE_TEMPORARY)

/// Attributes of a local file that GetFile creates.
enum TFileAttribute : std::uint8_t { CORVANE_FILE_ATTRIBUTES(CORVANE_ENUM_ELEMENT) };
/// A set of TFileAttribute elements.
using TFileAttributes = Framework::TSet<TFileAttribute>;

/// The platform's FILE_ATTRIBUTE_... word of a set of attributes (0 for the
/// empty set).
CORVANE_EXPORT Cardinal GetAttributeFlags(TFileAttributes attributes);

/// The FTP client. The component's Handle is the connection to ServerName
/// and Port, opened beneath its Session (or the default session when none is
/// assigned). While open it holds at most one directory listing
/// (FindFileHandle), one open remote file or command data handle
/// (FileHandle) and one lock on that file; closing releases the lock, the
/// file and the listing, in that order, before the connection.
///
/// Connection settings (Flags, Password, Port, ServerName, Session,
/// UserName) change only while the component is closed; CacheFlags and
/// TransferType at any time, and apply to the next call that uses them.
/// While open beneath an assigned session the component is in that
/// session's list of users, and the session closes it before itself.
///
/// Every method raises "Can't perform this operation on a closed session"
/// on a closed component (CompleteFindFile, CloseFile and UnlockFile only
/// when they have something to release), and EINetError for a failing
/// platform call.
class CORVANE_EXPORT TCustomINetFtp : public TINetHandle {
public:
    /// A closed component: Port 21, ServerName "localhost", ttUnknown, no
    /// flags, no session.
    explicit TCustomINetFtp(TComponent* owner);
    ~TCustomINetFtp() override;

    /// The directory listing in progress, or null.
    HINTERNET FindFileHandle() const { return FFindFileHandle; }
    /// The open remote file or the data of the last command that expected a
    /// response, or null.
    HINTERNET FileHandle() const { return FFileHandle; }

    // Directories and whole files.

    /// Makes a directory on the server.
    void CreateDirectory(const UnicodeString& directoryName);
    /// Removes an empty directory from the server.
    void RemoveDirectory(const UnicodeString& directoryName);
    /// The server's current directory, as the server names it. A directory
    /// longer than the Windows path limit is read again at the size the
    /// platform reports.
    UnicodeString GetCurrentDirectory();
    /// Changes the server's current directory (".." goes up one).
    void SetCurrentDirectory(const UnicodeString& directoryName);
    /// Stores the local file on the server (TransferType and CacheFlags).
    void PutFile(const UnicodeString& localFileName, const UnicodeString& remoteFileName);
    /// Fetches the remote file into a local file created with
    /// LocalFileAttributes. With FailIfExists an existing local file is an
    /// error; without, it is replaced once the transfer has succeeded.
    void GetFile(const UnicodeString& remoteFileName, const UnicodeString& localFileName, bool failIfExists,
                 TFileAttributes localFileAttributes);
    /// Renames or moves a file on the server.
    void RenameFile(const UnicodeString& oldFileName, const UnicodeString& newFileName);
    /// Deletes a file on the server.
    void DeleteFile(const UnicodeString& fileName);

    // Directory listings.

    /// Ends a listing in progress, then starts one for SearchFile (a name,
    /// a pattern or empty for the current directory) with CacheFlags. False
    /// when nothing matches; FindFileData is the first entry otherwise.
    bool FindFirstFile(const UnicodeString& searchFile, WIN32_FIND_DATAW& findFileData);
    /// The next entry of the listing; false at its end.
    bool FindNextFile(WIN32_FIND_DATAW& findFileData);
    /// Ends the listing in progress; does nothing when there is none.
    void CompleteFindFile();

    // Raw commands.

    /// Sends Command with TransferType. With ExpectResponse the open file is
    /// closed first and the command's data handle becomes FileHandle, read
    /// and released like an opened file; without, an open file stays open.
    void SendCommand(const UnicodeString& command, bool expectResponse);

    // Remote files read or written piecewise.

    /// Closes the open file, then opens FileName for writing (GENERIC_WRITE)
    /// or reading (GENERIC_READ) with TransferType and CacheFlags.
    void OpenFile(const UnicodeString& fileName, bool write);
    /// Releases the lock, then closes the open file; does nothing when no
    /// file is open. FileHandle is null afterwards even when the close fails.
    void CloseFile();
    /// The bytes of the open file that can be read at once.
    Cardinal AvailableData();
    /// The size of the open file; -1 when the platform cannot tell it (no
    /// file open, or the server does not report sizes). Raises only on a
    /// closed component.
    Framework::Int64 GetFileSize();
    /// At most Length bytes of the open file; fewer at its end. Length 0
    /// reads nothing.
    AnsiString ReadFile(Cardinal length);
    /// The same as bytes.
    TBytes ReadFileBytes(Cardinal length);
    /// The rest of the open file, whole.
    AnsiString ReadFile();
    /// The rest of the open file, whole, as bytes.
    TBytes ReadFileBytes();
    /// Writes Data to the file opened for writing and returns the bytes
    /// written (a short write is not completed). Empty data writes nothing.
    Cardinal WriteFile(const AnsiString& data);
    /// The same from bytes.
    Cardinal WriteFile(const TBytes& data);
    /// Releases an earlier lock, then locks the open file.
    void LockFile();
    /// Releases the lock; does nothing when there is none.
    void UnlockFile();

protected:
    // Connection settings: raise "Can't perform this operation on an open
    // session" on an open component.

    /// Connection flags: flPassive makes the client open the data
    /// connections.
    TFtpFlags Flags() const { return FFlags; }
    /// Sets Flags.
    void SetFlags(TFtpFlags value);
    /// The password of the login.
    UnicodeString Password() const { return FPassword; }
    /// Sets Password.
    void SetPassword(const UnicodeString& value);
    /// The server's port (21 initially).
    Word Port() const { return FPort; }
    /// Sets Port.
    void SetPort(Word value);
    /// The server's host name ("localhost" initially).
    UnicodeString ServerName() const { return FServerName; }
    /// Sets ServerName.
    void SetServerName(const UnicodeString& value);
    /// The session to connect beneath; null means the default session.
    TINetSession* Session() const { return static_cast<TINetSession*>(FSession); }
    /// Sets Session (null: the default session); the component hears of the
    /// session's destruction and clears the reference then.
    void SetSession(TINetSession* value);
    /// The user name of the login ("anonymous" for an anonymous one).
    UnicodeString UserName() const { return FUserName; }
    /// Sets UserName.
    void SetUserName(const UnicodeString& value);

    // Settings of single calls: may change at any time.

    /// The cache flags of transfers, listings and opened files.
    TFtpCacheFlags CacheFlags() const { return FCacheFlags; }
    /// Sets CacheFlags.
    void SetCacheFlags(TFtpCacheFlags value) { FCacheFlags = value; }
    /// How files and command data are transferred: ttBinary byte for byte,
    /// ttASCII with line ends converted, ttUnknown the platform's choice.
    TFtpTransferType TransferType() const { return FTransferType; }
    /// Refuses a value no element stands for (SINetInvalidValue).
    void SetTransferType(TFtpTransferType value);

    /// The FTP_TRANSFER_TYPE_... value of TransferType.
    Cardinal GetTransferType() const;
    /// The INTERNET_FLAG_... word of CacheFlags.
    Cardinal GetCacheFlags() const;

    /// The base CreateHandle, then entry in the assigned session's users.
    void CreateHandle() override;
    /// Releases the lock, the file and the listing, then the connection
    /// (the base FreeHandle), then leaves the session's users. A failing
    /// release raises and stops there; the component leaves the session
    /// whenever its connection handle is gone.
    void FreeHandle() override;
    /// Opens the session (assigned or default) and connects to ServerName
    /// and Port as UserName with Password (INTERNET_SERVICE_FTP, the
    /// connection flags).
    HINTERNET CreateInternalHandle() override;
    /// Clears Session when that session is removed.
    void Notification(TComponent* component, Framework::TOperation operation) override;

private:
    /// Removes the component from the list of the session it entered.
    void LeaveEnteredSession();

    TFtpCacheFlags FCacheFlags;
    TFtpFlags FFlags;
    UnicodeString FPassword;
    Word FPort = 21;
    UnicodeString FServerName = u"localhost";
    TCustomINetSession* FSession = nullptr;
    TFtpTransferType FTransferType = ttUnknown;
    UnicodeString FUserName;
    HINTERNET FFindFileHandle = nullptr;
    HINTERNET FFileHandle = nullptr;
    HANDLE FLockHandle = nullptr;
    /// The session whose list this component is in while open; kept apart
    /// from FSession, which a removal notice may clear while open.
    TCustomINetSession* FEnteredSession = nullptr;
};

/// The FTP client component: publishes TCustomINetFtp's properties.
class CORVANE_EXPORT TINetFtp : public TCustomINetFtp {
public:
    using TCustomINetFtp::TCustomINetFtp;

    using TCustomINetFtp::About;
    using TCustomINetFtp::Active;
    using TCustomINetFtp::AfterClose;
    using TCustomINetFtp::AfterOpen;
    using TCustomINetFtp::BeforeClose;
    using TCustomINetFtp::BeforeOpen;
    using TCustomINetFtp::CacheFlags;
    using TCustomINetFtp::Flags;
    using TCustomINetFtp::OnCallback;
    using TCustomINetFtp::OnError;
    using TCustomINetFtp::Password;
    using TCustomINetFtp::Port;
    using TCustomINetFtp::ServerName;
    using TCustomINetFtp::Session;
    using TCustomINetFtp::SetAbout;
    using TCustomINetFtp::SetActive;
    using TCustomINetFtp::SetAfterClose;
    using TCustomINetFtp::SetAfterOpen;
    using TCustomINetFtp::SetBeforeClose;
    using TCustomINetFtp::SetBeforeOpen;
    using TCustomINetFtp::SetCacheFlags;
    using TCustomINetFtp::SetFlags;
    using TCustomINetFtp::SetOnCallback;
    using TCustomINetFtp::SetOnError;
    using TCustomINetFtp::SetPassword;
    using TCustomINetFtp::SetPort;
    using TCustomINetFtp::SetServerName;
    using TCustomINetFtp::SetSession;
    using TCustomINetFtp::SetTransferType;
    using TCustomINetFtp::SetUserName;
    using TCustomINetFtp::TransferType;
    using TCustomINetFtp::UserName;
};

}  // namespace Corvane
