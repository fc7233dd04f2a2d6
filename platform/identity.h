// The system's identity as the BMC sets it: UUID and serial number texts parsed into TalBladeData,
// and the UUID passed on to SMBIOS and back to the BMC.
#pragma once

#include "core/protocols.h"

constexpr UINT8 UuidLength = 16;
constexpr UINT8 SerialUnits = 65;

// Sets UuidValid and parses up to 32 hexadecimal digits (no separators) into Uuid, the first pair
// at the field's last byte. Parsing stops after the pair that holds the text's end; bytes beyond
// it keep their old values.
void StoreUuidText(const CHAR8* Text, UINT8* BladeData);

// Sets SerialValid and widens the text into the 65 UTF-16 units of Serial, up to and including its
// NUL; a text of 65 characters or more fills all units and has no terminator.
void StoreSerialText(const CHAR8* Text, UINT8* BladeData);

// Copies Length bytes of Uuid into the UUID of the first SMBIOS System Information structure.
EFI_STATUS SetSmbiosSystemUuid(const UINT8* Uuid, UINT8 Length);

// Sends the UUID to the BMC (OEM request 0x41), reversed when Reverse is 1, which gives a Uuid
// field back its text order. Returns the transport's status.
EFI_STATUS SendUuidToBmc(IPMI_TRANSPORT_PROTOCOL* Ipmi, const UINT8* Uuid, UINT8 Length,
                         UINT8 Reverse);
