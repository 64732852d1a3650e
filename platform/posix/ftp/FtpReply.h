// Replies of an FTP control connection: a three-digit code and one or more
// lines of text. The parser is fed the lines one at a time, as a line reader
// hands them out, and says when a reply is whole.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace Corvane::Backend {

/// One reply of the control connection (RFC 959 section 4.2).
struct FtpReply {
    int code = 0;      ///< three digits, 100..599
    std::string text;  ///< every line as received, CR LF removed, lines joined with "\r\n"
};

/// Collects control-connection lines (CR LF already removed) into replies. A single-line reply is
/// "ddd text"/"ddd"; a multi-line one starts "ddd-" and ends at the first line that starts with the same
/// code followed by a space (or is exactly the code); the lines between may be anything (RFC 959 4.2).
class FtpReplyParser {
public:
    enum class Result { kNeedMore, kComplete, kMalformed };

    /// Feeds one line. kComplete: the reply is in `reply` and the parser is ready for the next.
    /// kMalformed: the line cannot start a reply (no three-digit code 100..599 followed by ' ', '-' or end);
    /// the caller drops the connection. A reply longer than kMaxReplyBytes (64 KiB) in total is kMalformed.
    /// After kMalformed the parser starts afresh with the next line.
    Result Feed(std::string_view line, FtpReply& reply);

    /// Whether the parser is inside a multi-line reply.
    bool InReply() const { return FCode != 0; }

    static constexpr std::size_t kMaxReplyBytes = 64 * 1024;

private:
    Result Start(std::string_view line, FtpReply& reply);
    Result Continue(std::string_view line, FtpReply& reply);
    Result Fail();

    int FCode = 0;  ///< the code of the multi-line reply being read, 0 between replies
    std::string FText;
};

}  // namespace Corvane::Backend
