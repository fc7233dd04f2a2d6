// The AdapterSlotTable: the fixed positions at which network and storage adapter functions can sit,
// each with the FRU device that holds its mailbox and the bit it owns in every pending mask.
#pragma once

#include "uefi/types.h"

// One position: the adapter function Function on the secondary bus of the bridge at BridgeAddress
// (bus << 16 | device << 11 | function << 8, like a configuration address without enable bit and
// register). The adapter's device number there is taken to be 0.
struct AdapterSlot {
  UINT8 FruId;
  UINT32 BridgeAddress;
  UINTN Function;
  UINT32 PendingBit;
};

constexpr UINTN AdapterSlotCount = 24;
constexpr UINT8 AdapterSlotEnd = 0xFF; // FruId of the terminator row

// 24 rows and the terminator. Writable: FruId is driver-wide state (the arrival handler moves a
// row from FRU device 1 to 2); RestoreAdapterSlotTable puts every row back as loaded.
extern AdapterSlot (&AdapterSlotTable)[AdapterSlotCount + 1];

// Restores the rows a freshly loaded image has.
void RestoreAdapterSlotTable();

// The first row whose bridge's secondary bus is Bus and whose Function is Function, or the index
// of the terminator row. The device number and the segment are not compared.
UINT8 FindAdapterSlot(UINTN Bus, UINTN Function);
