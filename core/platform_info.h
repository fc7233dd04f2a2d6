// Questions the driver asks PlatformInfoProtocol. The protocol is located afresh at every use.
#pragma once

#include "core/protocols.h"

constexpr UINTN PlatformInfoDeviceSettingsRefused = 29;
constexpr UINTN PlatformInfoMailboxInFru2 = 30;

EFI_STATUS LocatePlatformInfo(PLATFORM_INFO_PROTOCOL** Info);
EFI_STATUS LocateIpmiTransport(IPMI_TRANSPORT_PROTOCOL** Transport);

// The FRU devices that hold the platform's own mailbox: the first, or the second when item 30
// answers nonzero.
constexpr UINT8 PlatformMailboxFru = 1;
constexpr UINT8 PlatformMailboxFruAlternate = 2;

// FRU device of the platform mailbox: 2 when item 30 answers nonzero, else 1.
EFI_STATUS GetPlatformMailboxFruId(PLATFORM_INFO_PROTOCOL* Info, UINT8* FruId);
