// What must be installed before the firmware starts the driver. The entry point arms its
// notifications with boot services alone, but then runs the platform pass at once, and that pass
// does its work only when, at that moment:
// - IpmiTransportProtocol and PlatformInfoProtocol can be located: without them the pass ends
//   quietly and nothing would ever run the platform's commands;
// - GetVariable and SetVariable work for volatile (TalBladeData) and non-volatile (the two Setup
//   variables) variables: the variable and variable-write architectural protocols;
// - Stall waits: the metronome architectural protocol (the lock polls and busy retries);
// - ResetSystem resets: the reset architectural protocol (a command whose change needs a restart).
// The status-code protocol is not waited for: a platform may not have one, and failure reports are
// the only thing that depends on it. The adapter and completion-signal protocols, SMBIOS editing,
// PCI I/O and MP services are used from notifications, which run whenever they arrive.
#pragma once

#include "core/protocols.h"
#include "uefi/architectural.h"
#include "uefi/depex.h"

constexpr EFI_GUID DispatchDependencies[] = {
    IpmiTransportProtocolGuid,        PlatformInfoProtocolGuid,
    EFI_VARIABLE_ARCH_PROTOCOL_GUID,  EFI_VARIABLE_WRITE_ARCH_PROTOCOL_GUID,
    EFI_METRONOME_ARCH_PROTOCOL_GUID, EFI_RESET_ARCH_PROTOCOL_GUID,
};

// The DXE_DEPEX section of BladeCfgDxe: all of DispatchDependencies.
constexpr auto DriverDependencyExpression = EncodeAllProtocolsDepex(DispatchDependencies);
