// The AdapterSlotTable and the search for an adapter function's row.
#include "adapter/slot_table.h"

#include "adapter/pci_config.h"

namespace {

constexpr UINT32 Bridge(UINT32 Bus, UINT32 Device, UINT32 Function) {
  return Bus << 16 | Device << 11 | Function << 8;
}

struct SlotRows {
  AdapterSlot Row[AdapterSlotCount + 1];
};

// Rows 10/11 and 22/23 own the bits of rows 8/9 and 20/21: ports 3 and 4 of one slot are either
// functions 2 and 3 behind the first bridge or functions 0 and 1 behind a second one.
constexpr SlotRows InitialRows = {{
    {0x01, Bridge(0x00, 0x02, 2), 0, 0x00000001}, // row 0
    {0x01, Bridge(0x00, 0x02, 2), 1, 0x00000002},
    {0x04, Bridge(0x00, 0x02, 0), 0, 0x00000004},
    {0x04, Bridge(0x00, 0x02, 0), 1, 0x00000008},
    {0x04, Bridge(0x00, 0x02, 0), 2, 0x00000010},
    {0x04, Bridge(0x00, 0x02, 0), 3, 0x00000020},
    {0x05, Bridge(0x00, 0x03, 0), 0, 0x00000040}, // row 6
    {0x05, Bridge(0x00, 0x03, 0), 1, 0x00000080},
    {0x05, Bridge(0x00, 0x03, 0), 2, 0x00000100},
    {0x05, Bridge(0x00, 0x03, 0), 3, 0x00000200},
    {0x05, Bridge(0x00, 0x03, 1), 0, 0x00000100}, // row 10
    {0x05, Bridge(0x00, 0x03, 1), 1, 0x00000200},
    {0x50, Bridge(0x41, 0x06, 0), 0, 0x00000400}, // row 12
    {0x50, Bridge(0x41, 0x06, 0), 1, 0x00000800},
    {0x51, Bridge(0x41, 0x01, 0), 0, 0x00001000}, // row 14
    {0x51, Bridge(0x41, 0x01, 0), 1, 0x00002000},
    {0x51, Bridge(0x41, 0x01, 0), 2, 0x00004000},
    {0x51, Bridge(0x41, 0x01, 0), 3, 0x00008000},
    {0x52, Bridge(0x41, 0x08, 0), 0, 0x00010000}, // row 18
    {0x52, Bridge(0x41, 0x08, 0), 1, 0x00020000},
    {0x52, Bridge(0x41, 0x08, 0), 2, 0x00040000},
    {0x52, Bridge(0x41, 0x08, 0), 3, 0x00080000},
    {0x52, Bridge(0x41, 0x09, 0), 0, 0x00040000}, // row 22
    {0x52, Bridge(0x41, 0x09, 0), 1, 0x00080000},
    {AdapterSlotEnd, 0xFFFFFFFF, 15, 0xFFFFFFFF},
}};

constexpr bool OneBitEach() {
  for (UINTN I = 0; I < AdapterSlotCount; ++I) {
    const UINT32 Bit = InitialRows.Row[I].PendingBit;
    if (Bit == 0 || (Bit & (Bit - 1)) != 0 || InitialRows.Row[I].FruId == AdapterSlotEnd) {
      return false;
    }
  }
  return InitialRows.Row[AdapterSlotCount].FruId == AdapterSlotEnd;
}
static_assert(OneBitEach(), "every row owns exactly one pending bit, and only the last row ends");

// Function 0 of a row always has the row of its function 1 behind it: the pair that one
// two-port adapter of vendor 0x10DF serves as one.
constexpr bool FunctionZeroHasAPartner() {
  for (UINTN I = 0; I < AdapterSlotCount; ++I) {
    const AdapterSlot& Row = InitialRows.Row[I];
    const AdapterSlot& Next = InitialRows.Row[I + 1];
    if (Row.Function == 0 && (I + 1 == AdapterSlotCount ||
                              Next.BridgeAddress != Row.BridgeAddress || Next.Function != 1)) {
      return false;
    }
  }
  return true;
}
static_assert(FunctionZeroHasAPartner(), "a function 0 row is followed by its function 1 row");

// Constant-initialised: the image runs no constructors.
SlotRows LoadedRows = InitialRows;

} // namespace

AdapterSlot (&AdapterSlotTable)[AdapterSlotCount + 1] = LoadedRows.Row;

void RestoreAdapterSlotTable() {
  LoadedRows = InitialRows;
}

UINT8 FindAdapterSlot(UINTN Bus, UINTN Function) {
  UINT8 Row = 0;
  for (; Row < AdapterSlotCount && AdapterSlotTable[Row].FruId != AdapterSlotEnd; ++Row) {
    const AdapterSlot& Slot = AdapterSlotTable[Row];
    if (ReadBridgeSecondaryBus(Slot) == Bus && Slot.Function == Function) {
      return Row;
    }
  }
  return Row;
}
