#include "tools/scenario_steps.h"

#include <algorithm>

namespace tools {

namespace {

struct Step {
  uint64_t At;
  std::optional<size_t> Driver; // none: the completion signal
  sim::PciAddress On;
};

std::vector<Step> StepsInOrder(const Scenario& S) {
  std::vector<Step> Steps;
  uint64_t Last = 0;
  for (size_t D = 0; D < S.Adapters.Drivers.size(); ++D) {
    for (const AdapterStartSetup& Start : S.Adapters.Drivers[D].Starts) {
      Steps.push_back({Start.AtMicroseconds, D, Start.On});
      Last = std::max(Last, Start.AtMicroseconds);
    }
  }
  if (S.CompletionSignal) {
    Steps.push_back({S.CompletionAtMicroseconds.value_or(Last), std::nullopt, {}});
  }
  std::stable_sort(Steps.begin(), Steps.end(), [](const Step& A, const Step& B) {
    return A.At < B.At || (A.At == B.At && A.Driver && !B.Driver);
  });
  return Steps;
}

} // namespace

ScheduledSteps RunScheduledSteps(sim::Blade& Blade, const BladeRecorder& Recorder,
                                 const Scenario& S, bool EntryEnded) {
  ScheduledSteps Out;
  bool Over = EntryEnded;
  for (const Step& Next : StepsInOrder(S)) {
    if (Over) {
      if (Next.Driver) {
        ArrivalOutcome NotRun;
        NotRun.Driver = S.Adapters.Drivers[*Next.Driver].Name;
        NotRun.Function = Next.On;
        NotRun.At = Next.At;
        Out.Arrivals.push_back(NotRun);
      }
      continue;
    }
    const RecordMarks Begin = Recorder.Now();
    const VariableSnapshot Before = TakeSnapshot(Blade.Firmware.Variables);
    if (Next.Driver) {
      Blade.ScheduleAdapterStart(Blade.Adapters[*Next.Driver], Next.On, Next.At);
    } else {
      Blade.ScheduleCompletionSignal(Next.At);
    }
    const std::vector<sim::ScheduledOutcome> Done = Blade.RunScheduled();
    const sim::ScheduledOutcome Ran = Done.empty() ? sim::ScheduledOutcome{} : Done.front();
    Over = Ran.Outcome.Reset || Ran.Outcome.Hang;
    if (!Next.Driver) {
      Out.Completion = Ran.Outcome;
      continue;
    }
    const StepRecords Records{Blade, Blade.Bmc.Trace(), Recorder.BeforeRequest(),
                              Begin, Recorder.Now(),    Before};
    ArrivalOutcome A = DescribeArrival(S, *Next.Driver, Next.On, Ran.Outcome, Records);
    A.At = Next.At;
    A.Started = Ran.Started;
    A.Ended = Blade.Firmware.Clock.Now();
    Out.Arrivals.push_back(std::move(A));
  }
  return Out;
}

} // namespace tools
