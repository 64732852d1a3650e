// Directory listings of FTP servers: the machine-readable lines of MLSD and
// the human-readable ones of LIST (Unix `ls -l` and MS-DOS/IIS forms), each
// read into one entry. Lines that fit no form are refused, never guessed at.
#pragma once

#include <Platform/WinInet.h>

#include <cstdint>
#include <string>
#include <string_view>

namespace Corvane::Backend {

/// One entry of a directory listing, names as the server sent them (UTF-8 or whatever bytes).
struct FtpListingEntry {
    std::string name;
    std::uint64_t size = 0;
    bool isDirectory = false;
    bool readOnly = false;  ///< from the permissions when the listing shows them (no write bit for the owner
                            ///< / MLSD perm without 'w'/'a' for a file, without 'c'/'m'/'p' for a directory),
                            ///< else false
    bool hasTime = false;
    FILETIME lastWrite{};  ///< UTC
};

/// One line of an MLSD reply ("fact=value;fact=value; name", RFC 3659 7): type (file, dir, cdir, pdir,
/// OS.unix=slink..., case-insensitive), size, modify (YYYYMMDDHHMMSS[.sss], UTC, the fraction dropped),
/// perm; other facts are skipped, and a known fact whose value cannot be read is left out. false for
/// cdir/pdir entries ("." and "..") and for malformed lines.
bool ParseMlsdLine(std::string_view line, FtpListingEntry& entry);

/// One line of a LIST reply in the Unix `ls -l` form or the MS-DOS/IIS form. `now` (seconds since 1970, UTC)
/// decides the year of Unix entries that show a time instead of a year: the year that puts the date within
/// the six months before now (allow a day of clock skew into the future), as ls does. Unix: names with
/// spaces kept whole (the name starts after the one space that follows the time/year column), "a -> b"
/// gives "a" for symbolic links ('l'), 'd' is a directory, devices ('b', 'c') show "major, minor" and have
/// size 0; "total N" lines, the entries "." and "..", and lines that parse in neither form give false,
/// never a crash. MS-DOS: "01-02-24  03:04PM  <DIR>  name" / "12-31-1999  11:59AM  1234 name" (two- or
/// four-digit years; two-digit years < 70 are 20xx; 24-hour times too), times in the server's zone, taken
/// as UTC.
bool ParseListLine(std::string_view line, std::int64_t now, FtpListingEntry& entry);

/// Which LIST form a line looks like (by its first column); a helper for tests and for choosing the parser.
enum class FtpListForm { kUnknown, kUnix, kDos };
FtpListForm DetectListForm(std::string_view line);

}  // namespace Corvane::Backend
