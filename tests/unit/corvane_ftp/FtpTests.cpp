// The FTP component's connection, session protocol, flag words, state
// refusals, release order, listings, raw commands and form files, against
// the mocked platform.
#include "FtpMock.h"

#include <Framework/FormFiles.h>

using namespace FtpUnit;
using testing::_;
using testing::NotNull;
using testing::Return;

namespace {

class FtpTest : public FtpMockTest {};

DWORD_PTR ContextOf(TINetHandle& component) {
    return reinterpret_cast<DWORD_PTR>(&component);
}

TEST_F(FtpTest, ConnectsBeneathItsSessionWithConnectionSettingsOnlyWhileClosed) {
    std::vector<std::string> events;
    auto record = [&](const char* what) { return [&events, what](TObject*) { events.push_back(what); }; };
    TINetSession session(nullptr);
    TINetFtp ftp(nullptr);
    EXPECT_EQ(ftp.Port(), 21);
    EXPECT_EQ(U8(ftp.ServerName()), "localhost");
    EXPECT_EQ(ftp.TransferType(), ttUnknown);
    ftp.SetSession(&session);
    ftp.SetFlags({flPassive});
    ftp.SetServerName(u"ftp.test");
    ftp.SetUserName(u"ann");
    ftp.SetBeforeOpen(record("ftp before"));
    ftp.SetAfterOpen(record("ftp after"));
    session.SetBeforeOpen(record("session before"));
    session.SetAfterOpen(record("session after"));
    EXPECT_CALL(
        api, InternetConnectW(kSession, WStrEq(u"ftp.test"), INTERNET_PORT{21}, WStrEq(u"ann"), WStrEq(u""),
                              DWORD{INTERNET_SERVICE_FTP}, DWORD{INTERNET_FLAG_PASSIVE}, ContextOf(ftp)));
    ftp.Open();
    EXPECT_EQ(events,
              (std::vector<std::string>{"ftp before", "session before", "session after", "ftp after"}));

    for (const auto& setter :
         std::vector<std::function<void()>>{[&] { ftp.SetFlags({}); }, [&] { ftp.SetPassword(u"p"); },
                                            [&] { ftp.SetPort(2121); }, [&] { ftp.SetServerName(u"x"); },
                                            [&] { ftp.SetSession(nullptr); }, [&] { ftp.SetUserName(u"u"); }})
        EXPECT_EQ(RaisedMessage(setter), kOpenMessage);
    EXPECT_EQ(ftp.Port(), 21);
    EXPECT_EQ(ftp.Session(), &session);

    // Listed while open: the session closes it first.
    session.Close();
    EXPECT_FALSE(ftp.Active());
    EXPECT_EQ(Log, (std::vector<std::string>{"close connection", "close session"}));
}

// Destroyed first, a session owned elsewhere leaves no dangling reference.
TEST_F(FtpTest, SessionDestroyedFirstClearsTheReference) {
    TINetFtp ftp(nullptr);
    auto* session = new TINetSession(nullptr);
    ftp.SetSession(session);
    ftp.Open();
    delete session;
    EXPECT_FALSE(ftp.Active());
    EXPECT_EQ(ftp.Session(), nullptr);
}

// Every call with its flag word, under two settings changed while open.
TEST_F(FtpTest, EachCallGetsItsFlagsFromTheCurrentSettings) {
    DWORD seen = 0xDEAD;
    ON_CALL(api, FtpGetFileW(_, _, _, _, _, _, _))
        .WillByDefault([&](auto, auto, auto, auto, auto, DWORD f, auto) {
            seen = f;
            return TRUE;
        });
    ON_CALL(api, FtpPutFileW(_, _, _, _, _)).WillByDefault([&](auto, auto, auto, DWORD f, auto) {
        seen = f;
        return TRUE;
    });
    ON_CALL(api, FtpOpenFileW(_, _, _, _, _)).WillByDefault([&](auto, auto, auto, DWORD f, auto) {
        seen = f;
        return kFile;
    });
    ON_CALL(api, FtpFindFirstFileW(_, _, _, _, _)).WillByDefault([&](auto, auto, auto, DWORD f, auto) {
        seen = f;
        return kFind;
    });
    ON_CALL(api, FtpCommandW(_, _, _, _, _, _)).WillByDefault([&](auto, auto, DWORD f, auto, auto, auto) {
        seen = f;
        return TRUE;
    });
    TINetFtp ftp(nullptr);
    ftp.Open();
    WIN32_FIND_DATAW data{};
    struct Row {
        const char* Call;
        std::function<void()> Action;
        DWORD BinaryReload, AsciiOthers;
    };
    const Row rows[] = {
        {"FtpGetFileW", [&] { ftp.GetFile(u"r", u"l", false, {}); }, 0x80000802, 0x04000411},
        {"FtpPutFileW", [&] { ftp.PutFile(u"l", u"r"); }, 0x80000802, 0x04000411},
        {"FtpOpenFileW", [&] { ftp.OpenFile(u"r", false); }, 0x80000802, 0x04000411},
        {"FtpFindFirstFileW", [&] { ftp.FindFirstFile(u"*", data); }, 0x80000800, 0x04000410},
        {"FtpCommandW", [&] { ftp.SendCommand(u"NOOP", false); }, 0x2, 0x1},
    };
    for (const Row& row : rows) {
        ftp.SetCacheFlags({cfReload, cfResynchronize});
        ftp.SetTransferType(ttBinary);
        row.Action();
        EXPECT_EQ(seen, row.BinaryReload) << row.Call;
        ftp.SetCacheFlags({cfHyperLink, cfNeedFile, cfNoCacheWrite});
        ftp.SetTransferType(ttASCII);
        row.Action();
        EXPECT_EQ(seen, row.AsciiOthers) << row.Call;
    }

    const std::pair<TFileAttributes, Cardinal> attributes[] = {
        {{}, 0},
        {{faHidden, faReadOnly}, 0x3},
        {{faArchive, faEncrypted, faNormal, faOffline, faSystem, faTemporary}, 0x51A4},
    };
    for (const auto& [set, word] : attributes) EXPECT_EQ(GetAttributeFlags(set), word);
    EXPECT_CALL(api, FtpGetFileW(kConnection, WStrEq(u"r"), WStrEq(u"l"), TRUE, 0x3u, _, ContextOf(ftp)));
    ftp.GetFile(u"r", u"l", true, {faHidden, faReadOnly});
}

TEST_F(FtpTest, ClosedComponentRefusesEveryMethodThroughOnError) {
    TINetFtp ftp(nullptr);
    int offered = 0;
    ftp.SetOnError([&](TObject*, EINetError&, TINetAction&) { ++offered; });
    WIN32_FIND_DATAW data{};
    const std::vector<std::function<void()>> methods = {
        [&] { ftp.CreateDirectory(u"d"); },
        [&] { ftp.RemoveDirectory(u"d"); },
        [&] { ftp.GetCurrentDirectory(); },
        [&] { ftp.SetCurrentDirectory(u"d"); },
        [&] { ftp.PutFile(u"l", u"r"); },
        [&] { ftp.GetFile(u"r", u"l", false, {}); },
        [&] { ftp.RenameFile(u"a", u"b"); },
        [&] { ftp.DeleteFile(u"f"); },
        [&] { ftp.FindFirstFile(u"*", data); },
        [&] { ftp.FindNextFile(data); },
        [&] { ftp.SendCommand(u"NOOP", true); },
        [&] { ftp.OpenFile(u"f", true); },
        [&] { ftp.AvailableData(); },
        [&] { ftp.GetFileSize(); },
        [&] { ftp.ReadFile(1); },
        [&] { ftp.ReadFileBytes(1); },
        [&] { ftp.ReadFile(); },
        [&] { ftp.ReadFileBytes(); },
        [&] { ftp.WriteFile(AnsiString("x")); },
        [&] { ftp.WriteFile(TBytes{1}); },
        [&] { ftp.LockFile(); },
    };
    for (std::size_t i = 0; i < methods.size(); ++i)
        EXPECT_EQ(RaisedMessage(methods[i]), kClosedMessage) << i;
    EXPECT_EQ(offered, static_cast<int>(methods.size()));
    // With nothing to release, the releases do nothing at all.
    for (const auto& release : std::vector<std::function<void()>>{
             [&] { ftp.CompleteFindFile(); }, [&] { ftp.CloseFile(); }, [&] { ftp.UnlockFile(); }})
        EXPECT_EQ(RaisedMessage(release), "<nothing raised>");
}

// Lock, file, listing, connection; a failing release stops there, and the
// component stays listed exactly while it holds its connection. The order
// in which the session closes its users shows its list.
TEST_F(FtpTest, ClosingReleasesInOrderAndStopsAtAFailure) {
    TINetSession session(nullptr);
    TINetFtp a(nullptr), b(nullptr);
    for (TINetFtp* ftp : {&a, &b}) {
        ftp->SetSession(&session);
        ftp->SetBeforeClose([this, ftp, &a](TObject*) { Log.push_back(ftp == &a ? "A" : "B"); });
    }
    a.Open();
    b.Open();
    WIN32_FIND_DATAW data{};
    a.OpenFile(u"f", false);
    a.LockFile();
    a.FindFirstFile(u"*", data);
    auto failing = [this](HINTERNET h) {
        Log.push_back("close " + Name(h) + " fails");
        api.SetMockLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    };
    auto closes = [this](HINTERNET h) {
        Log.push_back("close " + Name(h));
        return TRUE;
    };
    EXPECT_CALL(api, InternetCloseHandle(_)).WillRepeatedly(closes);
    EXPECT_CALL(api, InternetCloseHandle(kFile)).WillOnce(failing);
    EXPECT_NE(RaisedMessage([&] { a.Close(); }), "<nothing raised>");
    EXPECT_EQ(Log, (std::vector<std::string>{"A", "unlock lock", "close file fails"}));
    EXPECT_TRUE(a.Active());
    EXPECT_EQ(a.FileHandle(), nullptr);
    EXPECT_EQ(a.FindFileHandle(), kFind);

    // Closing the connection fails: closed all the same, and unlisted.
    EXPECT_CALL(api, InternetCloseHandle(kConnection)).WillOnce(failing).WillRepeatedly(closes);
    Log.clear();
    EXPECT_NE(RaisedMessage([&] { a.Close(); }), "<nothing raised>");
    EXPECT_EQ(Log, (std::vector<std::string>{"A", "close find", "close connection fails"}));
    EXPECT_FALSE(a.Active());
    a.Open();
    Log.clear();
    session.Close();
    EXPECT_EQ(Log,
              (std::vector<std::string>{"B", "close connection", "A", "close connection", "close session"}));
}

TEST_F(FtpTest, ListingsEndInFalseAndOneReplacesAnother) {
    TINetFtp ftp(nullptr);
    ftp.Open();
    WIN32_FIND_DATAW data{};
    EXPECT_TRUE(ftp.FindFirstFile(u"*", data));
    EXPECT_TRUE(ftp.FindFirstFile(u"*.txt", data));
    EXPECT_EQ(Log, std::vector<std::string>{"close find"});
    EXPECT_CALL(api, InternetFindNextFileW(kFind, &data))
        .WillOnce(Return(TRUE))
        .WillOnce(api.Fail(ERROR_NO_MORE_FILES));
    EXPECT_TRUE(ftp.FindNextFile(data));
    EXPECT_FALSE(ftp.FindNextFile(data));
    EXPECT_EQ(ftp.FindFileHandle(), kFind);

    EXPECT_CALL(api, FtpFindFirstFileW(kConnection, WStrEq(u"none"), &data, 0u, ContextOf(ftp)))
        .WillOnce(api.Fail(ERROR_NO_MORE_FILES))
        .WillOnce(api.Fail(ERROR_INTERNET_TIMEOUT));
    EXPECT_FALSE(ftp.FindFirstFile(u"none", data));
    EXPECT_EQ(ftp.FindFileHandle(), nullptr);
    EXPECT_NE(RaisedMessage([&] { ftp.FindFirstFile(u"none", data); }), "<nothing raised>");
}

TEST_F(FtpTest, CommandExpectingAResponseTakesTheOpenFilesPlace) {
    TINetFtp ftp(nullptr);
    ftp.Open();
    ftp.OpenFile(u"f", false);
    ftp.LockFile();
    EXPECT_CALL(api, FtpCommandW(kConnection, FALSE, 0u, WStrEq(u"NOOP"), ContextOf(ftp), NotNull()))
        .WillOnce(Return(TRUE));
    ftp.SendCommand(u"NOOP", false);
    EXPECT_EQ(ftp.FileHandle(), kFile);
    EXPECT_TRUE(Log.empty());
    EXPECT_CALL(api, FtpCommandW(kConnection, TRUE, 0u, WStrEq(u"LIST"), ContextOf(ftp), NotNull()))
        .WillOnce([](auto, auto, auto, auto, auto, HINTERNET* data) {
            *data = kData;
            return TRUE;
        });
    ftp.SendCommand(u"LIST", true);
    EXPECT_EQ(Log, (std::vector<std::string>{"unlock lock", "close file"}));
    EXPECT_EQ(ftp.FileHandle(), kData);
    ftp.CloseFile();
    EXPECT_EQ(Log.back(), "close data");
}

// The first read offers MAX_PATH characters and the terminator; a longer
// directory is read again at the size the platform needs (bytes, in and out).
TEST_F(FtpTest, CurrentDirectoryOfAnyLength) {
    TINetFtp ftp(nullptr);
    ftp.Open();
    for (const std::u16string& path : {std::u16string(u"/pub"), u"/" + std::u16string(400, u'd')}) {
        std::vector<DWORD> offered;
        EXPECT_CALL(api, FtpGetCurrentDirectoryW(kConnection, NotNull(), NotNull()))
            .WillRepeatedly([&](HINTERNET, LPWSTR buffer, LPDWORD size) {
                offered.push_back(*size);
                if (*size < 2 * (path.size() + 1)) {
                    *size = static_cast<DWORD>(2 * (path.size() + 1));
                    api.SetMockLastError(ERROR_INSUFFICIENT_BUFFER);
                    return FALSE;
                }
                std::copy(path.begin(), path.end() + 1, reinterpret_cast<char16_t*>(buffer));
                *size = static_cast<DWORD>(2 * path.size());
                return TRUE;
            });
        EXPECT_EQ(ftp.GetCurrentDirectory(), path);
        EXPECT_EQ(offered.front(), 522u);
        EXPECT_EQ(offered.size(), path.size() < 261 ? 1u : 2u);
    }
}

TEST_F(FtpTest, FormFileRoundTrip) {
    TComponent root(nullptr);
    root.SetName(u"Form1");
    auto* session = new TINetSession(&root);
    session->SetName(u"Session1");
    (new TINetFtp(&root))->SetName(u"Plain");
    auto* ftp = new TINetFtp(&root);
    ftp->SetName(u"Ftp1");
    ftp->SetCacheFlags({cfReload});
    ftp->SetFlags({flPassive});
    ftp->SetPassword(u"pw");
    ftp->SetPort(2121);
    ftp->SetServerName(u"ftp.test");
    ftp->SetSession(session);
    ftp->SetTransferType(ttBinary);
    ftp->SetUserName(u"ann");
    const UnicodeString text = Framework::ComponentToText(&root);
    EXPECT_EQ(U8(text),
              "object Form1: TComponent\n"
              "  object Session1: TINetSession\n"
              "    Agent = 'Corvane'\n"
              "    Flags = []\n"
              "  end\n"
              "  object Plain: TINetFtp\n"
              "    CacheFlags = []\n"
              "    Flags = []\n"
              "    ServerName = 'localhost'\n"
              "  end\n"
              "  object Ftp1: TINetFtp\n"
              "    CacheFlags = [cfReload]\n"
              "    Flags = [flPassive]\n"
              "    Password = 'pw'\n"
              "    Port = 2121\n"
              "    ServerName = 'ftp.test'\n"
              "    Session = Session1\n"
              "    TransferType = ttBinary\n"
              "    UserName = 'ann'\n"
              "  end\n"
              "end\n");
    TComponent copy(nullptr);
    Framework::TextToComponent(text, &copy);
    EXPECT_EQ(Framework::ComponentToText(&copy), text);
}

}  // namespace
