// The platform pass under a hostile or broken BMC, firmware and platform: one boot per input, from
// DriverEntry to the completion signal, checked by the oracles.
#include <cstddef>
#include <cstdint>

#include "fuzz/blade_input.h"
#include "fuzz/blade_setup.h"
#include "fuzz/oracles.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::FailOnSimulatorProblems();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  const fuzz::BladeInput Input = fuzz::Decode(Data, Size);
  sim::Blade Blade(fuzz::OptionsFor(Input));
  const fuzz::BladeFacts Facts = fuzz::SetUp(Input, Blade);
  const size_t RequestBound = fuzz::PlatformRequestBound(Facts, Blade.Bmc);

  const fuzz::BootRun Run = fuzz::RunBoot(Blade, Facts);
  fuzz::CheckBootEnds(Run, Blade);
  fuzz::CheckOneFailureReport(Blade);
  fuzz::CheckHostWrites(Blade.Bmc, fuzz::PlatformWritePlaces(Blade.Bmc));
  fuzz::CheckRequestCount(Blade.Bmc, RequestBound);
  return 0;
}
