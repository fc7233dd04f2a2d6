// Failure reporting: the PI status codes through which the driver makes its failures visible.
#pragma once

#include "uefi/status_code.h"

constexpr EFI_STATUS_CODE_VALUE ClpFailureCode = 0xC000B3A0;
constexpr EFI_STATUS_CODE_VALUE EmFailurePauseCode = 0xC000B3A1;

// Emits the status code at most once per boot (CLPFailureFlag), and only while TalBladeData's
// ClpFailurePause is set. Never changes the caller's own result.
void ReportClpFailure(EFI_STATUS_CODE_TYPE Type, EFI_STATUS_CODE_VALUE Value, UINT32 Instance,
                      EFI_GUID* CallerId, EFI_STATUS_CODE_DATA* Data);

// The failure report every failure path makes.
inline void ReportClpFailure() {
  ReportClpFailure(EFI_ERROR_CODE, ClpFailureCode, 0, nullptr, nullptr);
}

// Plain emission through EFI_STATUS_CODE_RUNTIME_PROTOCOL, located on first use.
EFI_STATUS SendStatusCode(EFI_STATUS_CODE_TYPE Type, EFI_STATUS_CODE_VALUE Value, UINT32 Instance,
                          EFI_GUID* CallerId, EFI_STATUS_CODE_DATA* Data);
