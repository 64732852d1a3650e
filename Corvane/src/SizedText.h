// Reading a text that the platform sizes first: ask for the size with no
// buffer, then read into a buffer of that size. The last server response,
// text options and header queries are all read this way.
#pragma once

#include <Platform/InternetApi.h>
#include <Platform/WinInet.h>

#include "Corvane/Errors.h"

namespace Corvane {

/// What ReadSizedText does when a call fails for another reason than the
/// missing buffer.
enum class TSizedTextFailure {
    Quiet,  ///< the text reads as empty; nothing is raised
    Check,  ///< the failure goes to Check(false), which raises for a recorded error
};

/// Reads a text in two calls of Query(char16_t* Buffer, DWORD* Size) -> BOOL:
/// first with no buffer and a size of 0; then, only when that failed with
/// ERROR_INSUFFICIENT_BUFFER, with a buffer of the reported size and the same
/// size variable. The size counts bytes including the terminating zero, so a
/// size of 3 bytes or less holds no character and makes no second call. The
/// buffer holds at least the reported size even when it is odd, so the
/// platform never writes past it. Any other outcome is the empty text.
template <class Query>
UnicodeString ReadSizedText(Query&& Call, TSizedTextFailure OnFailure)
{
    DWORD Size = 0;
    if (Call(nullptr, &Size))
        return {};
    if (Platform().GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
        if (OnFailure == TSizedTextFailure::Check)
            Check(false);
        return {};
    }
    const DWORD Length = Size / 2 >= 1 ? Size / 2 - 1 : 0;
    if (Length == 0)
        return {};
    UnicodeString Result((Size + 1) / 2, u'\0');
    if (!Call(Result.data(), &Size)) {
        if (OnFailure == TSizedTextFailure::Check)
            Check(false);
        return {};
    }
    Result.resize(Length);
    return Result;
}

}  // namespace Corvane
