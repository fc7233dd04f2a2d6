// What the firmware boots share: the platform variables a boot starts from, the mailboxes in the
// BMC's FRU devices, one boot and the checks of its report.
#pragma once

#include <cstdint>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "firmware/runner/blade_variables.h"
#include "firmware/runner/fru_file.h"
#include "firmware/runner/qemu_boot.h"
#include "firmware/runner/report.h"
#include "firmware/runner/scenario_builder.h"
#include "tests/support/boot_test.h"

namespace fwboot {

using fw::ReadBack;
using fw::ScenarioBuilder;

constexpr const char* BladeGuid = fw::TalBladeDataGuid;
using fw::NonVolatileAttributes;
using fw::ServerSetupGuid;
using fw::ServerSetupSize;
using fw::SystemSetupGuid;
using fw::SystemSetupSize;
using fw::TalBladeDataSize;
using fw::VolatileAttributes;

constexpr EFI_STATUS Success = 0;
constexpr EFI_STATUS NotFound = 0x800000000000000Eull;
constexpr EFI_STATUS DeviceError = 0x8000000000000007ull;
constexpr EFI_STATUS Unsupported = 0x8000000000000003ull;
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

constexpr unsigned ResultAreaBytes = 192; // list 0's records
constexpr uint16_t LockTurn = 28;
constexpr uint16_t BmcLockFlag = 29;
constexpr uint16_t HostLockFlag = 30;

constexpr uint32_t Done = 0x0E00;
constexpr uint32_t BadKeyword = 0xFD02;
constexpr uint32_t Refused = 0xF502;

// Held by the host: HostLockFlag 1 and the turn given to the BMC, which never asked.
extern const std::vector<uint8_t> LockHeld;
// Released by the host after it held it.
extern const std::vector<uint8_t> LockReleased;
// A result record nobody wrote.
extern const std::vector<uint8_t> Unwritten;

// Recognisable bytes, so that a byte the driver should not touch shows when it moves.
std::vector<uint8_t> Pattern(size_t Size, uint8_t Seed);
void PutLe32(std::vector<uint8_t>& Bytes, size_t At, uint32_t Value);
// A result record's six bytes.
std::vector<uint8_t> Record(uint16_t Id, uint32_t Status);
std::vector<uint8_t> Slice(const std::vector<uint8_t>& Bytes, size_t At, size_t Count);

// The platform variables a scenario starts from: patterned, with the given failure-pause byte.
struct PlatformVariables {
  std::vector<uint8_t> TalBladeData = Pattern(TalBladeDataSize, 0x11);
  std::vector<uint8_t> SystemSetup = Pattern(SystemSetupSize, 0x22);
  std::vector<uint8_t> ServerSetup = Pattern(ServerSetupSize, 0x33);

  explicit PlatformVariables(uint8_t FailurePause = 0) {
    TalBladeData[ClpFailurePause] = FailurePause;
  }

  void AddTo(ScenarioBuilder& S) const;
};

void LoadStandInsAndDriver(ScenarioBuilder& S);

// A mailbox in a FRU area of the file, its list 0 holding Commands.
mailbox_format::MailboxImage Mailbox(const std::vector<mailbox_format::MailboxCommand>& Commands);

struct FirmwareRun {
  fw::BootResult Boot;
  fw::Report Report;
};

// Boots once; BootedAndReported says what went wrong when the boot itself did.
FirmwareRun Boot(const std::string& Name, const ScenarioBuilder& Scenario, fw::BootRequest Request);
// A boot of the plain machine with QEMU's BMC holding Fru.
FirmwareRun Boot(const std::string& Name, const ScenarioBuilder& Scenario,
                 std::vector<uint8_t> Fru);

::testing::AssertionResult BootedAndReported(const FirmwareRun& R);

const fw::Snapshot& SnapshotOf(const FirmwareRun& R, const std::string& Tag);
ReadBack Fru(const fw::Snapshot& S, int Device, int Offset);
ReadBack Variable(const fw::Snapshot& S, const std::string& Name, std::string Guid = BladeGuid);

// The byte offsets where two equally long buffers differ, for readable failures.
std::vector<size_t> Differences(const std::vector<uint8_t>& A, const std::vector<uint8_t>& B);

void ExpectDriverResident(const FirmwareRun& R);

// Where a mailbox's pieces sit, and the read-backs that cover its lock bytes and list 0's records.
struct MailboxPlace {
  unsigned Device;
  uint16_t Header;
  uint16_t Results;
};

MailboxPlace Place(unsigned Device, const mailbox_format::MailboxImage& Image);
void ReadBackMailbox(ScenarioBuilder& S, const MailboxPlace& M);
std::vector<uint8_t> LockBytes(const fw::Snapshot& S, const MailboxPlace& M);
std::vector<uint8_t> RecordAt(const fw::Snapshot& S, const MailboxPlace& M, unsigned Index);

} // namespace fwboot
