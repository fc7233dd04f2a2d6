// Adapter arrivals under a hostile or broken BMC, firmware, platform and topology: one boot per
// input, DriverEntry, then each adapter driver's start at its virtual time (its arrival runs
// inside), then the completion signal; checked by the oracles of every boot and of arrivals.
#include <cstddef>
#include <cstdint>

#include "fuzz/adapter_input.h"
#include "fuzz/adapter_oracles.h"
#include "fuzz/adapter_setup.h"
#include "fuzz/oracles.h"

namespace {

// Runs what was scheduled: one call into the driver.
sim::BootOutcome RunNext(sim::Blade& Blade) {
  const std::vector<sim::ScheduledOutcome> Done = Blade.RunScheduled();
  fuzz::Expect(Done.size() == 1, "one scheduled call, " + std::to_string(Done.size()) + " ran");
  return Done.front().Outcome;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::FailOnSimulatorProblems();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  const fuzz::AdapterInput Input = fuzz::DecodeAdapter(Data, Size);
  sim::Blade Blade(fuzz::AdapterOptionsFor(Input));
  const fuzz::AdapterFacts Facts = fuzz::SetUpAdapters(Input, Blade);
  const size_t RequestBound =
      fuzz::PlatformRequestBound(Facts.Blade, Blade.Bmc) +
      Facts.Starts.size() * fuzz::ArrivalRequestBound(Facts.Blade, Blade.Bmc);

  fuzz::BootRun Run;
  Run.Entry = Blade.LoadDriver();
  fuzz::Expect(Blade.Firmware.Pool.LiveCount() == 0, "pool buffers left after the entry");
  bool Over = !Run.Entry.Returned;
  for (const fuzz::AdapterStart& S : Facts.Starts) {
    if (Over) {
      break;
    }
    const std::vector<size_t> Before = fuzz::ExecuteCounts(Blade);
    Blade.ScheduleAdapterStart(Blade.Adapters[S.Driver], S.On, S.At);
    const sim::BootOutcome Outcome = RunNext(Blade);
    fuzz::CheckArrival(Outcome, Blade, S.Driver, Before);
    Over = Outcome.Reset;
  }
  if (!Over && Facts.Blade.CompletionSignal) {
    Blade.ScheduleCompletionSignal(Facts.CompletionAt);
    Run.Completion = RunNext(Blade);
    fuzz::Expect(Blade.Firmware.Pool.LiveCount() == 0,
                 "pool buffers left after the completion signal");
  }
  fuzz::CheckBootEnds(Run, Blade);
  fuzz::CheckOneFailureReport(Blade);
  fuzz::CheckHostWrites(Blade.Bmc, fuzz::PlatformWritePlaces(Blade.Bmc, true));
  fuzz::CheckRequestCount(Blade.Bmc, RequestBound);
  fuzz::CheckExecuteCalls(Blade, Facts);
  return 0;
}
