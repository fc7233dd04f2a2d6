// The simulated PCI bus: configuration mechanism #1 over the functions' configuration space, and
// their PCI I/O handles.
#include "sim/pci_bus.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <set>

#include "sim/firmware_impl.h"
#include "sim/problems.h"

namespace sim {
namespace {

constexpr UINT16 AddressPort = 0xCF8;
constexpr UINT16 DataPort = 0xCFC;
constexpr UINT16 LastDataPort = 0xCFF;
constexpr UINT32 EnableBit = 0x80000000u;
// Bits 30:24 are reserved and bits 1:0 select no register: they read back as 0.
constexpr UINT32 LatchedBits = EnableBit | 0x00FFFFFCu;

// Type-0 and type-1 header registers.
constexpr unsigned VendorIdRegister = 0x00;
constexpr unsigned DeviceIdRegister = 0x02;
constexpr unsigned ClassCodeRegister = 0x09; // programming interface, subclass, class
constexpr unsigned HeaderTypeRegister = 0x0E;
constexpr unsigned PrimaryBusRegister = 0x18;
constexpr unsigned SecondaryBusRegister = 0x19;
constexpr unsigned SubordinateBusRegister = 0x1A;
constexpr UINT8 HeaderTypeDevice = 0x00;
constexpr UINT8 HeaderTypeBridge = 0x01;
constexpr UINT8 MultiFunctionBit = 0x80;
// A root port's own IDs: the one QEMU's generic PCI Express root port carries.
constexpr UINT16 RootPortVendor = 0x1B36;
constexpr UINT16 RootPortDevice = 0x000C;
constexpr UINT32 BridgeClass = 0x060400;   // bridge, PCI-to-PCI
constexpr UINT32 EthernetClass = 0x020000; // network controller, Ethernet

void Put16(UINT8* Config, unsigned Register, UINT16 Value) {
  Config[Register] = static_cast<UINT8>(Value);
  Config[Register + 1] = static_cast<UINT8>(Value >> 8);
}

void PutClass(UINT8* Config, UINT32 Class) {
  Config[ClassCodeRegister] = static_cast<UINT8>(Class);
  Config[ClassCodeRegister + 1] = static_cast<UINT8>(Class >> 8);
  Config[ClassCodeRegister + 2] = static_cast<UINT8>(Class >> 16);
}

PciAddress LatchedLocation(UINT32 Latch) {
  return PciAddress(static_cast<UINT8>(Latch >> 16), static_cast<UINT8>((Latch >> 11) & 0x1F),
                    static_cast<UINT8>((Latch >> 8) & 0x7));
}

} // namespace

PciAddress::PciAddress(const char* Text) {
  unsigned B = 0, D = 0, F = 0;
  int Used = 0;
  if (Text == nullptr || std::sscanf(Text, "%2x:%2x.%1x%n", &B, &D, &F, &Used) != 3 ||
      Text[Used] != 0 || D > 0x1F || F > 7) {
    ReportProblem(std::string("'") + (Text != nullptr ? Text : "") +
                  "' is not a PCI location bb:dd.f");
    return;
  }
  Bus = static_cast<UINT8>(B);
  Device = static_cast<UINT8>(D);
  Function = static_cast<UINT8>(F);
}

bool PciAddress::operator<(const PciAddress& O) const {
  return (Bus << 16 | Device << 8 | Function) < (O.Bus << 16 | O.Device << 8 | O.Function);
}

std::string PciAddress::Text() const {
  char Out[16];
  std::snprintf(Out, sizeof Out, "%02X:%02X.%X", Bus, Device, Function);
  return Out;
}

// EFI_PCI_IO_PROTOCOL first, so that This leads back to the rest.
struct PciBus::PciIoBlock {
  EFI_PCI_IO_PROTOCOL Io;
  PciBus* Owner;
  PciAddress Location;
  EFI_HANDLE Handle;
};

PciBus::PciBus(Firmware& Firmware) : Firmware_(Firmware) {}

PciBus::~PciBus() = default;

PciBus::BehindBridge& PciBus::BehindBridge::Device(UINT8 Device, UINT16 VendorId, UINT16 DeviceId,
                                                   UINT8 Functions) {
  if (Functions == 0 || Functions > 8) {
    ReportProblem("a PCI device has 1 to 8 functions, not " + std::to_string(Functions));
  }
  for (UINT8 F = 0; F < Functions && F < 8; ++F) {
    Bus_.Function(PciAddress(Secondary_, Device, F), VendorId, DeviceId);
  }
  return *this;
}

PciBus::BehindBridge& PciBus::BehindBridge::Function(UINT8 Device, UINT8 Function, UINT16 VendorId,
                                                     UINT16 DeviceId) {
  Bus_.Function(PciAddress(Secondary_, Device, Function), VendorId, DeviceId);
  return *this;
}

PciBus::Node& PciBus::AddNode(PciAddress Address, UINT16 VendorId, UINT16 DeviceId) {
  auto Old = Nodes_.find(Address);
  if (Old != Nodes_.end()) {
    ReportProblem("two PCI functions described at " + Address.Text());
    if (Old->second.Io != nullptr) {
      Firmware_.Uninstall(Old->second.Io->Handle, EFI_PCI_IO_PROTOCOL_GUID, &Old->second.Io->Io);
    }
    Nodes_.erase(Old);
    PciIoOrder_.erase(std::remove(PciIoOrder_.begin(), PciIoOrder_.end(), Address),
                      PciIoOrder_.end());
  }
  Node& N = Nodes_[Address];
  std::memset(N.Config, 0, sizeof N.Config);
  Put16(N.Config, VendorIdRegister, VendorId);
  Put16(N.Config, DeviceIdRegister, DeviceId);
  return N;
}

const PciBus::Node* PciBus::Visible(PciAddress Address) const {
  auto It = Nodes_.find(Address);
  return It != Nodes_.end() && Visible_.count(Address) != 0 ? &It->second : nullptr;
}

// A bus's devices and functions in number order, each bridge followed by its secondary bus. A
// device without function 0 is passed over, and with it whatever lies behind it.
void PciBus::AppendBus(UINT8 Bus, std::vector<PciAddress>& Order) const {
  for (auto It = Nodes_.lower_bound(PciAddress(Bus, 0, 0));
       It != Nodes_.end() && It->first.Bus == Bus; ++It) {
    if (Nodes_.count(PciAddress(Bus, It->first.Device, 0)) == 0) {
      continue;
    }
    Order.push_back(It->first);
    const UINT8* Config = It->second.Config;
    const UINT8 Secondary = Config[SecondaryBusRegister];
    // A bridge whose secondary bus is not above its own would lead back up; it leads nowhere.
    if (Config[HeaderTypeRegister] == HeaderTypeBridge && Secondary > Bus) {
      AppendBus(Secondary, Order);
    }
  }
}

std::vector<PciAddress> PciBus::FirmwareOrder() const {
  std::set<UINT8> Reached;
  for (const auto& [Address, N] : Nodes_) {
    if (N.Config[HeaderTypeRegister] == HeaderTypeBridge &&
        N.Config[SecondaryBusRegister] > Address.Bus) {
      Reached.insert(N.Config[SecondaryBusRegister]);
    }
  }
  std::vector<PciAddress> Order;
  std::set<UINT8> Roots;
  for (const auto& [Address, N] : Nodes_) {
    if (Reached.count(Address.Bus) == 0 && Roots.insert(Address.Bus).second) {
      AppendBus(Address.Bus, Order);
    }
  }
  return Order;
}

void PciBus::Described(PciAddress Address) {
  const std::vector<PciAddress> Order = FirmwareOrder();
  Visible_ = std::set<PciAddress>(Order.begin(), Order.end());
  if (ChosenOrder_) {
    PciIoOrder_.push_back(Address);
    InstallPciIo(Address);
  } else {
    InstallInOrder(Order);
  }
}

PciBus::BehindBridge PciBus::Bridge(PciAddress Address, UINT8 SecondaryBus) {
  Node& N = AddNode(Address, RootPortVendor, RootPortDevice);
  PutClass(N.Config, BridgeClass);
  N.Config[HeaderTypeRegister] = HeaderTypeBridge;
  N.Config[PrimaryBusRegister] = Address.Bus;
  N.Config[SecondaryBusRegister] = SecondaryBus;
  N.Config[SubordinateBusRegister] = SecondaryBus;
  Described(Address);
  return BehindBridge(*this, SecondaryBus);
}

void PciBus::Function(PciAddress Address, UINT16 VendorId, UINT16 DeviceId) {
  Node& N = AddNode(Address, VendorId, DeviceId);
  PutClass(N.Config, EthernetClass);
  N.Config[HeaderTypeRegister] = HeaderTypeDevice;
  Described(Address);
}

// The multi-function bit of the header type follows from the other functions of the device.
UINT8 PciBus::ConfigByte(PciAddress Address, const Node& N, unsigned Register) const {
  UINT8 Byte = N.Config[Register];
  if (Register == HeaderTypeRegister) {
    for (UINT8 F = 0; F < 8; ++F) {
      if (F != Address.Function && Nodes_.count(PciAddress(Address.Bus, Address.Device, F)) != 0) {
        Byte |= MultiFunctionBit;
      }
    }
  }
  return Byte;
}

void PciBus::SetPciIoOrder(const std::vector<PciAddress>& Order) {
  for (const PciAddress& A : Order) {
    if (Nodes_.count(A) == 0) {
      ReportProblem("no PCI function at " + A.Text() + " to carry PCI I/O");
    }
  }
  ChosenOrder_ = true;
  InstallInOrder(Order);
}

void PciBus::InstallInOrder(const std::vector<PciAddress>& Order) {
  for (auto& [Address, N] : Nodes_) {
    if (N.Io != nullptr) {
      Firmware_.Uninstall(N.Io->Handle, EFI_PCI_IO_PROTOCOL_GUID, &N.Io->Io);
      N.Io.reset();
    }
  }
  PciIoOrder_ = Order;
  for (const PciAddress& A : PciIoOrder_) {
    InstallPciIo(A);
  }
}

void PciBus::InstallPciIo(PciAddress Address) {
  auto It = Nodes_.find(Address);
  if (It == Nodes_.end() || It->second.Io != nullptr) {
    return;
  }
  auto Block = std::make_unique<PciIoBlock>();
  std::memset(&Block->Io, 0, sizeof Block->Io);
  // Only GetLocation does anything; the other members answer EFI_UNSUPPORTED.
  EFI_PCI_IO_PROTOCOL& Io = Block->Io;
  SetUnsupported(Io.PollMem);
  SetUnsupported(Io.PollIo);
  SetUnsupported(Io.Mem.Read);
  SetUnsupported(Io.Mem.Write);
  SetUnsupported(Io.Io.Read);
  SetUnsupported(Io.Io.Write);
  SetUnsupported(Io.Pci.Read);
  SetUnsupported(Io.Pci.Write);
  SetUnsupported(Io.CopyMem);
  SetUnsupported(Io.Map);
  SetUnsupported(Io.Unmap);
  SetUnsupported(Io.AllocateBuffer);
  SetUnsupported(Io.FreeBuffer);
  SetUnsupported(Io.Flush);
  Io.GetLocation = GetLocationThunk;
  Block->Owner = this;
  Block->Location = Address;
  Block->Handle = nullptr;
  if (Firmware_.Install(&Block->Handle, EFI_PCI_IO_PROTOCOL_GUID, &Block->Io) != EFI_SUCCESS) {
    ReportProblem("PCI I/O of " + Address.Text() + " could not be installed");
    return;
  }
  It->second.Io = std::move(Block);
}

void PciBus::StartBoot() {
  Latch_ = 0;
  // The handles of the boot before went with the firmware's handle database.
  for (auto& [Address, N] : Nodes_) {
    N.Io.reset();
  }
  for (const PciAddress& A : PciIoOrder_) {
    InstallPciIo(A);
  }
}

EFI_HANDLE PciBus::PciIoHandle(PciAddress Address) const {
  EFI_PCI_IO_PROTOCOL* Io = PciIo(Address);
  return Io != nullptr ? reinterpret_cast<PciIoBlock*>(Io)->Handle : nullptr;
}

EFI_PCI_IO_PROTOCOL* PciBus::PciIo(PciAddress Address) const {
  auto It = Nodes_.find(Address);
  if (It == Nodes_.end() || It->second.Io == nullptr) {
    ReportProblem("no PCI I/O handle carries " + Address.Text());
    return nullptr;
  }
  return &It->second.Io->Io;
}

std::optional<PciAddress> PciBus::LocationOf(EFI_HANDLE Handle) const {
  for (const auto& [Address, N] : Nodes_) {
    if (N.Io != nullptr && N.Io->Handle == Handle && Handle != nullptr) {
      return Address;
    }
  }
  return std::nullopt;
}

void PciBus::FailGetLocation(PciAddress Address, EFI_STATUS Status, int Times) {
  LocationFailures_[Address] = Failure{Status, Times};
}

EFI_STATUS EFIAPI PciBus::GetLocationThunk(EFI_PCI_IO_PROTOCOL* This, UINTN* Segment, UINTN* Bus,
                                           UINTN* Device, UINTN* Function) {
  if (This == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  const auto* Block = reinterpret_cast<const PciIoBlock*>(This);
  return Block->Owner->GetLocation(*Block, Segment, Bus, Device, Function);
}

EFI_STATUS PciBus::GetLocation(const PciIoBlock& Block, UINTN* Segment, UINTN* Bus, UINTN* Device,
                               UINTN* Function) {
  ++GetLocationCalls_;
  auto Failing = LocationFailures_.find(Block.Location);
  if (Failing != LocationFailures_.end() && Failing->second.Times != 0) {
    if (Failing->second.Times > 0) {
      --Failing->second.Times;
    }
    return Failing->second.Status;
  }
  if (Segment == nullptr || Bus == nullptr || Device == nullptr || Function == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  *Segment = 0;
  *Bus = Block.Location.Bus;
  *Device = Block.Location.Device;
  *Function = Block.Location.Function;
  return EFI_SUCCESS;
}

bool PciBus::Claims(UINT16 Port) {
  return Port >= AddressPort && Port <= LastDataPort;
}

UINT32 PciBus::PortRead(UINT16 Port, unsigned Width) {
  const unsigned Bytes = Width / 8;
  UINT32 Value = 0xFFFFFFFFu;
  if (Port == AddressPort && Width == 32) {
    Value = Latch_;
  } else if (Port >= DataPort && (Latch_ & EnableBit) != 0) {
    const PciAddress At = LatchedLocation(Latch_);
    if (const Node* N = Visible(At)) {
      // Byte n of the data ports is byte n of the addressed register; past port 0xCFF the
      // configuration space has no more to give.
      const unsigned Register = (Latch_ & 0xFC) + (Port - DataPort);
      Value = 0;
      for (unsigned I = 0; I < Bytes; ++I) {
        const bool Inside = Port - DataPort + I < 4;
        const UINT8 Byte = Inside ? ConfigByte(At, *N, Register + I) : 0xFF;
        Value |= static_cast<UINT32>(Byte) << (8 * I);
      }
    }
  }
  if (Width < 32) {
    Value &= (1u << Width) - 1;
  }
  Accesses_.push_back(PciPortAccess{Port, Width, false, Value});
  return Value;
}

void PciBus::PortWrite(UINT16 Port, UINT32 Value, unsigned Width) {
  if (Width < 32) {
    Value &= (1u << Width) - 1;
  }
  if (Port == AddressPort && Width == 32) {
    Latch_ = Value & LatchedBits;
  }
  Accesses_.push_back(PciPortAccess{Port, Width, true, Value});
}

void PciBus::ClearRecords() {
  Accesses_.clear();
  GetLocationCalls_ = 0;
}

} // namespace sim
