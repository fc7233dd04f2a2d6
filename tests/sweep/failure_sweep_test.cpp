// The failure sweep: whole boots run once cleanly, counting every pool allocation, IPMI request,
// variable read and write and protocol lookup, then again once for every n and kind with the n-th
// call failing (an IPMI request in six ways). Every boot must end, leave no pool buffer, report at
// most one failure, write only where the host may, change no FRU byte other than the clean boot
// did, leave no processor slowed down, and end as the driver's failure handling says for the step
// the failure hit. The expectations below are written by hand from that handling.
#include <gtest/gtest.h>

#include <cstdio>
#include <set>

#include "tests/support/adapter_blade.h"
#include "tests/sweep/sweep_blade.h"

namespace {

using namespace sweep;
namespace ts = testing_support;
namespace mf = mailbox_format;

constexpr UINT16 H = 512;
constexpr UINT16 Candidates[] = {512, 768, 1024, 1280, 1536, 1792, 2048, 2304};

// Under the sanitizers a boot costs ten times as much: every k-th n is run there.
#if defined(__SANITIZE_ADDRESS__)
constexpr uint64_t Stride = 5;
#else
constexpr uint64_t Stride = 1;
#endif

// --- Setting the blade up -------------------------------------------------------------------

void SetBladeBytes(sim::Blade& Blade, size_t Offset, UINT32 Value, size_t Width) {
  const sim::VariableSpec& V = sim::vars::TalBladeData;
  std::vector<uint8_t> Data = Blade.Firmware.Variables.Value(V.Name, V.Guid).value();
  for (size_t I = 0; I < Width; ++I) {
    Data[Offset + I] = static_cast<uint8_t>(Value >> (8 * I));
  }
  Blade.Firmware.Variables.Create(V.Name, V.Guid, V.Attributes, Data);
}

void SetFruIdList(sim::Blade& Blade, std::vector<uint8_t> List) {
  const sim::VariableSpec& V = sim::vars::ClpCommandFruIdList;
  Blade.Firmware.Variables.Create(V.Name, V.Guid, V.Attributes, std::move(List));
}

void SetAdapterReady(sim::Blade& Blade, bool High, uint64_t From) {
  Blade.Platform.SetInputLevel(0x50C, 1u << 0, High, From);
}

// The root ports of every adapter position and their FRU devices, failure reports switched on.
void AdapterPositions(sim::Blade& Blade) {
  ts::AddRootPorts(Blade);
  for (UINT8 Fru : {0x01, 0x02, 0x04, 0x05, 0x50, 0x51, 0x52}) {
    Blade.Bmc.AddFruDevice(Fru, ts::DefaultFruSize);
  }
  SetBladeBytes(Blade, ts::ClpFailurePauseByte, 1, 1);
}

sim::BootOutcome Entry(sim::Blade& Blade) {
  return Blade.LoadDriver();
}

sim::BootOutcome Completion(sim::Blade& Blade) {
  return Blade.InstallCompletionSignal();
}

// --- The scenarios -------------------------------------------------------------------------

// 32 platform commands of every kind in FRU device 1, with the adapter-ready input low (the pass
// first makes the network the first boot device), a gated command refused once and done on its
// retry, busy answers, two power-restore changes, adapter lines left for the adapter run, and a
// command that asks for a reset last: the clean boot ends in the reset after the 32nd record.
Scenario PlatformScenario() {
  Scenario S;
  S.Name = "platform";
  S.Build = [](sim::Blade& Blade) {
    AdapterPositions(Blade);
    SetAdapterReady(Blade, false, 0);
    const char* const Keywords[] = {
        "OEMTAL_LOM1=ENABLE",
        "OEMTAL_NUMA=ENABLE",
        "OEMTAL_LOM3=ENABLE", // gated: refused at first
        "OEMTAL_UUID=00112233445566778899AABBCCDDEEFF",
        "OEMTAL_SERIAL=SN-0042-X",
        "OEMTAL_ACTIVECORE=2",
        "OEMTAL_ACLINK=STAYON",
        nullptr, // an adapter line
        "OEMTAL_SAS=ENABLE",
        "OEMTAL_IPL1=PCI",
        "OEMTAL_ISCSI=ENABLE",
        "OEMTAL_FCOE=1234ABCD",
        "OEMTAL_CONREDIRECT=ENABLE",
        "OEMTAL_IOV1_BUS1=ENABLE",
        "OEMTAL_SIO1DAC=ENABLE",
        "OEMTAL_MEZ1=ENABLE",
        "OEMTAL_PXEPERMANENTADDRESS=ENABLE",
        "OEMTAL_FCPERMANENTADDRESS11=ENABLE",
        "OEMTAL_SWRAID=ENABLE",
        "OEMTAL_HWRAID=ENABLE",
        "OEMTAL_LOM2=DISABLE",
        "OEMTAL_IOV2_BUS4=ENABLE",
        "OEMTAL_MEZ2=ENABLE",
        "OEMTAL_IDE=ENABLE",
        "OEMTAL_IPL1_DEFAULT",
        nullptr,
        "OEMTAL_CLPFailurePause=ENABLE",
        "OEMTAL_SIO2DAC=DISABLE",
        "OEMTAL_EMFailurePause=DISABLE",
        "OEMTAL_MEZ4B=DISABLE", // gated, let through by then
        "OEMTAL_ACLINK=LASTSTATE",
        "OEMTAL_SAS=DISABLE", // after OEMTAL_SWRAID=ENABLE: a new SAS mode, a reset
    };
    std::vector<mf::MailboxCommand> List;
    for (size_t I = 0; I < std::size(Keywords); ++I) {
      const auto Id = static_cast<UINT16>(0x0100 + I);
      if (Keywords[I] == nullptr) {
        List.push_back({Id, I < 10 ? "SET NETPORT1 OEMTAL_BOOTENABLE=ENABLE" : "SET N2 X=Y"});
      } else {
        List.push_back(
            {Id, std::string(I % 2 == 0 ? "SET BOOTCFGSETTING1 " : "SET B1 ") + Keywords[I]});
      }
    }
    sim::MailboxContents Contents;
    Contents.Lists = {List};
    sim::WriteMailbox(Blade.Bmc, 1, Contents);
    Blade.Platform.QueueInfo(29, 1);
    Blade.Platform.SetInfo(29, 0);
    Blade.Platform.SetCpuTopology(2, 16);
    sim::RequestMatch Reads{sim::ipmi::NetFnStorage, sim::ipmi::CmdReadFruData, 1, {}};
    Reads.Nth = 40;
    Blade.Bmc.InjectCompletion(0x81, 3, Reads);
    sim::RequestMatch Writes{sim::ipmi::NetFnStorage, sim::ipmi::CmdWriteFruData, 1, {}};
    Writes.Nth = 5;
    Blade.Bmc.InjectCompletion(0x81, 1, Writes);
  };
  S.Steps = {{"the entry", Entry}, {"the completion signal", Completion}};
  return S;
}

// A small platform list (no reset); a multi-function 0x8086 adapter at 05:00.0 whose functions 0
// and 1 (rows 6 and 7) are both pending, served by one run at its arrival with the adapter-ready
// input high, over two lists with a gap between them and port filtering; then a 0x14E4 adapter at
// row 12 that arrives while the input is low and waiting is enabled, with MP services present:
// the BMC is told, the processors slowed down, and after the wait its lists run with the platform
// settings of adapter lists allowed (a UUID goes to the BMC and SMBIOS). The completion signal
// last finds nothing pending.
Scenario AdapterScenario() {
  Scenario S;
  S.Name = "adapter";
  S.Build = [](sim::Blade& Blade) {
    AdapterPositions(Blade);
    SetAdapterReady(Blade, true, 0);
    Blade.Platform.SetInputLevel(0x548, 1u << 9, true);
    sim::MailboxContents Platform;
    Platform.Lists = {{{0x0001, "SET BOOTCFGSETTING1 OEMTAL_LOM1=ENABLE"},
                       {0x0002, "SET NETPORT1 OEMTAL_BOOTENABLE=ENABLE"},
                       {0x0003, "SET B1 OEMTAL_IPL1=USB"}}};
    sim::WriteMailbox(Blade.Bmc, 1, Platform);

    Blade.Pci.Function(ts::Positions[6].Function, 0x8086, 0x10FB);
    Blade.Pci.Function(ts::Positions[7].Function, 0x8086, 0x10FB);
    Blade.Pci.Function(ts::Positions[12].Function, 0x14E4, 0x168E);
    SetBladeBytes(Blade, ts::blade::PendingMask8086, 0xC0, 4);
    SetBladeBytes(Blade, ts::blade::PendingMask14E4, 0x400, 4);
    SetFruIdList(Blade, {0x05, 0x50, 0, 0, 0, 0});

    mf::MailboxImage Nic;
    Nic.Size = ts::DefaultFruSize;
    Nic.HeaderOffset = H;
    Nic.Lists[0] = mf::MailboxList{{{0x0501, "SET NETPORT1 OEMTAL_BOOTENABLE=ENABLE"},
                                    {0x0502, "SET NETPORT2 OEMTAL_BOOTPRIORITY=DISABLE"},
                                    {0x0503, "SET N1 OEMQX_BOOTENABLE=enable"},
                                    {0x0504, "SET B1 OEMTAL_SERIAL=NOT-NOW"}},
                                   true,
                                   std::nullopt};
    Nic.Lists[2] = mf::MailboxList{{{0x0521, "SET NETPORT2 OEMTAL_INITIATORADDRESSORIGIN=3"},
                                    {0x0522, "SET NETPORT1 DEFAULT"}},
                                   true,
                                   std::nullopt};
    sim::WriteMailbox(Blade.Bmc, 0x05, Nic);

    sim::MailboxContents Late;
    Late.Lists = {{{0x5001, "SET NETPORT1 OEMTAL_BOOTENABLE=ENABLE"},
                   {0x5002, "SET B1 OEMTAL_UUID=00112233445566778899AABBCCDDEEFF"},
                   {0x5003, "SET B1 OEMTAL_SERIAL=SN-AFTER-WAIT"}},
                  {{0x5101, "SET NETPORT1 OEMTAL_BOOTPRIORITY=1"}}};
    sim::WriteMailbox(Blade.Bmc, 0x50, Late);
    Blade.Adapters.Add("8086");
    Blade.Adapters.Add("14E4");
  };
  S.Steps = {
      {"the entry", Entry},
      {"the 0x8086 arrival",
       [](sim::Blade& Blade) {
         return Blade.StartAdapter(Blade.Adapters[0], ts::Positions[6].Function);
       }},
      {"the 0x14E4 arrival with the wait",
       [](sim::Blade& Blade) {
         const uint64_t Now = Blade.Firmware.Clock.Now();
         SetAdapterReady(Blade, false, Now);
         SetAdapterReady(Blade, true, Now + 2'000'000);
         return Blade.StartAdapter(Blade.Adapters[1], ts::Positions[12].Function);
       }},
      {"the completion signal", Completion},
  };
  S.AdapterLists = {{0x05, {0, 2}}, {0x50, {0, 1}}};
  return S;
}

// The default restore: both positions that must go back to NPAR arrive with the adapter-ready
// input low; the first is restored, and the second, the last, ends the boot in a reset.
Scenario RestoreScenario() {
  Scenario S;
  S.Name = "restore";
  S.Build = [](sim::Blade& Blade) {
    AdapterPositions(Blade);
    SetAdapterReady(Blade, false, 0);
    Blade.Pci.Function(ts::Positions[6].Function, 0x8086, 0x10FB);
    Blade.Pci.Function(ts::Positions[12].Function, 0x14E4, 0x168E);
    SetBladeBytes(Blade, ts::blade::NparRestoreMask, 0x440, 4);
    SetFruIdList(Blade, {0x05, 0x50, 0, 0, 0, 0});
    // Mailboxes the restore finds and leaves alone.
    sim::MailboxContents Unrun;
    Unrun.Lists = {{{0x0001, "SET NETPORT1 OEMTAL_BOOTENABLE=ENABLE"}}};
    sim::WriteMailbox(Blade.Bmc, 0x05, Unrun);
    sim::WriteMailbox(Blade.Bmc, 0x50, Unrun);
    Blade.Adapters.Add("8086");
    Blade.Adapters.Add("14E4");
  };
  S.Steps = {
      {"the entry", Entry},
      {"the first restore",
       [](sim::Blade& Blade) {
         return Blade.StartAdapter(Blade.Adapters[0], ts::Positions[6].Function);
       }},
      {"the last restore",
       [](sim::Blade& Blade) {
         return Blade.StartAdapter(Blade.Adapters[1], ts::Positions[12].Function);
       }},
      {"the completion signal", Completion},
  };
  return S;
}

// --- What a failing boot must show -----------------------------------------------------------

// The ways a boot may end, as the design's failure handling gives them.
enum class Outcome {
  LikeClean,  // every FRU byte, reset and report as in the clean boot
  Untouched,  // the platform mailbox's FRU device as at power-on, no reset
  CutShort,   // no reset; what the host wrote is part of what the clean boot wrote
  LockKept,   // the completion signal's release failed: the platform mailbox stays locked
  ResetAnyway // the boot still ends in the clean boot's reset
};

struct Expectation {
  std::set<Outcome> Allowed;
  size_t Reports;                     // failure reports in the boot
  std::set<size_t> OtherReports = {}; // also allowed, with the outcome LikeClean only
};

const sim::IpmiRequest& RequestOf(const BootResult& Clean, uint64_t Nth) {
  return Clean.Trace.at(Nth - 1);
}

bool IsFru(const sim::IpmiRequest& R) {
  return R.NetFn == sim::ipmi::NetFnStorage;
}

// A read of the 28-byte header at one of its candidate offsets.
bool IsHeaderSearch(const sim::IpmiRequest& R) {
  if (!IsFru(R) || R.Cmd != sim::ipmi::CmdReadFruData) {
    return false;
  }
  const auto Offset = static_cast<UINT16>(R.Data[1] | (R.Data[2] << 8));
  for (UINT16 C : Candidates) {
    if ((Offset == C && R.Data[3] == 16) || (Offset == C + 16 && R.Data[3] == 12)) {
      return true;
    }
  }
  return false;
}

bool IsPowerRestore(const sim::IpmiRequest& R) {
  return R.NetFn == 0x00 && R.Cmd == 0x06;
}

// A FRU answer of "data not present" is expected by the FRU access and not reported by it.
size_t FruReport(const Failure& F) {
  return F.Ipmi.Way == IpmiFault::Completion && F.Ipmi.Code == 0xCB ? 0 : 1;
}

// The platform pass: the first two lookups are its protocols, and with the adapter-ready input low
// its first variable read, write and allocation set the first boot device; a failure of any of
// these ends the pass before the mailbox, quietly. The header search reports only what the FRU
// access reports. The text area (the next allocation) cannot be had: nothing is read, one report.
// Anything later cuts the run short with one report (power-restore requests aside: their failure
// changes nothing).
Expectation PlatformPass(const BootResult& Clean, const Failure& F, bool SetsFirstBootDevice) {
  const uint64_t Quiet = SetsFirstBootDevice ? 1 : 0;
  switch (F.What) {
  case Kind::Ipmi: {
    const sim::IpmiRequest& R = RequestOf(Clean, F.Nth);
    if (IsPowerRestore(R)) {
      return {{Outcome::LikeClean}, 0};
    }
    if (IsHeaderSearch(R)) {
      return {{Outcome::Untouched}, FruReport(F)};
    }
    return {{Outcome::CutShort}, 1};
  }
  case Kind::LocateProtocol:
    return F.Nth <= 2 ? Expectation{{Outcome::Untouched}, 0} : Expectation{{Outcome::CutShort}, 1};
  case Kind::Pool:
    if (F.Nth <= Quiet) {
      return {{Outcome::Untouched}, 0};
    }
    return F.Nth == Quiet + 1 ? Expectation{{Outcome::Untouched}, 1}
                              : Expectation{{Outcome::CutShort}, 1};
  case Kind::VariableRead:
  case Kind::VariableWrite:
    return F.Nth <= Quiet ? Expectation{{Outcome::Untouched}, 0}
                          : Expectation{{Outcome::CutShort}, 1};
  default:
    return {{Outcome::CutShort}, 1};
  }
}

// The completion signal: a failing release leaves the platform mailbox locked (reported only by
// the FRU access); a failing read of the FRU id list is reported.
Expectation CompletionSignal(const BootResult& Clean, const Failure& F) {
  switch (F.What) {
  case Kind::Ipmi:
    return {{Outcome::LockKept}, FruReport(F)};
  case Kind::LocateProtocol:
    return {{Outcome::LockKept}, 0};
  case Kind::VariableRead:
    return {{Outcome::LikeClean}, 1};
  default:
    (void)Clean;
    return {{Outcome::CutShort}, 1};
  }
}

// An arrival that goes wrong anywhere ends with one report: its own run's failure is reported, and
// an arrival that ends quietly (before the run, or in the wait) leaves its FRU device listed, which
// the completion signal reports. Only these may change nothing that the BMC sees: a failing
// allocation of the keyword translation (the command goes untranslated), a missing MP services
// protocol (the wait takes place all the same), and a failing update of the FRU id list (ignored;
// rows 6 and 7 share FRU device 5, so the second adapter's update takes it off the list).
Expectation Arrival(const Failure& F) {
  switch (F.What) {
  case Kind::Pool:
  case Kind::LocateProtocol:
  case Kind::VariableRead:
  case Kind::VariableWrite:
    return {{Outcome::CutShort}, 1, {0}};
  default:
    return {{Outcome::CutShort}, 1};
  }
}

Expectation ExpectedFor(const Scenario& S, const BootResult& Clean, const Failure& F) {
  const size_t Step = StepOf(Clean, F.What, F.Nth);
  if (S.Name == "platform") {
    return PlatformPass(Clean, F, true);
  }
  if (S.Name == "adapter") {
    switch (Step) {
    case 0:
      return PlatformPass(Clean, F, false);
    case 1:
    case 2:
      return Arrival(F);
    default:
      return CompletionSignal(Clean, F);
    }
  }
  // The restore boot: no platform mailbox, so a failure in the entry changes nothing beyond the
  // FRU access's report, and both restores still happen. A restore that goes wrong keeps its bit,
  // so the last one resets nothing and the completion signal reports the FRU device still listed;
  // only a failing update of that list, which is ignored, lets the reset happen.
  if (Step == 0) {
    const bool Reported = F.What == Kind::Ipmi && FruReport(F) == 1;
    return {{Outcome::ResetAnyway}, Reported ? 1u : 0u};
  }
  if (F.What == Kind::VariableRead || F.What == Kind::VariableWrite) {
    return {{Outcome::CutShort, Outcome::ResetAnyway}, 1, {0}};
  }
  return {{Outcome::CutShort}, 1};
}

bool IsLockByte(size_t Offset) {
  for (UINT16 C : Candidates) {
    if (Offset >= C + 28u && Offset <= C + 30u) {
      return true;
    }
  }
  return false;
}

std::string Hex(unsigned V) {
  char Text[16];
  std::snprintf(Text, sizeof Text, "0x%X", V);
  return Text;
}

// Empty when the boot ends as one of the allowed outcomes, else what is wrong.
std::string Judge(const BootResult& Clean, const BootResult& R, const Expectation& E) {
  if (!R.OracleFailure.empty()) {
    return R.OracleFailure;
  }
  if (R.ClockModulation != Clean.ClockModulation) {
    return "the processors' clock modulation ends otherwise than in the clean boot";
  }
  // Nothing but what the clean boot wrote, or less (lock bytes judged by the outcome).
  for (const auto& [Fru, Bytes] : R.End) {
    for (size_t I = 0; I < Bytes.size(); ++I) {
      if (!IsLockByte(I) && Bytes[I] != R.PowerOn.at(Fru)[I] && Bytes[I] != Clean.End.at(Fru)[I]) {
        return "FRU device " + Hex(Fru) + " byte " + Hex(static_cast<unsigned>(I)) +
               " holds a value neither the BMC nor the clean boot put there";
      }
    }
  }
  const bool SameFru = R.End == Clean.End;
  const bool Reset = R.EndedInReset();
  std::string Why;
  auto Holds = [&](Outcome O) -> bool {
    switch (O) {
    case Outcome::LikeClean:
      return SameFru && Reset == Clean.EndedInReset() && R.Reports == E.Reports;
    case Outcome::Untouched:
      return !Reset && R.End.at(1) == R.PowerOn.at(1) && R.Reports == E.Reports;
    case Outcome::CutShort:
      return !Reset && R.Reports == E.Reports && R.End.at(1)[H + 30] == 0;
    case Outcome::LockKept:
      return !Reset && R.Reports == E.Reports && R.End.at(1)[H + 30] == 1;
    case Outcome::ResetAnyway:
      return Reset && R.Reports == E.Reports;
    }
    return false;
  };
  for (Outcome O : E.Allowed) {
    if (Holds(O)) {
      return "";
    }
  }
  if (E.OtherReports.count(R.Reports) != 0 && SameFru && Reset == Clean.EndedInReset()) {
    return "";
  }
  return std::string("ends ") + (Reset ? "in a reset" : "without a reset") + " with " +
         std::to_string(R.Reports) + " failure reports (" + std::to_string(E.Reports) +
         " expected), the platform mailbox's host flag " + std::to_string(R.End.at(1)[H + 30]) +
         (SameFru ? ", every FRU byte as in the clean boot" : "");
}

// --- The sweep -------------------------------------------------------------------------------

struct Tally {
  std::map<Kind, size_t> Runs;
  size_t Total = 0;
};

Tally Sweep(const Scenario& S, const BootResult& Clean) {
  Tally T;
  const Counts& All = Clean.After.back();
  for (Kind K : Kinds) {
    for (uint64_t N = 1; N <= All.at(K); N += Stride) {
      std::vector<Failure> Failures;
      if (K == Kind::Ipmi) {
        const sim::IpmiRequest& R = RequestOf(Clean, N);
        for (const IpmiFault& Fault : IpmiFaults) {
          // Only a Read FRU Data answer carries data to cut short.
          if (Fault.Way != IpmiFault::Short || (IsFru(R) && R.Cmd == sim::ipmi::CmdReadFruData)) {
            Failures.push_back({K, N, Fault});
          }
        }
      } else {
        Failures.push_back({K, N});
      }
      for (const Failure& F : Failures) {
        const BootResult R = Boot(S, &F);
        const std::string Why = Judge(Clean, R, ExpectedFor(S, Clean, F));
        EXPECT_EQ(Why, "") << S.Name << " boot, " << KindName(K) << " " << N << " failing"
                           << (K == Kind::Ipmi ? std::string(" (") + F.Ipmi.Name + ")" : "")
                           << " in " << S.Steps[StepOf(Clean, K, N)].Name;
        ++T.Runs[K];
        ++T.Total;
      }
    }
  }
  return T;
}

void Print(const Scenario& S, const BootResult& Clean, Tally T) {
  std::printf("%s boot: %zu failing boots", S.Name.c_str(), T.Total);
  for (Kind K : Kinds) {
    std::printf("; %s %llu calls, %zu boots", KindName(K),
                static_cast<unsigned long long>(Clean.After.back().at(K)), T.Runs[K]);
  }
  std::printf("\n");
}

class FailureSweep : public ::testing::Test {};

// The clean boots do what the scenarios are for, so that the sweep fails what matters.
TEST_F(FailureSweep, CleanBootsRunEveryStep) {
  const BootResult Platform = Boot(PlatformScenario(), nullptr);
  EXPECT_EQ(Platform.OracleFailure, "");
  ASSERT_EQ(Platform.Steps.size(), 1u) << "the entry ends in the reset";
  EXPECT_TRUE(Platform.EndedInReset());
  EXPECT_EQ(Platform.Reports, 0u);
  const sim::BootOutcome& E = Platform.Steps[0];
  EXPECT_FALSE(E.Returned);
  // Record 31 (the reset's command) and record 2 (refused once) are done.
  const std::vector<uint8_t>& Fru1 = Platform.End.at(1);
  const UINT16 Results = static_cast<UINT16>((Fru1[H + 24] << 8) | Fru1[H + 25]);
  EXPECT_EQ(std::vector<uint8_t>(Fru1.begin() + Results + 6 * 31, Fru1.begin() + Results + 6 * 32),
            ts::Bytes({0x01, 0x1F, 0x00, 0x0E, 0x00, 0x00}));
  EXPECT_EQ(std::vector<uint8_t>(Fru1.begin() + Results + 6 * 2, Fru1.begin() + Results + 6 * 3),
            ts::Bytes({0x01, 0x02, 0x00, 0x0E, 0x00, 0x00}));
  size_t Busy = 0, PowerRestore = 0;
  for (const sim::IpmiRequest& R : Platform.Trace) {
    Busy += R.CompletionCode == 0x81 ? 1 : 0;
    PowerRestore += IsPowerRestore(R) ? 1 : 0;
  }
  EXPECT_EQ(Busy, 4u);
  EXPECT_EQ(PowerRestore, 2u);

  const BootResult Adapter = Boot(AdapterScenario(), nullptr);
  EXPECT_EQ(Adapter.OracleFailure, "");
  ASSERT_EQ(Adapter.Steps.size(), 4u);
  for (const sim::BootOutcome& O : Adapter.Steps) {
    EXPECT_TRUE(O.Returned);
  }
  EXPECT_EQ(Adapter.Reports, 0u);
  EXPECT_EQ(Adapter.FruIdList, ts::Bytes({0, 0, 0, 0, 0, 0}));
  size_t WaitMessages = 0, Uuids = 0;
  for (const sim::IpmiRequest& R : Adapter.Trace) {
    WaitMessages += R.NetFn == 0x30 && R.Cmd == 0x30 ? 1 : 0;
    Uuids += R.NetFn == 0x30 && R.Cmd == 0x41 ? 1 : 0;
  }
  EXPECT_EQ(WaitMessages, 2u);
  EXPECT_EQ(Uuids, 1u);
  EXPECT_GE(Adapter.After.back().at(Kind::LocateHandleBuffer), 1u) << "the second 0x8086 function";

  const BootResult Restore = Boot(RestoreScenario(), nullptr);
  EXPECT_EQ(Restore.OracleFailure, "");
  ASSERT_EQ(Restore.Steps.size(), 3u) << "the last restore resets";
  EXPECT_TRUE(Restore.EndedInReset());
  EXPECT_EQ(Restore.FruIdList, ts::Bytes({0, 0, 0, 0, 0, 0}));
}

TEST_F(FailureSweep, EveryFailureOfThePlatformBootEndsAsDesigned) {
  const Scenario S = PlatformScenario();
  const BootResult Clean = Boot(S, nullptr);
  ASSERT_EQ(Clean.OracleFailure, "");
  Print(S, Clean, Sweep(S, Clean));
}

TEST_F(FailureSweep, EveryFailureOfTheAdapterBootEndsAsDesigned) {
  const Scenario S = AdapterScenario();
  const BootResult Clean = Boot(S, nullptr);
  ASSERT_EQ(Clean.OracleFailure, "");
  Print(S, Clean, Sweep(S, Clean));
}

TEST_F(FailureSweep, EveryFailureOfTheRestoreBootEndsAsDesigned) {
  const Scenario S = RestoreScenario();
  const BootResult Clean = Boot(S, nullptr);
  ASSERT_EQ(Clean.OracleFailure, "");
  Print(S, Clean, Sweep(S, Clean));
}

} // namespace
