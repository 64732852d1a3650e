/// \file
/// The runtime unit's Internet date routines: a date as HTTP writes it, read
/// into a SYSTEMTIME and written from one, by the platform's own conversions.
#pragma once

#include <Platform/WinInet.h>

#include "Corvane/Errors.h"
#include "Corvane/CorvaneExport.h"

namespace Corvane {

/// Reads an Internet date (RFC 1123, RFC 850, asctime and the looser forms
/// servers send) with the platform's InternetTimeToSystemTimeW; the record is
/// UTC. Raises EINetError, as Check does, when the platform finds no date in
/// the text.
CORVANE_EXPORT SYSTEMTIME TimeToSystemTime(const UnicodeString& text);

/// The RFC 1123 text of `time` ("Sun, 06 Nov 1994 08:49:37 GMT", 29
/// characters), written by the platform's InternetTimeFromSystemTimeW and
/// returned as written. Raises EINetError, as Check does, when the platform
/// refuses the record (a field out of range).
CORVANE_EXPORT UnicodeString TimeFromSystemTime(const SYSTEMTIME& time);

}  // namespace Corvane
