#include "tools/fru_positions.h"

#include <cstdio>

#include "adapter/slot_table.h"
#include "tools/report.h"

namespace tools {

namespace {

std::string BridgeText(UINT32 Address) {
  char Text[16];
  std::snprintf(Text, sizeof Text, "%02X:%02X.%X", (Address >> 16) & 0xFF, (Address >> 11) & 0x1F,
                (Address >> 8) & 7);
  return Text;
}

// "functions 0 to 3", "rows 0 and 1".
std::string Range(const char* What, size_t First, size_t Last) {
  if (First == Last) {
    return std::string(What) + " " + std::to_string(First);
  }
  return std::string(What) + "s " + std::to_string(First) + (Last == First + 1 ? " and " : " to ") +
         std::to_string(Last);
}

} // namespace

std::vector<SlotPosition> PositionsOf(UINT8 Fru) {
  std::vector<SlotPosition> Out;
  for (size_t Row = 0; Row < AdapterSlotCount; ++Row) {
    const AdapterSlot& Slot = AdapterSlotTable[Row];
    if (Slot.FruId == Fru) {
      Out.push_back({Row, BridgeText(Slot.BridgeAddress), Slot.Function, Slot.PendingBit});
    }
  }
  return Out;
}

std::string DescribeFruDevice(UINT8 Fru) {
  std::string Text = "FRU device " + FruName(Fru) + ": ";
  if (Fru == 1) {
    Text += "the platform's mailbox (list 0 holds the platform commands; FRU device 2 is used "
            "instead when platform information item 30 is set), ";
  } else if (Fru == 2) {
    Text += "the platform's mailbox when platform information item 30 is set, and that of slot "
            "rows 0 and 1 when it answers 1";
  }
  const std::vector<SlotPosition> Rows = PositionsOf(Fru);
  if (Rows.empty()) {
    return Text + (Fru == 2 ? ""
                            : "no slot table row names it: the host reads no adapter commands "
                              "from it");
  }
  Text += "the mailbox of slot " + Range("row", Rows.front().Row, Rows.back().Row) + ":";
  for (size_t I = 0; I < Rows.size();) {
    size_t J = I;
    while (J + 1 < Rows.size() && Rows[J + 1].Bridge == Rows[I].Bridge) {
      ++J;
    }
    Text += std::string(I == 0 ? "" : ",") + " bridge " + Rows[I].Bridge + " " +
            Range("function", Rows[I].Function, Rows[J].Function);
    I = J + 1;
  }
  return Text;
}

} // namespace tools
