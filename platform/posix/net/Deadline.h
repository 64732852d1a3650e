// The moment by which a network step must be done, on the steady clock, so
// that a change of the wall clock neither shortens nor stretches a wait. A
// step's timeout (Timeouts.h) becomes one deadline for the whole step: every
// wait inside it, however many, ends at the same moment.
#pragma once

#include "posix/handles/Timeouts.h"

#include <Platform/WinInet.h>

#include <chrono>
#include <climits>

namespace Corvane::Backend {

class Deadline {
public:
    using Clock = std::chrono::steady_clock;

    /// No deadline: the step may wait until it is cancelled.
    Deadline() = default;

    /// `timeout` milliseconds from now; no deadline when the timeout sets no
    /// limit (0 or 0xFFFFFFFF, see IsLimited).
    static Deadline After(DWORD timeout) {
        Deadline deadline;
        if (IsLimited(timeout)) {
            deadline.FWhen = Clock::now() + std::chrono::milliseconds(timeout);
            deadline.FSet = true;
        }
        return deadline;
    }

    /// A deadline at `when`.
    static Deadline At(Clock::time_point when) {
        Deadline deadline;
        deadline.FWhen = when;
        deadline.FSet = true;
        return deadline;
    }

    bool IsSet() const { return FSet; }
    bool Passed() const { return FSet && Clock::now() >= FWhen; }

    /// The timeout argument of poll(): -1 with no deadline, else the
    /// milliseconds left rounded up (so a poll that times out has reached the
    /// deadline), 0 once passed, at most INT_MAX.
    int PollTimeout() const {
        if (!FSet) return -1;
        const auto left = FWhen - Clock::now();
        if (left <= Clock::duration::zero()) return 0;
        const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
        return ms > INT_MAX ? INT_MAX : static_cast<int>(ms);
    }

private:
    Clock::time_point FWhen{};
    bool FSet = false;
};

}  // namespace Corvane::Backend
