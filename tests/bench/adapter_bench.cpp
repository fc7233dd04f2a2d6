// The worst a BMC can ask of the adapter arrivals in one boot: every one of the 24 positions holds
// an adapter, and every mailbox holds eight full lists of 32 long commands. Two cases: adapters of
// a vendor without a pending mask (each arrival runs its whole mailbox), and vendor 0x8086 with
// every position pending (the first arrival serves them all). Counters: IPMI requests and Execute
// calls of the boot, and the virtual time it took.
#include <benchmark/benchmark.h>

#include <string>

#include "sim/blade.h"
#include "sim/bmc_mailbox.h"

namespace {

constexpr size_t FruSize = 0x10000; // a FRU device's whole address space
constexpr size_t TextLength = 200;  // eight lists of 33 records still fit behind the header

struct Port {
  const char* At;
  UINT8 Secondary;
};
constexpr Port RootPorts[] = {{"00:02.2", 0x04}, {"00:02.0", 0x02}, {"00:03.0", 0x05},
                              {"00:03.1", 0x06}, {"41:06.0", 0x43}, {"41:01.0", 0x42},
                              {"41:08.0", 0x44}, {"41:09.0", 0x45}};
// The 24 positions' functions behind those ports, and their mailboxes' FRU devices.
constexpr const char* Positions[24] = {
    "04:00.0", "04:00.1", "02:00.0", "02:00.1", "02:00.2", "02:00.3", "05:00.0", "05:00.1",
    "05:00.2", "05:00.3", "06:00.0", "06:00.1", "43:00.0", "43:00.1", "42:00.0", "42:00.1",
    "42:00.2", "42:00.3", "44:00.0", "44:00.1", "44:00.2", "44:00.3", "45:00.0", "45:00.1"};
constexpr UINT8 MailboxFrus[] = {0x01, 0x04, 0x05, 0x50, 0x51, 0x52};

constexpr size_t PendingMask8086 = 188; // in TalBladeData

// Eight lists of 32 commands for ports 1 to 4 in turn, each padded to TextLength characters.
sim::MailboxContents FullMailbox() {
  sim::MailboxContents Contents;
  for (UINT16 List = 0; List < 8; ++List) {
    Contents.Lists.emplace_back();
    for (UINT16 I = 0; I < 32; ++I) {
      std::string Text = "SET NETPORT" + std::to_string(1 + I % 4) + " OEMTAL_BOOTENABLE=ENABLE";
      Text.resize(TextLength, 'X');
      Contents.Lists.back().push_back({static_cast<UINT16>(List << 8 | I), Text});
    }
  }
  return Contents;
}

void BuildBlade(sim::Blade& Blade, UINT16 Vendor) {
  for (const Port& P : RootPorts) {
    Blade.Pci.Bridge(P.At, P.Secondary);
  }
  for (const char* At : Positions) {
    Blade.Pci.Function(At, Vendor, 0x1000);
  }
  const sim::MailboxContents Mailbox = FullMailbox();
  for (UINT8 Fru : MailboxFrus) {
    Blade.Bmc.AddFruDevice(Fru, FruSize);
    sim::WriteMailbox(Blade.Bmc, Fru, Mailbox);
  }
  if (Vendor == 0x8086) {
    const sim::VariableSpec& V = sim::vars::TalBladeData;
    std::vector<uint8_t> Data(V.Size, 0);
    Data[PendingMask8086] = 0xFF; // positions 0 to 19
    Data[PendingMask8086 + 1] = 0xFF;
    Data[PendingMask8086 + 2] = 0x0F;
    Blade.Firmware.Variables.Create(V.Name, V.Guid, V.Attributes, Data);
  }
}

// Arg 0: vendor 0x15B3, which has no pending mask; arg 1: vendor 0x8086, every position pending.
void BM_WorstCaseAdapterBoot(benchmark::State& State) {
  const UINT16 Vendor = State.range(0) == 0 ? 0x15B3 : 0x8086;
  size_t Requests = 0, Calls = 0;
  uint64_t VirtualMicroseconds = 0;
  for (auto _ : State) {
    State.PauseTiming();
    {
      sim::Blade Blade;
      BuildBlade(Blade, Vendor);
      sim::AdapterDriver& Driver = Blade.Adapters.Add();
      State.ResumeTiming();
      Blade.LoadDriver();
      for (const char* At : Positions) {
        benchmark::DoNotOptimize(Blade.StartAdapter(Driver, At));
      }
      State.PauseTiming();
      Requests = Blade.Bmc.Trace().size();
      Calls = Driver.Calls().size();
      VirtualMicroseconds = Blade.Firmware.Clock.Now();
    }
    State.ResumeTiming();
  }
  State.counters["ipmi_requests"] = static_cast<double>(Requests);
  State.counters["execute_calls"] = static_cast<double>(Calls);
  State.counters["virtual_us"] = static_cast<double>(VirtualMicroseconds);
}
BENCHMARK(BM_WorstCaseAdapterBoot)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

} // namespace
