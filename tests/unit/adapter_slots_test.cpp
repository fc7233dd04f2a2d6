// The AdapterSlotTable against simulated PCI topologies: finding an adapter's row from its bus and
// function, and choosing the next adapter with pending work and its PCI I/O handle.
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "adapter/next_adapter.h"
#include "adapter/slot_table.h"
#include "tests/support/driver_fixture.h"

namespace {

using testing_support::DriverTest;

// The blade's root ports and the secondary buses this test gives them.
struct RootPort {
  const char* At;
  UINT8 Secondary;
};
constexpr RootPort Ports[] = {{"00:02.2", 0x04}, {"00:02.0", 0x02}, {"00:03.0", 0x05},
                              {"00:03.1", 0x06}, {"41:06.0", 0x43}, {"41:01.0", 0x42},
                              {"41:08.0", 0x44}, {"41:09.0", 0x45}};

// Each row as the blade is built: FRU device, root port, function, pending bit.
struct Row {
  UINT8 FruId;
  const char* Port;
  UINT8 Secondary;
  UINT8 Function;
  UINT32 Bit;
};
const Row Rows[24] = {
    {0x01, "00:02.2", 0x04, 0, 0x00001}, {0x01, "00:02.2", 0x04, 1, 0x00002},
    {0x04, "00:02.0", 0x02, 0, 0x00004}, {0x04, "00:02.0", 0x02, 1, 0x00008},
    {0x04, "00:02.0", 0x02, 2, 0x00010}, {0x04, "00:02.0", 0x02, 3, 0x00020},
    {0x05, "00:03.0", 0x05, 0, 0x00040}, {0x05, "00:03.0", 0x05, 1, 0x00080},
    {0x05, "00:03.0", 0x05, 2, 0x00100}, {0x05, "00:03.0", 0x05, 3, 0x00200},
    {0x05, "00:03.1", 0x06, 0, 0x00100}, {0x05, "00:03.1", 0x06, 1, 0x00200},
    {0x50, "41:06.0", 0x43, 0, 0x00400}, {0x50, "41:06.0", 0x43, 1, 0x00800},
    {0x51, "41:01.0", 0x42, 0, 0x01000}, {0x51, "41:01.0", 0x42, 1, 0x02000},
    {0x51, "41:01.0", 0x42, 2, 0x04000}, {0x51, "41:01.0", 0x42, 3, 0x08000},
    {0x52, "41:08.0", 0x44, 0, 0x10000}, {0x52, "41:08.0", 0x44, 1, 0x20000},
    {0x52, "41:08.0", 0x44, 2, 0x40000}, {0x52, "41:08.0", 0x44, 3, 0x80000},
    {0x52, "41:09.0", 0x45, 0, 0x40000}, {0x52, "41:09.0", 0x45, 1, 0x80000},
};

class AdapterSlotTest : public DriverTest {
protected:
  void AllRootPorts() {
    for (const RootPort& P : Ports) {
      Blade.Pci.Bridge(P.At, P.Secondary);
    }
  }
  // A root port and, when it is not function 0 of its device, the port that is (without it the
  // device is not there, as on the blade, where 00:02.0 and 00:03.0 are always present).
  sim::PciBus::BehindBridge Port(const char* At) {
    const std::string Location(At);
    const std::string FunctionZero = Location.substr(0, Location.size() - 1) + "0";
    if (Location != FunctionZero && Described.count(FunctionZero) == 0) {
      Port(FunctionZero.c_str());
    }
    for (const RootPort& P : Ports) {
      if (Location == P.At) {
        Described.insert(Location);
        return Blade.Pci.Bridge(At, P.Secondary);
      }
    }
    throw std::logic_error("no such root port");
  }
  std::set<std::string> Described;
  size_t IdReads() const {
    size_t N = 0;
    for (const sim::PciPortAccess& A : Blade.Pci.PortAccesses()) {
      N += !A.Write && A.Port == 0xCFC && A.Width == 32;
    }
    return N;
  }
};

TEST_F(AdapterSlotTest, EveryRowIsFoundBehindItsRootPort) {
  AllRootPorts();
  for (UINT8 I = 0; I < 24; ++I) {
    SCOPED_TRACE("row " + std::to_string(I));
    EXPECT_EQ(FindAdapterSlot(Rows[I].Secondary, Rows[I].Function), I);
    EXPECT_EQ(AdapterSlotTable[I].FruId, Rows[I].FruId);
    EXPECT_EQ(AdapterSlotTable[I].PendingBit, Rows[I].Bit);
  }
  EXPECT_EQ(AdapterSlotTable[24].FruId, 0xFF);
  // The primary bus (0x41, the low byte of the register) is not the position's bus.
  EXPECT_EQ(FindAdapterSlot(0x41, 0), 24);
  EXPECT_EQ(FindAdapterSlot(0x04, 2), 24);
}

TEST_F(AdapterSlotTest, DeviceNumberIsNotComparedAndAbsentBridgesReadBus0xFF) {
  Port("00:02.0").Function(5, 0, 0x8086, 0x10FB).Function(5, 1, 0x8086, 0x10FB);
  EFI_PCI_IO_PROTOCOL* Io = Blade.Pci.PciIo("02:05.1");
  UINTN Segment, Bus, Device, Function;
  ASSERT_EQ(Io->GetLocation(Io, &Segment, &Bus, &Device, &Function), EFI_SUCCESS);
  EXPECT_EQ(FindAdapterSlot(Bus, Function), 3);
  // Row 0's root port is absent: its secondary bus reads 0xFF.
  EXPECT_EQ(FindAdapterSlot(0xFF, 0), 0);
}

TEST_F(AdapterSlotTest, PowerCycleRestoresTheFruIdColumn) {
  AdapterSlotTable[0].FruId = 0x02;
  Blade.PowerCycle();
  EXPECT_EQ(AdapterSlotTable[0].FruId, 0x01);
}

// One call of SelectNextAdapter after serving the adapter at (bus, function).
struct Selection {
  EFI_STATUS Status;
  UINT32 Pending;
  UINT8 Row;
  std::vector<UINTN> Location;
  EFI_HANDLE Controller;
};

class NextAdapterTest : public AdapterSlotTest {
protected:
  EFI_HANDLE const Previous = reinterpret_cast<EFI_HANDLE>(0x5EED);

  Selection Select(UINT32 Pending, UINT16 Vendor, UINTN Bus, UINTN Function) {
    ADAPTER_CLP_PROTOCOL Record{Previous, 0, nullptr};
    UINT8 Row = 0xEE;
    UINTN Device = 9;
    EFI_STATUS Status =
        SelectNextAdapter(&Pending, Vendor, &Record, &Row, &Bus, &Device, &Function);
    EXPECT_EQ(Blade.Firmware.Pool.LiveCount(), 0u);
    return {Status, Pending, Row, {Bus, Device, Function}, Record.ControllerHandle};
  }
};

TEST_F(NextAdapterTest, Vendor10DFServesFunctionOneWithFunctionZero) {
  Port("00:03.0").Device(0, 0x10DF, 0xE200, 3);
  Selection S = Select(0x1C0, 0x10DF, 0x05, 0);
  EXPECT_EQ(S.Pending, 0x100u);
  EXPECT_EQ(S.Row, 8);
  EXPECT_EQ(S.Controller, Blade.Pci.PciIoHandle("05:00.2"));
  S = Select(0x1C0, 0x10DF, 0x05, 1);
  EXPECT_EQ(S.Pending, 0x140u);
  EXPECT_EQ(S.Row, 8);
}

TEST_F(NextAdapterTest, EmptyPositionsArePassedOverAndKeepTheirBits) {
  Port("00:03.0").Device(0, 0x8086, 0x10FB, 1);
  Port("00:03.1").Device(0, 0x8086, 0x10FB, 2);
  const Selection S = Select(0x340, 0x8086, 0x05, 0);
  EXPECT_EQ(S.Status, EFI_SUCCESS);
  EXPECT_EQ(S.Pending, 0x300u);
  EXPECT_EQ(S.Row, 10);
  EXPECT_EQ(S.Location, std::vector<UINTN>({0x06, 0, 0}));
  EXPECT_EQ(S.Controller, Blade.Pci.PciIoHandle("06:00.0"));
}

TEST_F(NextAdapterTest, SearchWrapsFromTheLastRowToRowZero) {
  Port("00:02.2").Device(0, 0x14E4, 0x16AE, 2);
  Port("41:09.0").Device(0, 0x14E4, 0x16AE, 2);
  const Selection S = Select(0x80001, 0x14E4, 0x45, 1);
  EXPECT_EQ(S.Status, EFI_SUCCESS);
  EXPECT_EQ(S.Pending, 0x1u);
  EXPECT_EQ(S.Row, 0);
  EXPECT_EQ(S.Location, std::vector<UINTN>({0x04, 0, 0}));
}

TEST_F(NextAdapterTest, MaskThatBecomesZeroEndsWithoutFurtherLookups) {
  Port("00:02.0").Device(0, 0x8086, 0x10FB, 4);
  Blade.Pci.ClearRecords();
  FindAdapterSlot(0x02, 1);
  const std::vector<sim::PciPortAccess> FindOnly = Blade.Pci.PortAccesses();
  Blade.Pci.ClearRecords();
  const size_t Calls = Blade.Firmware.Calls().size();

  const Selection S = Select(0x8, 0x8086, 0x02, 1);
  EXPECT_EQ(S.Status, EFI_SUCCESS);
  EXPECT_EQ(S.Pending, 0u);
  EXPECT_EQ(S.Row, 0xEE);
  EXPECT_EQ(S.Location, std::vector<UINTN>({0x02, 9, 1}));
  EXPECT_EQ(S.Controller, Previous);
  EXPECT_EQ(Blade.Pci.PortAccesses().size(), FindOnly.size());
  EXPECT_EQ(Blade.Firmware.Calls().size(), Calls);
}

TEST_F(NextAdapterTest, WhenNoPendingPositionHoldsAnAdapterTheSearchEndsAfterOneRound) {
  Port("00:02.0").Device(0, 0x8086, 0x10FB, 1);
  const Selection S = Select(0x4 | 0x8 | 0x100000 | 0x80000, 0x8086, 0x02, 0);
  EXPECT_EQ(S.Status, EFI_NOT_FOUND);
  EXPECT_EQ(S.Pending, 0x180008u);
  EXPECT_EQ(S.Row, 0xEE);
  EXPECT_EQ(S.Location, std::vector<UINTN>({0x02, 9, 0}));
  EXPECT_EQ(S.Controller, Previous);
  EXPECT_EQ(IdReads(), 24u);
}

TEST_F(NextAdapterTest, AnAdapterNotInTheTableChangesNothing) {
  Port("00:02.0").Device(0, 0x8086, 0x10FB, 1);
  const Selection S = Select(0xFF, 0x8086, 0x07, 0);
  EXPECT_EQ(S.Status, EFI_ABORTED);
  EXPECT_EQ(S.Pending, 0xFFu);
  EXPECT_EQ(S.Controller, Previous);
}

TEST_F(NextAdapterTest, HandleWalkMatchesBusDeviceAndFunctionInTheFirmwaresOrder) {
  Port("00:02.0").Device(0, 0x8086, 0x10FB, 2).Function(3, 1, 0x8086, 0x10FB);
  Blade.Pci.SetPciIoOrder({"00:02.0", "02:03.1", "02:00.1", "02:00.0"});
  const Selection S = Select(0xC, 0x8086, 0x02, 0);
  EXPECT_EQ(S.Status, EFI_SUCCESS);
  EXPECT_EQ(S.Controller, Blade.Pci.PciIoHandle("02:00.1"));
  EXPECT_EQ(Blade.Pci.GetLocationCalls(), 3u); // the walk stops at the match
}

struct LookupFailure {
  const char* Name;
  std::function<void(sim::Blade&)> Arm;
  EFI_STATUS Expected;
};

class HandleLookupFailureTest : public NextAdapterTest,
                                public ::testing::WithParamInterface<LookupFailure> {};

// The mask, row and location already name the chosen adapter; the record keeps its handle.
TEST_P(HandleLookupFailureTest, FailureIsReturnedAndTheRecordKeepsItsHandle) {
  Port("00:02.0").Device(0, 0x8086, 0x10FB, 2);
  GetParam().Arm(Blade);
  const Selection S = Select(0xC, 0x8086, 0x02, 0);
  EXPECT_EQ(S.Status, GetParam().Expected);
  EXPECT_EQ(S.Pending, 0x8u);
  EXPECT_EQ(S.Row, 3);
  EXPECT_EQ(S.Location, std::vector<UINTN>({0x02, 0, 1}));
  EXPECT_EQ(S.Controller, Previous);
}

INSTANTIATE_TEST_SUITE_P(
    Lookups, HandleLookupFailureTest,
    ::testing::Values(
        LookupFailure{"LocateHandleBuffer",
                      [](sim::Blade& B) { B.Firmware.FailLocateHandleBuffer(1); },
                      EFI_OUT_OF_RESOURCES},
        LookupFailure{"HandleProtocol", [](sim::Blade& B) { B.Firmware.FailHandleProtocol(2); },
                      EFI_UNSUPPORTED},
        LookupFailure{"GetLocation",
                      [](sim::Blade& B) { B.Pci.FailGetLocation("02:00.0", EFI_DEVICE_ERROR); },
                      EFI_DEVICE_ERROR},
        LookupFailure{"NoHandleCarriesTheLocation",
                      [](sim::Blade& B) {
                        B.Pci.SetPciIoOrder({"00:02.0", "02:00.0"});
                      },
                      EFI_NOT_FOUND},
        LookupFailure{"NoPciIoHandleAtAll", [](sim::Blade& B) { B.Pci.SetPciIoOrder({}); },
                      EFI_NOT_FOUND}),
    [](const ::testing::TestParamInfo<LookupFailure>& Info) { return Info.param.Name; });

} // namespace
