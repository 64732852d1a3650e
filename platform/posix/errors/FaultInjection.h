// Fault injection for tests: makes the Nth fault point the backend reaches
// fail, so that tests can prove every failure path ends in an error code,
// with nothing leaked and no handle left half made.
//
// Fault points are the places where the backend can fail for reasons the
// caller does not control:
//   - Allocation: an allocation made inside a C entry point (the test program
//     replaces the global operator new and asks AllocationMustFail; the
//     allocation then throws std::bad_alloc, which the entry point's
//     barrier turns into ERROR_NOT_ENOUGH_MEMORY);
//   - Curl: an allocation made by libcurl (libcurl's memory functions are
//     the backend's, and fail when told to: libcurl then answers
//     CURLE_OUT_OF_MEMORY, or fails the step it was taking).
//   - Call: a call the application makes into the C API (the component's
//     call through the seam; a status callback's call back in counts too,
//     a call the backend makes to itself does not): it fails at once with
//     the armed error and the function's failure value, as the platform
//     fails a call for a cause the component cannot foresee. Closing a
//     handle and setting its status callback are no such points: they fail
//     only for a handle that is not there, and the components rely on them
//     to let go.
// Nothing fails while no plan is armed; disarmed, a fault point costs one
// atomic load.
#pragma once

#include <cstddef>

namespace Corvane::Backend::FaultInjection {

/// The kinds of fault points, as bits.
enum Kind : unsigned {
    Allocation = 1u << 0,
    Curl = 1u << 1,
    Call = 1u << 2,
};

/// Arms a plan: the `nth` fault point (counted from 1) among those of the
/// `kinds` reached from now on fails; later ones succeed. Resets the counts.
/// A failing Call point fails with `callError`.
void Arm(unsigned kinds, std::size_t nth, unsigned long callError = 12004);

/// Disarms; fault points succeed again. The counts stay readable.
void Disarm();

/// Fault points of the armed kinds reached since Arm.
std::size_t Reached();

/// Whether the armed fault point was reached (and failed).
bool Injected();

/// Called at a fault point of kind `kind`: whether it must fail.
bool Hit(Kind kind);

/// Whether the calling thread is inside a C entry point of the backend (and
/// not inside a status callback it called from there).
bool InsideEntryPoint();

/// Whether an allocation of the calling thread must fail now: inside an
/// entry point, with an armed Allocation plan whose point this is.
bool AllocationMustFail();

/// At the start of an entry point that may fail this way: whether the call
/// must fail now (the calling thread is outside the backend, and this is
/// the armed Call point), and then the error it fails with.
bool CallMustFail(unsigned long* error);

/// Marks the calling thread as inside an entry point for its lifetime
/// (nested entry points nest).
class EntryScope {
public:
    EntryScope();
    ~EntryScope();
    EntryScope(const EntryScope&) = delete;
    EntryScope& operator=(const EntryScope&) = delete;
};

/// Marks the calling thread as outside the backend for its lifetime: the
/// application's code that a status callback runs is not the backend's.
class OutsideScope {
public:
    OutsideScope();
    ~OutsideScope();
    OutsideScope(const OutsideScope&) = delete;
    OutsideScope& operator=(const OutsideScope&) = delete;

private:
    int FSaved;
};

}  // namespace Corvane::Backend::FaultInjection
