// The platform pass the entry point runs, and the release of the platform mailbox at the
// completion signal. Both choose the platform mailbox's FRU device by their own fresh query.
#include "core/failure.h"
#include "core/notifications.h"
#include "core/platform_info.h"
#include "core/variables.h"
#include "hw/hw.h"
#include "hw/input_levels.h"
#include "mailbox/mailbox.h"
#include "mailbox/platform_run.h"

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
