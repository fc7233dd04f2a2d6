#include "adapter/adapter_arrival.h"

#include "core/driver_state.h"
#include "core/notifications.h"

// Takes the newly installed adapter handle off the notification's queue, so that each installation
// is seen once. Nothing else is done with the adapter.
void EFIAPI HandleAdapterArrival(EFI_EVENT, void*) {
  EFI_HANDLE Handle = nullptr;
  UINTN Size = sizeof(Handle);
  Driver.BootServices->LocateHandle(ByRegisterNotify, nullptr, Driver.AdapterNotifyRegistration,
                                    &Size, &Handle);
}
