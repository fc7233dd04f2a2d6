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

StepRecorder::StepRecorder(sim::Blade& Blade)
    : Blade_(Blade), Variables_(TakeSnapshot(Blade.Firmware.Variables)) {}

void StepRecorder::Begin(const std::string& Name) {
  StepOutcome Step;
  Step.Name = Name;
  Step.FirstRequest = Blade_.Bmc.TraceSize();
  FirstCode_ = Blade_.Platform.StatusCodes().size();
  Steps.push_back(std::move(Step));
}

StepOutcome& StepRecorder::End(const sim::BootOutcome& Outcome) {
  StepOutcome& Step = Steps.back();
  Step.Outcome = Outcome;
  Step.EndRequest = Blade_.Bmc.TraceSize();
  const auto& Codes = Blade_.Platform.StatusCodes();
  Step.StatusCodes.assign(Codes.begin() + FirstCode_, Codes.end());
  VariableSnapshot After = TakeSnapshot(Blade_.Firmware.Variables);
  Step.Changes = CompareSnapshots(Variables_, After);
  Variables_ = std::move(After);
  return Step;
}

StepOutcome& StepRecorder::NotRun(const std::string& Name) {
  StepOutcome Step;
  Step.Name = Name;
  Step.Ran = false;
  Step.FirstRequest = Step.EndRequest = Blade_.Bmc.TraceSize();
  Steps.push_back(std::move(Step));
  return Steps.back();
}

ScheduledSteps RunScheduledSteps(sim::Blade& Blade, const BladeRecorder& Recorder,
                                 const Scenario& S, bool EntryEnded, StepRecorder& Steps) {
  ScheduledSteps Out;
  bool Over = EntryEnded;
  for (const Step& Next : StepsInOrder(S)) {
    const std::string Name = Next.Driver
                                 ? "adapter driver " + S.Adapters.Drivers[*Next.Driver].Name +
                                       " starts on " + Next.On.Text()
                                 : "completion signal";
    if (Over) {
      StepOutcome& Skipped = Steps.NotRun(Name);
      if (Next.Driver) {
        ArrivalOutcome NotRun;
        NotRun.Driver = S.Adapters.Drivers[*Next.Driver].Name;
        NotRun.Function = Next.On;
        NotRun.At = Next.At;
        Skipped.Arrival = Out.Arrivals.size();
        Out.Arrivals.push_back(NotRun);
      }
      continue;
    }
    const RecordMarks Begin = Recorder.Now();
    const VariableSnapshot Before = Steps.Variables();
    sim::ScheduledOutcome Ran;
    StepOutcome& Done = Steps.Run(Name, [&] {
      if (Next.Driver) {
        Blade.ScheduleAdapterStart(Blade.Adapters[*Next.Driver], Next.On, Next.At);
      } else {
        Blade.ScheduleCompletionSignal(Next.At);
      }
      const std::vector<sim::ScheduledOutcome> All = Blade.RunScheduled();
      Ran = All.empty() ? sim::ScheduledOutcome{} : All.front();
      return Ran.Outcome;
    });
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
    Done.Arrival = Out.Arrivals.size();
    Out.Arrivals.push_back(std::move(A));
  }
  return Out;
}

} // namespace tools
