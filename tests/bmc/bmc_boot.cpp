#include "tests/bmc/bmc_boot.h"

#include <cctype>
#include <chrono>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <thread>

#include "firmware/runner/host_os.h"

namespace bmctest {
namespace {

// Set by tests/bmc/bmc.cmake.
constexpr const char* MailboxToolPath = BLADECFG_MAILBOX_TOOL;
constexpr const char* LockScriptPath = BLADECFG_BMC_LOCK_SCRIPT;

constexpr unsigned BootLimitSeconds = 90;

Boot Finish(const std::string& Name, const char* BmcName, fw::BootResult Result) {
  Boot B{std::move(Result), {}};
  B.Report = fw::ParseReport(B.Result.Report);
  std::printf("[ bmc ] %s (%s): boot to report %.2f s\n", Name.c_str(), BmcName, B.Result.Seconds);
  return B;
}

uint64_t HexField(const nlohmann::json& J) {
  return std::stoull(J.get<std::string>(), nullptr, 16);
}

} // namespace

void Variables::Create(fw::ScenarioBuilder& S) const {
  S.Variable("TalBladeData", BladeGuid, fw::VolatileAttributes, TalBladeData)
      .Variable("Setup", SystemSetupGuid, fw::NonVolatileAttributes, SystemSetup)
      .Variable("Setup", fw::ServerSetupGuid, fw::NonVolatileAttributes, ServerSetup)
      .Watch("CLPFailureFlag", BladeGuid, 1);
}

void Variables::CreateVolatileAndWatchSetup(fw::ScenarioBuilder& S) const {
  S.Variable("TalBladeData", BladeGuid, fw::VolatileAttributes, TalBladeData)
      .Watch("Setup", SystemSetupGuid, SystemSetup.size())
      .Watch("Setup", fw::ServerSetupGuid, ServerSetup.size())
      .Watch("CLPFailureFlag", BladeGuid, 1);
}

void LoadStandInsAndDriver(fw::ScenarioBuilder& S) {
  S.Load(fw::IpmiTransportImage)
      .Load(fw::PlatformInfoImage)
      .Load(fw::SmbiosEditImage)
      .Load(fw::DriverImage);
}

Boot BootWithIpmiSim(const std::string& Name, const fw::IpmiSimBmc& Bmc,
                     const fw::ScenarioBuilder& S, const std::string& VariableStore) {
  fw::BootRequest Request;
  Request.Scenario = S.Text();
  Request.ExternalBmcPort = Bmc.VmPort();
  Request.VariableStore = VariableStore;
  Request.TimeoutSeconds = BootLimitSeconds;
  return Finish(Name, "ipmi_sim", fw::BootInQemu(Request));
}

Boot BootWithQemuBmc(const std::string& Name, const fw::ScenarioBuilder& S,
                     const std::vector<uint8_t>& Fru) {
  fw::BootRequest Request;
  Request.Scenario = S.Text();
  Request.FruData = Fru;
  Request.FruAreaSize = FruSize;
  Request.TimeoutSeconds = BootLimitSeconds;
  return Finish(Name, "QEMU's BMC", fw::BootInQemu(Request));
}

::testing::AssertionResult Reported(const Boot& B) {
  if (!B.Result.SetupFailure.empty()) {
    return ::testing::AssertionFailure() << "no boot: " << B.Result.SetupFailure;
  }
  if (B.Result.TimedOut || !B.Report.Complete()) {
    std::string Problems;
    for (const std::string& P : B.Report.Problems) {
      Problems += "  " + P + "\n";
    }
    return ::testing::AssertionFailure()
           << (B.Result.TimedOut ? "the boot timed out" : "incomplete report") << " after "
           << B.Result.Seconds << " s (QEMU exit status " << B.Result.ExitStatus << "):\n"
           << Problems << "report:\n"
           << B.Result.Report << "\nconsole:\n"
           << B.Result.Console;
  }
  if (!B.Report.Errors.empty()) {
    return ::testing::AssertionFailure() << "the harness reported: " << B.Report.Errors.front();
  }
  return ::testing::AssertionSuccess();
}

const fw::Snapshot& SnapshotOf(const Boot& B, const std::string& Tag) {
  static const fw::Snapshot None;
  auto It = B.Report.Snapshots.find(Tag);
  EXPECT_NE(It, B.Report.Snapshots.end()) << "no snapshot " << Tag;
  return It != B.Report.Snapshots.end() ? It->second : None;
}

std::vector<uint8_t> FruRead(const fw::Snapshot& S, int Device, int Offset) {
  auto It = S.Fru.find({Device, Offset});
  EXPECT_NE(It, S.Fru.end()) << "no read-back of FRU " << Device << " at " << Offset;
  if (It == S.Fru.end()) {
    return {};
  }
  EXPECT_EQ(It->second.Status, 0u) << "FRU " << Device << " at " << Offset;
  return It->second.Bytes;
}

std::vector<uint8_t> VariableBytes(const fw::Snapshot& S, const std::string& Name,
                                   const std::string& Guid) {
  std::string Key = Name + " " + Guid;
  for (char& C : Key) {
    C = static_cast<char>(std::tolower(static_cast<unsigned char>(C)));
  }
  Key.replace(0, Name.size(), Name); // names keep their case, GUIDs are reported in lower case
  auto It = S.Variables.find(Key);
  EXPECT_NE(It, S.Variables.end()) << "variable " << Key << " not reported";
  return It != S.Variables.end() ? It->second.Bytes : std::vector<uint8_t>{};
}

fw::CommandOutput MailboxTool(const std::vector<std::string>& Arguments,
                              const std::filesystem::path& Log) {
  std::vector<std::string> Argv = {MailboxToolPath};
  Argv.insert(Argv.end(), Arguments.begin(), Arguments.end());
  fw::CommandOutput Out;
  Out.ExitStatus = fw::RunBounded(Argv, Log, 30, &Out.TimedOut);
  Out.Output = fw::ReadFile(Log);
  return Out;
}

DecodedImage DecodeWithTool(const std::filesystem::path& Image, const std::filesystem::path& Log) {
  DecodedImage D;
  const fw::CommandOutput Out = MailboxTool({"decode", Image.string(), "--json"}, Log);
  if (Out.ExitStatus != 0) {
    D.Failure = "bladecfg-mailbox decode: " + Out.Output;
    return D;
  }
  try {
    const nlohmann::json J = nlohmann::json::parse(Out.Output);
    D.HeaderOffset = J.at("header_offset").get<uint16_t>();
    D.ResultArea = static_cast<uint16_t>(HexField(J.at("result_area")));
    const nlohmann::json& Lock = J.at("lock");
    D.Lock = {Lock.at("turn").get<uint8_t>(), Lock.at("bmc").get<uint8_t>(),
              Lock.at("host").get<uint8_t>()};
    for (const nlohmann::json& R : J.at("results")) {
      D.Results.push_back({R.at("list").get<unsigned>(), R.at("index").get<unsigned>(),
                           static_cast<uint16_t>(HexField(R.at("id"))),
                           static_cast<uint32_t>(HexField(R.at("status")))});
    }
  } catch (const std::exception& E) {
    D.Failure = std::string("unexpected decode output: ") + E.what() + "\n" + Out.Output;
  }
  return D;
}

std::vector<uint8_t> Slice(const std::vector<uint8_t>& Bytes, size_t At, size_t Count) {
  if (At + Count > Bytes.size()) {
    return {};
  }
  return {Bytes.begin() + static_cast<long>(At), Bytes.begin() + static_cast<long>(At + Count)};
}

void PutLe32(std::vector<uint8_t>& Bytes, size_t At, uint32_t Value) {
  for (size_t I = 0; I < 4; ++I) {
    Bytes[At + I] = static_cast<uint8_t>(Value >> (8 * I));
  }
}

std::ostream& operator<<(std::ostream& Out, const ResultRecord& R) {
  char Text[64];
  std::snprintf(Text, sizeof(Text), "{list %u record %u: id 0x%04X status 0x%08X}", R.List, R.Index,
                R.Id, R.Status);
  return Out << Text;
}

BmcLockScript::BmcLockScript(const fw::IpmiSimBmc& Bmc, unsigned Fru, uint16_t Header,
                             const std::string& Hold)
    : Log_(Bmc.WorkPath("bmc-lock.log")) {
  std::vector<std::string> Argv = {"bash", LockScriptPath, std::to_string(Fru),
                                   std::to_string(Header), Hold};
  const std::vector<std::string> Ipmitool = Bmc.IpmitoolCommand();
  Argv.insert(Argv.end(), Ipmitool.begin() + 1, Ipmitool.end()); // its options, not its name
  Pid_ = fw::StartChild(Argv, Log_);
}

BmcLockScript::~BmcLockScript() {
  fw::StopChild(Pid_, 5);
}

bool BmcLockScript::WaitForLine(const std::string& Text, int Seconds) const {
  const auto Deadline = std::chrono::steady_clock::now() + std::chrono::seconds(Seconds);
  while (std::chrono::steady_clock::now() < Deadline) {
    if (Output().find(Text) != std::string::npos) {
      return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return false;
}

int BmcLockScript::Wait(int Seconds) {
  const auto Deadline = std::chrono::steady_clock::now() + std::chrono::seconds(Seconds);
  while (std::chrono::steady_clock::now() < Deadline) {
    if (const int Status = fw::ChildExitStatus(Pid_); Status >= 0) {
      Pid_ = -1;
      return Status;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return -1;
}

std::string BmcLockScript::Output() const {
  return fw::ReadFile(Log_);
}

} // namespace bmctest
