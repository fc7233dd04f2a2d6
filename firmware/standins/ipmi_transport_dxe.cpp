// Stand-in for the platform's BMC transport driver: installs IpmiTransportProtocol and carries each
// request over the KCS interface of the BMC (ports 0xCA2/0xCA3).
#include "core/protocols.h"
#include "firmware/common/ipmi_kcs.h"
#include "firmware/common/port_io_x86.h"
#include "uefi/tables.h"

namespace {

// Up to ten seconds for a BMC that says it is starting.
constexpr UINT32 BmcStartTries = 100;
constexpr UINT32 BmcStartPauseMicroseconds = 100000;

struct TransportState {
  IPMI_TRANSPORT_PROTOCOL Protocol;
  EFI_BOOT_SERVICES* BootServices;
};

EFI_STATUS EFIAPI SendIpmiCommand(IPMI_TRANSPORT_PROTOCOL* This, UINT8 NetFunction, UINT8 Lun,
                                  UINT8 Command, UINT8* RequestData, UINT8 RequestDataSize,
                                  UINT8* ResponseData, UINT8* ResponseDataSize);

TransportState Transport = {{nullptr, SendIpmiCommand}, nullptr};

EFI_STATUS EFIAPI SendIpmiCommand(IPMI_TRANSPORT_PROTOCOL* This, UINT8 NetFunction, UINT8 Lun,
                                  UINT8 Command, UINT8* RequestData, UINT8 RequestDataSize,
                                  UINT8* ResponseData, UINT8* ResponseDataSize) {
  if (This != &Transport.Protocol) {
    return EFI_INVALID_PARAMETER;
  }
  return IpmiKcsSend(X86KcsPorts(Transport.BootServices), KcsDefaultLimits, NetFunction, Lun,
                     Command, RequestData, RequestDataSize, ResponseData, ResponseDataSize);
}

} // namespace

extern "C" EFI_STATUS EFIAPI DriverEntry(EFI_HANDLE, EFI_SYSTEM_TABLE* SystemTable) {
  Transport.BootServices = SystemTable->BootServices;
  // No KCS interface on this machine: every status bit floats to 1. Without a BMC the driver must
  // not pretend to offer one.
  if (PortRead8(KcsDefaultStatusPort) == 0xFF) {
    return EFI_NOT_FOUND;
  }
  // A BMC may still be starting when the machine is; the transport is offered in any case, and a
  // BMC that never starts fails the driver's requests, which it reports.
  (void)IpmiKcsAwaitBmc(X86KcsPorts(Transport.BootServices), KcsDefaultLimits, BmcStartTries,
                        BmcStartPauseMicroseconds);
  EFI_HANDLE Handle = nullptr;
  return Transport.BootServices->InstallProtocolInterface(
      &Handle, GuidPointer(IpmiTransportProtocolGuid), EFI_NATIVE_INTERFACE, &Transport.Protocol);
}
