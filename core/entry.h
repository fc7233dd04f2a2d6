// The driver's entry point and the notifications it arms.
#pragma once

#include "uefi/tables.h"

extern "C" EFI_STATUS EFIAPI DriverEntry(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE* SystemTable);

// Keeps the four driver-wide service values; only the first call stores them.
void InitServiceTables(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE* SystemTable);

// A notify-signal event at TPL_CALLBACK that calls Notify whenever Guid is installed.
EFI_STATUS RegisterProtocolCallback(const EFI_GUID& Guid, EFI_EVENT_NOTIFY Notify, void* Context,
                                    EFI_EVENT* Event, void** Registration);
