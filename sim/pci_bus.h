// The simulated PCI bus: configuration space of root ports and adapter functions behind
// configuration mechanism #1, and EFI_PCI_IO_PROTOCOL on a handle per function, as the firmware's
// PCI bus driver installs it before the driver loads.
//
//   // A root port at 00:03.0 with secondary bus 3, and a four-function device of vendor 0x8086
//   // (device 0x10FB) at device 0 behind it:
//   Blade.Pci.Bridge("00:03.0", 3).Device(0, 0x8086, 0x10FB, 4);
//   EFI_HANDLE Port2 = Blade.Pci.PciIoHandle("03:00.1");
//
// Configuration reads: a 32-bit write to port 0xCF8 latches the address (enable bit 31, bus 23:16,
// device 15:11, function 10:8, register 7:2); a read of port 0xCFC + n returns the addressed
// register's bytes from byte n on. With the enable bit clear, or no function at the location, every
// byte reads 0xFF. A device without function 0 is not there at all, as on real machines: its other
// functions read all ones and get no PCI I/O handle.
//
// The PCI I/O handles come in the order the firmware's PCI bus driver creates them: depth-first,
// each root bus (a bus no bridge leads to) in ascending order, its devices and their functions in
// number order, each bridge right before what sits behind it.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "uefi/pci_io.h"

namespace sim {

class Firmware;

// A location on segment 0: bus, device (0-31) and function (0-7).
struct PciAddress {
  UINT8 Bus = 0;
  UINT8 Device = 0;
  UINT8 Function = 0;

  constexpr PciAddress() = default;
  constexpr PciAddress(UINT8 Bus_, UINT8 Device_, UINT8 Function_)
      : Bus(Bus_), Device(Device_), Function(Function_) {}
  // "bb:dd.f" in hexadecimal, as the location is usually written. A malformed text is a problem.
  PciAddress(const char* Text);

  bool operator==(const PciAddress& O) const {
    return Bus == O.Bus && Device == O.Device && Function == O.Function;
  }
  bool operator<(const PciAddress& O) const;
  std::string Text() const;
};

// One access to the configuration ports.
struct PciPortAccess {
  UINT16 Port;
  unsigned Width;
  bool Write;
  UINT32 Value;
};

class PciBus {
public:
  explicit PciBus(Firmware& Firmware);
  ~PciBus();
  PciBus(const PciBus&) = delete;
  PciBus& operator=(const PciBus&) = delete;

  // What sits behind one bridge.
  class BehindBridge {
  public:
    // A device at Device on the secondary bus whose functions 0 to Functions - 1 all carry the
    // vendor and device ID.
    BehindBridge& Device(UINT8 Device, UINT16 VendorId, UINT16 DeviceId, UINT8 Functions = 1);
    // One function of a device on the secondary bus.
    BehindBridge& Function(UINT8 Device, UINT8 Function, UINT16 VendorId, UINT16 DeviceId);
    UINT8 SecondaryBus() const { return Secondary_; }

  private:
    friend class PciBus;
    BehindBridge(PciBus& Bus, UINT8 Secondary) : Bus_(Bus), Secondary_(Secondary) {}
    PciBus& Bus_;
    UINT8 Secondary_;
  };

  // A PCI-to-PCI bridge (a root port, type-1 header) at Address: its primary bus is Address's bus,
  // its secondary and subordinate bus SecondaryBus.
  BehindBridge Bridge(PciAddress Address, UINT8 SecondaryBus);
  // A function with a type-0 header at Address. It gets a PCI I/O handle at once, where the
  // firmware's order puts it (every PCI I/O handle is installed again in that order).
  void Function(PciAddress Address, UINT16 VendorId, UINT16 DeviceId);

  // The functions that carry EFI_PCI_IO_PROTOCOL, in the order their handles are installed, which
  // is the order LocateHandleBuffer returns them in. Replaces every PCI I/O handle; a function
  // left out has none. From then on, functions described later get a handle after these. (By
  // default every visible function has one, in the firmware's order.)
  void SetPciIoOrder(const std::vector<PciAddress>& Order);
  // The functions as the firmware's PCI bus driver finds them, in its order.
  std::vector<PciAddress> FirmwareOrder() const;
  // The handle carrying the PCI I/O of the function at Address; nullptr (a problem) when none.
  EFI_HANDLE PciIoHandle(PciAddress Address) const;
  EFI_PCI_IO_PROTOCOL* PciIo(PciAddress Address) const;
  // The function whose PCI I/O Handle carries, if it carries one.
  std::optional<PciAddress> LocationOf(EFI_HANDLE Handle) const;

  // The next Times calls of GetLocation on that function's PCI I/O fail with Status (-1: every
  // call).
  void FailGetLocation(PciAddress Address, EFI_STATUS Status, int Times = -1);
  unsigned GetLocationCalls() const { return GetLocationCalls_; }

  // A new boot: the address latch cleared and the PCI I/O handles installed again, in their order,
  // into the firmware's new handle database.
  void StartBoot();

  // The configuration ports, 0xCF8 to 0xCFF; the hardware-access interface routes them here.
  static bool Claims(UINT16 Port);
  UINT32 PortRead(UINT16 Port, unsigned Width);
  // A 32-bit write of 0xCF8 latches the address. Configuration writes through 0xCFC are recorded
  // and change nothing: the bus numbers were assigned before the driver loads, and the IDs and
  // header type are read-only.
  void PortWrite(UINT16 Port, UINT32 Value, unsigned Width);
  const std::vector<PciPortAccess>& PortAccesses() const { return Accesses_; }
  void ClearRecords();

private:
  struct PciIoBlock; // the protocol record with its way back to the bus
  struct Node {
    UINT8 Config[256];
    std::unique_ptr<PciIoBlock> Io; // functions with a handle only
  };
  Node& AddNode(PciAddress Address, UINT16 VendorId, UINT16 DeviceId);
  UINT8 ConfigByte(PciAddress Address, const Node& N, unsigned Register) const;
  // The node at Address when the firmware finds it; null otherwise.
  const Node* Visible(PciAddress Address) const;
  void AppendBus(UINT8 Bus, std::vector<PciAddress>& Order) const;
  void InstallPciIo(PciAddress Address);
  void InstallInOrder(const std::vector<PciAddress>& Order);
  // After a function is described: every handle again in the firmware's order, or the new one
  // after a chosen order.
  void Described(PciAddress Address);
  static EFI_STATUS EFIAPI GetLocationThunk(EFI_PCI_IO_PROTOCOL* This, UINTN* Segment, UINTN* Bus,
                                            UINTN* Device, UINTN* Function);
  EFI_STATUS GetLocation(const PciIoBlock& Block, UINTN* Segment, UINTN* Bus, UINTN* Device,
                         UINTN* Function);

  struct Failure {
    EFI_STATUS Status;
    int Times;
  };
  Firmware& Firmware_;
  std::map<PciAddress, Node> Nodes_;
  std::vector<PciAddress> PciIoOrder_; // functions with a PCI I/O handle, in install order
  bool ChosenOrder_ = false;           // SetPciIoOrder was called
  std::set<PciAddress> Visible_;       // the functions the firmware finds
  std::map<PciAddress, Failure> LocationFailures_;
  unsigned GetLocationCalls_ = 0;
  UINT32 Latch_ = 0;
  std::vector<PciPortAccess> Accesses_;
};

} // namespace sim
