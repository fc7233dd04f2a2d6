// How long the platform pass takes on the host, and how much BMC traffic it costs, for command
// lists of growing length. Counters: the IPMI requests per pass, the fewest the mailbox allows
// (tests/bench/ipmi_floor.h) and their ratio, and the virtual time the pass spent.
#include <benchmark/benchmark.h>

#include <optional>
#include <ostream>
#include <string>

#include "core/entry.h"
#include "platform/platform_command.h"
#include "sim/blade.h"
#include "sim/bmc_mailbox.h"
#include "tests/bench/bench_mailbox.h"
#include "tests/bench/bench_reports.h"
#include "tests/bench/ipmi_floor.h"

namespace {

constexpr UINT8 PlatformFru = 1;
constexpr size_t FruSize = 8192;

sim::MailboxContents Mailbox(int Commands) {
  sim::MailboxContents Contents;
  Contents.Lists.push_back(bench::PlatformCommands(Commands));
  return Contents;
}

// One platform pass in a fresh blade: the driver's requests against the floor of the mailbox.
bench::FloorComparison PassAgainstFloor(int Commands) {
  sim::Blade Blade;
  Blade.Bmc.AddFruDevice(PlatformFru, FruSize);
  sim::WriteMailbox(Blade.Bmc, PlatformFru, Mailbox(Commands));
  Blade.Platform.SetPortValue(0x50C, 1);
  const std::vector<uint8_t> Before = Blade.Bmc.Fru(PlatformFru);
  Blade.LoadDriver();
  return bench::CompareWithFloor(
      Blade.Bmc.Trace(), bench::PlatformPassFloor(Before, Blade.Bmc.Fru(PlatformFru), PlatformFru));
}

// Only the pass is timed: DriverEntry, which runs it. Building and dropping the blade is not.
void BM_PlatformPass(benchmark::State& State) {
  const int Commands = static_cast<int>(State.range(0));
  size_t Requests = 0;
  uint64_t VirtualMicroseconds = 0;
  for (auto _ : State) {
    State.PauseTiming();
    std::optional<sim::Blade> Blade(std::in_place);
    Blade->Bmc.AddFruDevice(PlatformFru, FruSize);
    sim::WriteMailbox(Blade->Bmc, PlatformFru, Mailbox(Commands));
    Blade->Platform.SetPortValue(0x50C, 1);
    const uint64_t Start = Blade->Firmware.Clock.Now();
    State.ResumeTiming();
    benchmark::DoNotOptimize(Blade->LoadDriver());
    State.PauseTiming();
    Requests = Blade->Bmc.TraceSize();
    VirtualMicroseconds = Blade->Firmware.Clock.Now() - Start;
    Blade.reset();
    State.ResumeTiming();
  }
  const bench::FloorComparison Floor = PassAgainstFloor(Commands);
  State.counters["ipmi_requests"] = static_cast<double>(Requests);
  State.counters["ipmi_floor"] = static_cast<double>(Floor.Floor);
  State.counters["ipmi_ratio"] = Floor.Ratio();
  State.counters["virtual_us"] = static_cast<double>(VirtualMicroseconds);
}
BENCHMARK(BM_PlatformPass)->Arg(1)->Arg(12)->Arg(32)->Unit(benchmark::kMicrosecond);

void BM_ExecutePlatformCommand(benchmark::State& State) {
  sim::Blade Blade;
  InitServiceTables(Blade.Firmware.ImageHandle(), Blade.Firmware.SystemTable());
  const CHAR8* Text = "SET BOOTCFGSETTING1 OEMTAL_EMFailurePause=DISABLE"; // the last row
  for (auto _ : State) {
    UINT32 Status = 0;
    UINT8 Flags = 0;
    benchmark::DoNotOptimize(ExecutePlatformCommand(Blade.Bmc.Transport(), Text, &Status, &Flags));
  }
}
BENCHMARK(BM_ExecutePlatformCommand);

} // namespace

namespace bench {

void ReportPlatformPassFloor(std::ostream& Out) {
  Out << "IPMI requests of the simulated platform pass against the fewest the mailbox allows\n";
  for (int Commands : {1, 12, 32}) {
    PrintComparison(Out, std::to_string(Commands) + " commands", PassAgainstFloor(Commands));
  }
}

} // namespace bench
