// The choice of the next adapter with pending commands, and the lookup of its PCI I/O handle.
#pragma once

#include "core/protocols.h"

// Clears the bit of the adapter just served (at Bus and Function on entry; Device is not used)
// from Pending, and for vendor 0x10DF at function 0 the bit of the row after it too. While bits
// remain, searches the rows after it, cyclically and each row once, for the first present adapter
// whose bit is set; stores its row in RowIndex and its location in Bus, Device (0) and Function,
// and writes the PCI I/O handle that carries that location into Record's ControllerHandle.
//
// EFI_SUCCESS with nothing but Pending changed when no bit remains. EFI_ABORTED, nothing changed,
// when the adapter just served has no row. EFI_NOT_FOUND when no row with a remaining bit holds an
// adapter (RowIndex and the location unchanged), or when no PCI I/O handle carries the chosen
// location. A failing LocateHandleBuffer, HandleProtocol or GetLocation is returned. Record is
// written only on success.
EFI_STATUS SelectNextAdapter(UINT32* Pending, UINT16 VendorId, ADAPTER_CLP_PROTOCOL* Record,
                             UINT8* RowIndex, UINTN* Bus, UINTN* Device, UINTN* Function);
