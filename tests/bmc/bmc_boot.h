// What the BMC-side tests share: booting one scenario with ipmi_sim or with QEMU's built-in BMC,
// the platform variables a scenario starts from, and the BMC engineer's tools (bladecfg-mailbox,
// ipmitool, the lock script) run as an engineer runs them.
#pragma once

#include <cstdint>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "firmware/runner/blade_variables.h"
#include "firmware/runner/ipmi_sim_bmc.h"
#include "firmware/runner/qemu_boot.h"
#include "firmware/runner/report.h"
#include "firmware/runner/scenario_builder.h"

namespace bmctest {

using fw::SystemSetupGuid;
constexpr const char* BladeGuid = fw::TalBladeDataGuid;

constexpr uint32_t Done = 0x0E00;
constexpr uint32_t BadKeyword = 0xFD02;
constexpr uint32_t ClpFailureCode = 0xC000B3A0;
constexpr uint64_t DeviceError = 0x8000000000000007ull;

constexpr unsigned FruSize = 4096;

// The three platform variables, zero-filled, with the bytes a test sets.
struct Variables {
  std::vector<uint8_t> TalBladeData = std::vector<uint8_t>(fw::TalBladeDataSize, 0);
  std::vector<uint8_t> SystemSetup = std::vector<uint8_t>(fw::SystemSetupSize, 0);
  std::vector<uint8_t> ServerSetup = std::vector<uint8_t>(fw::ServerSetupSize, 0);

  // Creates all three (the two Setup variables non-volatile) and watches CLPFailureFlag.
  void Create(fw::ScenarioBuilder& S) const;
  // Creates only the volatile TalBladeData and watches the two Setup variables: a boot after a
  // reset, whose non-volatile variables are what the store kept.
  void CreateVolatileAndWatchSetup(fw::ScenarioBuilder& S) const;
};

void LoadStandInsAndDriver(fw::ScenarioBuilder& S);

using fw::LoadAnswersModule;

struct Boot {
  fw::BootResult Result;
  fw::Report Report;
};

// One boot of the scenario with the ipmi_sim BMC, or with QEMU's own BMC holding Fru (FRU device k
// at k * FruSize). Each prints its time.
Boot BootWithIpmiSim(const std::string& Name, const fw::IpmiSimBmc& Bmc,
                     const fw::ScenarioBuilder& S, const std::string& VariableStore = "");
Boot BootWithQemuBmc(const std::string& Name, const fw::ScenarioBuilder& S,
                     const std::vector<uint8_t>& Fru);
::testing::AssertionResult Reported(const Boot& B);

const fw::Snapshot& SnapshotOf(const Boot& B, const std::string& Tag);
std::vector<uint8_t> FruRead(const fw::Snapshot& S, int Device, int Offset);
std::vector<uint8_t> VariableBytes(const fw::Snapshot& S, const std::string& Name,
                                   const std::string& Guid = BladeGuid);

// bladecfg-mailbox, as built next to these tests.
fw::CommandOutput MailboxTool(const std::vector<std::string>& Arguments,
                              const std::filesystem::path& Log);

struct ResultRecord {
  unsigned List, Index;
  uint16_t Id;
  uint32_t Status;
  bool operator==(const ResultRecord& O) const {
    return List == O.List && Index == O.Index && Id == O.Id && Status == O.Status;
  }
};

// What `bladecfg-mailbox decode --json` says about an image: where the pieces are, the lock bytes
// and the result records written.
struct DecodedImage {
  std::string Failure; // empty when the tool decoded the image
  uint16_t HeaderOffset = 0;
  uint16_t ResultArea = 0;
  std::vector<uint8_t> Lock; // LockTurn, BmcLockFlag, HostLockFlag
  std::vector<ResultRecord> Results;
};
DecodedImage DecodeWithTool(const std::filesystem::path& Image, const std::filesystem::path& Log);

std::vector<uint8_t> Slice(const std::vector<uint8_t>& Bytes, size_t At, size_t Count);
void PutLe32(std::vector<uint8_t>& Bytes, size_t At, uint32_t Value);
std::ostream& operator<<(std::ostream& Out, const ResultRecord& R);

// The lock script (scripts/bmc-lock.sh) playing the BMC's side of the mailbox lock over the LAN,
// as a child of the test: started, waited on until a line appears in its output, stopped.
class BmcLockScript {
public:
  BmcLockScript(const fw::IpmiSimBmc& Bmc, unsigned Fru, uint16_t Header, const std::string& Hold);
  ~BmcLockScript();
  // Waits up to Seconds for Text in the script's output.
  bool WaitForLine(const std::string& Text, int Seconds) const;
  // Waits up to Seconds for the script to end; its exit status, or -1 while it runs.
  int Wait(int Seconds);
  std::string Output() const;

private:
  std::filesystem::path Log_;
  pid_t Pid_ = -1;
};

} // namespace bmctest
