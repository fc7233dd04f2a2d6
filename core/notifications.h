// What the entry point starts: the platform pass it runs once and the three functions it arms as
// protocol notifications. They are declared here, in the driver core, and defined by the
// subsystems they belong to (the platform pass and the mailbox release in mailbox/, the adapter
// arrival in adapter/, the check of pending FRU devices in core/), so that core/ includes nothing
// above it: the linker joins the entry point to them.
#pragma once

#include "uefi/tables.h"

// Finds the platform mailbox and runs its commands; leaves the mailbox locked.
EFI_STATUS RunPlatformPass();

// Each time an adapter driver installs AdapterClpProtocol.
void EFIAPI HandleAdapterArrival(EFI_EVENT Event, void* Context);

// At the completion signal: release the platform mailbox, then look for FRU devices whose
// commands were never run.
void EFIAPI ReleasePlatformMailbox(EFI_EVENT Event, void* Context);
void EFIAPI CheckPendingFruIds(EFI_EVENT Event, void* Context);
