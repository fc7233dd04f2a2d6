// A simulated blade with the driver's service tables in place, for tests that call driver
// operations directly, plus small views of what the blade saw.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "core/driver_state.h"
#include "core/entry.h"
#include "core/failure.h"
#include "core/ipmi.h"
#include "core/notifications.h"
#include "core/variables.h"
#include "sim/blade.h"
#include "sim/mailbox_image.h"

namespace testing_support {

constexpr size_t DefaultFruSize = 8192;

class DriverTest : public ::testing::Test {
protected:
  explicit DriverTest(const sim::BladeOptions& Options = {}) : Blade(Options) {
    ResetDriverState();
    InitServiceTables(Blade.Firmware.ImageHandle(), Blade.Firmware.SystemTable());
    Blade.Bmc.AddFruDevice(1, DefaultFruSize);
    Blade.Bmc.AddFruDevice(2, DefaultFruSize);
  }
  ~DriverTest() override { ResetDriverState(); }

  IPMI_TRANSPORT_PROTOCOL* Transport() { return Blade.Bmc.Transport(); }
  EFI_STALL Stall() { return Blade.Firmware.SystemTable()->BootServices->Stall; }

  std::vector<uint8_t> BladeData() {
    return Blade.Firmware.Variables.Value(TalBladeData.Name, TalBladeData.Guid).value();
  }
  void SetBladeData(size_t Offset, uint8_t Value) {
    std::vector<uint8_t> Data = BladeData();
    Data[Offset] = Value;
    Blade.Firmware.Variables.Create(TalBladeData.Name, TalBladeData.Guid, TalBladeData.Attributes,
                                    Data);
  }
  // Failure reports are only raised while ClpFailurePause is set.
  void EnableFailureReports() { SetBladeData(TalBladeField::ClpFailurePause, 1); }

  size_t FailureReports() const {
    const auto& Codes = Blade.Platform.StatusCodes();
    return std::count_if(Codes.begin(), Codes.end(), [](const sim::StatusCodeRecord& R) {
      return R.Type == EFI_ERROR_CODE && R.Value == ClpFailureCode;
    });
  }

  std::vector<sim::IpmiRequest> FruReads() const {
    return Blade.Bmc.Requests(IpmiNetFnStorage, IpmiCmdReadFruData);
  }
  std::vector<sim::IpmiRequest> FruWrites() const {
    return Blade.Bmc.Requests(IpmiNetFnStorage, IpmiCmdWriteFruData);
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
    UINT8 Count = R.Cmd == IpmiCmdReadFruData ? R.Data[3] : static_cast<UINT8>(R.Data.size() - 3);
    Out.push_back({R.Data[0], static_cast<UINT16>(R.Data[1] | (R.Data[2] << 8)), Count});
  }
  return Out;
}

} // namespace testing_support
