// libFuzzer target for the FTP client's control-connection replies.
//
// The input, split at '\n' (a '\r' before it dropped, as the line reader
// does), is fed line by line into one reply parser. Besides "no crash", it
// checks:
//  - every complete reply has a code 100..599, its text starts with that
//    code and stays within the parser's limit;
//  - a refused line leaves the parser ready for a new reply;
//  - the PWD, EPSV and PASV parsers, run on every reply and every line,
//    give a non-empty path without line breaks and ports other than 0;
//  - what PASV reads, PORT writes back in a form PASV reads the same.
#include "posix/ftp/FtpReply.h"
#include "posix/ftp/FtpText.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

using namespace Corvane::Backend;

namespace {

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "ftp reply fuzzer: %s\n", what);
    std::abort();
}

void Check(bool condition, const char* what) {
    if (!condition) Fail(what);
}

void CheckArguments(std::string_view text) {
    std::string path;
    if (ParsePwdReply(text, path))
        Check(!path.empty() && path.find_first_of("\r\n") == path.npos, "PWD: empty path or a line break");
    std::uint16_t port = 0;
    if (ParseEpsvReply(text, port)) Check(port != 0, "EPSV: port 0");
    std::array<std::uint8_t, 4> address{};
    if (!ParsePasvReply(text, address, port)) return;
    Check(port != 0, "PASV: port 0");
    std::array<std::uint8_t, 4> again{};
    std::uint16_t portAgain = 0;
    Check(ParsePasvReply("227 (" + FormatPortArgument(address, port) + ")", again, portAgain),
          "PASV does not read what PORT writes");
    Check(again == address && portAgain == port, "PORT/PASV round trip differs");
}

void CheckReply(const FtpReply& reply) {
    Check(reply.code >= 100 && reply.code <= 599, "code out of range");
    Check(reply.text.size() <= FtpReplyParser::kMaxReplyBytes, "reply beyond the limit");
    Check(reply.text.size() >= 3 && std::to_string(reply.code) == reply.text.substr(0, 3),
          "text does not start with the code");
    CheckArguments(reply.text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    FtpReplyParser parser;
    FtpReply reply;
    for (std::size_t start = 0; start <= input.size();) {
        std::size_t end = input.find('\n', start);
        if (end == input.npos) end = input.size();
        std::string_view line = input.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        start = end + 1;

        CheckArguments(line);
        switch (parser.Feed(line, reply)) {
        case FtpReplyParser::Result::kComplete:
            CheckReply(reply);
            break;
        case FtpReplyParser::Result::kMalformed:
            Check(!parser.InReply(), "a refused line leaves a reply open");
            break;
        case FtpReplyParser::Result::kNeedMore:
            Check(parser.InReply(), "waiting for more outside a reply");
            break;
        }
    }
    return 0;
}
