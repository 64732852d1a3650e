// A cancellation token over an eventfd.
#include "posix/net/CancelToken.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <system_error>

namespace Corvane::Backend {

CancelToken::CancelToken() : FFd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
    if (FFd < 0) throw std::system_error(errno, std::generic_category(), "eventfd");
}

CancelToken::~CancelToken() {
    ::close(FFd);
}

// The counter only ever grows from 0, so the descriptor stays readable; a
// write that would overflow it (EAGAIN) leaves it readable too.
void CancelToken::Cancel() noexcept {
    if (FCancelled.exchange(true, std::memory_order_acq_rel)) return;
    const std::uint64_t one = 1;
    while (::write(FFd, &one, sizeof(one)) < 0 && errno == EINTR) {}
}

}  // namespace Corvane::Backend
