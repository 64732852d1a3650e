// The FTP component against real servers: pyftpdlib (MLSD) and vsftpd (LIST
// only), passive and active, whose trees are on this machine so that what
// arrives can be compared with the files on disk; the scripted server for
// data connections that break off.
#include <Corvane/Corvane.h>
#include <Framework/SysUtils.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "PlatformDifferences.h"
#include "TestServers.h"
#include "TestText.h"

namespace {

using namespace Corvane;
namespace fs = std::filesystem;
using ::testing::HasSubstr;

UnicodeString W(const std::string& text) {
    return Framework::Utf8ToUtf16(text);
}
UnicodeString Local(const fs::path& path) {
    const std::u16string text = path.u16string();
    return UnicodeString(text.begin(), text.end());
}
fs::path DiskPath(const fs::path& root, const std::string& utf8Name) {
    return root / fs::path(std::u8string(utf8Name.begin(), utf8Name.end()));
}

std::string ReadDisk(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}
void WriteDisk(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

/// Whether two files hold the same bytes, read a piece at a time.
bool SameBytes(const fs::path& a, const fs::path& b) {
    std::ifstream left(a, std::ios::binary), right(b, std::ios::binary);
    std::vector<char> x(1 << 20), y(1 << 20);
    while (left && right) {
        left.read(x.data(), static_cast<std::streamsize>(x.size()));
        right.read(y.data(), static_cast<std::streamsize>(y.size()));
        if (left.gcount() != right.gcount() || !std::equal(x.begin(), x.begin() + left.gcount(), y.begin()))
            return false;
    }
    return !left && !right;
}

/// Seconds since 1970 of a FILETIME and of a file's last change on disk.
std::int64_t UnixTime(const FILETIME& time) {
    const std::uint64_t ticks = (std::uint64_t{time.dwHighDateTime} << 32) | time.dwLowDateTime;
    return static_cast<std::int64_t>(ticks / 10000000) - 11644473600;
}
std::int64_t UnixTime(const fs::path& path) {
    const auto system = std::chrono::file_clock::to_sys(fs::last_write_time(path));
    return std::chrono::duration_cast<std::chrono::seconds>(system.time_since_epoch()).count();
}

std::string NameOf(const WIN32_FIND_DATAW& data) {
    return U8(reinterpret_cast<const char16_t*>(data.cFileName));
}

struct Server {
    const char* Name;
    const char* Url;
    const char* User;
    const char* Password;
    const char* Root;
};

const Server PyFtpd{"pyftpdlib", "CORVANE_FTP_URL", "CORVANE_FTP_USER", "CORVANE_FTP_PASSWORD",
                    "CORVANE_FTP_ROOT"};
const Server Vsftpd{"vsftpd", "CORVANE_VSFTPD_URL", "CORVANE_VSFTPD_USER", "CORVANE_VSFTPD_PASSWORD",
                    "CORVANE_VSFTPD_ROOT"};

class FtpComponent : public ::testing::Test {
protected:
    void SetUp() override {
        FLocal =
            fs::temp_directory_path() / ("ftp-component-" + std::to_string(std::random_device{}()) + "-" +
                                         ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(FLocal);
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(FLocal, ignored);
    }

    /// A closed component of this case's session for a server of servers.env.
    TINetFtp& Component(const std::string& url, const std::string& user, const std::string& password,
                        bool passive = true) {
        FComponents.push_back(std::make_unique<TINetFtp>(nullptr));
        TINetFtp& ftp = *FComponents.back();
        const std::string hostPort = url.substr(url.find("://") + 3);
        ftp.SetSession(&Session);
        ftp.SetServerName(W(hostPort.substr(0, hostPort.rfind(':'))));
        ftp.SetPort(static_cast<Word>(std::stoi(hostPort.substr(hostPort.rfind(':') + 1))));
        ftp.SetUserName(W(user));
        ftp.SetPassword(W(password));
        ftp.SetFlags(passive ? TFtpFlags{flPassive} : TFtpFlags{});
        return ftp;
    }
    TINetFtp& Component(const Server& server, bool passive = true) {
        return Component(TestServers::Setting(server.Url), TestServers::Setting(server.User),
                         TestServers::Setting(server.Password), passive);
    }

    /// Every entry FindFirstFile/FindNextFile give for Search, by name; one
    /// more FindNextFile past the end must give false too.
    static std::map<std::string, WIN32_FIND_DATAW> List(TINetFtp& ftp, const UnicodeString& search) {
        std::map<std::string, WIN32_FIND_DATAW> entries;
        WIN32_FIND_DATAW data{};
        for (bool more = ftp.FindFirstFile(search, data); more; more = ftp.FindNextFile(data))
            entries[NameOf(data)] = data;
        EXPECT_FALSE(ftp.FindNextFile(data));
        ftp.CompleteFindFile();
        return entries;
    }

    TINetSession Session{nullptr};
    std::vector<std::unique_ptr<TINetFtp>> FComponents;
    fs::path FLocal;
};

// One session per server and mode through every method of the component:
// the served tree listed and fetched in binary and ASCII, then a directory
// of its own made, filled, read piecewise, renamed in, listed and removed.
TEST_F(FtpComponent, SessionOnEachServerAndMode) {
    const std::string lineEnd = PlatformDifferences::OnWindowsApi() ? "\r\n" : "\n";
    const std::string utf8Name = TestServers::Setting("CORVANE_FTP_UTF8_FILE");
    const std::string spacesName = TestServers::Setting("CORVANE_FTP_SPACES_FILE");
    // Wine's client: names in the ANSI code page, listed names cut at a blank.
    const bool plainNames = PlatformDifferences::Reason("wine-ftp-names") != nullptr;
    const std::string dirSuffix = plainNames ? "-dir" : " dir \u00fc";
    const std::string renamed = plainNames ? "renamed.txt" : "renamed \u00e9.txt";
    WriteDisk(FLocal / "lines.txt", "x\r\ny\n");
    WriteDisk(FLocal / "empty", "");

    for (const Server* server : {&PyFtpd, &Vsftpd})
        for (const bool passive : {true, false}) {
            const std::string mode = passive ? "passive" : "active";
            SCOPED_TRACE(std::string(server->Name) + " " + mode);
            const fs::path root = TestServers::Setting(server->Root);
            TINetFtp& ftp = Component(*server, passive);
            ftp.Open();
            ASSERT_TRUE(ftp.Active());
            const UnicodeString home = ftp.GetCurrentDirectory();
            EXPECT_FALSE(home.empty());

            // The listing of the login directory: sizes, the directory bit,
            // the last change within the minute a LIST line gives, names
            // with spaces and outside ASCII.
            auto entries = List(ftp, u"");
            ASSERT_TRUE(entries.count("small.txt"));
            const WIN32_FIND_DATAW& small = entries["small.txt"];
            EXPECT_EQ(small.nFileSizeLow, fs::file_size(root / "small.txt"));
            EXPECT_EQ(small.nFileSizeHigh, 0u);
            EXPECT_FALSE(small.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
            EXPECT_NEAR(UnixTime(small.ftLastWriteTime), UnixTime(root / "small.txt"), 60);
            EXPECT_TRUE(entries["tree"].dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
            if (!plainNames) {
                EXPECT_EQ(entries.count(utf8Name), 1u);
                EXPECT_EQ(entries.count(spacesName), 1u);
            }
            WIN32_FIND_DATAW none{};
            if (!PlatformDifferences::Reason("wine-ftp-find-no-match")) {
                EXPECT_FALSE(ftp.FindFirstFile(u"nothing-matches-*.none", none));
            }

            // Whole files: binary keeps the LF lines, ASCII gives the local
            // line ends; names with spaces and in UTF-8; an empty file.
            const std::string smallText = ReadDisk(root / "small.txt");
            ftp.SetTransferType(ttBinary);
            ftp.GetFile(u"small.txt", Local(FLocal / "binary.txt"), false, {});
            EXPECT_EQ(ReadDisk(FLocal / "binary.txt"), smallText);
            ftp.SetTransferType(ttASCII);
            ftp.GetFile(u"small.txt", Local(FLocal / "ascii.txt"), false, {faNormal});
            std::string expected;
            for (char c : smallText) expected += c == '\n' ? lineEnd : std::string(1, c);
            EXPECT_EQ(ReadDisk(FLocal / "ascii.txt"), expected);
            ftp.SetTransferType(ttBinary);
            for (const std::string& name : {utf8Name, spacesName, std::string("empty.txt")}) {
                if (plainNames && name != "empty.txt") continue;
                ftp.GetFile(W(name), Local(FLocal / "fetched"), false, {});
                EXPECT_EQ(ReadDisk(FLocal / "fetched"), ReadDisk(DiskPath(root, name))) << name;
            }

            // A directory of its own; stores in ASCII and binary, an empty one.
            const std::string dirName = "upload/" + mode + dirSuffix;
            const fs::path dir = DiskPath(root, dirName);
            ftp.CreateDirectory(W(dirName));
            ftp.SetCurrentDirectory(W(dirName));
            EXPECT_THAT(U8(ftp.GetCurrentDirectory()), ::testing::EndsWith(mode + dirSuffix));
            ftp.SetTransferType(ttASCII);
            ftp.PutFile(Local(FLocal / "lines.txt"), u"ascii.txt");
            ftp.SetTransferType(ttBinary);
            ftp.PutFile(Local(FLocal / "lines.txt"), u"binary.txt");
            ftp.PutFile(Local(FLocal / "empty"), u"b");
            EXPECT_EQ(ReadDisk(dir / "ascii.txt"), "x\ny\n");
            EXPECT_EQ(ReadDisk(dir / "binary.txt"), "x\r\ny\n");
            EXPECT_TRUE(fs::exists(dir / "b"));
            EXPECT_EQ(fs::file_size(dir / "b"), 0u);

            // A remote file written and read piecewise.
            ftp.OpenFile(u"written.bin", true);
            EXPECT_EQ(ftp.WriteFile(AnsiString("abc")), 3u);
            EXPECT_EQ(ftp.WriteFile(TBytes{0, 1, 2}), 3u);
            EXPECT_EQ(ftp.WriteFile(AnsiString()), 0u);
            ftp.CloseFile();
            EXPECT_EQ(ReadDisk(dir / "written.bin"), std::string("abc\0\1\2", 6));

            ftp.OpenFile(u"binary.txt", false);
            if (!PlatformDifferences::Reason("wine-ftp-file-size")) {
                EXPECT_EQ(ftp.GetFileSize(), 5);
            }
            EXPECT_GT(ftp.AvailableData(), 0u);
            const bool lockable = !PlatformDifferences::Reason("wine-ftp-lock");
            if (lockable) ftp.LockFile();
            EXPECT_EQ(ftp.ReadFile(0), "");
            EXPECT_EQ(ftp.ReadFile(2), "x\r");
            EXPECT_EQ(ftp.ReadFileBytes(1), TBytes{'\n'});
            EXPECT_EQ(ftp.ReadFile(), "y\n");
            if (lockable) ftp.UnlockFile();
            ftp.CloseFile();
            EXPECT_EQ(ftp.FileHandle(), nullptr);
            ftp.OpenFile(u"binary.txt", false);
            EXPECT_EQ(ftp.ReadFileBytes(), (TBytes{'x', '\r', '\n', 'y', '\n'}));
            EXPECT_EQ(ftp.ReadFileBytes(10), TBytes{});
            ftp.CloseFile();

            // A name holding a command goes nowhere: b stays.
            EXPECT_NE(Raised([&] { ftp.DeleteFile(u"a\r\nDELE b"); }), "<nothing raised>");
            EXPECT_TRUE(fs::exists(dir / "b"));

            ftp.RenameFile(u"binary.txt", W(renamed));
            EXPECT_FALSE(fs::exists(dir / "binary.txt"));
            entries = List(ftp, u"renamed*");
            ASSERT_EQ(entries.size(), 1u);
            EXPECT_EQ(entries.begin()->first, renamed);
            EXPECT_EQ(entries.begin()->second.nFileSizeLow, 5u);

            // Raw commands, with and without data.
            ftp.SendCommand(u"NOOP", false);
            if (PlatformDifferences::Reason("wine-ftp-command-data")) {
                EXPECT_NE(Raised([&] { ftp.SendCommand(u"NLST", true); }), "<nothing raised>");
            } else {
                ftp.SendCommand(u"NLST", true);
                const std::string names = ftp.ReadFile();
                ftp.CloseFile();
                for (const std::string& name :
                     {std::string("ascii.txt"), std::string("written.bin"), std::string("b"), renamed})
                    EXPECT_THAT(names, HasSubstr(name));
            }

            for (const std::string& name :
                 {std::string("ascii.txt"), std::string("written.bin"), std::string("b"), renamed})
                ftp.DeleteFile(W(name));
            ftp.SetCurrentDirectory(home);
            ftp.RemoveDirectory(W(dirName));
            EXPECT_FALSE(fs::exists(dir));
            ftp.Close();
            EXPECT_FALSE(ftp.Active());
        }
}

// Beneath an asynchronous session the connect goes on in the background;
// Open waits for its completion (which OnCallback sees, on a library
// thread) and takes the connection's handle, so the component is open and
// listed only with a handle. Its own reads wait for their pending calls.
TEST_F(FtpComponent, AsynchronousSessionConnectsAndReads) {
    Session.SetFlags(TSessionFlags{flAsync});
    TINetFtp& ftp = Component(PyFtpd);
    std::mutex mutex;
    std::vector<INTERNET_ASYNC_RESULT> completions;
    bool onCaller = false;
    const std::thread::id caller = std::this_thread::get_id();
    ftp.SetOnCallback([&](TObject*, Integer status, void* information, Integer) {
        if (status != INTERNET_STATUS_REQUEST_COMPLETE) return;
        std::lock_guard<std::mutex> lock(mutex);
        completions.push_back(*static_cast<INTERNET_ASYNC_RESULT*>(information));
        onCaller = onCaller || std::this_thread::get_id() == caller;
    });
    ftp.Open();
    ASSERT_TRUE(ftp.Active());
    // Wine connects within the call, and answers its FTP calls before their
    // work is done.
    if (!PlatformDifferences::Reason("wine-async-ftp")) {
        EXPECT_EQ(ftp.GetCurrentDirectory(), u"/");
        std::lock_guard<std::mutex> lock(mutex);
        std::string seen;
        for (const INTERNET_ASYNC_RESULT& c : completions)
            seen += std::to_string(c.dwResult) + "/" + std::to_string(c.dwError) + " ";
        ASSERT_EQ(completions.size(), 2u) << seen;  // the connect and the directory's query
        EXPECT_EQ(completions[0].dwResult, reinterpret_cast<DWORD_PTR>(ftp.Handle()));
        EXPECT_FALSE(onCaller);
    }
    Session.Close();
    EXPECT_FALSE(ftp.Active());
}

// 100 MiB of pattern bytes stored and fetched back unchanged, compared with
// the server's copy on disk as well.
TEST_F(FtpComponent, LargeFileArrivesUnchangedBothWays) {
    const std::vector<std::uint8_t> pattern = TestServers::PatternBytes(7, 100u << 20);
    WriteDisk(FLocal / "large.bin", std::string(pattern.begin(), pattern.end()));
    // Each server once, in the mode it is less often used in elsewhere.
    for (const auto& [server, passive] : {std::pair{&PyFtpd, true}, std::pair{&Vsftpd, false}}) {
        SCOPED_TRACE(server->Name);
        const fs::path stored = fs::path(TestServers::Setting(server->Root)) / "upload" / "large-copy.bin";
        const fs::path back = FLocal / (std::string("back-") + server->Name);
        TINetFtp& ftp = Component(*server, passive);
        ftp.SetTransferType(ttBinary);
        ftp.Open();
        ftp.PutFile(Local(FLocal / "large.bin"), u"upload/large-copy.bin");
        EXPECT_TRUE(SameBytes(FLocal / "large.bin", stored));
        ftp.GetFile(u"upload/large-copy.bin", Local(back), true, {});
        EXPECT_TRUE(SameBytes(FLocal / "large.bin", back));
        ftp.DeleteFile(u"upload/large-copy.bin");
        ftp.Close();
    }
}

// Failures raise with the server's reply in the message; a download that
// breaks off leaves no file that looks whole and an existing one as it was.
TEST_F(FtpComponent, FailuresCarryTheServersReply) {
    const std::string url = TestServers::Setting("CORVANE_FTP_URL");
    const std::string user = TestServers::Setting("CORVANE_FTP_USER");

    // A refused login is its own error; the server's words stay readable.
    TINetFtp& wrong = Component(url, user, "not the password");
    EXPECT_THAT(Raised([&] { wrong.Open(); }), ::testing::StartsWith("Error 12015: "));
    EXPECT_THAT(U8(GetInternetLastResponseInfo()), HasSubstr("530"));
    EXPECT_FALSE(wrong.Active());

    TINetFtp& ftp = Component(PyFtpd);
    ftp.Open();
    EXPECT_THAT(Raised([&] { ftp.GetFile(u"no such file.txt", Local(FLocal / "x"), false, {}); }),
                HasSubstr("550"));
    EXPECT_FALSE(fs::exists(FLocal / "x"));
    WriteDisk(FLocal / "upload.txt", "text");
    const std::string locked = TestServers::Setting("CORVANE_FTP_LOCKED_DIR");
    EXPECT_THAT(Raised([&] { ftp.PutFile(Local(FLocal / "upload.txt"), W(locked + "/new.txt")); }),
                HasSubstr("550"));
    EXPECT_THAT(Raised([&] { ftp.DeleteFile(W(locked + "/keep.txt")); }), HasSubstr("550"));
    EXPECT_THAT(Raised([&] { ftp.RemoveDirectory(u"no such dir"); }), HasSubstr("550"));
    ftp.Close();

    WriteDisk(FLocal / "keep.bin", "old content");
    for (const char16_t* fault : {u"fault/drop-426.bin", u"fault/drop-close.bin"})
        for (const char* target : {"new.bin", "keep.bin"}) {
            SCOPED_TRACE(U8(fault) + " into " + target);
            TINetFtp& scripted = Component(TestServers::Setting("CORVANE_FTPSCRIPT_URL"), "user", "any");
            scripted.Open();
            EXPECT_NE(Raised([&] { scripted.GetFile(fault, Local(FLocal / target), false, {}); }),
                      "<nothing raised>");
            if (PlatformDifferences::Reason("wine-ftp-get-file-keeps-nothing")) {
                WriteDisk(FLocal / "keep.bin", "old content");
                continue;
            }
            std::vector<std::string> left;
            for (const auto& entry : fs::directory_iterator(FLocal))
                left.push_back(entry.path().filename().string());
            std::sort(left.begin(), left.end());
            EXPECT_EQ(left, (std::vector<std::string>{"keep.bin", "upload.txt"}));
            EXPECT_EQ(ReadDisk(FLocal / "keep.bin"), "old content");
        }
}

}  // namespace
