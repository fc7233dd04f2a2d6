// What bladecfg-mailbox says a FRU device's mailbox is for, by the slot table.
#include <gtest/gtest.h>

#include "tools/fru_positions.h"

namespace {

struct Device {
  UINT8 Fru;
  const char* Text;
};

const Device Devices[] = {
    {1, "FRU device 1: the platform's mailbox (list 0 holds the platform commands; FRU device 2 is "
        "used instead when platform information item 30 is set), the mailbox of slot rows 0 and 1: "
        "bridge 00:02.2 functions 0 and 1"},
    {2, "FRU device 2: the platform's mailbox when platform information item 30 is set, and that "
        "of slot rows 0 and 1 when it answers 1"},
    {4, "FRU device 4: the mailbox of slot rows 2 to 5: bridge 00:02.0 functions 0 to 3"},
    {5, "FRU device 5: the mailbox of slot rows 6 to 11: bridge 00:03.0 functions 0 to 3, bridge "
        "00:03.1 functions 0 and 1"},
    {0x50, "FRU device 0x50: the mailbox of slot rows 12 and 13: bridge 41:06.0 functions 0 and 1"},
    {0x52, "FRU device 0x52: the mailbox of slot rows 18 to 23: bridge 41:08.0 functions 0 to 3, "
           "bridge 41:09.0 functions 0 and 1"},
    {3, "FRU device 3: no slot table row names it: the host reads no adapter commands from it"},
};

TEST(FruPositions, EachDeviceOfTheSlotTableAndOneOfNone) {
  for (const Device& D : Devices) {
    EXPECT_EQ(tools::DescribeFruDevice(D.Fru), D.Text);
  }
  const std::vector<tools::SlotPosition> Rows = tools::PositionsOf(0x51);
  ASSERT_EQ(Rows.size(), 4u);
  EXPECT_EQ(Rows[0].Row, 14u);
  EXPECT_EQ(Rows[3].PendingBit, 0x8000u);
  EXPECT_EQ(Rows[3].Bridge, "41:01.0");
}

} // namespace
