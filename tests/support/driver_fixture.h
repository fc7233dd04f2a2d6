// A simulated blade with the driver's service tables in place, for tests that call driver
// operations directly, plus small views of what the blade saw. The facts the expectations are
// written in are spelled out here, not taken from the driver, so that a wrong driver constant
// fails a test.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "core/driver_state.h"
#include "core/entry.h"
#include "core/notifications.h"
#include "sim/blade.h"
#include "sim/bmc_mailbox.h"
#include "sim/driver_image.h"

namespace testing_support {

constexpr size_t DefaultFruSize = 8192;

// The mailbox lock bytes, from the header's start.
constexpr UINT16 LockTurn = 28;
constexpr UINT16 BmcLockFlag = 29;
constexpr UINT16 HostLockFlag = 30;

constexpr size_t ClpFailurePauseByte = 276; // in TalBladeData
constexpr UINT32 ClpFailureStatusCode = 0xC000B3A0;

class DriverTest : public ::testing::Test {
protected:
  explicit DriverTest(const sim::BladeOptions& Options = {}) : Blade(Options) {
    sim::LoadFreshDriverImage();
    InitServiceTables(Blade.Firmware.ImageHandle(), Blade.Firmware.SystemTable());
    Blade.Bmc.AddFruDevice(1, DefaultFruSize);
    Blade.Bmc.AddFruDevice(2, DefaultFruSize);
  }
  ~DriverTest() override { sim::LoadFreshDriverImage(); }

  IPMI_TRANSPORT_PROTOCOL* Transport() { return Blade.Bmc.Transport(); }
  EFI_STALL Stall() { return Blade.Firmware.SystemTable()->BootServices->Stall; }

  std::vector<uint8_t> BladeData() {
    const sim::VariableSpec& V = sim::vars::TalBladeData;
    return Blade.Firmware.Variables.Value(V.Name, V.Guid).value();
  }
  void SetBladeData(size_t Offset, uint8_t Value) {
    std::vector<uint8_t> Data = BladeData();
    Data[Offset] = Value;
    const sim::VariableSpec& V = sim::vars::TalBladeData;
    Blade.Firmware.Variables.Create(V.Name, V.Guid, V.Attributes, Data);
  }
  // Failure reports are only raised while ClpFailurePause is set.
  void EnableFailureReports() { SetBladeData(ClpFailurePauseByte, 1); }

  size_t FailureReports() const {
    const auto& Codes = Blade.Platform.StatusCodes();
    return std::count_if(Codes.begin(), Codes.end(), [](const sim::StatusCodeRecord& R) {
      return R.Type == EFI_ERROR_CODE && R.Value == ClpFailureStatusCode;
    });
  }

  std::vector<sim::IpmiRequest> FruReads() const {
    return Blade.Bmc.Requests(sim::ipmi::NetFnStorage, sim::ipmi::CmdReadFruData);
  }
  std::vector<sim::IpmiRequest> FruWrites() const {
    return Blade.Bmc.Requests(sim::ipmi::NetFnStorage, sim::ipmi::CmdWriteFruData);
  }

  sim::Blade Blade;
};

// FRU device, offset and count of a Read FRU Data request (count is 0 for a write's head).
struct FruAccess {
  UINT8 FruId;
  UINT16 Offset;
  UINT8 Count;
  bool operator==(const FruAccess& O) const {
    return FruId == O.FruId && Offset == O.Offset && Count == O.Count;
  }
};

inline std::ostream& operator<<(std::ostream& Out, const FruAccess& A) {
  return Out << "{fru " << int(A.FruId) << ", offset " << A.Offset << ", count " << int(A.Count)
             << "}";
}

// Reads as {fru, offset, count}; writes as {fru, offset, number of data bytes}.
inline std::vector<FruAccess> Accesses(const std::vector<sim::IpmiRequest>& Requests) {
  std::vector<FruAccess> Out;
  for (const sim::IpmiRequest& R : Requests) {
    UINT8 Count =
        R.Cmd == sim::ipmi::CmdReadFruData ? R.Data[3] : static_cast<UINT8>(R.Data.size() - 3);
    Out.push_back({R.Data[0], static_cast<UINT16>(R.Data[1] | (R.Data[2] << 8)), Count});
  }
  return Out;
}

} // namespace testing_support
