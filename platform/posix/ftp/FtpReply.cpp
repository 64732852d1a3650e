// Framing of FTP replies from control-connection lines.
#include "posix/ftp/FtpReply.h"

#include "posix/text/Ascii.h"

#include <utility>

namespace Corvane::Backend {

namespace {

// The code at the start of `line` when it is three digits 100..599 followed by
// ' ', '-' or the end of the line; else 0.
int LeadingCode(std::string_view line) {
    if (line.size() < 3 || line[0] < '1' || line[0] > '5' || !IsAsciiDigit(line[1]) || !IsAsciiDigit(line[2]))
        return 0;
    if (line.size() > 3 && line[3] != ' ' && line[3] != '-') return 0;
    return (line[0] - '0') * 100 + (line[1] - '0') * 10 + (line[2] - '0');
}

}  // namespace

FtpReplyParser::Result FtpReplyParser::Feed(std::string_view line, FtpReply& reply) {
    return FCode == 0 ? Start(line, reply) : Continue(line, reply);
}

FtpReplyParser::Result FtpReplyParser::Start(std::string_view line, FtpReply& reply) {
    const int code = LeadingCode(line);
    if (code == 0 || line.size() > kMaxReplyBytes) return Fail();
    if (line.size() > 3 && line[3] == '-') {
        FCode = code;
        FText.assign(line);
        return Result::kNeedMore;
    }
    reply.code = code;
    reply.text.assign(line);
    return Result::kComplete;
}

// Inside a multi-line reply only "ddd " or "ddd" with the opening code ends
// it; every other line, whatever code it starts with, is part of the text.
FtpReplyParser::Result FtpReplyParser::Continue(std::string_view line, FtpReply& reply) {
    if (FText.size() + 2 + line.size() > kMaxReplyBytes) return Fail();
    FText.append("\r\n").append(line);
    if (LeadingCode(line) != FCode || (line.size() > 3 && line[3] != ' ')) return Result::kNeedMore;
    reply.code = FCode;
    reply.text = std::move(FText);
    FCode = 0;
    FText.clear();
    return Result::kComplete;
}

FtpReplyParser::Result FtpReplyParser::Fail() {
    FCode = 0;
    FText.clear();
    return Result::kMalformed;
}

}  // namespace Corvane::Backend
