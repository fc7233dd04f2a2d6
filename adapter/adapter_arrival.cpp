#include "adapter/adapter_arrival.h"

#include "core/driver_state.h"

// Takes the newly installed adapter handle off the notification's queue, so each installation is
// seen once. Placing the adapter in the slot table and running its mailbox commands arrive with the
// adapter subsystem.
void EFIAPI HandleAdapterArrival(EFI_EVENT, void*) {
  EFI_HANDLE Handle = nullptr;
  UINTN Size = sizeof(Handle);
  Driver.BootServices->LocateHandle(ByRegisterNotify, nullptr, Driver.AdapterNotifyRegistration,
                                    &Size, &Handle);
}
