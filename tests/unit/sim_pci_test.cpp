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
    // Root ports at 00:02.0 (secondary bus 2) and 00:02.2 (secondary bus 4), and a two-function
    // device behind the second.
    Blade.Pci.Bridge("00:02.0", 2);
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
  // Register 0x0C: header type 1 at byte 2 (0x0E), with the multi-function bit: 00:02.0 is there.
  EXPECT_EQ(Read(0x8000120C, 0xCFE, 16) & 0xFF, 0x81u);
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

// As in OVMF on QEMU: a device is there only with its function 0, so a function 1 alone reads
// all ones and gets no PCI I/O handle; a root port that is function 2 of its device needs the
// port at function 0 just the same.
TEST_F(SimPciTest, ADeviceWithoutFunctionZeroIsNotThere) {
  Blade.Pci.Bridge("00:03.0", 5).Function(0, 1, 0x8086, 0x10D3);
  Blade.Pci.Bridge("41:06.0", 0x43);
  Blade.Pci.Bridge("41:09.2", 0x45).Device(0, 0x8086, 0x10D3);
  EXPECT_EQ(Read(0x80050100, 0xCFC, 32), 0xFFFFFFFFu);
  EXPECT_EQ(Read(0x80414A18, 0xCFC, 32), 0xFFFFFFFFu) << "41:09.2's bus numbers";
  EXPECT_EQ(Read(0x80450000, 0xCFC, 32), 0xFFFFFFFFu) << "nothing leads to bus 0x45";
  EXPECT_EQ(Blade.Pci.FirmwareOrder(),
            (std::vector<sim::PciAddress>{"00:02.0", "00:02.2", "04:00.0", "04:00.1", "00:03.0",
                                          "41:06.0"}));
  EXPECT_EQ(PciIoHandles().size(), 6u);
}

// The order OVMF's PCI bus driver hands out PCI I/O handles in, seen on the blade's machine under
// QEMU: depth-first, each bridge right before what is behind it, functions in number order, the
// second root's bus after everything of bus 0; the order things were described does not matter.
TEST_F(SimPciTest, PciIoHandlesComeInTheFirmwaresOrderWhateverTheOrderOfDescription) {
  Blade.Pci.Bridge("41:09.0", 0x45).Device(0, 0x1234, 0x11E8);
  Blade.Pci.Bridge("41:01.0", 0x42).Device(0, 0x8086, 0x100F);
  Blade.Pci.Bridge("00:03.1", 6);
  Blade.Pci.Bridge("00:03.0", 5).Device(0, 0x8086, 0x10D3);
  for (const char* Function : {"02:00.3", "02:00.1", "02:00.0", "02:00.2"}) {
    Blade.Pci.Function(Function, 0x8086, 0x100E); // behind the fixture's 00:02.0
  }
  const std::vector<sim::PciAddress> Expected = {
      "00:02.0", "02:00.0", "02:00.1", "02:00.2", "02:00.3", "00:02.2", "04:00.0", "04:00.1",
      "00:03.0", "05:00.0", "00:03.1", "41:01.0", "42:00.0", "41:09.0", "45:00.0"};
  EXPECT_EQ(Blade.Pci.FirmwareOrder(), Expected);
  std::vector<EFI_HANDLE> InOrder;
  for (const sim::PciAddress& A : Expected) {
    InOrder.push_back(Blade.Pci.PciIoHandle(A));
  }
  EXPECT_EQ(PciIoHandles(), InOrder);
  Blade.PowerCycle();
  EXPECT_EQ(PciIoHandles().size(), Expected.size());
  EXPECT_EQ(PciIoHandles().front(), Blade.Pci.PciIoHandle("00:02.0"));
}

TEST_F(SimPciTest, PciIoHandlesComeInTheChosenOrderAndTellTheirLocation) {
  Blade.Pci.Bridge("00:03.0", 5).Device(7, 0x14E4, 0x16AE, 2); // a nonzero device number
  EXPECT_EQ(PciIoHandles().size(), 7u);                        // the bridges carry PCI I/O too

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
