// Adapter arrivals through the driver's entry: the three branches (run at once, restore NPAR, wait
// for the adapter-ready input with the BMC told and the processors slowed down), the FRU device of
// the platform's positions, and the ways an arrival ends early.
#include <functional>

#include "adapter/slot_table.h"
#include "tests/support/adapter_blade.h"

namespace {

using namespace testing_support;

// A 0x10DF adapter at row 2 with a serial-number setting and a port command in its mailbox.
class ArrivalTest : public AdapterBladeTest {
protected:
  explicit ArrivalTest(const sim::BladeOptions& Options = {}) : AdapterBladeTest(Options) {
    PutAdapter(2, 0x10DF);
    SetBlade32(blade::PendingMask10DF, 0x04);
    SetFruIdList({0x04, 0, 0, 0, 0, 0});
    Layout =
        PutMailbox(0x04, {{{0x0001, "SET B1 OEMTAL_SERIAL=SN42"}, {0x0002, "SET NETPORT1 X=1"}}});
  }

  // The adapter driver starts on row 2's function: the arrival runs inside.
  sim::BootOutcome Arrive() {
    Start = Blade.Firmware.Clock.Now();
    WritesBefore = BladeDataWrites();
    StallsBefore = Blade.Firmware.Stalls().size();
    PortReadsBefore = Blade.Platform.PortAccesses().size();
    Blade.Bmc.ClearTrace();
    return Blade.StartAdapter(Fc, At(2));
  }

  std::vector<uint64_t> WaitStalls() const {
    const auto& All = Blade.Firmware.Stalls();
    std::vector<uint64_t> Out;
    for (size_t I = StallsBefore; I < All.size(); ++I) {
      if (All[I] == 500000) {
        Out.push_back(All[I]);
      }
    }
    return Out;
  }
  // {time from the arrival, bit 0} of every read of the adapter-ready input since it began.
  std::vector<std::pair<uint64_t, UINT32>> ReadyReads() const {
    std::vector<std::pair<uint64_t, UINT32>> Out;
    const auto& All = Blade.Platform.PortAccesses();
    for (size_t I = PortReadsBefore; I < All.size(); ++I) {
      if (All[I].Port == 0x50C && !All[I].Write) {
        Out.emplace_back(All[I].Time - Start, All[I].Value & 1);
      }
    }
    return Out;
  }
  struct Msr {
    UINTN Processor;
    bool Write;
    UINT64 Value;
    bool operator==(const Msr& O) const {
      return Processor == O.Processor && Write == O.Write && Value == O.Value;
    }
  };
  std::vector<Msr> MsrTrace() const {
    std::vector<Msr> Out;
    for (const sim::MsrAccess& A : Blade.Platform.MsrAccesses()) {
      EXPECT_EQ(A.Msr, ClockModulation);
      Out.push_back({A.Processor, A.Write, A.Value});
    }
    return Out;
  }
  std::vector<uint8_t> ReadyWaitWritten() const {
    std::vector<uint8_t> Out;
    for (const auto& Data : BladeDataWritten(WritesBefore)) {
      Out.push_back(Data[blade::AdapterReadyWait]);
    }
    return Out;
  }

  sim::AdapterDriver& Fc = Blade.Adapters.Add("10DF");
  mf::MailboxLayout Layout{};
  uint64_t Start = 0;
  size_t WritesBefore = 0, StallsBefore = 0, PortReadsBefore = 0;
};

TEST_F(ArrivalTest, ReadyAtArrivalRunsAtOnceWithNothingElse) {
  Load();
  const sim::BootOutcome Outcome = Arrive();
  ASSERT_TRUE(Outcome.Returned);
  EXPECT_EQ(Fc.Texts(), std::vector<std::string>{"SET NETPORT1 X=1"})
      << "the serial number is not set without the wait, and not sent";
  EXPECT_EQ(Record(0x04, Layout, 0, 0), Unwritten(6));
  EXPECT_EQ(Record(0x04, Layout, 0, 1), Bytes({0x00, 0x02, 0x00, 0x05, 0x00, 0x00}));
  EXPECT_TRUE(OemMessages().empty());
  EXPECT_TRUE(Blade.Platform.MsrAccesses().empty());
  EXPECT_TRUE(Blade.Mp.Startups().empty());
  EXPECT_EQ(ReadyWaitWritten(), std::vector<uint8_t>{0}) << "only the run's write-back";
  EXPECT_EQ(BladeData()[blade::SerialValid], 0);
  ASSERT_FALSE(FruWrites().empty());
  EXPECT_EQ(FruWrites()[0].Data, Bytes({0x04, 0x1E, 0x02, 0x01})) << "the lock is taken first";
  EXPECT_TRUE(WaitStalls().empty());
  EXPECT_EQ(FailureReports(), 0u);
}

TEST_F(ArrivalTest, NotReadyAndNoWaitTellsTheBmcReleasesAndThrottlesButRunsNothing) {
  SetAdapterReady(false);
  SetWaitEnable(false);
  Blade.Bmc.WriteFru(0x04, H + HostLockFlag, {1}); // as if the host held it
  Blade.Platform.SetMsr(ClockModulation, 0x100);
  Load();
  ASSERT_TRUE(Arrive().Returned);

  EXPECT_EQ(OemMessages(), (std::vector<std::vector<uint8_t>>{WaitBegins, WaitEnds}));
  EXPECT_EQ(ReadyWaitWritten(), Bytes({1, 0}));
  EXPECT_EQ(Lock(0x04)[2], 0) << "released for the BMC";
  EXPECT_EQ(MsrTrace(), (std::vector<Msr>{{0, false, 0x100},
                                          {0, true, 0x112},
                                          {1, false, 0},
                                          {1, true, 0x12},
                                          {2, false, 0},
                                          {2, true, 0x12},
                                          {3, false, 0},
                                          {3, true, 0x12},
                                          {0, true, 0},
                                          {1, true, 0},
                                          {2, true, 0},
                                          {3, true, 0}}));
  ASSERT_EQ(Blade.Mp.Startups().size(), 2u);
  for (const sim::ApStartup& S : Blade.Mp.Startups()) {
    EXPECT_TRUE(S.AllAps);
    EXPECT_FALSE(S.SingleThread);
    EXPECT_TRUE(S.Blocking);
    EXPECT_EQ(S.Timeout, 0u);
    EXPECT_EQ(S.Argument, nullptr);
    EXPECT_FALSE(S.FailedCpuListAsked);
  }
  EXPECT_TRUE(WaitStalls().empty());
  EXPECT_TRUE(Fc.Calls().empty());
  EXPECT_EQ(Blade32(blade::PendingMask10DF), 0x04u);
  EXPECT_EQ(FailureReports(), 0u);
}

// The speed-up goes through the MP services the slow-down found: a lookup failing in between (the
// second one, had there been one) would leave every processor slowed down for the rest of the boot.
TEST_F(ArrivalTest, TheProcessorsAreSpedUpThroughTheProtocolThatSlowedThemDown) {
  SetAdapterReady(false);
  SetWaitEnable(false);
  Load();
  size_t Before = 0;
  for (const sim::ServiceCall& C : Blade.Firmware.Calls()) {
    Before += C.Service == "LocateProtocol" ? 1 : 0;
  }
  // The arrival looks up the transport and the platform information, then MP services once.
  Blade.Firmware.FailLocateProtocol(4);
  ASSERT_TRUE(Arrive().Returned);
  size_t Lookups = 0;
  for (const sim::ServiceCall& C : Blade.Firmware.Calls()) {
    Lookups += C.Service == "LocateProtocol" ? 1 : 0;
  }
  EXPECT_EQ(Lookups - Before, 3u);
  ASSERT_EQ(Blade.Mp.Startups().size(), 2u);
  for (UINTN Cpu = 0; Cpu < Blade.Mp.ProcessorCount(); ++Cpu) {
    EXPECT_EQ(Blade.Platform.ProcessorMsr(Cpu, ClockModulation), 0u) << Cpu;
  }
  EXPECT_EQ(OemMessages(), (std::vector<std::vector<uint8_t>>{WaitBegins, WaitEnds}));
}

// Read every half second until it is 1 (one more pause after that), the processors slowed down the
// while; then the commands run after the wait: the serial number is set, and stays set.
TEST_F(ArrivalTest, WaitingReadsTheInputEveryHalfSecondThenRunsWithTheSettings) {
  SetAdapterReady(false);
  SetWaitEnable(true);
  Load();
  SetAdapterReady(true, Blade.Firmware.Clock.Now() + 1'200'000);
  ASSERT_TRUE(Arrive().Returned);

  EXPECT_EQ(ReadyReads(), (std::vector<std::pair<uint64_t, UINT32>>{
                              {0, 0}, {0, 0}, {500000, 0}, {1000000, 0}, {1500000, 1}}));
  EXPECT_EQ(WaitStalls().size(), 4u);
  const auto& Msrs = Blade.Platform.MsrAccesses();
  ASSERT_EQ(Msrs.size(), 12u);
  EXPECT_EQ(Msrs.front().Time - Start, 0u);
  EXPECT_EQ(Msrs.back().Time - Start, 2000000u);
  EXPECT_EQ(OemMessages(), (std::vector<std::vector<uint8_t>>{WaitBegins, WaitEnds}));
  EXPECT_EQ(Blade.Bmc.Requests(0x30, 0x30)[1].Time - Start, 2000000u);

  EXPECT_EQ(Fc.Texts(), std::vector<std::string>{"SET NETPORT1 X=1"});
  EXPECT_EQ(Record(0x04, Layout, 0, 0), Unwritten(6)) << "a setting carried out gets no record";
  EXPECT_EQ(Record(0x04, Layout, 0, 1), Bytes({0x00, 0x02, 0x00, 0x05, 0x00, 0x00}));
  const std::vector<uint8_t> Data = BladeData();
  EXPECT_EQ(Data[blade::AdapterReadyWait], 0);
  EXPECT_EQ(Data[blade::SerialValid], 1);
  EXPECT_EQ(std::vector<uint8_t>(Data.begin() + blade::Serial, Data.begin() + blade::Serial + 10),
            Bytes({'S', 0, 'N', 0, '4', 0, '2', 0, 0, 0}))
      << "the pending mask's write-back keeps what the setting stored";
  EXPECT_EQ(Blade32(blade::PendingMask10DF), 0u);
  EXPECT_EQ(Lock(0x04), Bytes({1, 0, 0}));
  EXPECT_EQ(FailureReports(), 0u);
}

TEST_F(ArrivalTest, OtherAdaptersToRestoreMeanThisOneRunsNothingNow) {
  SetAdapterReady(false);
  SetBlade32(blade::NparRestoreMask, 0x10);
  Load();
  ASSERT_TRUE(Arrive().Returned);
  EXPECT_TRUE(Fc.Calls().empty());
  EXPECT_TRUE(OemMessages().empty());
  EXPECT_EQ(BladeDataWrites(), WritesBefore);
  EXPECT_TRUE(Blade.Platform.MsrAccesses().empty());
  EXPECT_EQ(FailureReports(), 0u);
}

class NoMpArrivalTest : public ArrivalTest {
protected:
  NoMpArrivalTest() : ArrivalTest(Without(&sim::BladeOptions::InstallMpServices)) {}
};

TEST_F(NoMpArrivalTest, TheWaitStillTakesPlace) {
  SetAdapterReady(false);
  SetWaitEnable(true);
  Load();
  SetAdapterReady(true, Blade.Firmware.Clock.Now() + 400'000);
  ASSERT_TRUE(Arrive().Returned);
  EXPECT_TRUE(Blade.Platform.MsrAccesses().empty()) << "not even the boot processor";
  EXPECT_EQ(WaitStalls().size(), 2u);
  EXPECT_EQ(OemMessages(), (std::vector<std::vector<uint8_t>>{WaitBegins, WaitEnds}));
  EXPECT_EQ(Fc.Texts(), std::vector<std::string>{"SET NETPORT1 X=1"});
}

TEST_F(ArrivalTest, AFailingStartupAllApsIsNotLookedAt) {
  SetAdapterReady(false);
  SetWaitEnable(false);
  Blade.Mp.FailStartupAllAPs(EFI_NOT_READY, -1);
  Load();
  ASSERT_TRUE(Arrive().Returned);
  EXPECT_EQ(MsrTrace(), (std::vector<Msr>{{0, false, 0}, {0, true, 0x12}, {0, true, 0}}));
  EXPECT_EQ(OemMessages().size(), 2u);
  EXPECT_EQ(ReadyWaitWritten(), Bytes({1, 0}));
}

// The wait has no time limit: the watchdog ends a boot whose input never rises, and says on what.
TEST_F(ArrivalTest, AnInputThatNeverRisesHangsTheBoot) {
  SetAdapterReady(false);
  SetWaitEnable(true);
  Blade.Firmware.Clock.SetWatchdog(600ull * 1000 * 1000);
  Load();
  const sim::BootOutcome Outcome = Arrive();
  EXPECT_TRUE(Outcome.Hang);
  EXPECT_NE(Outcome.HangReason.find("port 0x50C"), std::string::npos) << Outcome.HangReason;
  EXPECT_EQ(OemMessages(), std::vector<std::vector<uint8_t>>{WaitBegins});
  EXPECT_EQ(Blade.Platform.Msr(ClockModulation), 0x12u) << "still slowed down when it hung";
  EXPECT_TRUE(Fc.Calls().empty());
}

struct WaitFault {
  const char* Name;
  std::function<void(sim::Blade&)> Arrange;
  size_t OemMessages;
  std::vector<uint8_t> ReadyWaitWritten;
  UINT8 HostLockAfter;
  size_t MsrAccesses;
  size_t Reports; // the FRU access reports its own failures
};

class WaitFaultTest : public ArrivalTest, public ::testing::WithParamInterface<WaitFault> {};

// A failing step of the wait ends the arrival at once, with no report of its own and no command
// run; the processors are never left slowed down.
TEST_P(WaitFaultTest, EndsTheArrivalWithoutAReportOfItsOwn) {
  const WaitFault& F = GetParam();
  SetAdapterReady(false);
  SetWaitEnable(true);
  Blade.Bmc.WriteFru(0x04, H + HostLockFlag, {1});
  Load();
  SetAdapterReady(true, Blade.Firmware.Clock.Now() + 700'000);
  F.Arrange(Blade);
  ASSERT_TRUE(Arrive().Returned);
  EXPECT_EQ(OemMessages().size(), F.OemMessages);
  EXPECT_EQ(ReadyWaitWritten(), F.ReadyWaitWritten);
  EXPECT_EQ(Lock(0x04)[2], F.HostLockAfter);
  EXPECT_EQ(Blade.Platform.MsrAccesses().size(), F.MsrAccesses);
  EXPECT_EQ(Blade.Platform.Msr(ClockModulation), 0u);
  EXPECT_TRUE(Fc.Calls().empty());
  EXPECT_EQ(FailureReports(), F.Reports);
}

const sim::RequestMatch Oem{0x30, 0x30, {}, {}};

INSTANTIATE_TEST_SUITE_P(
    Steps, WaitFaultTest,
    ::testing::Values(WaitFault{"WaitBeginsRefused",
                                [](sim::Blade& B) { B.Bmc.InjectCompletion(0xC0, 1, Oem); },
                                1,
                                {},
                                1,
                                0,
                                0},
                      WaitFault{"ReadyWaitNotSet",
                                [](sim::Blade& B) {
                                  B.Firmware.Variables.FailSet(sim::vars::TalBladeData.Name,
                                                               sim::vars::TalBladeData.Guid,
                                                               EFI_DEVICE_ERROR, 1);
                                },
                                1,
                                {1},
                                1,
                                0,
                                0},
                      WaitFault{"MailboxNotReleased",
                                [](sim::Blade& B) {
                                  B.Bmc.InjectStatus(EFI_TIMEOUT, 1, {0x0A, 0x12, 0x04, H + 30});
                                },
                                1,
                                {1},
                                1,
                                0,
                                1},
                      WaitFault{"WaitEndsRefused",
                                [](sim::Blade& B) {
                                  B.Bmc.InjectCompletion(0x00, 1, Oem); // wait-begins goes through
                                  B.Bmc.InjectCompletion(0xC0, 1, Oem);
                                },
                                2,
                                {1},
                                0,
                                12,
                                0},
                      WaitFault{"ReadyWaitNotCleared",
                                [](sim::Blade& B) {
                                  B.Firmware.Variables.FailSet(sim::vars::TalBladeData.Name,
                                                               sim::vars::TalBladeData.Guid,
                                                               EFI_DEVICE_ERROR, 1,
                                                               /*After=*/1);
                                },
                                2,
                                {1, 0},
                                0,
                                12,
                                0}),
    [](const ::testing::TestParamInfo<WaitFault>& Info) { return std::string(Info.param.Name); });

struct FruChoice {
  UINT64 Item30;
  std::string Sent; // the command of the mailbox the adapter used
  UINT8 Row0FruId;
};

class FruChoiceTest : public AdapterBladeTest, public ::testing::WithParamInterface<FruChoice> {};

// Rows 0 and 1 name FRU device 1; only the answer 1 moves the arriving row to FRU device 2, for
// the rest of the boot. The other row keeps FRU device 1 until its own arrival.
TEST_P(FruChoiceTest, ThePlatformsPositionsMoveToFruDevice2OnlyOnTheAnswer1) {
  PutAdapter(0, 0x8086);
  PutAdapter(1, 0x8086);
  SetBlade32(blade::PendingMask8086, 0x01);
  Blade.Platform.SetInfo(30, GetParam().Item30);
  PutMailbox(0x01, {{{0x0001, "SET NETPORT1 OEMTAL_BOOTENABLE=ENABLE"}}});
  PutMailbox(0x02, {{{0x0002, "SET NETPORT1 OEMTAL_BOOTENABLE=DISABLE"}}});
  sim::AdapterDriver& Nic = Blade.Adapters.Add("8086");
  Load();
  ASSERT_TRUE(Blade.StartAdapter(Nic, At(0)).Returned);
  EXPECT_EQ(Nic.Texts(), std::vector<std::string>{GetParam().Sent});
  EXPECT_EQ(AdapterSlotTable[0].FruId, GetParam().Row0FruId);
  EXPECT_EQ(AdapterSlotTable[1].FruId, 1);
  const UINT8 Used = GetParam().Row0FruId;
  EXPECT_EQ(Lock(Used)[2], 1) << "the platform's mailbox stays locked after the run";
}

INSTANTIATE_TEST_SUITE_P(Answers, FruChoiceTest,
                         ::testing::Values(FruChoice{0, "SET BootEnable=ENABLE", 1},
                                           FruChoice{1, "SET BootEnable=DISABLE", 2},
                                           FruChoice{2, "SET BootEnable=ENABLE", 1}));

struct EarlyEnd {
  const char* Name;
  UINT8 Row;
  // After the load, before the arrival.
  std::function<void(sim::Blade&)> Arrange;
};

class EarlyEndTest : public AdapterBladeTest, public ::testing::WithParamInterface<EarlyEnd> {};

// A failing lookup before the branch, or an adapter outside the AdapterSlotTable: the arrival ends
// without a report, with nothing sent or written.
TEST_P(EarlyEndTest, EndsQuietly) {
  const EarlyEnd& E = GetParam();
  Blade.Pci.Function("02:00.4", 0x8086, 0x10FB); // on a position's bus, but no row's function
  PutAdapter(E.Row, 0x8086);
  SetBlade32(blade::PendingMask8086, 0xFFFFF);
  PutMailbox(0x01, {{{0x0001, "SET NETPORT1 OEMTAL_BOOTENABLE=ENABLE"}}});
  PutMailbox(0x04, {{{0x0001, "SET NETPORT1 OEMTAL_BOOTENABLE=ENABLE"}}});
  sim::AdapterDriver& Nic = Blade.Adapters.Add("8086");
  Load();
  const size_t Writes = BladeDataWrites();
  E.Arrange(Blade);
  Blade.Bmc.ClearTrace();
  const std::string Name = E.Name;
  if (Name == "NoPciFunction") {
    EXPECT_EQ(Blade.Adapters.StartOnController(Nic, Blade.Firmware.ImageHandle()), EFI_SUCCESS);
  } else {
    ASSERT_TRUE(
        Blade.StartAdapter(Nic, Name == "OutsideTheTable" ? "02:00.4" : At(E.Row)).Returned);
  }
  EXPECT_TRUE(Nic.Calls().empty());
  EXPECT_TRUE(FruWrites().empty());
  EXPECT_EQ(BladeDataWrites(), Writes);
  EXPECT_EQ(FailureReports(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Steps, EarlyEndTest,
    ::testing::Values(
        EarlyEnd{"AdapterProtocolLookupFails", 2,
                 [](sim::Blade& B) { B.Firmware.FailHandleProtocol(1); }},
        EarlyEnd{"PciIoLookupFails", 2, [](sim::Blade& B) { B.Firmware.FailHandleProtocol(2); }},
        EarlyEnd{"GetLocationFails", 2,
                 [](sim::Blade& B) { B.Pci.FailGetLocation("02:00.0", EFI_DEVICE_ERROR, 1); }},
        EarlyEnd{"Item30QueryFails", 0,
                 [](sim::Blade& B) { B.Platform.FailInfo(30, EFI_DEVICE_ERROR); }},
        EarlyEnd{"NoMailbox", 2,
                 [](sim::Blade& B) {
                   B.Bmc.WriteFru(0x04, 512, {0, 0, 0, 0});
                 }},
        EarlyEnd{"BladeDataUnreadable", 2,
                 [](sim::Blade& B) {
                   B.Firmware.Variables.FailGet(sim::vars::TalBladeData.Name,
                                                sim::vars::TalBladeData.Guid, EFI_DEVICE_ERROR, 1);
                 }},
        EarlyEnd{"OutsideTheTable", 2, [](sim::Blade&) {}},
        EarlyEnd{"NoPciFunction", 2, [](sim::Blade&) {}}),
    [](const ::testing::TestParamInfo<EarlyEnd>& Info) { return std::string(Info.param.Name); });

class NoPlatformInfoTest : public AdapterBladeTest {
protected:
  NoPlatformInfoTest() : AdapterBladeTest(Without(&sim::BladeOptions::InstallPlatformInfo)) {}
};

// Without the platform-information protocol the arrival ends before it takes the new handle, which
// the next arrival then serves: one handle per call, oldest first.
TEST_F(NoPlatformInfoTest, TheHandleStaysForTheNextArrival) {
  PutAdapter(2, 0x15B3);
  PutAdapter(4, 0x15B3);
  PutMailbox(0x04, {{{0x0001, "exit"}}});
  sim::AdapterDriver& Nic = Blade.Adapters.Add("15B3");
  Load();
  ASSERT_TRUE(Blade.StartAdapter(Nic, At(2)).Returned);
  EXPECT_TRUE(Nic.Calls().empty());

  ASSERT_TRUE(
      Blade.InstallProtocol(PlatformInfoProtocolGuid, Blade.Platform.PlatformInfo()).Returned);
  ASSERT_TRUE(Blade.StartAdapter(Nic, At(4)).Returned);
  ASSERT_EQ(Nic.Calls().size(), 1u);
  EXPECT_EQ(Nic.Calls()[0].Location, sim::PciAddress("02:00.0"));
}

} // namespace
