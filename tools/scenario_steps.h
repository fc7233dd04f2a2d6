// The calls into the driver that follow its entry, each at its virtual time: the adapter drivers
// starting on their functions (each start runs the driver's arrival notification) and the
// completion signal. Each is run on its own so that its records can be told apart.
#pragma once

#include <optional>
#include <vector>

#include "sim/blade.h"
#include "tools/adapter_arrivals.h"
#include "tools/blade_recorder.h"
#include "tools/scenario.h"

namespace tools {

struct ScheduledSteps {
  std::vector<ArrivalOutcome> Arrivals; // every start the scenario gives, run or not
  std::optional<sim::BootOutcome> Completion;
};

// Runs the steps in time order (at equal times the adapter starts in the order the file gives
// them, then the completion signal). After a reset or a hang (EntryEnded: the entry ended that
// way) nothing more runs: the arrivals left are reported as not run.
ScheduledSteps RunScheduledSteps(sim::Blade& Blade, const BladeRecorder& Recorder,
                                 const Scenario& S, bool EntryEnded);

} // namespace tools
