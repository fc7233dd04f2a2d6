// BladeCfgDxe.efi in real firmware: each test boots OVMF under QEMU with the stand-in drivers and
// the harness, then checks the harness's report field by field. The expectations are the driver's
// documented behaviour, worked out here by hand, not taken from the simulated blade.
#include <cstdio>
#include <gtest/gtest.h>
#include <map>
#include <tuple>

#include "tests/firmware/boots/boot_support.h"

namespace {

using namespace fwboot;

// No "$FIP" anywhere: the driver loads, stays, searches the eight candidates and writes nothing.
class FirmwareBoot : public testing_support::BootTest {};

TEST_F(FirmwareBoot, SmokeDriverLoadsStaysAndWritesNothingWithoutMailbox) {
  ScenarioBuilder S;
  PlatformVariables Vars;
  Vars.AddTo(S);
  S.Readback(1, 512, 1024).Readback(1, 1536, 1024).Readback(2, 512, 1024);
  LoadStandInsAndDriver(S);
  S.Snapshot("entry");

  const FirmwareRun R = Boot("smoke", S, fw::FruFile({}));
  ASSERT_TRUE(BootedAndReported(R));
  ExpectDriverResident(R);
  EXPECT_FALSE(R.Report.Reset.has_value());
  const fw::Snapshot& E = SnapshotOf(R, "entry");
  for (auto [Device, Offset] : {std::pair{1, 512}, {1, 1536}, {2, 512}}) {
    const ReadBack B = Fru(E, Device, Offset);
    EXPECT_EQ(B.Status, Success);
    EXPECT_EQ(B.Bytes, std::vector<uint8_t>(1024, 0)) << "FRU " << Device << " at " << Offset;
  }
  EXPECT_EQ(Variable(E, "TalBladeData").Bytes, Vars.TalBladeData);
  EXPECT_EQ(Variable(E, "CLPFailureFlag").Status, NotFound);
  EXPECT_EQ(E.CodesSeen, 0u);
  ASSERT_TRUE(E.Inputs.has_value());
  EXPECT_EQ(E.Inputs->ReadyPort, 0xFFFFFFFFu) << "nothing at the input ports: adapters ready";
  EXPECT_EQ(E.Inputs->WaitPort, 0xFFFFFFFFu) << "and waiting enabled";
}

// The adapter-slot machine with today's driver: root ports where the slot table expects its
// bridges, functions of vendor 0x8086 and of another vendor behind them, the adapter stand-in
// connected to some of them, both input levels driven by UARTs, and the harness's own use of the
// multiprocessor services. What the firmware built is compared with what the bridges' registers
// say, read through 0xCF8/0xCFC.
TEST_F(FirmwareBoot, AdapterSlotMachineEnumeratesConnectsAdaptersAndDrivesTheInputs) {
  ScenarioBuilder S;
  PlatformVariables Vars;
  Vars.AddTo(S);
  LoadStandInsAndDriver(S);
  S.Load(fw::AdapterClpImage).PciHandles();
  const char* Bridges[] = {"00:02.0", "00:02.2", "00:03.0", "00:03.1",
                           "41:01.0", "41:06.0", "41:08.0", "41:09.0"};
  for (const char* B : Bridges) {
    unsigned Bus = 0, Device = 0, Function = 0;
    ASSERT_EQ(std::sscanf(B, "%x:%x.%x", &Bus, &Device, &Function), 3);
    S.Pci(Bus, Device, Function);
  }
  S.Pci(0x43, 0, 0).Pci(0x43, 0, 1).Snapshot("loaded");
  S.Adapter(2, 0, 0, {{0x0500}, fw::ExecuteFails, {0x0E00}})
      .Adapter(4, 0, 0, {{0x0500}})
      .Adapter(0x45, 0, 0, {{0x0500}});
  S.Connect(2, 0, 0).Connect(4, 0, 0).Connect(3, 0, 0).Connect(0x45, 0, 0).Connect(2, 0, 0);
  S.Snapshot("connected");
  S.Execute(2, 0, 0, "set netport1 OEMTAL_PXE=ENABLE").Execute(2, 0, 0, "exit");
  S.Execute(2, 0, 0, "x").Execute(4, 0, 0, "y").Execute(3, 0, 0, "z");
  S.ReadyInput(true).Snapshot("raised").ReadyInput(false).Snapshot("lowered");
  S.ReadyInputRises(300).WaitReady(3000).MpRun().Snapshot("end");

  fw::BootRequest Request;
  Request.Scenario = S.Text();
  Request.FruData = fw::FruFile({});
  Request.FruAreaSize = fw::FruAreaSize;
  Request.Layout = fw::MachineLayout::AdapterSlots;
  Request.SlotFunctions = {
      {"00:02.0", 0, "e1000"},          {"00:02.0", 1, "e1000"},
      {"00:02.0", 2, "e1000"},          {"00:02.0", 3, "e1000"},
      {"00:02.2", 0, "e1000e"},         {"00:02.2", 1, "e1000e"},
      {"00:03.0", 0, "e1000e"},         {"00:03.1", 0, "edu"},
      {"41:01.0", 0, "e1000-82545em"},  {"41:06.0", 1, "e1000e"},
      {"41:09.0", 0, "virtio-rng-pci"},
  };
  Request.Inputs.AdapterReadyLow = true;
  Request.Inputs.WaitDisabled = true;
  const FirmwareRun R = Boot("adapter-slot machine", S, Request);
  ASSERT_TRUE(BootedAndReported(R));
  ExpectDriverResident(R);

  // The bridges: secondary buses as OVMF numbered them, in register 0x19.
  const std::pair<const char*, uint32_t> BusNumbers[] = {
      {"00:02.0", 0x010100}, {"00:02.2", 0x020200}, {"00:03.0", 0x030300}, {"00:03.1", 0x040400},
      {"41:01.0", 0x424241}, {"41:06.0", 0x434341}, {"41:08.0", 0x444441}, {"41:09.0", 0x454541}};
  std::map<std::string, unsigned> Secondary;
  for (const auto& [Address, Numbers] : BusNumbers) {
    ASSERT_EQ(R.Report.Pci.count(Address), 1u) << Address;
    EXPECT_EQ(R.Report.Pci.at(Address).Id, 0x000C1B36u) << Address << ": QEMU's root port";
    EXPECT_EQ(R.Report.Pci.at(Address).BusNumbers & 0xFFFFFF, Numbers) << Address;
    Secondary[Address] = (R.Report.Pci.at(Address).BusNumbers >> 8) & 0xFF;
  }
  // Every PCI I/O handle, in the order the PCI bus driver created them: depth-first, each bridge
  // right before what is behind it, the second root after the main root's devices. Function 1
  // behind 41:06.0 has no function 0 and is not there.
  const std::vector<std::pair<std::string, uint32_t>> Handles = {
      {"00:00.0", 0x29C08086}, {"00:01.0", 0x10011AF4}, {"00:02.0", 0x000C1B36},
      {"01:00.0", 0x100E8086}, {"01:00.1", 0x100E8086}, {"01:00.2", 0x100E8086},
      {"01:00.3", 0x100E8086}, {"00:02.2", 0x000C1B36}, {"02:00.0", 0x10D38086},
      {"02:00.1", 0x10D38086}, {"00:03.0", 0x000C1B36}, {"03:00.0", 0x10D38086},
      {"00:03.1", 0x000C1B36}, {"04:00.0", 0x11E81234}, {"00:05.0", 0x000B1B36},
      {"00:1f.0", 0x29188086}, {"00:1f.2", 0x29228086}, {"00:1f.3", 0x29308086},
      {"41:01.0", 0x000C1B36}, {"42:00.0", 0x100F8086}, {"41:06.0", 0x000C1B36},
      {"41:08.0", 0x000C1B36}, {"41:09.0", 0x000C1B36}, {"45:00.0", 0x10441AF4}};
  std::vector<std::pair<std::string, uint32_t>> Seen;
  for (const fw::PciIoLine& L : R.Report.PciIo) {
    EXPECT_EQ(L.Status, Success) << L.Location;
    EXPECT_EQ(L.Segment, 0u) << L.Location;
    Seen.emplace_back(L.Location, L.Id);
  }
  EXPECT_EQ(Seen, Handles);
  // GetLocation of each function behind a bridge names the bus in that bridge's register.
  const std::pair<const char*, const char*> Behind[] = {
      {"01:00.3", "00:02.0"}, {"02:00.1", "00:02.2"}, {"03:00.0", "00:03.0"},
      {"04:00.0", "00:03.1"}, {"42:00.0", "41:01.0"}, {"45:00.0", "41:09.0"}};
  for (const auto& [Function, Bridge] : Behind) {
    EXPECT_EQ(std::stoul(std::string(Function).substr(0, 2), nullptr, 16), Secondary[Bridge])
        << Function << " behind " << Bridge;
  }
  EXPECT_EQ(R.Report.Pci.at("43:00.0").Id, 0xFFFFFFFFu) << "no function 0 behind 41:06.0";
  EXPECT_EQ(R.Report.Pci.at("43:00.1").Id, 0xFFFFFFFFu) << "so function 1 is not seen either";

  // The stand-in takes the functions it was told of and no other driver owns: OVMF's own virtio
  // driver holds the virtio function, so the stand-in cannot start there.
  const std::vector<std::tuple<std::string, EFI_STATUS, bool>> Connects = {
      {"02:00.0", Success, true},
      {"04:00.0", Success, true},
      {"03:00.0", NotFound, false},
      {"45:00.0", NotFound, false},
      {"02:00.0", NotFound, true}};
  std::vector<std::tuple<std::string, EFI_STATUS, bool>> Connected;
  for (const fw::ConnectLine& L : R.Report.Connects) {
    Connected.emplace_back(L.Location, L.Status, L.Installed);
  }
  EXPECT_EQ(Connected, Connects);
  EXPECT_EQ(SnapshotOf(R, "connected").ExecutesSeen, 0u)
      << "the driver takes each new adapter's handle and does nothing more with it yet";

  // Execute as the driver calls it, on a copy of the first adapter's record naming the function
  // the command is for: each function's answers in order, the last one again; a function the
  // stand-in does not manage is refused.
  struct Call {
    const char* Location;
    const char* Text;
    EFI_STATUS Returned;
    uint32_t Word;
  };
  const Call Calls[] = {{"02:00.0", "set netport1 OEMTAL_PXE=ENABLE", Success, 0x0500},
                        {"02:00.0", "exit", DeviceError, 0},
                        {"02:00.0", "x", Success, 0x0E00},
                        {"04:00.0", "y", Success, 0x0500},
                        {"03:00.0", "z", Unsupported, 0}};
  ASSERT_EQ(R.Report.HarnessExecutes.size(), std::size(Calls));
  const fw::Snapshot& End = SnapshotOf(R, "end");
  ASSERT_EQ(End.ExecutesSeen, std::size(Calls));
  ASSERT_EQ(End.Executes.size(), std::size(Calls));
  for (size_t I = 0; I < std::size(Calls); ++I) {
    EXPECT_EQ(R.Report.HarnessExecutes[I].Status, Calls[I].Returned) << I;
    EXPECT_EQ(R.Report.HarnessExecutes[I].StatusWord, Calls[I].Word) << I;
    const fw::ExecLine& E = End.Executes[I];
    EXPECT_EQ(E.Location, Calls[I].Location) << I;
    EXPECT_EQ(E.LocationStatus, Success) << I;
    EXPECT_FALSE(E.OwnRecord) << "a copy of the adapter's record";
    EXPECT_TRUE(E.CommandZeroFilled) << I;
    EXPECT_TRUE(E.ResponseZeroed) << I;
    EXPECT_EQ(E.Text, Calls[I].Text);
    EXPECT_EQ(E.Returned, Calls[I].Returned) << I;
    EXPECT_EQ(E.StatusWord, Calls[I].Word) << I;
  }

  // The inputs: DTR of the UART at 0x508 is the adapter-ready input, 0 after reset; the UART at
  // 0x548 holds the wait-enable bit at 0. A timer at TPL_NOTIFY raises the input while a wait at
  // TPL_CALLBACK polls it.
  constexpr uint32_t ReadyBit = 0x1, WaitBit = 0x200;
  const std::pair<const char*, uint32_t> Levels[] = {
      {"loaded", 0}, {"raised", ReadyBit}, {"lowered", 0}, {"end", ReadyBit}};
  for (const auto& [Tag, Ready] : Levels) {
    const fw::Snapshot& Sn = SnapshotOf(R, Tag);
    ASSERT_TRUE(Sn.Inputs.has_value()) << Tag;
    EXPECT_EQ(Sn.Inputs->ReadyPort & ReadyBit, Ready) << Tag;
    EXPECT_EQ(Sn.Inputs->WaitPort & WaitBit, 0u) << Tag;
  }
  ASSERT_EQ(R.Report.ReadyWaits.size(), 1u);
  EXPECT_GE(R.Report.ReadyWaits[0].first, 300u);
  EXPECT_LT(R.Report.ReadyWaits[0].first, 3000u) << "the timer fired during the wait";
  EXPECT_EQ(R.Report.ReadyWaits[0].second & ReadyBit, ReadyBit);
  EXPECT_TRUE(End.Inputs->Risen);

  // The harness's own StartupAllAPs call passes through the wrapper the driver's calls will.
  ASSERT_EQ(R.Report.MpRuns.size(), 1u);
  EXPECT_EQ(R.Report.MpRuns[0].Status, Success);
  EXPECT_EQ(R.Report.MpRuns[0].Processors, 4u);
  EXPECT_EQ(R.Report.MpRuns[0].Enabled, 4u);
  EXPECT_EQ(R.Report.MpRuns[0].Ran, 3u) << "every application processor";
  EXPECT_EQ(SnapshotOf(R, "lowered").MpCallsSeen, 0u) << "the driver throttles nothing";
  ASSERT_EQ(End.MpCallsSeen, 1u);
  ASSERT_EQ(End.MpCalls.size(), 1u);
  const fw::MpCallLine& Call = End.MpCalls[0];
  EXPECT_EQ(Call.Image, "\\EFI\\BOOT\\BOOTX64.EFI") << "the harness's own procedure";
  EXPECT_FALSE(Call.SingleThread);
  EXPECT_EQ(Call.TimeoutInMicroSeconds, 0u);
  EXPECT_FALSE(Call.WaitEvent || Call.Argument || Call.FailedCpuList);
  EXPECT_EQ(Call.Status, Success);
  const fw::Snapshot& During = SnapshotOf(R, "mp00");
  ASSERT_EQ(During.MpCalls.size(), 1u) << "the call's own snapshot, taken before it runs";
  EXPECT_EQ(During.MpCalls[0].Status, 0x8000000000000006ull) << "EFI_NOT_READY: still to run";
}

// A platform mailbox with a done, an adapter line, a bad keyword, a refused keyword and settings in
// two variables. Item 29 answers 1, so the LOM3 keyword is refused; failures are not reported.
TEST_F(FirmwareBoot, PlatformCommandsWriteRecordsAndVariablesAndKeepTheLock) {
  const mailbox_format::MailboxImage Image = Mailbox({
      {0x0101, "SET BOOTCFGSETTING1 OEMTAL_LOM1=ENABLE"},
      {0x0102, "SET NETPORT1 OEMTAL_PXE=ENABLE"},
      {0x0103, "SET B1 OEMTAL_LOM9=ENABLE"},
      {0x0104, "SET B1 OEMTAL_LOM3=ENABLE"},
      {0x0105, "SET B1 OEMTAL_IOV1_BUS1=ENABLE"},
      {0x0106, "set b1 oemtal_ipl1=usb"},
  });
  const MailboxPlace M = Place(1, Image);
  ScenarioBuilder S;
  PlatformVariables Vars;
  PutLe32(Vars.TalBladeData, DeviceEnableMask, 0x00000400);  // LOM3 asked on: must stay so
  PutLe32(Vars.TalBladeData, DeviceDisableMask, 0x00000003); // LOM1 and LOM2 asked off
  Vars.SystemSetup[Iov1Bus1] = 0;
  Vars.AddTo(S);
  S.Platform(29, 1);
  ReadBackMailbox(S, M);
  LoadStandInsAndDriver(S);
  S.Snapshot("entry");

  const FirmwareRun R = Boot("platform commands", S, fw::FruFile({{1, Image}}));
  ASSERT_TRUE(BootedAndReported(R));
  ExpectDriverResident(R);
  EXPECT_FALSE(R.Report.Reset.has_value()) << "no keyword here needs a reset";
  const fw::Snapshot& E = SnapshotOf(R, "entry");

  EXPECT_EQ(RecordAt(E, M, 0), Record(0x0101, Done));
  EXPECT_EQ(RecordAt(E, M, 1), Unwritten) << "an adapter line keeps its slot for the adapter run";
  EXPECT_EQ(RecordAt(E, M, 2), Record(0x0103, BadKeyword));
  EXPECT_EQ(RecordAt(E, M, 3), Record(0x0104, Refused));
  EXPECT_EQ(RecordAt(E, M, 4), Record(0x0105, Done));
  EXPECT_EQ(RecordAt(E, M, 5), Record(0x0106, Done));
  for (unsigned I = 6; I < ResultAreaBytes / 6; ++I) {
    EXPECT_EQ(RecordAt(E, M, I), Unwritten) << "record " << I;
  }
  EXPECT_EQ(LockBytes(E, M), LockHeld) << "the platform mailbox stays locked after the run";

  std::vector<uint8_t> Blade = Vars.TalBladeData;
  PutLe32(Blade, DeviceEnableMask, 0x00000401);
  PutLe32(Blade, DeviceDisableMask, 0x00000002);
  Blade[Ipl1Device] = 32;
  const ReadBack BladeNow = Variable(E, "TalBladeData");
  EXPECT_EQ(BladeNow.Status, Success);
  EXPECT_EQ(Differences(BladeNow.Bytes, Blade), std::vector<size_t>{})
      << "TalBladeData bytes that differ from the expected ones";
  std::vector<uint8_t> System = Vars.SystemSetup;
  System[Iov1Bus1] = 1;
  const ReadBack SystemNow = Variable(E, "Setup", SystemSetupGuid);
  EXPECT_EQ(SystemNow.Status, Success);
  EXPECT_EQ(Differences(SystemNow.Bytes, System), std::vector<size_t>{});
  EXPECT_EQ(Variable(E, "Setup", ServerSetupGuid).Bytes, Vars.ServerSetup);
  EXPECT_EQ(Variable(E, "CLPFailureFlag").Status, NotFound) << "failures are not reported here";
  EXPECT_EQ(E.CodesSeen, 0u);
}

// A NUMA change needs a restart: after the whole list the driver resets the machine, and the
// harness reports everything before the reset goes through.
TEST_F(FirmwareBoot, NumaChangeEndsTheRunInAColdResetAfterEveryRecord) {
  const mailbox_format::MailboxImage Image = Mailbox({
      {0x0201, "SET B1 OEMTAL_NUMA=ENABLE"},
      {0x0202, "SET B1 OEMTAL_LOM2=ENABLE"},
  });
  const MailboxPlace M = Place(1, Image);
  ScenarioBuilder S;
  PlatformVariables Vars;
  Vars.SystemSetup[Numa] = 0;
  PutLe32(Vars.TalBladeData, DeviceEnableMask, 0);
  PutLe32(Vars.TalBladeData, DeviceDisableMask, 0x00000002);
  Vars.AddTo(S);
  ReadBackMailbox(S, M);
  LoadStandInsAndDriver(S);
  S.Snapshot("entry");

  const FirmwareRun R = Boot("NUMA reset", S, fw::FruFile({{1, Image}}));
  ASSERT_TRUE(BootedAndReported(R));
  ASSERT_TRUE(R.Report.Reset.has_value()) << "no reset was asked for";
  EXPECT_EQ(R.Report.Reset->Type, 0u) << "EfiResetCold";
  EXPECT_EQ(R.Report.Reset->Status, Success);
  EXPECT_EQ(R.Report.Load("BladeCfgDxe.efi"), nullptr) << "the entry never returns";
  EXPECT_EQ(R.Report.Snapshots.count("entry"), 0u);
  const fw::Snapshot& Z = SnapshotOf(R, "reset");
  EXPECT_EQ(RecordAt(Z, M, 0), Record(0x0201, Done));
  EXPECT_EQ(RecordAt(Z, M, 1), Record(0x0202, Done)) << "the reset waits for the end of the list";
  EXPECT_EQ(LockBytes(Z, M), LockHeld);
  std::vector<uint8_t> System = Vars.SystemSetup;
  System[Numa] = 1;
  EXPECT_EQ(Differences(Variable(Z, "Setup", SystemSetupGuid).Bytes, System),
            std::vector<size_t>{});
  std::vector<uint8_t> Blade = Vars.TalBladeData;
  PutLe32(Blade, DeviceEnableMask, 0x00000002);
  PutLe32(Blade, DeviceDisableMask, 0);
  EXPECT_EQ(Differences(Variable(Z, "TalBladeData").Bytes, Blade), std::vector<size_t>{});
  EXPECT_EQ(Z.CodesSeen, 0u);
}

// With ClpFailurePause on, the first failure of the boot is reported and later ones are not: a
// bad keyword, a refused one and the failed run itself give one 0xC000B3A0 between them. The
// EMFailurePause keyword sends its own code whatever the gate says.
TEST_F(FirmwareBoot, FailurePauseReportsExactlyOneFailurePerBoot) {
  const mailbox_format::MailboxImage Image = Mailbox({
      {0x0301, "SET B1 OEMTAL_LOM9=ENABLE"},
      {0x0302, "SET B1 OEMTAL_EMFailurePause=ENABLE"},
      {0x0303, "SET B1 OEMTAL_SIO2=ENABLE"},
  });
  const MailboxPlace M = Place(1, Image);
  ScenarioBuilder S;
  PlatformVariables Vars(/*FailurePause=*/1);
  Vars.AddTo(S);
  ReadBackMailbox(S, M);
  LoadStandInsAndDriver(S);
  S.Snapshot("entry");

  const FirmwareRun R = Boot("failure pause", S, fw::FruFile({{1, Image}}));
  ASSERT_TRUE(BootedAndReported(R));
  ExpectDriverResident(R);
  const fw::Snapshot& E = SnapshotOf(R, "entry");
  EXPECT_EQ(RecordAt(E, M, 0), Record(0x0301, BadKeyword));
  EXPECT_EQ(RecordAt(E, M, 1), Record(0x0302, Done));
  EXPECT_EQ(RecordAt(E, M, 2), Record(0x0303, Refused));
  ASSERT_EQ(E.CodesSeen, 2u);
  ASSERT_EQ(E.Codes.size(), 2u);
  EXPECT_EQ(E.Codes[0].Type, ErrorCodeType);
  EXPECT_EQ(E.Codes[0].Value, ClpFailureCode);
  EXPECT_EQ(E.Codes[0].Instance, 0u);
  EXPECT_EQ(E.Codes[1].Type, ErrorCodeType);
  EXPECT_EQ(E.Codes[1].Value, EmFailureCode);
  const ReadBack Flag = Variable(E, "CLPFailureFlag");
  EXPECT_EQ(Flag.Status, Success);
  EXPECT_EQ(Flag.Bytes, std::vector<uint8_t>{1});
  EXPECT_EQ(Variable(E, "TalBladeData").Bytes, Vars.TalBladeData) << "no keyword here changes it";
}

// The completion signal releases the platform mailbox (HostLockFlag back to 0, nothing else moves)
// and, with a FRU device still listed as pending, reports that once.
TEST_F(FirmwareBoot, CompletionSignalReleasesTheLockAndReportsPendingFruIds) {
  const mailbox_format::MailboxImage Image = Mailbox({{0x0401, "SET B1 OEMTAL_LOM1=DISABLE"}});
  const MailboxPlace M = Place(1, Image);
  ScenarioBuilder S;
  PlatformVariables Vars(/*FailurePause=*/1);
  Vars.AddTo(S);
  S.Variable("ClpCommandFruIdList", BladeGuid, VolatileAttributes, {0, 0, 5, 0, 0, 0});
  ReadBackMailbox(S, M);
  LoadStandInsAndDriver(S);
  S.Snapshot("entry").Completion().Snapshot("completion");

  const FirmwareRun R = Boot("completion signal", S, fw::FruFile({{1, Image}}));
  ASSERT_TRUE(BootedAndReported(R));
  ExpectDriverResident(R);
  ASSERT_EQ(R.Report.Completions, std::vector<EFI_STATUS>{Success});
  const fw::Snapshot& E = SnapshotOf(R, "entry");
  const fw::Snapshot& C = SnapshotOf(R, "completion");
  EXPECT_EQ(LockBytes(E, M), LockHeld);
  EXPECT_EQ(E.CodesSeen, 0u) << "the run itself succeeded";
  EXPECT_EQ(LockBytes(C, M), (std::vector<uint8_t>{1, 0, 0})) << "only HostLockFlag is cleared";
  EXPECT_EQ(Fru(C, 1, M.Results).Bytes, Fru(E, 1, M.Results).Bytes);
  EXPECT_EQ(Slice(Fru(C, 1, M.Header).Bytes, 0, 28), Slice(Fru(E, 1, M.Header).Bytes, 0, 28));
  ASSERT_EQ(C.Codes.size(), 1u) << "FRU device 5 is still listed as pending";
  EXPECT_EQ(C.Codes[0].Value, ClpFailureCode);
  EXPECT_EQ(Variable(C, "ClpCommandFruIdList").Bytes, (std::vector<uint8_t>{0, 0, 5, 0, 0, 0}));
  EXPECT_EQ(Variable(C, "CLPFailureFlag").Bytes, std::vector<uint8_t>{1});
}

// Item 30 answering 1 moves the platform mailbox to FRU device 2, for the run and for the release;
// a mailbox in FRU device 1 is not touched.
TEST_F(FirmwareBoot, PlatformItem30MovesTheMailboxToFruDevice2) {
  const mailbox_format::MailboxImage Platform = Mailbox({{0x0501, "SET B1 OEMTAL_IPL1=CD"}});
  const mailbox_format::MailboxImage Other = Mailbox({{0x0601, "SET B1 OEMTAL_IPL1=KEY"}});
  const MailboxPlace M2 = Place(2, Platform);
  const MailboxPlace M1 = Place(1, Other);
  ScenarioBuilder S;
  PlatformVariables Vars;
  Vars.AddTo(S);
  S.Platform(30, 1);
  ReadBackMailbox(S, M2);
  ReadBackMailbox(S, M1);
  LoadStandInsAndDriver(S);
  S.Snapshot("entry").Completion().Snapshot("completion");

  const std::vector<uint8_t> File = fw::FruFile({{1, Other}, {2, Platform}});
  const FirmwareRun R = Boot("item 30", S, File);
  ASSERT_TRUE(BootedAndReported(R));
  ExpectDriverResident(R);
  const fw::Snapshot& E = SnapshotOf(R, "entry");
  EXPECT_EQ(RecordAt(E, M2, 0), Record(0x0501, Done));
  EXPECT_EQ(LockBytes(E, M2), LockHeld);
  EXPECT_EQ(Variable(E, "TalBladeData").Bytes[Ipl1Device], 2) << "CD";
  const fw::Snapshot& C = SnapshotOf(R, "completion");
  EXPECT_EQ(LockBytes(C, M2), (std::vector<uint8_t>{1, 0, 0}));
  for (const fw::Snapshot* Seen : {&E, &C}) {
    EXPECT_EQ(Fru(*Seen, 1, M1.Header).Bytes, Slice(File, fw::FruAreaSize + M1.Header, 32));
    EXPECT_EQ(Fru(*Seen, 1, M1.Results).Bytes,
              Slice(File, fw::FruAreaSize + M1.Results, ResultAreaBytes));
  }
}

// The SMBIOS-edit stand-in in real firmware, used as the driver's UUID setting uses it: the update
// keeps the structure's handle and size, changes only the UUID, and reaches the published table.
TEST_F(FirmwareBoot, SmbiosEditStandInReplacesTheSystemUuidUnderItsHandle) {
  const std::vector<uint8_t> Uuid = {0xFF, 0xEE, 0xDD, 0xCC, 0xBB, 0xAA, 0x99, 0x88,
                                     0x77, 0x66, 0x55, 0x44, 0x33, 0x22, 0x11, 0x00};
  ScenarioBuilder S;
  PlatformVariables Vars;
  Vars.AddTo(S);
  LoadStandInsAndDriver(S);
  S.SmbiosUuid(Uuid);

  const FirmwareRun R = Boot("SMBIOS edit", S, fw::FruFile({}));
  ASSERT_TRUE(BootedAndReported(R));
  for (const char* Step : {"get", "update", "reget", "table"}) {
    ASSERT_EQ(R.Report.Smbios.count(Step), 1u) << Step;
    EXPECT_EQ(R.Report.Smbios.at(Step).Status, Success) << Step;
  }
  const std::vector<uint8_t>& Before = R.Report.Smbios.at("get").Bytes;
  ASSERT_GE(Before.size(), 27u);
  EXPECT_EQ(Before[0], 1) << "System Information";
  std::vector<uint8_t> Expected = Before;
  std::copy(Uuid.begin(), Uuid.end(), Expected.begin() + 8);
  EXPECT_EQ(R.Report.Smbios.at("reget").Bytes, Expected) << "same handle, size and strings";
  EXPECT_EQ(R.Report.Smbios.at("table").Bytes, Expected) << "the table the OS will read";
}

} // namespace

// The runner's own limit: a boot that cannot end in time is cut off, said to have timed out, and
// leaves an incomplete report. The BMC holds the platform mailbox's lock, so the driver waits 20 s
// for it, far past a 3 s limit however fast the machine.
TEST_F(FirmwareBoot, ABootPastItsLimitIsCutOffAndSaidToHaveTimedOut) {
  ScenarioBuilder S;
  PlatformVariables Vars;
  Vars.AddTo(S);
  LoadStandInsAndDriver(S);
  S.Snapshot("entry");
  mailbox_format::MailboxImage Image = Mailbox({{0x0001, "SET B1 OEMTAL_LOM1=ENABLE"}});
  Image.Lock = {1, 1, 0}; // LockTurn with the BMC, BmcLockFlag set

  fw::BootRequest Request;
  Request.Scenario = S.Text();
  Request.FruData = fw::FruFile({{1, Image}});
  Request.FruAreaSize = fw::FruAreaSize;
  Request.TimeoutSeconds = 3;
  const fw::BootResult B = fw::BootInQemu(Request);
  ASSERT_TRUE(B.SetupFailure.empty()) << B.SetupFailure;
  EXPECT_TRUE(B.TimedOut) << "QEMU exit status " << B.ExitStatus;
  EXPECT_LT(B.Seconds, 3 + 5 + 1) << "the limit and timeout's kill delay, no more";
  EXPECT_FALSE(fw::ParseReport(B.Report).Complete());
}
