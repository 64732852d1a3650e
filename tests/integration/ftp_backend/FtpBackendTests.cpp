// The FTP functions of the C API against a real FTP server with MLSD
// (CORVANE_FTP_URL, a user with full rights on CORVANE_FTP_ROOT), in passive
// and active mode, over IPv4 and, where the servers listen on ::1, IPv6.
#include "TestServers.h"
#include "WideText.h"

#include <Platform/WinInet.h>

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <netinet/in.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <string>
#include <thread>
#include <vector>

namespace {

using WideText::W;

struct Server {
    std::u16string host;
    INTERNET_PORT port = 0;
};

Server ServerOf(const std::string& url) {
    std::string rest = url.substr(url.find("://") + 3);
    const std::size_t colon = rest.rfind(':');
    std::string host = rest.substr(0, colon);
    if (host.front() == '[') host = host.substr(1, host.size() - 2);
    return {std::u16string(host.begin(), host.end()),
            static_cast<INTERNET_PORT>(std::stoi(rest.substr(colon + 1)))};
}

std::u16string Wide(const std::string& text) {
    return std::u16string(text.begin(), text.end());
}

std::string LastResponse() {
    DWORD code = 0;
    char16_t text[4096] = {};
    DWORD size = sizeof(text);
    if (!InternetGetLastResponseInfoW(&code, W(text), &size)) return {};
    return std::string(text, text + size / 2);
}

std::string ReadLocal(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteLocal(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

std::vector<DWORD> gStatuses;
void CALLBACK Record(HINTERNET, DWORD_PTR, DWORD status, LPVOID, DWORD) {
    gStatuses.push_back(status);
}

class FtpBackend : public ::testing::Test {
protected:
    void SetUp() override {
        FSession = InternetOpenW(W(u"ftp test"), INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
        ASSERT_NE(FSession, nullptr);
        FLocal = std::filesystem::temp_directory_path() / ("ftp-backend-" + std::to_string(::getpid()));
        std::filesystem::create_directories(FLocal);
    }
    void TearDown() override {
        InternetCloseHandle(FSession);
        std::filesystem::remove_all(FLocal);
    }

    HINTERNET Connect(const Server& server, const std::u16string& user, const std::u16string& password,
                      DWORD flags) {
        return InternetConnectW(FSession, W(server.host.c_str()), server.port,
                                user.empty() ? nullptr : W(user.c_str()), W(password.c_str()),
                                INTERNET_SERVICE_FTP, flags, 1);
    }

    HINTERNET FSession = nullptr;
    std::filesystem::path FLocal;
};

// One session per mode and address family, checking along the way what
// each function does with real data: directories, UTF-8 names with spaces,
// binary and ASCII transfers both ways, the listing's fields, streams,
// command data, the connection held by an open handle, names that would
// smuggle a command, failures that keep the target file.
TEST_F(FtpBackend, SessionInEveryMode) {
    const std::u16string user = Wide(TestServers::Setting("CORVANE_FTP_USER"));
    const std::u16string password = Wide(TestServers::Setting("CORVANE_FTP_PASSWORD"));
    const std::filesystem::path root = TestServers::Setting("CORVANE_FTP_ROOT");
    std::vector<std::pair<std::string, Server>> servers{
        {"ipv4", ServerOf(TestServers::Setting("CORVANE_FTP_URL"))}};
    if (!TestServers::Setting("CORVANE_FTP6_URL").empty())
        servers.push_back({"ipv6", ServerOf(TestServers::Setting("CORVANE_FTP6_URL"))});
    const auto pattern = TestServers::PatternBytes(1, 3 * 1024 * 1024 + 17);
    const std::string binary(pattern.begin(), pattern.end());
    WriteLocal(FLocal / "pattern.bin", binary);
    WriteLocal(FLocal / "empty", "");
    WriteLocal(FLocal / "lines.txt", "one\ntwo\r\nthree\n");

    for (const auto& [family, server] : servers)
        for (const DWORD mode : {DWORD{INTERNET_FLAG_PASSIVE}, DWORD{0}}) {
            SCOPED_TRACE(family + (mode ? " passive" : " active"));
            const std::u16string folder = u"dir \u00fc " + Wide(family) + (mode ? u"p" : u"a");
            const std::filesystem::path remote =
                root /
                std::filesystem::path(std::u8string(u8"dir \u00fc ") +
                                      std::u8string(family.begin(), family.end()) + (mode ? u8"p" : u8"a"));
            gStatuses.clear();
            InternetSetStatusCallbackW(FSession, &Record);
            const HINTERNET ftp = Connect(server, user, password, mode);
            ASSERT_NE(ftp, nullptr) << GetLastError();
            InternetSetStatusCallbackW(FSession, nullptr);
            InternetSetStatusCallbackW(ftp, nullptr);
            for (const DWORD status : {INTERNET_STATUS_HANDLE_CREATED, INTERNET_STATUS_CONNECTED_TO_SERVER,
                                       INTERNET_STATUS_REQUEST_SENT, INTERNET_STATUS_RESPONSE_RECEIVED})
                EXPECT_NE(std::find(gStatuses.begin(), gStatuses.end(), status), gStatuses.end()) << status;
            DWORD type = 0;
            DWORD size = sizeof(type);
            EXPECT_TRUE(InternetQueryOptionW(ftp, INTERNET_OPTION_HANDLE_TYPE, &type, &size));
            EXPECT_EQ(type, DWORD{INTERNET_HANDLE_TYPE_CONNECT_FTP});

            // Directories and the current one, with a quote in no name but a
            // UTF-8 letter and a space.
            ASSERT_TRUE(FtpCreateDirectoryW(ftp, W(folder.c_str()))) << LastResponse();
            ASSERT_TRUE(FtpSetCurrentDirectoryW(ftp, W(folder.c_str())));
            char16_t cwd[256] = {};
            DWORD cwdSize = 4;
            EXPECT_FALSE(FtpGetCurrentDirectoryW(ftp, W(cwd), &cwdSize));
            EXPECT_EQ(GetLastError(), DWORD{ERROR_INSUFFICIENT_BUFFER});
            EXPECT_EQ(cwdSize, (folder.size() + 2) * 2);
            cwdSize = sizeof(cwd);
            ASSERT_TRUE(FtpGetCurrentDirectoryW(ftp, W(cwd), &cwdSize));
            EXPECT_EQ(std::u16string(cwd), u"/" + folder);

            // Transfers both ways, byte for byte, and ASCII's line ends.
            ASSERT_TRUE(FtpPutFileW(ftp, W(Wide((FLocal / "pattern.bin").string()).c_str()),
                                    W(u"big file.bin"), FTP_TRANSFER_TYPE_BINARY, 0));
            EXPECT_TRUE(FtpPutFileW(ftp, W(Wide((FLocal / "empty").string()).c_str()), W(u"empty.bin"),
                                    FTP_TRANSFER_TYPE_UNKNOWN, 0));
            EXPECT_TRUE(FtpPutFileW(ftp, W(Wide((FLocal / "lines.txt").string()).c_str()), W(u"lines.txt"),
                                    FTP_TRANSFER_TYPE_ASCII, 0));
            EXPECT_EQ(ReadLocal(remote / "big file.bin"), binary);
            // The server keeps text in its own line ends.
            EXPECT_EQ(ReadLocal(remote / "lines.txt"), "one\ntwo\nthree\n");
            const std::u16string back = Wide((FLocal / "back.bin").string());
            ASSERT_TRUE(FtpGetFileW(ftp, W(u"big file.bin"), W(back.c_str()), FALSE, FILE_ATTRIBUTE_READONLY,
                                    FTP_TRANSFER_TYPE_BINARY, 0));
            EXPECT_EQ(ReadLocal(FLocal / "back.bin"), binary);
            EXPECT_EQ(std::filesystem::status(FLocal / "back.bin").permissions() &
                          std::filesystem::perms::owner_write,
                      std::filesystem::perms::none);
            EXPECT_FALSE(FtpGetFileW(ftp, W(u"empty.bin"), W(back.c_str()), TRUE, 0, 0, 0));
            EXPECT_EQ(GetLastError(), DWORD{ERROR_FILE_EXISTS});
            const std::u16string text = Wide((FLocal / "lines.txt").string());
            EXPECT_TRUE(
                FtpGetFileW(ftp, W(u"lines.txt"), W(text.c_str()), FALSE, 0, FTP_TRANSFER_TYPE_ASCII, 0));
            EXPECT_EQ(ReadLocal(FLocal / "lines.txt"), "one\ntwo\nthree\n");
            // A missing file: the server's reply, the local file untouched, no
            // temporary file left beside it.
            EXPECT_FALSE(FtpGetFileW(ftp, W(u"missing"), W(text.c_str()), FALSE, 0, 0, 0));
            EXPECT_EQ(GetLastError(), DWORD{ERROR_INTERNET_EXTENDED_ERROR});
            EXPECT_EQ(LastResponse().substr(0, 4), "550 ");
            EXPECT_EQ(ReadLocal(FLocal / "lines.txt"), "one\ntwo\nthree\n");
            EXPECT_EQ(std::distance(std::filesystem::directory_iterator(FLocal), {}), 4);

            // The listing: fields, a pattern, the connection held meanwhile.
            EXPECT_TRUE(FtpCreateDirectoryW(ftp, W(u"sub")));
            WIN32_FIND_DATAW found{};
            const HINTERNET find = FtpFindFirstFileW(ftp, nullptr, &found, 0, 2);
            ASSERT_NE(find, nullptr) << GetLastError();
            std::map<std::u16string, WIN32_FIND_DATAW> listed;
            do listed[reinterpret_cast<const char16_t*>(found.cFileName)] = found;
            while (InternetFindNextFileW(find, &found));
            EXPECT_EQ(GetLastError(), DWORD{ERROR_NO_MORE_FILES});
            EXPECT_FALSE(FtpDeleteFileW(ftp, W(u"empty.bin")));
            EXPECT_EQ(GetLastError(), DWORD{ERROR_FTP_TRANSFER_IN_PROGRESS});
            EXPECT_TRUE(InternetCloseHandle(find));
            ASSERT_EQ(listed.size(), 4u);
            EXPECT_EQ(listed[u"big file.bin"].nFileSizeLow, binary.size());
            EXPECT_EQ(listed[u"big file.bin"].dwFileAttributes, DWORD{FILE_ATTRIBUTE_NORMAL});
            EXPECT_NE(listed[u"big file.bin"].ftLastWriteTime.dwHighDateTime, 0u);
            EXPECT_EQ(listed[u"sub"].dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY,
                      DWORD{FILE_ATTRIBUTE_DIRECTORY});
            EXPECT_EQ(FtpFindFirstFileW(ftp, W(u"*.none"), &found, 0, 0), nullptr);
            EXPECT_EQ(GetLastError(), DWORD{ERROR_NO_MORE_FILES});
            const HINTERNET some = FtpFindFirstFileW(ftp, W(u"*.bin"), &found, 0, 0);
            ASSERT_NE(some, nullptr);
            EXPECT_TRUE(InternetFindNextFileW(some, &found));
            EXPECT_FALSE(InternetFindNextFileW(some, &found));
            InternetCloseHandle(some);

            // Streams: a read handle with its size, a write handle whose close
            // ends the upload, command data.
            const HINTERNET reading =
                FtpOpenFileW(ftp, W(u"big file.bin"), GENERIC_READ, FTP_TRANSFER_TYPE_BINARY, 0);
            ASSERT_NE(reading, nullptr) << LastResponse();
            DWORD high = 7;
            EXPECT_EQ(FtpGetFileSize(reading, &high), binary.size());
            EXPECT_EQ(high, 0u);
            DWORD available = 0;
            EXPECT_TRUE(InternetQueryDataAvailable(reading, &available, 0, 0));
            EXPECT_GT(available, 0u);
            EXPECT_FALSE(FtpRenameFileW(ftp, W(u"lines.txt"), W(u"x")));
            EXPECT_EQ(GetLastError(), DWORD{ERROR_FTP_TRANSFER_IN_PROGRESS});
            std::string streamed;
            char buffer[100000];
            DWORD read = 0;
            while (InternetReadFile(reading, buffer, sizeof(buffer), &read) && read > 0)
                streamed.append(buffer, read);
            EXPECT_EQ(streamed, binary);
            HANDLE lock = nullptr;
            EXPECT_FALSE(InternetLockRequestFile(ftp, &lock));
            EXPECT_EQ(GetLastError(), DWORD{ERROR_INTERNET_INCORRECT_HANDLE_TYPE});
            EXPECT_TRUE(InternetLockRequestFile(reading, &lock));
            EXPECT_TRUE(InternetCloseHandle(reading));
            EXPECT_TRUE(InternetUnlockRequestFile(lock));
            EXPECT_FALSE(InternetUnlockRequestFile(lock));
            const HINTERNET writing =
                FtpOpenFileW(ftp, W(u"written.txt"), GENERIC_WRITE, FTP_TRANSFER_TYPE_ASCII, 0);
            ASSERT_NE(writing, nullptr);
            DWORD written = 0;
            EXPECT_TRUE(InternetWriteFile(writing, "a\nb", 3, &written));
            EXPECT_TRUE(InternetWriteFile(writing, "\n", 1, &written));
            EXPECT_TRUE(InternetCloseHandle(writing));
            EXPECT_EQ(ReadLocal(remote / "written.txt"), "a\nb\n");
            HINTERNET command = nullptr;
            ASSERT_TRUE(FtpCommandW(ftp, TRUE, FTP_TRANSFER_TYPE_ASCII, W(u"NLST"), 0, &command));
            std::string names;
            while (InternetReadFile(command, buffer, sizeof(buffer), &read) && read > 0)
                names.append(buffer, read);
            EXPECT_NE(names.find("written.txt\n"), std::string::npos) << names;
            InternetCloseHandle(command);
            EXPECT_TRUE(FtpCommandW(ftp, FALSE, 0, W(u"NOOP"), 0, nullptr));
            EXPECT_FALSE(FtpCommandW(ftp, FALSE, 0, W(u"BOGUS"), 0, nullptr));
            EXPECT_EQ(GetLastError(), DWORD{ERROR_INTERNET_EXTENDED_ERROR});

            // Names with line breaks never reach the server.
            EXPECT_FALSE(FtpCreateDirectoryW(ftp, W(u"x\r\nDELE empty.bin")));
            EXPECT_EQ(GetLastError(), DWORD{ERROR_INVALID_PARAMETER});
            EXPECT_FALSE(FtpCommandW(ftp, FALSE, 0, W(u"NOOP\nDELE empty.bin"), 0, nullptr));
            EXPECT_FALSE(FtpRenameFileW(ftp, W(u"empty.bin"), W(u"\n")));
            EXPECT_FALSE(FtpDeleteFileW(ftp, W(u"")));
            EXPECT_TRUE(std::filesystem::exists(remote / "empty.bin"));

            // Renaming and removing.
            EXPECT_TRUE(FtpRenameFileW(ftp, W(u"empty.bin"), W(u"sub/moved")));
            EXPECT_TRUE(std::filesystem::exists(remote / "sub" / "moved"));
            for (const char16_t* name : {u"sub/moved", u"big file.bin", u"lines.txt", u"written.txt"})
                EXPECT_TRUE(FtpDeleteFileW(ftp, W(name))) << LastResponse();
            EXPECT_TRUE(FtpRemoveDirectoryW(ftp, W(u"sub")));
            EXPECT_TRUE(FtpSetCurrentDirectoryW(ftp, W(u"..")));
            EXPECT_TRUE(FtpRemoveDirectoryW(ftp, W(folder.c_str())));
            EXPECT_FALSE(std::filesystem::exists(remote));
            EXPECT_TRUE(InternetCloseHandle(ftp));
            std::filesystem::remove(FLocal / "back.bin");
        }
}

// Servers that misbehave or answer otherwise (the scripted server's sessions
// and paths, vsftpd's LIST): what each function makes of it.
TEST_F(FtpBackend, OddAndFailingServers) {
    const Server script = ServerOf(TestServers::Setting("CORVANE_FTPSCRIPT_URL"));
    const auto data = TestServers::PatternBytes(1, 1024 * 1024);
    const std::string target = (FLocal / "target").string();
    WriteLocal(target, "kept");
    DWORD timeout = 500;
    ASSERT_TRUE(
        InternetSetOptionW(FSession, INTERNET_OPTION_DATA_RECEIVE_TIMEOUT, &timeout, sizeof(timeout)));
    // Reads a file through a handle; the error, or ERROR_SUCCESS when the
    // bytes are those of data.bin.
    const auto readAll = [&](HINTERNET ftp, const char16_t* name) -> DWORD {
        const HINTERNET file = FtpOpenFileW(ftp, W(name), GENERIC_READ, FTP_TRANSFER_TYPE_BINARY, 0);
        if (!file) return GetLastError();
        std::string bytes;
        char buffer[65536];
        DWORD read = 0;
        BOOL ok;
        while ((ok = InternetReadFile(file, buffer, sizeof(buffer), &read)) && read > 0)
            bytes.append(buffer, read);
        const DWORD error = ok ? ERROR_SUCCESS : GetLastError();
        InternetCloseHandle(file);
        return error != ERROR_SUCCESS ? error : bytes == std::string(data.begin(), data.end()) ? 0 : 1;
    };
    const auto getFile = [&](HINTERNET ftp, const char16_t* name) -> DWORD {
        return FtpGetFileW(ftp, W(name), W(Wide(target).c_str()), FALSE, 0, FTP_TRANSFER_TYPE_BINARY, 0)
                   ? ERROR_SUCCESS
                   : GetLastError();
    };
    struct Row {
        const char* name;
        const char16_t* user;
        DWORD mode;
        std::function<DWORD(HINTERNET)> action;
        DWORD error;
        const char* response;  // how the last response starts
        bool usableAfter;
    } rows[] = {
        {"multi-line login", u"multiline", INTERNET_FLAG_PASSIVE, [](HINTERNET) { return DWORD{0}; }, 0,
         "230-", true},
        {"PASV after EPSV refused", u"noepsv", INTERNET_FLAG_PASSIVE,
         [&](HINTERNET ftp) { return readAll(ftp, u"data.bin"); }, 0, "226", true},
        {"PASV naming another host", u"badpasv", INTERNET_FLAG_PASSIVE,
         [&](HINTERNET ftp) { return readAll(ftp, u"data.bin"); }, 0, "226", true},
        {"active", u"plain", 0, [&](HINTERNET ftp) { return readAll(ftp, u"data.bin"); }, 0, "226", true},
        {"426 mid-transfer", u"plain", INTERNET_FLAG_PASSIVE,
         [&](HINTERNET ftp) { return getFile(ftp, u"fault/drop-426.bin"); }, ERROR_INTERNET_EXTENDED_ERROR,
         "426", true},
        {"read 426 mid-transfer", u"plain", INTERNET_FLAG_PASSIVE,
         [&](HINTERNET ftp) { return readAll(ftp, u"fault/drop-426.bin"); }, ERROR_INTERNET_EXTENDED_ERROR,
         "426", true},
        {"data reset after 226", u"plain", INTERNET_FLAG_PASSIVE,
         [&](HINTERNET ftp) { return readAll(ftp, u"fault/reset-226.bin"); }, ERROR_INTERNET_CONNECTION_RESET,
         "226", true},
        {"control closed mid-transfer", u"plain", INTERNET_FLAG_PASSIVE,
         [&](HINTERNET ftp) { return getFile(ftp, u"fault/drop-close.bin"); },
         ERROR_INTERNET_CONNECTION_ABORTED, "150", false},
        {"stalled data", u"plain", 0, [&](HINTERNET ftp) { return getFile(ftp, u"fault/stall.bin"); },
         ERROR_INTERNET_TIMEOUT, "", false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const HINTERNET ftp = Connect(script, row.user, u"pw", row.mode);
        ASSERT_NE(ftp, nullptr) << GetLastError();
        EXPECT_EQ(row.action(ftp), row.error);
        EXPECT_EQ(LastResponse().substr(0, std::strlen(row.response)), row.response);
        EXPECT_EQ(ReadLocal(target), "kept");
        EXPECT_EQ(FtpSetCurrentDirectoryW(ftp, W(u"/")), row.usableAfter);
        EXPECT_TRUE(InternetCloseHandle(ftp));
    }
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(FLocal), {}), 1);

    // LIST in the forms servers use, with MLSD missing or not used.
    struct Listing {
        Server server;
        std::u16string user;
        std::u16string password;
        const char16_t* search;
        std::map<std::u16string, DWORD> expected;  // name and attributes
    } listings[] = {
        {script,
         u"plain",
         u"pw",
         u"dos/*",
         {{u"name", FILE_ATTRIBUTE_DIRECTORY},
          {u"report.txt", FILE_ATTRIBUTE_NORMAL},
          {u"file with spaces.txt", FILE_ATTRIBUTE_NORMAL}}},
        {script,
         u"plain",
         u"pw",
         u"odd",
         {{u"link", FILE_ATTRIBUTE_NORMAL},
          {u"report.txt", FILE_ATTRIBUTE_NORMAL},
          {u"name with  two spaces.txt", FILE_ATTRIBUTE_NORMAL},
          {u"sub dir", FILE_ATTRIBUTE_DIRECTORY},
          {u"caf\u00e9 \u00fcn\u00ef.txt", FILE_ATTRIBUTE_NORMAL}}},
    };
    for (const Listing& listing : listings) {
        SCOPED_TRACE(
            std::string(listing.search, listing.search + std::char_traits<char16_t>::length(listing.search)));
        const HINTERNET ftp = Connect(listing.server, listing.user, listing.password, INTERNET_FLAG_PASSIVE);
        ASSERT_NE(ftp, nullptr);
        WIN32_FIND_DATAW found{};
        const HINTERNET find = FtpFindFirstFileW(ftp, W(listing.search), &found, 0, 0);
        ASSERT_NE(find, nullptr) << GetLastError();
        std::map<std::u16string, DWORD> names;
        do
            names[reinterpret_cast<const char16_t*>(found.cFileName)] =
                found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_NORMAL);
        while (InternetFindNextFileW(find, &found));
        EXPECT_EQ(names, listing.expected);
        InternetCloseHandle(find);
        InternetCloseHandle(ftp);
    }
}

// Logging in and failing to: the error and, from the server, its reply.
TEST_F(FtpBackend, LoginOutcomes) {
    const Server server = ServerOf(TestServers::Setting("CORVANE_FTP_URL"));
    const std::u16string user = Wide(TestServers::Setting("CORVANE_FTP_USER"));
    struct Row {
        const char* name;
        Server server;
        std::u16string user;
        std::u16string password;
        DWORD error;
        const char* response;
        DWORD receiveTimeout = 0;  // 0: the session's own
    } rows[] = {
        {"anonymous", server, u"", u"", ERROR_SUCCESS, "230"},
        {"wrong password", server, user, u"wrong", ERROR_INTERNET_LOGIN_FAILURE, "530"},
        // The server closes on the first command after the login (FEAT).
        {"421 after the login", ServerOf(TestServers::Setting("CORVANE_FTPSCRIPT_URL")), u"drop421", u"",
         ERROR_INTERNET_CONNECTION_ABORTED, "421"},
        // FEAT is the backend's own question, but a server that stops
        // answering it fails the login as a timeout, not as a closed connection.
        {"no answer to FEAT", ServerOf(TestServers::Setting("CORVANE_FTPSCRIPT_URL")), u"silentfeat", u"",
         ERROR_INTERNET_TIMEOUT, "230", 300},
        {"refused port",
         {u"127.0.0.1", TestServers::ClosedPort()},
         user,
         u"",
         ERROR_INTERNET_CANNOT_CONNECT,
         ""},
        {"no such name", {u"no-such-host..invalid", 21}, user, u"", ERROR_INTERNET_NAME_NOT_RESOLVED, ""},
        {"line break in the user", server, u"a\r\nPASS b", u"", ERROR_INVALID_PARAMETER, ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        DWORD receive = 0;
        DWORD size = sizeof(receive);
        ASSERT_TRUE(InternetQueryOptionW(FSession, INTERNET_OPTION_RECEIVE_TIMEOUT, &receive, &size));
        const DWORD timeout = row.receiveTimeout ? row.receiveTimeout : receive;
        InternetSetOptionW(FSession, INTERNET_OPTION_RECEIVE_TIMEOUT, const_cast<DWORD*>(&timeout), size);
        const HINTERNET ftp = Connect(row.server, row.user, row.password, INTERNET_FLAG_PASSIVE);
        InternetSetOptionW(FSession, INTERNET_OPTION_RECEIVE_TIMEOUT, &receive, size);
        EXPECT_EQ(ftp != nullptr, row.error == ERROR_SUCCESS);
        if (!ftp) {
            EXPECT_EQ(GetLastError(), row.error);
        }
        if (*row.response) {
            EXPECT_EQ(LastResponse().substr(0, 3), row.response);
        }
        if (ftp) InternetCloseHandle(ftp);
    }
}

// A close from another thread ends a step that waits for a server that never
// answers (here: the greeting), at once.
TEST_F(FtpBackend, CloseFromAnotherThreadCancels) {
    const int silent = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof(address);
    ASSERT_EQ(::bind(silent, reinterpret_cast<sockaddr*>(&address), length), 0);
    ASSERT_EQ(::listen(silent, 1), 0);
    ::getsockname(silent, reinterpret_cast<sockaddr*>(&address), &length);

    static std::atomic<HINTERNET> created{nullptr};
    InternetSetStatusCallbackW(FSession, [](HINTERNET handle, DWORD_PTR, DWORD status, LPVOID, DWORD) {
        if (status == INTERNET_STATUS_HANDLE_CREATED) created = handle;
    });
    std::thread closer([] {
        while (!created) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        InternetCloseHandle(created);
    });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Connect({u"127.0.0.1", ntohs(address.sin_port)}, u"u", u"p", 0), nullptr);
    EXPECT_EQ(GetLastError(), DWORD{ERROR_INTERNET_OPERATION_CANCELLED});
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    closer.join();
    ::close(silent);
}

}  // namespace
