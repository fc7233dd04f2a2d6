#include "firmware/common/ipmi_kcs.h"

namespace {

constexpr UINT8 IpmiHeaderBytes = 2; // NetFn/LUN and command
constexpr UINT8 IpmiCompletionOffset = 2;
constexpr UINT8 IpmiNetFnApp = 0x06;
constexpr UINT8 IpmiGetDeviceId = 0x01;
constexpr UINT8 IpmiNodeBusy = 0xC0;
constexpr UINT8 IpmiInitializationInProgress = 0xD2;

UINT8 NetFnLun(UINT8 NetFn, UINT8 Lun) {
  return static_cast<UINT8>((NetFn << 2) | (Lun & 0x3));
}

} // namespace

EFI_STATUS IpmiKcsSend(const KcsPorts& Ports, const KcsLimits& Limits, UINT8 NetFn, UINT8 Lun,
                       UINT8 Command, const UINT8* RequestData, UINT8 RequestSize,
                       UINT8* ResponseData, UINT8* ResponseSize) {
  if (ResponseSize == nullptr || (ResponseData == nullptr && *ResponseSize != 0) ||
      (RequestData == nullptr && RequestSize != 0) || NetFn > 0x3F) {
    return EFI_INVALID_PARAMETER;
  }
  if (RequestSize > IpmiKcsMaxRequestData) {
    return EFI_BAD_BUFFER_SIZE;
  }
  UINT8 Request[IpmiHeaderBytes + IpmiKcsMaxRequestData];
  Request[0] = NetFnLun(NetFn, Lun);
  Request[1] = Command;
  for (UINT8 I = 0; I < RequestSize; ++I) {
    Request[IpmiHeaderBytes + I] = RequestData[I];
  }

  UINT8 Response[KcsMaxResponse];
  UINT16 Received = 0;
  const UINT8 Capacity = *ResponseSize;
  *ResponseSize = 0;
  EFI_STATUS Status = KcsTransact(Ports, Limits, Request, IpmiHeaderBytes + RequestSize, Response,
                                  sizeof(Response), &Received);
  if (EFI_ERROR(Status)) {
    return Status;
  }
  // A response that does not answer this request belongs to nobody: refuse it rather than hand
  // another request's bytes to the caller.
  if (Received <= IpmiCompletionOffset || Response[0] != NetFnLun(NetFn + 1, Lun) ||
      Response[1] != Command) {
    return EFI_PROTOCOL_ERROR;
  }
  const UINT8 Completion = Response[IpmiCompletionOffset];
  if (Completion != 0) {
    if (Capacity > 0) {
      ResponseData[0] = Completion;
      *ResponseSize = 1;
    }
    return EFI_DEVICE_ERROR;
  }
  const UINT16 DataBytes = static_cast<UINT16>(Received - IpmiCompletionOffset - 1);
  const UINT16 Stored = DataBytes < Capacity ? DataBytes : Capacity;
  for (UINT16 I = 0; I < Stored; ++I) {
    ResponseData[I] = Response[IpmiCompletionOffset + 1 + I];
  }
  *ResponseSize = static_cast<UINT8>(Stored);
  return DataBytes > Capacity ? EFI_BUFFER_TOO_SMALL : EFI_SUCCESS;
}

EFI_STATUS IpmiKcsAwaitBmc(const KcsPorts& Ports, const KcsLimits& Limits, UINT32 Tries,
                           UINT32 PauseMicroseconds) {
  EFI_STATUS Status = EFI_NOT_READY;
  for (UINT32 Try = 0; Try < Tries; ++Try) {
    UINT8 Response[16];
    UINT8 Size = sizeof(Response);
    Status =
        IpmiKcsSend(Ports, Limits, IpmiNetFnApp, 0, IpmiGetDeviceId, nullptr, 0, Response, &Size);
    const bool Starting =
        Status == EFI_DEVICE_ERROR && Size == 1 &&
        (Response[0] == IpmiInitializationInProgress || Response[0] == IpmiNodeBusy);
    if (!Starting) {
      return Status;
    }
    Ports.Delay(Ports.Context, PauseMicroseconds);
  }
  return Status;
}
