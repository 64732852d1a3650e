// Drives a scenario of operations through every fault the backend can
// suffer, one at a time: run N fails the Nth fault point reached, for
// N = 1, 2, ... until a run reaches no armed point, which means the scenario
// ran to its end with nothing failing.
//
// After each run, whatever it raised: no handle is left open, and the
// scenario's Recover step has shown that the component is either closed or
// open and usable.
#pragma once

#include "posix/errors/FaultInjection.h"

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace Faults {

using Corvane::Backend::FaultInjection::Kind;

/// One public operation of a scenario.
struct Step {
    const char* name;
    std::function<void()> run;
};

/// A scenario: Setup makes its objects (nothing fails there), Steps are the
/// operations under test in order, Recover runs after a step raised (faults
/// no longer fire then) and checks the objects' state, Teardown destroys
/// them.
struct Scenario {
    std::string name;
    std::function<void()> setup;
    std::vector<Step> steps;
    std::function<void()> recover;
    std::function<void()> teardown;
    /// What the scenario can tell of a step that failed with no fault
    /// injected (a server's log, say); optional.
    std::function<std::string()> evidence;
};

/// What one DriveFaults call did.
struct Counts {
    std::size_t runs = 0;
    std::size_t operations = 0;
    /// The fault points a run without faults reaches.
    std::size_t points = 0;
    std::size_t injected = 0;
};

/// Runs `scenario` under every fault of `kinds` (Kind bits). Steps may raise
/// only the library's errors (EINetError) or return the platform's error;
/// anything else, a leaked handle, or no run completing within `limit` runs
/// fails the current test. Appends the counts to the summary that
/// `./run test` prints.
Counts DriveFaults(const Scenario& scenario, unsigned kinds, std::size_t limit = 20000);

}  // namespace Faults
