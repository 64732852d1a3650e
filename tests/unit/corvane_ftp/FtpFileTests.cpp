// The FTP component's open file against the mocked platform: the whole
// read's calls, sizes, opening over a locked file, and the calls that have
// nothing to do.
#include "FtpMock.h"

#include <cstring>

using namespace FtpUnit;
using testing::_;
using testing::Return;

namespace {

class FtpFileTest : public FtpMockTest {
protected:
    FtpFileTest() {
        ftp.Open();
        ftp.OpenFile(u"f", false);
    }

    // Answers InternetQueryDataAvailable with Count, logging "avail Count".
    auto Available(DWORD count) {
        return [this, count](HINTERNET, LPDWORD available, DWORD, DWORD_PTR) {
            Log.push_back("avail " + std::to_string(count));
            *available = count;
            return TRUE;
        };
    }
    // Answers InternetReadFile with Bytes, logging "read <asked>".
    auto Reads(std::string bytes) {
        return [this, bytes](HINTERNET, LPVOID buffer, DWORD asked, LPDWORD read) {
            Log.push_back("read " + std::to_string(asked));
            std::memcpy(buffer, bytes.data(), bytes.size());
            *read = static_cast<DWORD>(bytes.size());
            return TRUE;
        };
    }

    TINetFtp ftp{nullptr};
};

// Two availability queries and one read of exactly what is available per
// pass, until none is; both forms give the bytes in order.
TEST_F(FtpFileTest, WholeReadAsksTwiceAndReadsWhatIsAvailable) {
    const std::vector<std::pair<const char*, std::function<std::string()>>> forms = {
        {"ReadFile", [&] { return ftp.ReadFile(); }},
        {"ReadFileBytes",
         [&] {
             const TBytes bytes = ftp.ReadFileBytes();
             return std::string(bytes.begin(), bytes.end());
         }},
    };
    for (const auto& [name, read] : forms) {
        Log.clear();
        EXPECT_CALL(api, InternetQueryDataAvailable(kFile, _, 0u, 0u))
            .WillOnce(Available(3))
            .WillOnce(Available(3))
            .WillOnce(Available(2))
            .WillOnce(Available(2))
            .WillOnce(Available(0));
        EXPECT_CALL(api, InternetReadFile(kFile, _, 3u, _)).WillOnce(Reads(std::string("a\0c", 3)));
        EXPECT_CALL(api, InternetReadFile(kFile, _, 2u, _)).WillOnce(Reads("de"));
        EXPECT_EQ(read(), std::string("a\0cde", 5)) << name;
        EXPECT_EQ(Log, (std::vector<std::string>{"avail 3", "avail 3", "read 3", "avail 2", "avail 2",
                                                 "read 2", "avail 0"}))
            << name;
    }
    // A failure inside the loop reaches the caller.
    EXPECT_CALL(api, InternetQueryDataAvailable(kFile, _, 0u, 0u)).WillRepeatedly(Available(4));
    EXPECT_CALL(api, InternetReadFile(kFile, _, 4u, _)).WillOnce(api.Fail(ERROR_INTERNET_CONNECTION_RESET));
    EXPECT_NE(RaisedMessage([&] { ftp.ReadFile(); }), "<nothing raised>");
}

// The last error is cleared first, so a low part of 0xFFFFFFFF is a size
// unless the query recorded an error.
TEST_F(FtpFileTest, FileSizeJoinsBothPartsAndFailsAsMinusOne) {
    struct Row {
        DWORD High, Low, Error;
        Framework::Int64 Size;
    } const rows[] = {
        {0, 5, 0, 5},
        {1, 0, 0, Framework::Int64{1} << 32},
        {0, 0xFFFFFFFF, 0, 4294967295},
        {0, 0xFFFFFFFF, ERROR_INTERNET_INCORRECT_HANDLE_TYPE, -1},
    };
    for (const Row& row : rows) {
        api.SetMockLastError(ERROR_INTERNET_TIMEOUT);  // stale, from an earlier call
        EXPECT_CALL(api, FtpGetFileSize(kFile, _)).WillOnce([&](HINTERNET, LPDWORD high) {
            *high = row.High;
            if (row.Error != 0) api.SetMockLastError(row.Error);
            return row.Low;
        });
        EXPECT_EQ(ftp.GetFileSize(), row.Size) << row.High << ":" << row.Low;
    }
}

TEST_F(FtpFileTest, OpeningReleasesTheLockedFileAndEmptyCallsMakeNone) {
    ftp.LockFile();
    EXPECT_CALL(api, FtpOpenFileW(kConnection, _, DWORD{GENERIC_WRITE}, _, _)).WillOnce([this](auto&&...) {
        Log.push_back("open");
        return kFile;
    });
    ftp.OpenFile(u"g", true);
    EXPECT_EQ(Log, (std::vector<std::string>{"unlock lock", "close file", "open"}));

    ftp.CloseFile();
    EXPECT_CALL(api, InternetReadFile(_, _, _, _)).Times(0);
    EXPECT_CALL(api, InternetWriteFile(_, _, _, _)).Times(0);
    EXPECT_EQ(ftp.ReadFile(0), "");
    EXPECT_TRUE(ftp.ReadFileBytes(0).empty());
    EXPECT_EQ(ftp.WriteFile(AnsiString()), 0u);
    EXPECT_EQ(ftp.WriteFile(TBytes()), 0u);
}

}  // namespace
