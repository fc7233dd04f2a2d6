#include "core/entry.h"

#include "core/driver_state.h"
#include "core/failure.h"
#include "core/notifications.h"
#include "core/protocols.h"
#include "core/variables.h"

extern "C" EFI_STATUS EFIAPI DriverEntry(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE* SystemTable) {
  InitServiceTables(ImageHandle, SystemTable);

  EFI_EVENT AdapterEvent = nullptr;
  EFI_EVENT ReleaseEvent = nullptr;
  EFI_EVENT CheckEvent = nullptr;
  void* CompletionRegistration = nullptr;
  // Events already armed stay armed when a later registration fails: the firmware owns them.
  EFI_STATUS Status =
      RegisterProtocolCallback(AdapterClpProtocolGuid, HandleAdapterArrival, nullptr, &AdapterEvent,
                               &Driver.AdapterNotifyRegistration);
  if (EFI_ERROR(Status)) {
    return Status;
  }
  Status = RegisterProtocolCallback(CompletionSignalProtocolGuid, ReleasePlatformMailbox, nullptr,
                                    &ReleaseEvent, &CompletionRegistration);
  if (EFI_ERROR(Status)) {
    return Status;
  }
  Status = RegisterProtocolCallback(CompletionSignalProtocolGuid, CheckPendingFruIds, nullptr,
                                    &CheckEvent, &CompletionRegistration);
  if (EFI_ERROR(Status)) {
    return Status;
  }

  // Whatever the pass did, the driver stays resident for its notifications.
  RunPlatformPass();
  return EFI_SUCCESS;
}

void InitServiceTables(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE* SystemTable) {
  if (Driver.SystemTable != nullptr) {
    return;
  }
  Driver.SystemTable = SystemTable;
  Driver.BootServices = SystemTable->BootServices;
  Driver.RuntimeServices = SystemTable->RuntimeServices;
  Driver.ImageHandle = ImageHandle;
}

EFI_STATUS RegisterProtocolCallback(const EFI_GUID& Guid, EFI_EVENT_NOTIFY Notify, void* Context,
                                    EFI_EVENT* Event, void** Registration) {
  EFI_STATUS Status =
      Driver.BootServices->CreateEvent(EVT_NOTIFY_SIGNAL, TPL_CALLBACK, Notify, Context, Event);
  if (EFI_ERROR(Status)) {
    return Status;
  }
  return Driver.BootServices->RegisterProtocolNotify(GuidPointer(Guid), *Event, Registration);
}

void EFIAPI CheckPendingFruIds(EFI_EVENT, void*) {
  UINT8 FruId = 0;
  if (EFI_ERROR(FindPendingFruId(&FruId))) {
    ReportClpFailure();
  }
}
