#include "core/entry.h"

#include "adapter/adapter_arrival.h"
#include "core/driver_state.h"
#include "core/failure.h"
#include "core/platform_info.h"
#include "core/protocols.h"
#include "core/variables.h"
#include "hw/hw.h"
#include "mailbox/mailbox.h"
#include "mailbox/platform_run.h"

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

EFI_STATUS RunPlatformPass() {
  IPMI_TRANSPORT_PROTOCOL* Transport = nullptr;
  EFI_STATUS Status = LocateIpmiTransport(&Transport);
  if (EFI_ERROR(Status)) {
    return Status;
  }
  PLATFORM_INFO_PROTOCOL* Info = nullptr;
  Status = LocatePlatformInfo(&Info);
  if (EFI_ERROR(Status)) {
    return Status;
  }

  // Adapters not ready at load: the first boot device becomes the network, whatever follows.
  if ((PortRead32(AdapterReadyPort) & AdapterReadyBit) == 0) {
    Status = SetBladeDataByte(BladeByteIpl1Device, Ipl1Network);
    if (EFI_ERROR(Status)) {
      return Status;
    }
  }

  UINT8 FruId = 0;
  Status = GetPlatformMailboxFruId(Info, &FruId);
  if (EFI_ERROR(Status)) {
    return Status;
  }
  MailboxHeader Header;
  UINT16 HeaderOffset = 0;
  Status = FindMailbox(Transport, FruId, &Header, &HeaderOffset);
  if (EFI_ERROR(Status)) {
    return Status;
  }

  Status = RunPlatformCommands(Transport, FruId, HeaderOffset);
  if (EFI_ERROR(Status)) {
    ReportClpFailure();
  }
  return Status;
}

void EFIAPI ReleasePlatformMailbox(EFI_EVENT, void*) {
  IPMI_TRANSPORT_PROTOCOL* Transport = nullptr;
  PLATFORM_INFO_PROTOCOL* Info = nullptr;
  if (EFI_ERROR(LocateIpmiTransport(&Transport)) || EFI_ERROR(LocatePlatformInfo(&Info))) {
    return;
  }
  UINT8 FruId = 0;
  MailboxHeader Header;
  UINT16 HeaderOffset = 0;
  if (EFI_ERROR(GetPlatformMailboxFruId(Info, &FruId)) ||
      EFI_ERROR(FindMailbox(Transport, FruId, &Header, &HeaderOffset))) {
    return;
  }
  UnlockMailbox(Transport, FruId, HeaderOffset);
}

void EFIAPI CheckPendingFruIds(EFI_EVENT, void*) {
  UINT8 FruId = 0;
  if (EFI_ERROR(FindPendingFruId(&FruId))) {
    ReportClpFailure();
  }
}
