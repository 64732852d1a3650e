// Queued status notifications.
#include "posix/handles/StatusEvents.h"

#include "posix/text/Utf.h"

namespace Corvane::Backend {

StatusEvent MakeEvent(Handle& target, DWORD status, const void* data, std::size_t size) {
    // The copy is made before the handle is referenced: an allocation that
    // fails then cannot drop a reference, which may be the handle's last
    // and would destroy it wherever the caller stands (a transfer's
    // callback holds its group's lock, which the transfer's end takes).
    StatusEvent event{nullptr, status, {}};
    if (size)
        event.data.assign(static_cast<const unsigned char*>(data),
                          static_cast<const unsigned char*>(data) + size);
    // A handle being destroyed (no owner left) gets nothing.
    event.target = target.weak_from_this().lock();
    return event;
}

StatusEvent MakeTextEvent(Handle& target, DWORD status, const std::string& utf8) {
    const std::u16string wide = Utf8ToUtf16(utf8);
    return MakeEvent(target, status, wide.c_str(), (wide.size() + 1) * sizeof(char16_t));
}

StatusEvent MakeAddressEvent(Handle& target, DWORD status, const std::string& address) {
    return MakeEvent(target, status, address.c_str(), address.size() + 1);
}

void DeliverEvents(std::vector<StatusEvent>& events) {
    for (StatusEvent& event : events)
        if (event.target)
            event.target->Notify(event.status, event.data.empty() ? nullptr : event.data.data(),
                                 static_cast<DWORD>(event.data.size()));
    events.clear();
}

}  // namespace Corvane::Backend
