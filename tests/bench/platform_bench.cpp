// How long the platform pass takes on the host, and how much BMC traffic it costs, for command
// lists of growing length. Counters: IPMI requests per pass and the virtual time the pass spent.
#include <benchmark/benchmark.h>

#include <string>

#include "core/entry.h"
#include "platform/platform_command.h"
#include "sim/blade.h"
#include "sim/bmc_mailbox.h"

namespace {

constexpr const char* Keywords[] = {"OEMTAL_LOM1=ENABLE",
                                    "OEMTAL_MEZ2=DISABLE",
                                    "OEMTAL_IPL1=NETWORK",
                                    "OEMTAL_IOV1_BUS2=ENABLE",
                                    "OEMTAL_ISCSI=ENABLE",
                                    "OEMTAL_SERIAL=SN0123456789",
                                    "OEMTAL_UUID=00112233445566778899AABBCCDDEEFF",
                                    "OEMTAL_FCOE=0000BEEF"};

sim::MailboxContents Mailbox(int Commands) {
  sim::MailboxContents Contents;
  Contents.Lists.emplace_back();
  for (int I = 0; I < Commands; ++I) {
    Contents.Lists[0].push_back(
        {static_cast<UINT16>(I + 1), std::string("SET BOOTCFGSETTING1 ") + Keywords[I % 8]});
  }
  return Contents;
}

void BM_PlatformPass(benchmark::State& State) {
  const int Commands = static_cast<int>(State.range(0));
  size_t Requests = 0;
  uint64_t VirtualMicroseconds = 0;
  for (auto _ : State) {
    sim::Blade Blade;
    Blade.Bmc.AddFruDevice(1, 8192);
    sim::WriteMailbox(Blade.Bmc, 1, Mailbox(Commands));
    Blade.Platform.SetPortValue(0x50C, 1);
    const uint64_t Start = Blade.Firmware.Clock.Now();
    benchmark::DoNotOptimize(Blade.LoadDriver());
    Requests = Blade.Bmc.Trace().size();
    VirtualMicroseconds = Blade.Firmware.Clock.Now() - Start;
  }
  State.counters["ipmi_requests"] = static_cast<double>(Requests);
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

BENCHMARK_MAIN();
