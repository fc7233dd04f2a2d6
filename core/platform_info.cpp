#include "core/platform_info.h"

#include "core/driver_state.h"

EFI_STATUS LocatePlatformInfo(PLATFORM_INFO_PROTOCOL** Info) {
  return Driver.BootServices->LocateProtocol(GuidPointer(PlatformInfoProtocolGuid), nullptr,
                                             reinterpret_cast<void**>(Info));
}

EFI_STATUS LocateIpmiTransport(IPMI_TRANSPORT_PROTOCOL** Transport) {
  return Driver.BootServices->LocateProtocol(GuidPointer(IpmiTransportProtocolGuid), nullptr,
                                             reinterpret_cast<void**>(Transport));
}

EFI_STATUS GetPlatformMailboxFruId(PLATFORM_INFO_PROTOCOL* Info, UINT8* FruId) {
  UINT64 InFru2 = 0;
  EFI_STATUS Status = Info->Query(PlatformInfoMailboxInFru2, &InFru2);
  if (EFI_ERROR(Status)) {
    return Status;
  }
  *FruId = InFru2 != 0 ? PlatformMailboxFruAlternate : PlatformMailboxFru;
  return EFI_SUCCESS;
}
