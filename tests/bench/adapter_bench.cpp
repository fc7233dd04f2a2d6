// The worst a BMC can ask of the adapter arrivals in one boot: every one of the 24 positions holds
// an adapter, and every mailbox is full: eight lists of 32 commands as long as a FRU device's
// address space allows. Two cases: adapters of a vendor without a pending mask (each arrival runs
// its whole mailbox, every command sent and recorded), and vendor 0x8086 with every position
// pending (the first arrival serves them all, each taking its own port's commands). Only the
// arrivals are timed; the platform pass of the driver's load is not. Counters: the IPMI requests
// of the arrivals, the fewest the mailboxes allow (tests/bench/ipmi_floor.h) and their ratio, the
// adapter passes over a full mailbox and the host time of one, Execute calls, and virtual time.
#include <benchmark/benchmark.h>

#include <map>
#include <optional>
#include <ostream>
#include <string>

#include "sim/blade.h"
#include "sim/bmc_mailbox.h"
#include "tests/bench/bench_reports.h"
#include "tests/bench/ipmi_floor.h"

namespace {

constexpr size_t FruSize = 0x10000; // a FRU device's whole address space
// The longest text with which eight lists of 32 records, their ends and the result area fit behind
// the header at 512: each costs 16 reads, as a 255-character one would.
constexpr size_t TextLength = 244;
constexpr UINT32 Answer = 0x0500; // what the simulated adapter drivers answer by default

struct Port {
  const char* At;
  UINT8 Secondary;
};
constexpr Port RootPorts[] = {{"00:02.2", 0x04}, {"00:02.0", 0x02}, {"00:03.0", 0x05},
                              {"00:03.1", 0x06}, {"41:06.0", 0x43}, {"41:01.0", 0x42},
                              {"41:08.0", 0x44}, {"41:09.0", 0x45}};

// The 24 positions in the order their adapters arrive, with the FRU device of their mailbox and
// the port they are to vendor 0x8086. The last two behind 00:03.1 and behind 41:09.0 are ports 3
// and 4 of the slot before them and share its pending bits: a run that serves 05:00.2 and 05:00.3
// (or 44:00.2 and 44:00.3) leaves nothing pending for them.
struct Position {
  const char* At;
  UINT8 Fru;
  char Port;
  bool SharesBits;
};
constexpr Position Positions[24] = {
    {"04:00.0", 0x01, '1', false}, {"04:00.1", 0x01, '2', false}, {"02:00.0", 0x04, '1', false},
    {"02:00.1", 0x04, '2', false}, {"02:00.2", 0x04, '3', false}, {"02:00.3", 0x04, '4', false},
    {"05:00.0", 0x05, '1', false}, {"05:00.1", 0x05, '2', false}, {"05:00.2", 0x05, '3', false},
    {"05:00.3", 0x05, '4', false}, {"06:00.0", 0x05, '3', true},  {"06:00.1", 0x05, '4', true},
    {"43:00.0", 0x50, '1', false}, {"43:00.1", 0x50, '2', false}, {"42:00.0", 0x51, '1', false},
    {"42:00.1", 0x51, '2', false}, {"42:00.2", 0x51, '3', false}, {"42:00.3", 0x51, '4', false},
    {"44:00.0", 0x52, '1', false}, {"44:00.1", 0x52, '2', false}, {"44:00.2", 0x52, '3', false},
    {"44:00.3", 0x52, '4', false}, {"45:00.0", 0x52, '3', true},  {"45:00.1", 0x52, '4', true}};
constexpr UINT8 MailboxFrus[] = {0x01, 0x04, 0x05, 0x50, 0x51, 0x52};

constexpr size_t PendingMask8086 = 188; // in TalBladeData
constexpr char PortDigitAt = 11;        // in "SET NETPORTn "

enum class Case { NoPendingMask, Vendor8086AllPending };

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

UINT16 VendorOf(Case C) {
  return C == Case::NoPendingMask ? 0x15B3 : 0x8086;
}

void BuildBlade(sim::Blade& Blade, Case C) {
  for (const Port& P : RootPorts) {
    Blade.Pci.Bridge(P.At, P.Secondary);
  }
  for (const Position& P : Positions) {
    Blade.Pci.Function(P.At, VendorOf(C), 0x1000);
  }
  const sim::MailboxContents Mailbox = FullMailbox();
  for (UINT8 Fru : MailboxFrus) {
    Blade.Bmc.AddFruDevice(Fru, FruSize);
    sim::WriteMailbox(Blade.Bmc, Fru, Mailbox);
  }
  if (C == Case::Vendor8086AllPending) {
    const sim::VariableSpec& V = sim::vars::TalBladeData;
    std::vector<uint8_t> Data(V.Size, 0);
    Data[PendingMask8086] = 0xFF; // the 20 bits of the 24 positions
    Data[PendingMask8086 + 1] = 0xFF;
    Data[PendingMask8086 + 2] = 0x0F;
    Blade.Firmware.Variables.Create(V.Name, V.Guid, V.Attributes, Data);
  }
}

std::map<uint8_t, std::vector<uint8_t>> Devices(sim::Blade& Blade) {
  std::map<uint8_t, std::vector<uint8_t>> Out;
  for (UINT8 Fru : MailboxFrus) {
    Out[Fru] = Blade.Bmc.Fru(Fru);
  }
  return Out;
}

// The arrivals' fewest requests, from the mailboxes as the platform pass left them. Without a
// pending mask every arrival serves its own adapter, which is sent every command. For 0x8086 the
// first arrival serves every position with a bit of its own, in order, each sent its port's
// commands; the arrivals after it find their mailbox and nothing pending.
bench::BootFloor ArrivalsFloor(Case C, std::map<uint8_t, std::vector<uint8_t>> Before,
                               size_t* Passes) {
  bench::BootFloor Floor(std::move(Before));
  *Passes = 0;
  const auto Every = [](const std::string&) { return true; };
  for (const Position& Arriving : Positions) {
    if (C == Case::NoPendingMask) {
      Floor.AdapterPass(Arriving.Fru, "header searches of arrivals", Every, Answer);
      ++*Passes;
    } else if (&Arriving != &Positions[0]) {
      Floor.FindHeader(Arriving.Fru, "header searches of arrivals that find nothing pending");
    } else {
      for (const Position& P : Positions) {
        if (!P.SharesBits) {
          Floor.AdapterPass(
              P.Fru,
              &P == &Positions[0] ? "header searches of arrivals"
                                  : "header searches of the adapters a run goes on to",
              [&P](const std::string& Text) { return Text[PortDigitAt] == P.Port; }, Answer);
          ++*Passes;
        }
      }
    }
  }
  return Floor;
}

struct BootMeasure {
  bench::FloorComparison Floor;
  std::map<std::string, size_t> Purposes;
  size_t Passes = 0;
  size_t Calls = 0;
  uint64_t VirtualMicroseconds = 0;
};

// One boot: the driver loaded, then every adapter arriving, against the floor of the arrivals.
BootMeasure MeasureArrivals(Case C) {
  sim::Blade Blade;
  BuildBlade(Blade, C);
  sim::AdapterDriver& Driver = Blade.Adapters.Add();
  Blade.LoadDriver();
  const std::map<uint8_t, std::vector<uint8_t>> Before = Devices(Blade);
  Blade.Bmc.ClearTrace();
  const uint64_t Start = Blade.Firmware.Clock.Now();
  for (const Position& P : Positions) {
    Blade.StartAdapter(Driver, P.At);
  }
  BootMeasure M;
  const bench::BootFloor Floor = ArrivalsFloor(C, Before, &M.Passes);
  M.Floor = bench::CompareWithFloor(Blade.Bmc.Trace(), Floor.Requests());
  M.Purposes = Floor.Purposes();
  M.Calls = Driver.Calls().size();
  M.VirtualMicroseconds = Blade.Firmware.Clock.Now() - Start;
  return M;
}

// Arg 0: vendor 0x15B3, which has no pending mask; arg 1: vendor 0x8086, every position pending.
void BM_WorstCaseAdapterBoot(benchmark::State& State) {
  const Case C = State.range(0) == 0 ? Case::NoPendingMask : Case::Vendor8086AllPending;
  for (auto _ : State) {
    State.PauseTiming();
    {
      std::optional<sim::Blade> Blade(std::in_place);
      BuildBlade(*Blade, C);
      sim::AdapterDriver& Driver = Blade->Adapters.Add();
      Blade->LoadDriver();
      State.ResumeTiming();
      for (const Position& P : Positions) {
        benchmark::DoNotOptimize(Blade->StartAdapter(Driver, P.At));
      }
      State.PauseTiming();
      Blade.reset();
    }
    State.ResumeTiming();
  }
  const BootMeasure M = MeasureArrivals(C);
  State.counters["ipmi_requests"] = static_cast<double>(M.Floor.Requests);
  State.counters["ipmi_floor"] = static_cast<double>(M.Floor.Floor);
  State.counters["ipmi_ratio"] = M.Floor.Ratio();
  State.counters["passes"] = static_cast<double>(M.Passes);
  // Seconds of host time per adapter pass over a full mailbox.
  State.counters["pass_time"] = benchmark::Counter(static_cast<double>(M.Passes),
                                                   benchmark::Counter::kIsIterationInvariantRate |
                                                       benchmark::Counter::kInvert);
  State.counters["execute_calls"] = static_cast<double>(M.Calls);
  State.counters["virtual_us"] = static_cast<double>(M.VirtualMicroseconds);
}
BENCHMARK(BM_WorstCaseAdapterBoot)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

} // namespace

namespace bench {

void ReportWorstAdapterBootFloor(std::ostream& Out) {
  Out << "IPMI requests of the worst adapter boot's arrivals (24 positions, full mailboxes) "
         "against the fewest the mailboxes allow\n";
  for (Case C : {Case::NoPendingMask, Case::Vendor8086AllPending}) {
    const BootMeasure M = MeasureArrivals(C);
    PrintComparison(Out,
                    C == Case::NoPendingMask
                        ? "vendor without a pending mask, " + std::to_string(M.Passes) +
                              " full mailbox passes"
                        : "vendor 0x8086, every position pending, " + std::to_string(M.Passes) +
                              " full mailbox passes",
                    M.Floor, &M.Purposes);
  }
}

} // namespace bench
