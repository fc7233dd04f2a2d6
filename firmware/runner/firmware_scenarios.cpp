// BladeCfgDxe.efi in real firmware: each test boots OVMF under QEMU with the stand-in drivers and
// the harness, then checks the harness's report field by field. The expectations are the driver's
// documented behaviour, worked out here by hand, not taken from the simulated blade.
#include <cstdio>
#include <gtest/gtest.h>

#include "firmware/runner/fru_file.h"
#include "firmware/runner/qemu_boot.h"
#include "firmware/runner/report.h"
#include "firmware/runner/scenario_builder.h"

namespace {

using fw::ReadBack;
using fw::ScenarioBuilder;

constexpr char BladeGuid[] = "3C095E8C-7653-11E1-A8EB-080027FA6E7F";
constexpr char SystemSetupGuid[] = "EC87D643-EBA4-4BB5-A1E5-3F3E36B20DA9";
constexpr char ServerSetupGuid[] = "01239999-FC0E-4B6E-9E79-D54D5DB6CD20";
constexpr uint32_t VolatileAttributes = 6;
constexpr uint32_t NonVolatileAttributes = 7;
constexpr size_t TalBladeDataSize = 280;
constexpr size_t SystemSetupSize = 731;
constexpr size_t ServerSetupSize = 102;

constexpr EFI_STATUS Success = 0;
constexpr EFI_STATUS NotFound = 0x800000000000000Eull;
constexpr uint32_t ErrorCodeType = 0x00000002;
constexpr uint32_t ClpFailureCode = 0xC000B3A0;
constexpr uint32_t EmFailureCode = 0xC000B3A1;

// TalBladeData fields the scenarios look at.
constexpr size_t Ipl1Device = 3;
constexpr size_t DeviceEnableMask = 152;
constexpr size_t DeviceDisableMask = 156;
constexpr size_t ClpFailurePause = 276;
// SystemSetup fields.
constexpr size_t Numa = 112;
constexpr size_t Iov1Bus1 = 639;

constexpr uint16_t LockTurn = 28;
constexpr uint16_t BmcLockFlag = 29;
constexpr uint16_t HostLockFlag = 30;

// Recognisable bytes, so that a byte the driver should not touch shows when it moves.
std::vector<uint8_t> Pattern(size_t Size, uint8_t Seed) {
  std::vector<uint8_t> Bytes(Size);
  for (size_t I = 0; I < Size; ++I) {
    Bytes[I] = static_cast<uint8_t>(I * 29 + Seed);
  }
  return Bytes;
}

void PutLe32(std::vector<uint8_t>& Bytes, size_t At, uint32_t Value) {
  for (size_t I = 0; I < 4; ++I) {
    Bytes[At + I] = static_cast<uint8_t>(Value >> (8 * I));
  }
}

std::vector<uint8_t> Record(uint16_t Id, uint32_t Status) {
  return {static_cast<uint8_t>(Id >> 8),      static_cast<uint8_t>(Id),
          static_cast<uint8_t>(Status),       static_cast<uint8_t>(Status >> 8),
          static_cast<uint8_t>(Status >> 16), static_cast<uint8_t>(Status >> 24)};
}

const std::vector<uint8_t> Unwritten(6, 0xFF);

std::vector<uint8_t> Slice(const std::vector<uint8_t>& Bytes, size_t At, size_t Count) {
  if (At + Count > Bytes.size()) {
    return {};
  }
  return {Bytes.begin() + static_cast<long>(At), Bytes.begin() + static_cast<long>(At + Count)};
}

// The platform variables a scenario starts from: patterned, with the given failure-pause byte.
struct PlatformVariables {
  std::vector<uint8_t> TalBladeData = Pattern(TalBladeDataSize, 0x11);
  std::vector<uint8_t> SystemSetup = Pattern(SystemSetupSize, 0x22);
  std::vector<uint8_t> ServerSetup = Pattern(ServerSetupSize, 0x33);

  explicit PlatformVariables(uint8_t FailurePause = 0) {
    TalBladeData[ClpFailurePause] = FailurePause;
  }

  void AddTo(ScenarioBuilder& S) const {
    S.Variable("TalBladeData", BladeGuid, VolatileAttributes, TalBladeData)
        .Variable("Setup", SystemSetupGuid, NonVolatileAttributes, SystemSetup)
        .Variable("Setup", ServerSetupGuid, NonVolatileAttributes, ServerSetup)
        .Watch("CLPFailureFlag", BladeGuid, 1);
  }
};

void LoadStandInsAndDriver(ScenarioBuilder& S) {
  S.Load(fw::IpmiTransportImage)
      .Load(fw::PlatformInfoImage)
      .Load(fw::SmbiosEditImage)
      .Load(fw::DriverImage);
}

// A mailbox in a FRU area of the file, its list 0 holding Commands.
sim::MailboxImage Mailbox(const std::vector<sim::MailboxCommand>& Commands) {
  sim::MailboxImage Image;
  Image.Size = fw::FruAreaSize;
  Image.Lists[0] = sim::MailboxList{Commands, true, std::nullopt};
  return Image;
}

struct FirmwareRun {
  fw::BootResult Boot;
  fw::Report Report;
};

// Boots once and fails the test with everything known when the boot itself went wrong.
FirmwareRun Boot(const std::string& Name, const ScenarioBuilder& Scenario, std::vector<uint8_t> Fru,
                 fw::MachineLayout Layout = fw::MachineLayout::Plain) {
  fw::BootRequest Request;
  Request.Scenario = Scenario.Text();
  Request.FruData = std::move(Fru);
  Request.FruAreaSize = fw::FruAreaSize;
  Request.Layout = Layout;
  FirmwareRun R{fw::BootInQemu(Request), {}};
  R.Report = fw::ParseReport(R.Boot.Report);
  std::printf("[ firmware ] %s: boot to report %.2f s\n", Name.c_str(), R.Boot.Seconds);
  ::testing::Test::RecordProperty("boot_seconds", std::to_string(R.Boot.Seconds));
  return R;
}

::testing::AssertionResult BootedAndReported(const FirmwareRun& R) {
  if (!R.Boot.SetupFailure.empty()) {
    return ::testing::AssertionFailure() << "no boot: " << R.Boot.SetupFailure;
  }
  if (R.Boot.TimedOut) {
    return ::testing::AssertionFailure()
           << "the boot timed out after " << R.Boot.Seconds << " s; report so far:\n"
           << R.Boot.Report << "\nconsole:\n"
           << R.Boot.Console;
  }
  if (!R.Report.Complete()) {
    std::string Problems;
    for (const std::string& P : R.Report.Problems) {
      Problems += "  " + P + "\n";
    }
    return ::testing::AssertionFailure()
           << "incomplete report (QEMU exit status " << R.Boot.ExitStatus << "):\n"
           << Problems << "report:\n"
           << R.Boot.Report << "\nconsole:\n"
           << R.Boot.Console;
  }
  if (!R.Report.Errors.empty()) {
    return ::testing::AssertionFailure() << "the harness reported: " << R.Report.Errors.front();
  }
  return ::testing::AssertionSuccess();
}

const fw::Snapshot& SnapshotOf(const FirmwareRun& R, const std::string& Tag) {
  static const fw::Snapshot None;
  auto It = R.Report.Snapshots.find(Tag);
  EXPECT_NE(It, R.Report.Snapshots.end()) << "no snapshot " << Tag;
  return It != R.Report.Snapshots.end() ? It->second : None;
}

ReadBack Fru(const fw::Snapshot& S, int Device, int Offset) {
  auto It = S.Fru.find({Device, Offset});
  EXPECT_NE(It, S.Fru.end()) << "no read-back of FRU " << Device << " at " << Offset;
  return It != S.Fru.end() ? It->second : ReadBack{~0ull, {}};
}

ReadBack Variable(const fw::Snapshot& S, const std::string& Name) {
  auto It = S.Variables.find(Name);
  EXPECT_NE(It, S.Variables.end()) << "variable " << Name << " not reported";
  return It != S.Variables.end() ? It->second : ReadBack{~0ull, {}};
}

// The byte offsets where two equally long buffers differ, for readable failures.
std::vector<size_t> Differences(const std::vector<uint8_t>& A, const std::vector<uint8_t>& B) {
  std::vector<size_t> At;
  for (size_t I = 0; I < A.size() && I < B.size(); ++I) {
    if (A[I] != B[I]) {
      At.push_back(I);
    }
  }
  if (A.size() != B.size()) {
    At.push_back(std::min(A.size(), B.size()));
  }
  return At;
}

void ExpectDriverResident(const FirmwareRun& R) {
  const fw::LoadLine* Driver = R.Report.Load("BladeCfgDxe.efi");
  ASSERT_NE(Driver, nullptr) << "the driver's load was not reported";
  EXPECT_EQ(Driver->LoadStatus, Success);
  EXPECT_EQ(Driver->StartStatus, Success) << "DriverEntry's status";
  EXPECT_TRUE(Driver->Resident);
  for (const char* StandIn : {"IpmiTransportDxe.efi", "PlatformInfoDxe.efi", "SmbiosEditDxe.efi"}) {
    const fw::LoadLine* L = R.Report.Load(StandIn);
    ASSERT_NE(L, nullptr) << StandIn;
    EXPECT_EQ(L->StartStatus, Success) << StandIn;
    EXPECT_TRUE(L->Resident) << StandIn;
  }
}

// No "$FIP" anywhere: the driver loads, stays, searches the eight candidates and writes nothing.
TEST(FirmwareBoot, SmokeDriverLoadsStaysAndWritesNothingWithoutMailbox) {
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
}

// The machine layout for the adapter work: root ports at the slot table's bridge addresses and a
// second root for bus 0x41, network functions behind each; it boots and the driver loads.
TEST(FirmwareBoot, AdapterSlotLayoutBootsWithBridgesWhereTheSlotTableExpectsThem) {
  ScenarioBuilder S;
  PlatformVariables Vars;
  Vars.AddTo(S);
  LoadStandInsAndDriver(S);
  S.Pci(0, 2, 0).Pci(0, 2, 2).Pci(0, 3, 0).Pci(0, 3, 1).Pci(0x40, 0, 0);
  S.Pci(1, 0, 0).Pci(2, 0, 0).Pci(3, 0, 0).Pci(3, 0, 1).Pci(4, 0, 0).Pci(0x41, 0, 0);
  S.Snapshot("entry");

  const FirmwareRun R =
      Boot("adapter-slot layout", S, fw::FruFile({}), fw::MachineLayout::AdapterSlots);
  ASSERT_TRUE(BootedAndReported(R));
  ExpectDriverResident(R);
  constexpr uint32_t RootPortId = 0x000C1B36; // QEMU's PCIe root port
  constexpr uint32_t NicId = 0x10D38086;      // network functions: 8086:10D3
  // Bridge -> the secondary bus behind it, as OVMF numbers them.
  const std::pair<const char*, uint32_t> Bridges[] = {
      {"00:02.0", 1}, {"00:02.2", 2}, {"00:03.0", 3}, {"00:03.1", 4}, {"40:00.0", 0x41}};
  for (const auto& [Address, Secondary] : Bridges) {
    auto It = R.Report.Pci.find(Address);
    ASSERT_NE(It, R.Report.Pci.end()) << Address;
    EXPECT_EQ(It->second.Id, RootPortId) << Address;
    EXPECT_EQ((It->second.BusNumbers >> 8) & 0xFF, Secondary) << Address;
  }
  for (const char* Address : {"01:00.0", "02:00.0", "03:00.0", "03:00.1", "04:00.0", "41:00.0"}) {
    auto It = R.Report.Pci.find(Address);
    ASSERT_NE(It, R.Report.Pci.end()) << Address;
    EXPECT_EQ(It->second.Id, NicId) << Address;
  }
}

} // namespace
