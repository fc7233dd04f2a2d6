#include "tests/firmware/boots/boot_support.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace fwboot {

const std::vector<uint8_t> LockHeld = {1, 0, 1};
const std::vector<uint8_t> LockReleased = {1, 0, 0};
const std::vector<uint8_t> Unwritten(6, 0xFF);

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

std::vector<uint8_t> Slice(const std::vector<uint8_t>& Bytes, size_t At, size_t Count) {
  if (At + Count > Bytes.size()) {
    return {};
  }
  return {Bytes.begin() + static_cast<long>(At), Bytes.begin() + static_cast<long>(At + Count)};
}

void PlatformVariables::AddTo(ScenarioBuilder& S) const {
  S.Variable("TalBladeData", BladeGuid, VolatileAttributes, TalBladeData)
      .Variable("Setup", SystemSetupGuid, NonVolatileAttributes, SystemSetup)
      .Variable("Setup", ServerSetupGuid, NonVolatileAttributes, ServerSetup)
      .Watch("CLPFailureFlag", BladeGuid, 1);
}

void LoadStandInsAndDriver(ScenarioBuilder& S) {
  S.Load(fw::IpmiTransportImage)
      .Load(fw::PlatformInfoImage)
      .Load(fw::SmbiosEditImage)
      .Load(fw::DriverImage);
}

mailbox_format::MailboxImage Mailbox(const std::vector<mailbox_format::MailboxCommand>& Commands) {
  mailbox_format::MailboxImage Image;
  Image.Size = fw::FruAreaSize;
  Image.Lists[0] = mailbox_format::MailboxList{Commands, true, std::nullopt};
  return Image;
}

FirmwareRun Boot(const std::string& Name, const ScenarioBuilder& Scenario,
                 fw::BootRequest Request) {
  Request.Scenario = Scenario.Text();
  FirmwareRun R{fw::BootInQemu(Request), {}};
  R.Report = fw::ParseReport(R.Boot.Report);
  std::printf("[ firmware ] %s: boot to report %.2f s\n", Name.c_str(), R.Boot.Seconds);
  ::testing::Test::RecordProperty("boot_seconds", std::to_string(R.Boot.Seconds));
  return R;
}

FirmwareRun Boot(const std::string& Name, const ScenarioBuilder& Scenario,
                 std::vector<uint8_t> Fru) {
  fw::BootRequest Request;
  Request.FruData = std::move(Fru);
  Request.FruAreaSize = fw::FruAreaSize;
  return Boot(Name, Scenario, std::move(Request));
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

ReadBack Variable(const fw::Snapshot& S, const std::string& Name, std::string Guid) {
  for (char& C : Guid) {
    C = static_cast<char>(std::tolower(static_cast<unsigned char>(C)));
  }
  auto It = S.Variables.find(Name + " " + Guid);
  EXPECT_NE(It, S.Variables.end()) << "variable " << Name << " not reported";
  return It != S.Variables.end() ? It->second : ReadBack{~0ull, {}};
}

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

MailboxPlace Place(unsigned Device, const mailbox_format::MailboxImage& Image) {
  const mailbox_format::MailboxLayout L = mailbox_format::PlaceMailbox(Image);
  return {Device, L.HeaderOffset, L.ResultAreaOffset};
}

void ReadBackMailbox(ScenarioBuilder& S, const MailboxPlace& M) {
  S.Readback(M.Device, M.Header, 32).Readback(M.Device, M.Results, ResultAreaBytes);
}

std::vector<uint8_t> LockBytes(const fw::Snapshot& S, const MailboxPlace& M) {
  return Slice(Fru(S, static_cast<int>(M.Device), M.Header).Bytes, LockTurn, 3);
}

std::vector<uint8_t> RecordAt(const fw::Snapshot& S, const MailboxPlace& M, unsigned Index) {
  return Slice(Fru(S, static_cast<int>(M.Device), M.Results).Bytes, 6 * Index, 6);
}

} // namespace fwboot
