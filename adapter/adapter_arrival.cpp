// The adapter arrival notification.
#include "adapter/adapter_arrival.h"

#include "adapter/adapter_run.h"
#include "adapter/npar_restore.h"
#include "adapter/pci_config.h"
#include "adapter/slot_table.h"
#include "adapter/throttling.h"
#include "core/driver_state.h"
#include "core/failure.h"
#include "core/ipmi.h"
#include "core/notifications.h"
#include "core/platform_info.h"
#include "core/pool.h"
#include "core/variables.h"
#include "hw/hw.h"
#include "hw/input_levels.h"
#include "mailbox/mailbox.h"
#include "platform/command_status.h"

namespace {

// The adapter of one arrival: where it is and where its mailbox is.
struct Arrival {
  IPMI_TRANSPORT_PROTOCOL* Transport;
  PLATFORM_INFO_PROTOCOL* Info;
  ADAPTER_CLP_PROTOCOL* Adapter;
  UINTN Bus;
  UINTN Device;
  UINTN Function;
  UINT8 Row;
  UINT8 FruId;
  MailboxHeader Header;
  UINT16 MailboxOffset;
};

BOOLEAN AdapterReady() {
  return (PortRead32(AdapterReadyPort) & AdapterReadyBit) != 0;
}

// Takes the next new handle off the notification, and finds the adapter's row and mailbox.
EFI_STATUS FindArrivedAdapter(Arrival& A) {
  EFI_HANDLE Handle = nullptr;
  UINTN Size = sizeof(Handle);
  EFI_STATUS Status = Driver.BootServices->LocateHandle(
      ByRegisterNotify, nullptr, Driver.AdapterNotifyRegistration, &Size, &Handle);
  if (EFI_ERROR(Status)) {
    return Status;
  }
  Status = Driver.BootServices->HandleProtocol(Handle, GuidPointer(AdapterClpProtocolGuid),
                                               reinterpret_cast<void**>(&A.Adapter));
  if (EFI_ERROR(Status)) {
    return Status;
  }
  Status = GetPciLocation(A.Adapter->ControllerHandle, &A.Bus, &A.Device, &A.Function);
  if (EFI_ERROR(Status)) {
    return Status;
  }
  A.Row = FindAdapterSlot(A.Bus, A.Function);
  if (A.Row >= AdapterSlotCount) {
    return EFI_ABORTED;
  }
  AdapterSlot& Slot = AdapterSlotTable[A.Row];
  if (Slot.FruId == PlatformMailboxFru) {
    UINT64 InFru2 = 0;
    Status = A.Info->Query(PlatformInfoMailboxInFru2, &InFru2);
    if (EFI_ERROR(Status)) {
      return Status;
    }
    // For the rest of the boot, and for this row only.
    if (InFru2 == AdapterMailboxInFru2Answer) {
      Slot.FruId = PlatformMailboxFruAlternate;
    }
  }
  A.FruId = Slot.FruId;
  return FindMailbox(A.Transport, A.FruId, &A.Header, &A.MailboxOffset);
}

void RunAndReport(Arrival& A, UINT8* Flags) {
  if (EFI_ERROR(
          RunAdapterCommands(A.Transport, A.Row, &A.Header, A.MailboxOffset, A.Adapter, Flags))) {
    ReportClpFailure();
  }
}

// The BMC told, the mailbox left to it and the processors slowed down while the adapter-ready
// input is awaited (when waiting is enabled), then all of it undone. Ready receives the input as
// last read. The wait has no time limit: the BMC knows of it. Slowing down and speeding up cannot
// fail, so the processors are never left slowed down.
EFI_STATUS WaitForAdapters(Arrival& A, BOOLEAN WaitEnabled, BOOLEAN* Ready) {
  EFI_STATUS Status = SendAdapterWaitMessage(A.Transport, AdapterWaitBegins);
  if (EFI_ERROR(Status)) {
    return Status;
  }
  Status = SetBladeDataByte(BladeByteAdapterReadyWait, 1);
  if (EFI_ERROR(Status)) {
    return Status;
  }
  Status = UnlockMailbox(A.Transport, A.FruId, A.MailboxOffset);
  if (EFI_ERROR(Status)) {
    return Status;
  }
  EFI_MP_SERVICES_PROTOCOL* Throttled = ThrottleAllProcessors();
  if (WaitEnabled) {
    do {
      *Ready = AdapterReady();
      Driver.BootServices->Stall(AdapterReadyPollMicroseconds);
    } while (!*Ready);
  }
  UnthrottleAllProcessors(Throttled);
  Status = SendAdapterWaitMessage(A.Transport, AdapterWaitEnds);
  if (EFI_ERROR(Status)) {
    return Status;
  }
  return SetBladeDataByte(BladeByteAdapterReadyWait, 0);
}

} // namespace

EFI_STATUS SendAdapterWaitMessage(IPMI_TRANSPORT_PROTOCOL* Transport,
                                  const UINT8 (&Message)[AdapterWaitMessageSize]) {
  UINT8 Request[AdapterWaitMessageSize];
  CopyBytes(Request, Message, sizeof(Request));
  UINT8 Response[1] = {0};
  UINT8 ResponseSize = sizeof(Response);
  return Transport->SendIpmiCommand(Transport, IpmiNetFnOem, 0, IpmiCmdOemAdapterWait, Request,
                                    sizeof(Request), Response, &ResponseSize);
}

void EFIAPI HandleAdapterArrival(EFI_EVENT, void*) {
  UINT8 Flags = 0;
  Arrival A{};
  // Without them the new handle is left on the notification.
  if (EFI_ERROR(LocateIpmiTransport(&A.Transport)) || EFI_ERROR(LocatePlatformInfo(&A.Info))) {
    return;
  }
  if (EFI_ERROR(FindArrivedAdapter(A))) {
    return;
  }
  BOOLEAN Ready = AdapterReady();
  const BOOLEAN WaitEnabled = (PortRead32(AdapterWaitPort) & AdapterWaitBit) != 0;
  PoolBuffer Blade(TalBladeData.Size);
  UINTN Size = 0;
  if (EFI_ERROR(Blade.Status()) ||
      EFI_ERROR(ReadPlatformVariable(TalBladeData, Blade.Data(), &Size))) {
    return;
  }

  if (Ready) {
    RunAndReport(A, &Flags);
    return;
  }
  // Adapters to put back to NPAR: this arrival restores (or finds nothing to restore) and runs no
  // command, whether or not its own bit is set.
  if (ReadLe32(Blade.Data() + TalBladeField::NparRestoreMask) != 0) {
    if (EFI_ERROR(RestoreNparDefault(A.Adapter, Blade.Data(), A.Bus, A.Device, A.Function))) {
      ReportClpFailure();
    }
    return;
  }
  if (EFI_ERROR(WaitForAdapters(A, WaitEnabled, &Ready))) {
    return;
  }
  Flags |= CommandFlagAfterWait;
  if (Ready) {
    RunAndReport(A, &Flags);
  }
}
