// PCI configuration reads through configuration mechanism #1: the address written to port 0xCF8,
// the data read from port 0xCFC at once after it; and the location the PCI I/O of a handle tells.
#pragma once

#include "adapter/slot_table.h"

// Vendor/device word of a location where no function answers.
constexpr UINT32 NoPciFunction = 0xFFFFFFFF;

// Secondary bus number of the row's bridge (register 0x19 of its type-1 header). An absent bridge
// reads 0xFF.
UINT8 ReadBridgeSecondaryBus(const AdapterSlot& Slot);

// Vendor ID (low 16 bits) and device ID (high 16 bits) of the function at that location, or
// NoPciFunction.
UINT32 ReadPciId(UINTN Bus, UINTN Device, UINTN Function);

// Bus, device and function of the PCI I/O protocol on Controller (its segment is not used): the
// status of HandleProtocol or GetLocation.
EFI_STATUS GetPciLocation(EFI_HANDLE Controller, UINTN* Bus, UINTN* Device, UINTN* Function);
