// The calls into the driver, each noted as a step of the run: its entry, then the calls that follow
// it, each at its virtual time: the adapter drivers starting on their functions (each start runs
// the driver's arrival notification) and the completion signal. Each is run on its own so that its
// records can be told apart.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "sim/blade.h"
#include "tools/adapter_arrivals.h"
#include "tools/blade_recorder.h"
#include "tools/scenario.h"
#include "tools/sim_run.h"

namespace tools {

// Notes what each call into the driver did: its requests, the variables it changed, the status
// codes it raised.
class StepRecorder {
public:
  explicit StepRecorder(sim::Blade& Blade);

  // Runs Call, which makes the call and says how it ended, as the step Name.
  template <typename Call> StepOutcome& Run(const std::string& Name, Call C) {
    Begin(Name);
    return End(C());
  }
  // A step the boot did not reach.
  StepOutcome& NotRun(const std::string& Name);

  // The variables as the last step left them.
  const VariableSnapshot& Variables() const { return Variables_; }

  std::vector<StepOutcome> Steps;

private:
  void Begin(const std::string& Name);
  StepOutcome& End(const sim::BootOutcome& Outcome);

  sim::Blade& Blade_;
  VariableSnapshot Variables_;
  size_t FirstCode_ = 0;
};

struct ScheduledSteps {
  std::vector<ArrivalOutcome> Arrivals; // every start the scenario gives, run or not
  std::optional<sim::BootOutcome> Completion;
};

// Runs the steps after the entry in time order (at equal times the adapter starts in the order the
// file gives them, then the completion signal), noting each in Steps. After a reset or a hang
// (EntryEnded: the entry ended that way) nothing more runs: the arrivals left are reported as not
// run.
ScheduledSteps RunScheduledSteps(sim::Blade& Blade, const BladeRecorder& Recorder,
                                 const Scenario& S, bool EntryEnded, StepRecorder& Steps);

} // namespace tools
