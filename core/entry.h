// The driver's entry point and the notifications it arms.
#pragma once

#include "uefi/tables.h"

extern "C" EFI_STATUS EFIAPI DriverEntry(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE* SystemTable);

// Keeps the four driver-wide service values; only the first call stores them.
void InitServiceTables(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE* SystemTable);

// A notify-signal event at TPL_CALLBACK that calls Notify whenever Guid is installed.
EFI_STATUS RegisterProtocolCallback(const EFI_GUID& Guid, EFI_EVENT_NOTIFY Notify, void* Context,
                                    EFI_EVENT* Event, void** Registration);

// Finds the platform mailbox and runs its commands; leaves the mailbox locked.
EFI_STATUS RunPlatformPass();

// At the completion signal: release the platform mailbox, then look for FRU devices whose
// commands were never run.
void EFIAPI ReleasePlatformMailbox(EFI_EVENT Event, void* Context);
void EFIAPI CheckPendingFruIds(EFI_EVENT Event, void* Context);
