// Status notifications gathered while a lock is held and delivered after it
// is released, so that a status callback may call back into the API. Every
// protocol queues its notifications as StatusEvents and hands them to
// DeliverEvents on the way out of an operation.
#pragma once

#include "posix/handles/Handle.h"

#include <cstddef>
#include <string>
#include <vector>

namespace Corvane::Backend {

/// A status notification waiting to be delivered.
struct StatusEvent {
    HandleRef target;
    DWORD status = 0;
    std::vector<unsigned char> data;
};

/// A notification for `target` with a copy of `size` bytes of `data`; its
/// target is null (nothing is delivered) when the handle is being destroyed.
StatusEvent MakeEvent(Handle& target, DWORD status, const void* data = nullptr, std::size_t size = 0);

/// A notification whose data is a UTF-16 text with its terminator, the
/// length in bytes (host names, redirect targets).
StatusEvent MakeTextEvent(Handle& target, DWORD status, const std::string& utf8);

/// A notification whose data is a server address as an 8-bit text with its
/// terminator, as wininet.dll passes it for NAME_RESOLVED and
/// CONNECTING/CONNECTED_TO_SERVER, to the W callback too.
StatusEvent MakeAddressEvent(Handle& target, DWORD status, const std::string& address);

/// Delivers queued notifications in order and empties the list; call with
/// no lock held.
void DeliverEvents(std::vector<StatusEvent>& events);

}  // namespace Corvane::Backend
