// The armed fault plan and the entry-point depth of each thread.
#include "posix/errors/FaultInjection.h"

#include <atomic>

namespace Corvane::Backend::FaultInjection {

namespace {

std::atomic<unsigned> ArmedKinds{0};
std::atomic<std::size_t> Target{0};
std::atomic<std::size_t> ReachedCount{0};
std::atomic<bool> InjectedFlag{false};
std::atomic<unsigned long> CallError{0};

thread_local int EntryDepth = 0;

}  // namespace

void Arm(unsigned kinds, std::size_t nth, unsigned long callError) {
    ArmedKinds.store(0, std::memory_order_relaxed);
    CallError.store(callError, std::memory_order_relaxed);
    ReachedCount.store(0, std::memory_order_relaxed);
    InjectedFlag.store(false, std::memory_order_relaxed);
    Target.store(nth, std::memory_order_relaxed);
    ArmedKinds.store(kinds, std::memory_order_release);
}

void Disarm() {
    ArmedKinds.store(0, std::memory_order_release);
}

std::size_t Reached() {
    return ReachedCount.load(std::memory_order_acquire);
}

bool Injected() {
    return InjectedFlag.load(std::memory_order_acquire);
}

bool Hit(Kind kind) {
    // Acquire: a plan armed by another thread is seen with its target and error.
    if ((ArmedKinds.load(std::memory_order_acquire) & kind) == 0) return false;
    const std::size_t count = ReachedCount.fetch_add(1, std::memory_order_acq_rel) + 1;
    if (count != Target.load(std::memory_order_relaxed)) return false;
    InjectedFlag.store(true, std::memory_order_release);
    return true;
}

bool InsideEntryPoint() {
    return EntryDepth > 0;
}

bool AllocationMustFail() {
    return EntryDepth > 0 && Hit(Allocation);
}

bool CallMustFail(unsigned long* error) {
    // The plan first: disarmed, an entry point reads no thread-local state.
    if ((ArmedKinds.load(std::memory_order_relaxed) & Call) == 0) return false;
    if (EntryDepth > 0 || !Hit(Call)) return false;
    *error = CallError.load(std::memory_order_relaxed);
    return true;
}

EntryScope::EntryScope() {
    ++EntryDepth;
}
EntryScope::~EntryScope() {
    --EntryDepth;
}

OutsideScope::OutsideScope() : FSaved(EntryDepth) {
    EntryDepth = 0;
}
OutsideScope::~OutsideScope() {
    EntryDepth = FSaved;
}

}  // namespace Corvane::Backend::FaultInjection
