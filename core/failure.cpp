#include "core/failure.h"

#include "core/driver_state.h"
#include "core/pool.h"
#include "core/variables.h"

void ReportClpFailure(EFI_STATUS_CODE_TYPE Type, EFI_STATUS_CODE_VALUE Value, UINT32 Instance,
                      EFI_GUID* CallerId, EFI_STATUS_CODE_DATA* Data) {
  // No flag yet is the normal case at the first failure of a boot: it is not non-volatile.
  UINT8 AlreadyReported = 0;
  UINTN DataSize;
  if (EFI_ERROR(ReadPlatformVariable(CLPFailureFlag, &AlreadyReported, &DataSize))) {
    AlreadyReported = 0;
  }

  PoolBuffer Blade(TalBladeData.Size);
  if (EFI_ERROR(Blade.Status()) ||
      EFI_ERROR(ReadPlatformVariable(TalBladeData, Blade.Data(), &DataSize))) {
    return;
  }
  if (Blade.Data()[TalBladeField::ClpFailurePause] == 0 || AlreadyReported != 0) {
    return;
  }

  SendStatusCode(Type, Value, Instance, CallerId, Data);
  // The boot's one report is used up even when the code did not go out.
  UINT8 Reported = 1;
  WritePlatformVariable(CLPFailureFlag, &Reported, CLPFailureFlag.Size);
}

EFI_STATUS SendStatusCode(EFI_STATUS_CODE_TYPE Type, EFI_STATUS_CODE_VALUE Value, UINT32 Instance,
                          EFI_GUID* CallerId, EFI_STATUS_CODE_DATA* Data) {
  if (Driver.StatusCodeProtocol == nullptr) {
    EFI_STATUS_CODE_RUNTIME_PROTOCOL* Protocol = nullptr;
    EFI_STATUS Status =
        Driver.BootServices->LocateProtocol(GuidPointer(EFI_STATUS_CODE_RUNTIME_PROTOCOL_GUID),
                                            nullptr, reinterpret_cast<void**>(&Protocol));
    if (EFI_ERROR(Status)) {
      return Status;
    }
    Driver.StatusCodeProtocol = Protocol;
  }
  return Driver.StatusCodeProtocol->ReportStatusCode(Type, Value, Instance, CallerId, Data);
}
