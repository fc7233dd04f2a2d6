// The next adapter of a run and its PCI I/O handle.
#include "adapter/next_adapter.h"

#include "adapter/pci_config.h"
#include "adapter/slot_table.h"
#include "adapter/vendors.h"
#include "core/driver_state.h"
#include "core/pool.h"
#include "uefi/pci_io.h"

namespace {

// The first PCI I/O handle, in the firmware's order, whose location is Bus:Device.Function on any
// segment.
EFI_STATUS FindPciIoHandle(UINTN Bus, UINTN Device, UINTN Function, EFI_HANDLE* Found) {
  HandedOverBuffer<EFI_HANDLE> Handles;
  UINTN Count = 0;
  EFI_STATUS Status = Handles.Received(Driver.BootServices->LocateHandleBuffer(
      ByProtocol, GuidPointer(EFI_PCI_IO_PROTOCOL_GUID), nullptr, &Count, &Handles.Data));
  if (EFI_ERROR(Status)) {
    return Status;
  }
  for (UINTN I = 0; I < Count; ++I) {
    UINTN HandleBus = 0, HandleDevice = 0, HandleFunction = 0;
    Status = GetPciLocation(Handles.Data[I], &HandleBus, &HandleDevice, &HandleFunction);
    if (EFI_ERROR(Status)) {
      return Status;
    }
    if (HandleBus == Bus && HandleDevice == Device && HandleFunction == Function) {
      *Found = Handles.Data[I];
      return EFI_SUCCESS;
    }
  }
  // Not the previous adapter's handle by default: the caller learns there is none.
  return EFI_NOT_FOUND;
}

// The row after Served, cyclically, whose bit is still pending and whose position holds an
// adapter, with the secondary bus it sits on; AdapterSlotCount when there is none. Served itself
// is examined first (its bit is clear by now) and every row at most once.
UINT8 NextPendingRow(UINT32 Pending, UINT8 Served, UINT8* Bus) {
  for (UINTN Step = 0; Step < AdapterSlotCount; ++Step) {
    const UINT8 Row = static_cast<UINT8>((Served + Step) % AdapterSlotCount);
    const AdapterSlot& Slot = AdapterSlotTable[Row];
    *Bus = ReadBridgeSecondaryBus(Slot);
    const UINT32 Id = ReadPciId(*Bus, 0, Slot.Function);
    if ((Pending & Slot.PendingBit) != 0 && Id != NoPciFunction) {
      return Row;
    }
  }
  return AdapterSlotCount;
}

} // namespace

EFI_STATUS SelectNextAdapter(UINT32* Pending, UINT16 VendorId, ADAPTER_CLP_PROTOCOL* Record,
                             UINT8* RowIndex, UINTN* Bus, UINTN* Device, UINTN* Function) {
  const UINT8 Served = FindAdapterSlot(*Bus, *Function);
  if (Served >= AdapterSlotCount) {
    return EFI_ABORTED;
  }
  *Pending &= ~AdapterSlotTable[Served].PendingBit;
  // Every function 0 row has its function 1 row right behind it.
  if (VendorId == Vendor10DF && AdapterSlotTable[Served].Function == 0) {
    *Pending &= ~AdapterSlotTable[Served + 1].PendingBit;
  }
  if (*Pending == 0) {
    return EFI_SUCCESS;
  }

  UINT8 ChosenBus = 0;
  const UINT8 Chosen = NextPendingRow(*Pending, Served, &ChosenBus);
  if (Chosen >= AdapterSlotCount) {
    return EFI_NOT_FOUND;
  }
  *RowIndex = Chosen;
  *Bus = ChosenBus;
  *Device = 0;
  *Function = AdapterSlotTable[Chosen].Function;

  EFI_HANDLE Handle = nullptr;
  EFI_STATUS Status = FindPciIoHandle(*Bus, *Device, *Function, &Handle);
  if (EFI_ERROR(Status)) {
    return Status;
  }
  Record->ControllerHandle = Handle;
  return EFI_SUCCESS;
}
