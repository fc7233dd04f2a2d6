// The simulated PCI bus as the driver meets it: configuration mechanism #1 at ports 0xCF8 and
// 0xCFC, and the PCI I/O handles the firmware hands out.
#include <vector>

#include "hw/hw.h"
#include "tests/support/driver_fixture.h"

namespace {

using testing_support::DriverTest;

class SimPciTest : public DriverTest {
protected:
  SimPciTest() {
    // A root port at 00:02.2 with secondary bus 4, and a two-function device behind it.
    Blade.Pci.Bridge("00:02.2", 4).Device(0, 0x8086, 0x10FB, 2);
  }
  UINT32 Read(UINT32 Address, UINT16 Port, unsigned Width) {
    PortWrite32(0xCF8, Address);
    return Width == 16 ? PortRead16(Port) : PortRead32(Port);
  }
  std::vector<EFI_HANDLE> PciIoHandles() {
    return Blade.Firmware.HandlesWith(EFI_PCI_IO_PROTOCOL_GUID);
  }
};

TEST_F(SimPciTest, AddressLatchKeepsEnableBusDeviceFunctionAndRegister) {
  PortWrite32(0xCF8, 0xFF001A1B); // reserved bits 30:24 and register bits 1:0 read back as 0
  EXPECT_EQ(PortRead32(0xCF8), 0x80001A18u);
  PortWrite32(0xCF8, 0x00040000);
  EXPECT_EQ(PortRead32(0xCF8), 0x00040000u);
}

TEST_F(SimPciTest, DataPortsReturnTheAddressedBytesInEachWidth) {
  // Bridge register 0x18: primary bus 0, secondary 4, subordinate 4.
  EXPECT_EQ(Read(0x80001218, 0xCFC, 16), 0x0400u);
  EXPECT_EQ(Read(0x80001218, 0xCFE, 16), 0x0004u);
  EXPECT_EQ(Read(0x80001218, 0xCFC, 32), 0x00040400u);
  EXPECT_EQ(Read(0x80001218, 0xCFE, 32), 0xFFFF0004u); // past 0xCFF nothing answers
  // Register 0x0C: header type 1 at byte 2 (0x0E).
  EXPECT_EQ(Read(0x8000120C, 0xCFE, 16) & 0xFF, 0x01u);
  // The function's IDs, and the multi-function bit of a device with two functions.
  EXPECT_EQ(Read(0x80040000, 0xCFC, 32), 0x10FB8086u);
  EXPECT_EQ(Read(0x80040100, 0xCFE, 16), 0x10FBu);
  EXPECT_EQ(Read(0x8004000C, 0xCFE, 16) & 0xFF, 0x80u);
}

TEST_F(SimPciTest, NothingThereOrEnableClearReadsAllOnes) {
  EXPECT_EQ(Read(0x00040000, 0xCFC, 32), 0xFFFFFFFFu); // enable bit clear
  EXPECT_EQ(Read(0x80040200, 0xCFC, 32), 0xFFFFFFFFu); // no function 2
  EXPECT_EQ(Read(0x80001818, 0xCFC, 16), 0xFFFFu);     // no bridge at 00:03.0
  EXPECT_EQ(Read(0x80050000, 0xCFC, 32), 0xFFFFFFFFu); // nothing on bus 5
}

TEST_F(SimPciTest, PciIoHandlesComeInTheChosenOrderAndTellTheirLocation) {
  Blade.Pci.Bridge("00:03.0", 5).Function(7, 1, 0x14E4, 0x16AE); // a nonzero device number
  EXPECT_EQ(PciIoHandles().size(), 5u);                          // the bridges carry PCI I/O too

  Blade.Pci.SetPciIoOrder({"05:07.1", "04:00.1", "00:02.2"});
  const std::vector<EFI_HANDLE> Handles = PciIoHandles();
  ASSERT_EQ(Handles.size(), 3u);
  EXPECT_EQ(Handles[0], Blade.Pci.PciIoHandle("05:07.1"));
  EXPECT_EQ(Handles[1], Blade.Pci.PciIoHandle("04:00.1"));

  EFI_PCI_IO_PROTOCOL* Io = nullptr;
  ASSERT_EQ(Driver.BootServices->HandleProtocol(Handles[0], GuidPointer(EFI_PCI_IO_PROTOCOL_GUID),
                                                reinterpret_cast<void**>(&Io)),
            EFI_SUCCESS);
  UINTN Segment = 9, Bus = 0, Device = 0, Function = 0;
  EXPECT_EQ(Io->GetLocation(Io, &Segment, &Bus, &Device, &Function), EFI_SUCCESS);
  EXPECT_EQ(std::vector<UINTN>({Segment, Bus, Device, Function}),
            std::vector<UINTN>({0, 0x05, 7, 1}));

  Blade.Pci.FailGetLocation("05:07.1", EFI_DEVICE_ERROR, 1);
  EXPECT_EQ(Io->GetLocation(Io, &Segment, &Bus, &Device, &Function), EFI_DEVICE_ERROR);
  EXPECT_EQ(Io->GetLocation(Io, &Segment, &Bus, &Device, &Function), EFI_SUCCESS);

  // A new boot installs the same functions again, in the same order.
  Blade.PowerCycle();
  const std::vector<EFI_HANDLE> Again = PciIoHandles();
  ASSERT_EQ(Again.size(), 3u);
  EXPECT_EQ(Again[0], Blade.Pci.PciIoHandle("05:07.1"));
  EXPECT_EQ(Again[2], Blade.Pci.PciIoHandle("00:02.2"));
}

} // namespace
