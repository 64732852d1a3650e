/// \file
/// Error reporting of the runtime unit: the one exception class, the action an
/// OnError handler chooses, and the routines that turn a failed platform call
/// into an exception.
#pragma once

#include <cstdint>
#include <functional>

#include <Framework/Classes.h>
#include <Framework/ResourceStrings.h>
#include <Framework/SysUtils.h>
#include <Framework/Types.h>
#include "Corvane/CorvaneExport.h"

namespace Corvane {

// The framework types that the runtime unit's API uses, so that
// `using namespace Corvane;` is all an application needs.
using Framework::AnsiString;
using Framework::Byte;
using Framework::Cardinal;
using Framework::Integer;
using Framework::TBytes;
using Framework::TComponent;
using Framework::TNotifyEvent;
using Framework::TObject;
using Framework::UnicodeString;
using Framework::Word;

/// The one exception class of the library. It carries only its message:
/// "Error <code>: <platform text>" for platform failures (with ":" and the
/// server's last response appended for ERROR_INTERNET_EXTENDED_ERROR), or the
/// text of a state error. The code is not stored apart from the message.
class CORVANE_EXPORT EINetError : public Framework::Exception {
public:
    using Framework::Exception::Exception;
};

/// What happens after an OnError handler returns.
enum TINetAction : std::uint8_t {
    iaFail,   ///< the EINetError propagates to the caller (the default)
    iaAbort,  ///< the EINetError is discarded and the silent abort propagates
};

/// A component's OnError handler: sees state errors (an operation on a closed
/// component, a setting changed on an open one) before they are raised. It may
/// change E's message, or set Action to iaAbort to turn the error into a
/// silent abort.
using TINetErrorEvent = std::function<void(TObject* sender, EINetError& e, TINetAction& action)>;

/// Raised for a value of an enumeration that no element stands for (only a
/// cast makes one): "Invalid value <number> for <enumeration>".
inline constexpr Framework::TResourceString SINetInvalidValue{"Corvane.SINetInvalidValue",
                                                              u"Invalid value %s for %s"};

/// Raises EINetError for every code except 0. The text comes from the
/// Internet library's message table, else from the system's messages (both
/// read with the platform's FormatMessageW; the system text without its
/// closing line break); for ERROR_INTERNET_EXTENDED_ERROR (12003) the
/// server's last response follows after a ":". The code is printed as an
/// unsigned decimal number.
CORVANE_EXPORT void CheckSuccess(Cardinal errorCode);

/// Does nothing when BoolValue is true. Otherwise reads the thread's last
/// error; 0 and ERROR_IO_PENDING (997) count as success and are left alone.
/// Any other code is raised as by CheckSuccess, and the last error is 0
/// afterwards (also when looking the text up set one of its own).
/// Call it directly after the platform call whose result it judges.
CORVANE_EXPORT void Check(bool boolValue);

/// The Internet library's last server response on the calling thread, with
/// its line breaks, or the empty string when there is none. Never raises.
CORVANE_EXPORT UnicodeString GetInternetLastResponseInfo();

}  // namespace Corvane
