// The canonical form of a URL, shared by InternetCanonicalizeUrlW and by
// InternetCrackUrlW's ICU_DECODE (which cracks the decoded canonical form).
#pragma once

#include <Platform/WinInet.h>

#include <string>
#include <string_view>

namespace Corvane::Backend {

/// The canonical form of `url` under the ICU_ flags of
/// InternetCanonicalizeUrlW:
///  - leading and trailing control characters and spaces are dropped, tabs,
///    CR and LF removed wherever they stand;
///  - the scheme and (for known schemes) the host are put in lower case; a
///    DOS path ("C:\...") or UNC path ("\\server\...") becomes a file: URL;
///    file: URLs are written in DOS form ("file://C:\dir\name");
///  - "." and ".." path segments are resolved (kept with ICU_NO_META);
///  - ICU_DECODE turns every "%hh" into its character first;
///  - then, unless ICU_NO_ENCODE, the unsafe characters before the query or
///    fragment are escaped as "%hh"; ICU_ENCODE_SPACES_ONLY escapes only the
///    spaces (everywhere), ICU_ENCODE_PERCENT escapes '%' as well.
/// ICU_BROWSER_MODE changes nothing, as on the platform.
/// A decoded "%00" ends the text there.
std::u16string CanonicalizeUrlText(std::u16string_view url, DWORD flags);

}  // namespace Corvane::Backend
