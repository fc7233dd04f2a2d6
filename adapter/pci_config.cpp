// PCI configuration reads for the adapter positions.
#include "adapter/pci_config.h"

#include "core/driver_state.h"
#include "hw/hw.h"
#include "uefi/pci_io.h"

namespace {

constexpr UINT16 ConfigAddressPort = 0xCF8;
constexpr UINT16 ConfigDataPort = 0xCFC;
constexpr UINT32 ConfigEnable = 0x80000000;
constexpr UINT32 IdRegister = 0x00;
constexpr UINT32 BusNumbersRegister = 0x18; // primary, secondary, subordinate bus

// Each part masked to its field, so that no location can reach the enable bit or a neighbour.
UINT32 ConfigAddress(UINTN Bus, UINTN Device, UINTN Function) {
  return static_cast<UINT32>((Bus & 0xFF) << 16 | (Device & 0x1F) << 11 | (Function & 0x7) << 8);
}

} // namespace

UINT8 ReadBridgeSecondaryBus(const AdapterSlot& Slot) {
  PortWrite32(ConfigAddressPort, ConfigEnable + Slot.BridgeAddress + BusNumbersRegister);
  // The word holds the primary bus (low byte) and the secondary bus (high byte).
  return static_cast<UINT8>(PortRead16(ConfigDataPort) >> 8);
}

UINT32 ReadPciId(UINTN Bus, UINTN Device, UINTN Function) {
  PortWrite32(ConfigAddressPort, ConfigEnable + ConfigAddress(Bus, Device, Function) + IdRegister);
  return PortRead32(ConfigDataPort);
}

EFI_STATUS GetPciLocation(EFI_HANDLE Controller, UINTN* Bus, UINTN* Device, UINTN* Function) {
  EFI_PCI_IO_PROTOCOL* PciIo = nullptr;
  EFI_STATUS Status = Driver.BootServices->HandleProtocol(
      Controller, GuidPointer(EFI_PCI_IO_PROTOCOL_GUID), reinterpret_cast<void**>(&PciIo));
  if (EFI_ERROR(Status)) {
    return Status;
  }
  UINTN Segment = 0;
  return PciIo->GetLocation(PciIo, &Segment, Bus, Device, Function);
}
