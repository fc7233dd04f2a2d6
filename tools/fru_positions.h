// Which adapter positions a FRU device's mailbox serves, by the driver's own adapter slot table:
// for reading a mailbox of any FRU device with its adapters in mind.
//
//   tools::DescribeFruDevice(4)
//   // "FRU device 4: the mailbox of slot rows 2 to 5: bridge 00:02.0 functions 0 to 3"
#pragma once

#include <string>
#include <vector>

#include "uefi/types.h"

namespace tools {

struct SlotPosition {
  size_t Row;
  std::string Bridge; // "bb:dd.f"
  size_t Function;
  UINT32 PendingBit;
};

// The slot table rows whose mailbox is in FRU device Fru, as the driver's image holds them.
std::vector<SlotPosition> PositionsOf(UINT8 Fru);

// One line: what the host reads the device's mailbox for (the platform's commands, the adapters
// of which rows), or that it reads none from it.
std::string DescribeFruDevice(UINT8 Fru);

} // namespace tools
