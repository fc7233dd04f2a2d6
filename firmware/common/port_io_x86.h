// Byte-wide port I/O for the firmware images: the KCS interface and the debug console are 8-bit
// devices, which the driver's own hardware-access interface (hw/hw.h) does not need to offer.
#pragma once

#include "firmware/common/kcs.h"
#include "uefi/tables.h"

UINT8 PortRead8(UINT16 Port);
void PortWrite8(UINT16 Port, UINT8 Value);

// The KCS interface at the usual ports, waiting between polls with the Stall boot service.
KcsPorts X86KcsPorts(EFI_BOOT_SERVICES* BootServices);
