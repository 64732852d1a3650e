// The small texts of the FTP client: reading the arguments servers put in
// their replies (PWD, EPSV, PASV), writing the arguments of PORT and EPRT,
// matching names against search patterns, times, and the line-end
// conversion of ASCII transfers. Nothing here touches a socket.
#pragma once

#include <Platform/WinInet.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace Corvane::Backend {

/// The directory of a 257 reply: the text between the first '"' and its closing '"', where '""' stands for
/// one '"' (RFC 959 appendix II). false when the reply holds no quoted path (or the quotes are not closed
/// on the line they open).
bool ParsePwdReply(std::string_view text, std::string& path);

/// The port of a 229 reply "... (|||port|)" (RFC 2428; the delimiter is whatever printable character other
/// than a digit follows '(' and must repeat 3 times then close). false when malformed or port 0.
bool ParseEpsvReply(std::string_view text, std::uint16_t& port);

/// The port (p1*256+p2) of a 227 reply "... (h1,h2,h3,h4,p1,p2)" (also without parentheses, as some servers
/// send it: the first run of six comma-separated numbers 0..255). The address is returned too, but the
/// client never connects to it (it uses the control connection's peer). false when malformed or port 0.
bool ParsePasvReply(std::string_view text, std::array<std::uint8_t, 4>& address, std::uint16_t& port);

/// The argument of "PORT h1,h2,h3,h4,p1,p2" (IPv4).
std::string FormatPortArgument(const std::array<std::uint8_t, 4>& address, std::uint16_t port);

/// The argument of "EPRT |1|addr|port|" (IPv4) or "EPRT |2|addr|port|" (IPv6).
std::string FormatEprtArgument(bool ipv6, std::string_view addressText, std::uint16_t port);

/// Whether an argument may go on a control line: no CR, LF or NUL (a name holding them would smuggle a
/// second command).
bool IsSafeArgument(std::string_view text);

/// Matches a listing entry's name against a search pattern the platform's way: '*' any run (also empty),
/// '?' exactly one character (one UTF-8 code point, not one byte), everything else compared exactly
/// (case-sensitive, as FTP servers' names are). "*" and "*.*" match everything (also names without a dot).
bool MatchesPattern(std::string_view pattern, std::string_view name);

/// Whether a search string holds a wildcard ('*' or '?').
bool HasWildcard(std::string_view pattern);

/// A text made only of decimal digits (at least one) as a number; false for anything else and for numbers
/// beyond 64 bits.
bool ParseDecimal(std::string_view digits, std::uint64_t& value);

/// FILETIME (100 ns since 1601-01-01 UTC) from seconds since 1970-01-01 UTC (may be negative). Times
/// before 1601 give 0; times too late for a FILETIME give the largest one.
FILETIME FileTimeFromUnix(std::int64_t seconds);

/// Line-end conversion of a download in ASCII mode (TYPE A), streaming: CR LF becomes LF, a lone CR
/// stays. Chunks may split a CR LF pair anywhere; Finish hands out a CR held back at the end.
class AsciiDecoder {
public:
    void Convert(const char* data, std::size_t size, std::string& out);
    void Finish(std::string& out);

private:
    bool FPendingCr = false;  ///< the last chunk ended in a CR not handed out yet
};

/// Line-end conversion of an upload in ASCII mode (TYPE A), streaming: a LF not preceded by CR becomes
/// CR LF. Chunks may split a CR LF pair anywhere.
class AsciiEncoder {
public:
    void Convert(const char* data, std::size_t size, std::string& out);

private:
    bool FLastWasCr = false;
};

}  // namespace Corvane::Backend
