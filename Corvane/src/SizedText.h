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
UnicodeString ReadSizedText(Query&& call, TSizedTextFailure onFailure) {
    DWORD size = 0;
    if (call(nullptr, &size)) return {};
    if (Platform().GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
        if (onFailure == TSizedTextFailure::Check) Check(false);
        return {};
    }
    const DWORD length = size / 2 >= 1 ? size / 2 - 1 : 0;
    if (length == 0) return {};
    UnicodeString result((size + 1) / 2, u'\0');
    if (!call(result.data(), &size)) {
        if (onFailure == TSizedTextFailure::Check) Check(false);
        return {};
    }
    result.resize(length);
    return result;
}

}  // namespace Corvane
