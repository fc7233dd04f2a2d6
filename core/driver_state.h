// Driver-wide state: everything the driver keeps between its entry and its notifications.
#pragma once

#include "uefi/status_code.h"
#include "uefi/tables.h"

struct DriverState {
  EFI_SYSTEM_TABLE* SystemTable;
  EFI_BOOT_SERVICES* BootServices;
  EFI_RUNTIME_SERVICES* RuntimeServices;
  EFI_HANDLE ImageHandle;
  void* AdapterNotifyRegistration;
  EFI_STATUS_CODE_RUNTIME_PROTOCOL* StatusCodeProtocol;
  BOOLEAN SwRaidRequested;
};

// Zero until the entry point runs. Constant-initialised: the image has no runtime to run
// constructors.
extern DriverState Driver;

// Puts the driver core's state back to what a freshly loaded image has. The one other piece of
// driver-wide state, the AdapterSlotTable's FruId column, belongs to the adapter subsystem
// (RestoreAdapterSlotTable).
void ResetDriverState();
