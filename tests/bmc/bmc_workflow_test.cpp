// The BMC engineer's road in real firmware with a real BMC program: the mailbox built with
// bladecfg-mailbox, written into ipmi_sim's FRU device with ipmitool over the LAN, the host booted
// in OVMF, the FRU device read back with ipmitool and decoded. The same scenario with QEMU's own
// BMC must come to the same records, lock bytes and variables.
#include <gtest/gtest.h>

#include "firmware/runner/host_os.h"
#include "tests/bmc/bmc_boot.h"
#include "tests/support/boot_test.h"

namespace {

using namespace bmctest;

// TalBladeData and SystemSetup fields the scenarios change.
constexpr size_t Ipl1Device = 3;
constexpr size_t DeviceEnableMask = 152;
constexpr size_t Numa = 112;
constexpr size_t Iov1Bus1 = 639;

constexpr char PlatformMailbox[] = R"({
  "size": 4096,
  "header_offset": 768,
  "lists": [[
    {"id": "0x0A01", "text": "SET BOOTCFGSETTING1 OEMTAL_LOM1=ENABLE"},
    {"id": "0x0A02", "text": "SET NETPORT1 OEMTAL_BOOTPROTOCOL=PXE"},
    {"id": "0x0A03", "text": "SET B1 OEMTAL_LOM9=ENABLE"},
    {"id": "0x0A04", "text": "SET B1 OEMTAL_IOV1_BUS1=ENABLE"},
    {"id": "0x0A05", "text": "set b1 oemtal_ipl1=usb"}
  ]]
})";

// Records of the commands above: the adapter line keeps its slot; the bad keyword is recorded.
const std::vector<ResultRecord> PlatformRecords = {
    {0, 0, 0x0A01, Done}, {0, 2, 0x0A03, BadKeyword}, {0, 3, 0x0A04, Done}, {0, 4, 0x0A05, Done}};

// Builds the FRU image from a description as an engineer does; the image's bytes.
std::vector<uint8_t> BuildImage(const fw::IpmiSimBmc& Bmc, const std::string& Description,
                                const std::string& Name) {
  const auto Json = Bmc.WorkPath(Name + ".json");
  const auto Image = Bmc.WorkPath(Name + ".bin");
  EXPECT_TRUE(fw::WriteFile(Json, Description));
  const fw::CommandOutput Out =
      MailboxTool({"build", Json.string(), "-o", Image.string()}, Bmc.WorkPath("build.log"));
  EXPECT_EQ(Out.ExitStatus, 0) << Out.Output;
  const std::string Bytes = fw::ReadFile(Image);
  return {Bytes.begin(), Bytes.end()};
}

// Builds the image and writes it into FRU device 1 over the LAN; the image as the tool decodes it.
DecodedImage PutMailbox(const fw::IpmiSimBmc& Bmc, const std::string& Description,
                        const std::string& Name) {
  BuildImage(Bmc, Description, Name);
  const auto Image = Bmc.WorkPath(Name + ".bin");
  const fw::CommandOutput Write = Bmc.Ipmitool({"fru", "write", "1", Image.string()});
  EXPECT_EQ(Write.ExitStatus, 0) << Write.Output;
  DecodedImage Decoded = DecodeWithTool(Image, Bmc.WorkPath("decode.log"));
  EXPECT_EQ(Decoded.Failure, "");
  return Decoded;
}

// The FRU device as ipmitool reads it over the LAN, decoded by bladecfg-mailbox.
struct FruDump {
  std::vector<uint8_t> Bytes;
  DecodedImage Decoded;
};

FruDump ReadOverLan(const fw::IpmiSimBmc& Bmc, unsigned Fru, const std::string& Name) {
  const auto Path = Bmc.WorkPath(Name);
  const fw::CommandOutput Out = Bmc.Ipmitool({"fru", "read", std::to_string(Fru), Path.string()});
  EXPECT_EQ(Out.ExitStatus, 0) << Out.Output;
  const std::string Bytes = fw::ReadFile(Path);
  FruDump D{{Bytes.begin(), Bytes.end()}, DecodeWithTool(Path, Bmc.WorkPath("decode.log"))};
  EXPECT_EQ(D.Decoded.Failure, "");
  return D;
}

fw::IpmiSimSettings EmptyDevices() {
  fw::IpmiSimSettings Settings;
  Settings.FruDevices = {{1, std::vector<uint8_t>(FruSize, 0)},
                         {2, std::vector<uint8_t>(FruSize, 0)}};
  return Settings;
}

// The boots need the image build; without it they are skipped.
class BmcWorkflow : public testing_support::BootTest {};
class BmcAnswers : public testing_support::BootTest {};

TEST_F(BmcWorkflow, MailboxWrittenWithIpmitoolIsRunAndItsRecordsReadBackAgreeWithQemusBmc) {
  fw::IpmiSimBmc Bmc(EmptyDevices());
  ASSERT_EQ(Bmc.Failure(), "");
  const std::vector<uint8_t> Image = BuildImage(Bmc, PlatformMailbox, "platform");
  ASSERT_EQ(Image.size(), FruSize);
  const DecodedImage Built = DecodeWithTool(Bmc.WorkPath("platform.bin"), Bmc.WorkPath("d.log"));
  ASSERT_EQ(Built.Failure, "");
  ASSERT_EQ(Built.HeaderOffset, 768);
  EXPECT_TRUE(Built.Results.empty());
  const fw::CommandOutput Write =
      Bmc.Ipmitool({"fru", "write", "1", Bmc.WorkPath("platform.bin").string()});
  ASSERT_EQ(Write.ExitStatus, 0) << Write.Output;
  ASSERT_EQ(Bmc.FruBytes(1), Image) << "ipmitool's write lands in the BMC's FRU file";

  const uint16_t H = Built.HeaderOffset;
  const uint16_t R = Built.ResultArea;
  fw::ScenarioBuilder S;
  Variables Vars;
  Vars.Create(S);
  S.Readback(1, H, 32).Readback(1, R, 192);
  LoadStandInsAndDriver(S);
  S.Snapshot("entry").Completion().Snapshot("completion");

  const Boot Sim = BootWithIpmiSim("engineer's road", Bmc, S);
  ASSERT_TRUE(Reported(Sim));
  std::vector<uint8_t> QemuFru(3 * FruSize, 0);
  std::copy(Image.begin(), Image.end(), QemuFru.begin() + FruSize);
  const Boot Qemu = BootWithQemuBmc("engineer's road", S, QemuFru);
  ASSERT_TRUE(Reported(Qemu));

  // What the engineer sees: the FRU device read back over the LAN and decoded.
  const FruDump After = ReadOverLan(Bmc, 1, "after.bin");
  EXPECT_EQ(After.Decoded.Results, PlatformRecords);
  EXPECT_EQ(After.Decoded.Lock, (std::vector<uint8_t>{1, 0, 0}))
      << "the host asked (LockTurn 1) and released at the completion signal";
  EXPECT_EQ(After.Bytes, Bmc.FruBytes(1)) << "the LAN and the BMC's storage agree";
  std::vector<uint8_t> Untouched = Image;
  for (size_t I = 0; I < Untouched.size(); ++I) {
    const bool Written = (I >= H + 28u && I < H + 31u) || (I >= R && I < R + 30u);
    if (Written) {
      Untouched[I] = After.Bytes[I];
    }
  }
  EXPECT_EQ(After.Bytes, Untouched) << "nothing outside the lock and the records moved";

  // Both BMCs: the same records, lock bytes and variables, seen from inside the boot.
  for (const char* Tag : {"entry", "completion"}) {
    const fw::Snapshot& A = SnapshotOf(Sim, Tag);
    const fw::Snapshot& B = SnapshotOf(Qemu, Tag);
    EXPECT_EQ(FruRead(A, 1, H), FruRead(B, 1, H)) << Tag;
    EXPECT_EQ(FruRead(A, 1, R), FruRead(B, 1, R)) << Tag;
    EXPECT_EQ(A.Variables.size(), B.Variables.size()) << Tag;
    for (const auto& [Key, Value] : A.Variables) {
      ASSERT_EQ(B.Variables.count(Key), 1u) << Key;
      EXPECT_EQ(Value.Bytes, B.Variables.at(Key).Bytes) << Key << " " << Tag;
    }
    EXPECT_EQ(A.CodesSeen, 0u) << "failures are not reported with ClpFailurePause 0";
    EXPECT_EQ(B.CodesSeen, 0u);
  }
  const fw::Snapshot& E = SnapshotOf(Sim, "entry");
  EXPECT_EQ(Slice(FruRead(E, 1, H), 28, 3), (std::vector<uint8_t>{1, 0, 1})) << "held";
  EXPECT_EQ(Slice(FruRead(E, 1, R), 0, 30), Slice(After.Bytes, R, 30));
  std::vector<uint8_t> Blade = Vars.TalBladeData;
  PutLe32(Blade, DeviceEnableMask, 1); // LOM1
  Blade[Ipl1Device] = 32;              // USB
  EXPECT_EQ(VariableBytes(E, "TalBladeData"), Blade);
  std::vector<uint8_t> System = Vars.SystemSetup;
  System[Iov1Bus1] = 1;
  EXPECT_EQ(VariableBytes(E, "Setup", SystemSetupGuid), System);
  EXPECT_FALSE(Sim.Report.Reset.has_value());
  EXPECT_FALSE(Qemu.Report.Reset.has_value());
}

// A NUMA change resets the machine after the records are written. The BMC keeps its FRU files and
// the machine its variable store: the next boot finds NUMA already on, the command is done again
// without a reset, and the records are still there.
TEST_F(BmcWorkflow, RecordsWrittenBeforeAResetAreThereAfterItAndTheSecondBootNeedsNoReset) {
  fw::IpmiSimSettings Settings = EmptyDevices();
  fw::IpmiSimBmc Bmc(Settings);
  ASSERT_EQ(Bmc.Failure(), "");
  const DecodedImage Built = PutMailbox(Bmc, R"({"header_offset": 512, "lists": [[
      {"id": "0x0B01", "text": "SET B1 OEMTAL_NUMA=ENABLE"},
      {"id": "0x0B02", "text": "SET B1 OEMTAL_LOM2=ENABLE"}]]})",
                                        "numa");
  ASSERT_EQ(Built.Failure, "");
  const std::string Store = Bmc.WorkPath("vars.fd").string();
  const std::vector<ResultRecord> Records = {{0, 0, 0x0B01, Done}, {0, 1, 0x0B02, Done}};

  // The first boot creates the variables; the second keeps the non-volatile ones of the store.
  const Variables Vars;
  auto BootOnce = [&](bool First, const std::string& Name) {
    fw::ScenarioBuilder S;
    First ? Vars.Create(S) : Vars.CreateVolatileAndWatchSetup(S);
    S.Readback(1, Built.ResultArea, 12);
    LoadStandInsAndDriver(S);
    S.Snapshot("entry");
    return BootWithIpmiSim(Name, Bmc, S, Store);
  };
  const Boot One = BootOnce(true, "NUMA, first boot");
  ASSERT_TRUE(Reported(One));
  ASSERT_TRUE(One.Report.Reset.has_value()) << "NUMA needs a restart";
  EXPECT_EQ(One.Report.Reset->Type, 0u) << "EfiResetCold";
  const FruDump AfterReset = ReadOverLan(Bmc, 1, "after-reset.bin");
  EXPECT_EQ(AfterReset.Decoded.Results, Records) << "written before the reset";
  EXPECT_EQ(AfterReset.Decoded.Lock, (std::vector<uint8_t>{1, 0, 1}))
      << "no completion signal came: the host still holds the mailbox";

  const Boot Two = BootOnce(false, "NUMA, after the reset");
  ASSERT_TRUE(Reported(Two));
  EXPECT_FALSE(Two.Report.Reset.has_value()) << "NUMA is on already";
  const fw::LoadLine* Driver = Two.Report.Load("BladeCfgDxe.efi");
  ASSERT_NE(Driver, nullptr);
  EXPECT_EQ(Driver->StartStatus, 0u);
  const fw::Snapshot& E = SnapshotOf(Two, "entry");
  EXPECT_EQ(VariableBytes(E, "Setup", SystemSetupGuid).at(Numa), 1) << "kept by the store";
  EXPECT_EQ(FruRead(E, 1, Built.ResultArea), Slice(AfterReset.Bytes, Built.ResultArea, 12));
  const FruDump End = ReadOverLan(Bmc, 1, "end.bin");
  EXPECT_EQ(End.Decoded.Results, Records);
  EXPECT_EQ(End.Bytes, AfterReset.Bytes) << "the second run only confirms what is there";
}

// What each BMC answers, over KCS from inside the machine, to the requests the driver sends beside
// FRU data: Set Power Restore Policy (Chassis 0x06) and the two OEM requests (NetFn 0x30, commands
// 0x41 and 0x30). Neither BMC knows them: both refuse with 0xC1 (invalid command). ipmitool's raw
// requests over ipmi_sim's LAN channel get the same answer. At the end of a FRU device the two
// differ; the mailbox never reaches there.
TEST_F(BmcAnswers, ChassisAndOemRequestsAreRefusedByBothBmcsAndFruDeviceEndsDiffer) {
  struct Request {
    unsigned NetFn, Command;
    std::vector<uint8_t> Data;
  };
  const std::vector<Request> Requests = {
      {0x00, 0x06, {0x03}}, // Set Power Restore Policy: no change, say what is supported
      {0x00, 0x06, {0x02}}, // always on
      {0x30, 0x41, std::vector<uint8_t>(16, 0x5A)},
      {0x30, 0x30, {0x02, 0x00, 0x00, 0x43, 0x46}},
  };
  fw::ScenarioBuilder S;
  S.Load(fw::IpmiTransportImage).Ipmi(0x06, 0x01, {}).Ipmi(0x00, 0x01, {});
  for (const Request& R : Requests) {
    S.Ipmi(R.NetFn, R.Command, R.Data);
  }
  S.Ipmi(0x0A, 0x11, {1, 0xFF, 0x0F, 1})          // Read FRU Data: the device's last byte
      .Ipmi(0x0A, 0x12, {1, 0xFE, 0x0F, 1, 2, 3}) // Write FRU Data: past the device's end
      .Ipmi(0x0A, 0x11, {1, 0x00, 0x10, 1});      // Read FRU Data: right behind the device
  fw::IpmiSimBmc Bmc(EmptyDevices());
  ASSERT_EQ(Bmc.Failure(), "");
  const Boot Sim = BootWithIpmiSim("chassis and OEM", Bmc, S);
  const Boot Qemu = BootWithQemuBmc("chassis and OEM", S, std::vector<uint8_t>(3 * FruSize, 0));
  for (const Boot* B : {&Sim, &Qemu}) {
    ASSERT_TRUE(Reported(*B));
    ASSERT_EQ(B->Report.Ipmi.size(), 2 + Requests.size() + 3);
    EXPECT_EQ(B->Report.Ipmi[0].Status, 0u) << "Get Device ID";
    EXPECT_EQ(B->Report.Ipmi[1].Status, 0u) << "Get Chassis Status";
    for (size_t I = 0; I < Requests.size(); ++I) {
      const fw::IpmiLine& L = B->Report.Ipmi[2 + I];
      EXPECT_EQ(L.NetFn, Requests[I].NetFn);
      EXPECT_EQ(L.Status, DeviceError) << I;
      EXPECT_EQ(L.Bytes, std::vector<uint8_t>{0xC1}) << I;
    }
  }
  EXPECT_EQ(Sim.Report.Ipmi[1].Bytes.size(), 3u) << "ipmi_sim's chassis status";
  struct Edge {
    uint64_t Status;
    std::vector<uint8_t> Bytes;
  };
  const auto Edges = [](const Boot& B) {
    std::vector<Edge> E;
    for (size_t I = B.Report.Ipmi.size() - 3; I < B.Report.Ipmi.size(); ++I) {
      E.push_back({B.Report.Ipmi[I].Status, B.Report.Ipmi[I].Bytes});
    }
    return E;
  };
  const std::vector<Edge> SimEdges = Edges(Sim);
  const std::vector<Edge> QemuEdges = Edges(Qemu);
  // ipmi_sim: the last byte reads; a write past the end is refused whole (0xC8, request data
  // field length limit exceeded); behind the end, 0xFF (unspecified).
  EXPECT_EQ(SimEdges[0].Status, 0u);
  EXPECT_EQ(SimEdges[0].Bytes, (std::vector<uint8_t>{0x01, 0x00}));
  EXPECT_EQ(SimEdges[1].Bytes, std::vector<uint8_t>{0xC8});
  EXPECT_EQ(SimEdges[2].Bytes, std::vector<uint8_t>{0xFF});
  // QEMU's BMC: reading the last byte of an area is refused (0xCC, invalid data field), a write
  // past the end is cut there (two of the three bytes written, the last byte among them), and
  // behind the end is 0xCC too.
  EXPECT_EQ(QemuEdges[0].Bytes, std::vector<uint8_t>{0xCC});
  EXPECT_EQ(QemuEdges[1].Status, 0u);
  EXPECT_EQ(QemuEdges[1].Bytes, std::vector<uint8_t>{0x02});
  EXPECT_EQ(QemuEdges[2].Bytes, std::vector<uint8_t>{0xCC});
  for (const Request& R : Requests) {
    std::vector<std::string> Raw = {"raw", std::to_string(R.NetFn), std::to_string(R.Command)};
    for (uint8_t Byte : R.Data) {
      Raw.push_back(std::to_string(Byte));
    }
    const fw::CommandOutput Out = Bmc.Ipmitool(Raw);
    EXPECT_NE(Out.ExitStatus, 0);
    EXPECT_NE(Out.Output.find("rsp=0xc1"), std::string::npos) << Out.Output;
  }
}

// With a module that answers them, ipmi_sim takes the chassis and OEM requests as a blade's BMC
// does: the harness gets the configured answers over KCS, and the power-restore policy that an
// ACLINK command sets reaches the BMC before the reset the command asks for.
TEST_F(BmcAnswers, AModuleLetsIpmiSimAnswerThemAndThePowerRestorePolicyReachesIt) {
  fw::RunDirectory Work("bladecfg-bmc-answers");
  fw::IpmiSimSettings Settings = EmptyDevices();
  const std::string Requests = (Work.Path() / "requests.log").string();
  const std::string Why =
      LoadAnswersModule(Settings, "log=" + Requests + ";0x00/0x06=0007;0x30/0x41=00;0x30/0x30=00");
  ASSERT_EQ(Why, "");
  fw::IpmiSimBmc Bmc(Settings);
  ASSERT_EQ(Bmc.Failure(), "");
  ASSERT_EQ(PutMailbox(Bmc, R"({"header_offset": 512, "lists": [[
      {"id": "0x0D01", "text": "SET B1 OEMTAL_ACLINK=STAYON"},
      {"id": "0x0D02", "text": "SET B1 OEMTAL_LOM1=ENABLE"}]]})",
                       "aclink")
                .Failure,
            "");

  fw::ScenarioBuilder S;
  Variables Vars;
  Vars.Create(S);
  S.Load(fw::IpmiTransportImage)
      .Ipmi(0x00, 0x06, {0x03})
      .Ipmi(0x30, 0x41, std::vector<uint8_t>(16, 0x5A))
      .Ipmi(0x30, 0x30, {0x02, 0x00, 0x00, 0x43, 0x46})
      .Load(fw::PlatformInfoImage)
      .Load(fw::SmbiosEditImage)
      .Load(fw::DriverImage);
  const Boot B = BootWithIpmiSim("answers module", Bmc, S);
  ASSERT_TRUE(Reported(B));
  ASSERT_EQ(B.Report.Ipmi.size(), 3u);
  EXPECT_EQ(B.Report.Ipmi[0].Status, 0u);
  EXPECT_EQ(B.Report.Ipmi[0].Bytes, std::vector<uint8_t>{0x07}) << "all three policies supported";
  EXPECT_EQ(B.Report.Ipmi[1].Status, 0u);
  EXPECT_TRUE(B.Report.Ipmi[1].Bytes.empty());
  EXPECT_EQ(B.Report.Ipmi[2].Status, 0u);
  ASSERT_TRUE(B.Report.Reset.has_value()) << "a power-policy change needs a restart";
  EXPECT_EQ(fw::ReadFile(Requests), "00 06 03\n"
                                    "30 41 5a5a5a5a5a5a5a5a5a5a5a5a5a5a5a5a\n"
                                    "30 30 0200004346\n"
                                    "00 06 02\n")
      << "the last is the driver's: always power up";
  const FruDump After = ReadOverLan(Bmc, 1, "after.bin");
  EXPECT_EQ(After.Decoded.Results,
            (std::vector<ResultRecord>{{0, 0, 0x0D01, Done}, {0, 1, 0x0D02, Done}}));
}

} // namespace
