// PI status codes and the status-code runtime protocol.
#pragma once

#include "uefi/types.h"

typedef UINT32 EFI_STATUS_CODE_TYPE;
typedef UINT32 EFI_STATUS_CODE_VALUE;

constexpr EFI_STATUS_CODE_TYPE EFI_PROGRESS_CODE = 0x00000001;
constexpr EFI_STATUS_CODE_TYPE EFI_ERROR_CODE = 0x00000002;
constexpr EFI_STATUS_CODE_TYPE EFI_DEBUG_CODE = 0x00000003;

struct EFI_STATUS_CODE_DATA {
  UINT16 HeaderSize;
  UINT16 Size;
  EFI_GUID Type;
};
static_assert(sizeof(EFI_STATUS_CODE_DATA) == 20, "EFI_STATUS_CODE_DATA");

typedef EFI_STATUS(EFIAPI* EFI_REPORT_STATUS_CODE)(EFI_STATUS_CODE_TYPE Type,
                                                   EFI_STATUS_CODE_VALUE Value, UINT32 Instance,
                                                   EFI_GUID* CallerId, EFI_STATUS_CODE_DATA* Data);

// No interface pointer is passed to ReportStatusCode: the protocol is just the function.
struct EFI_STATUS_CODE_RUNTIME_PROTOCOL {
  EFI_REPORT_STATUS_CODE ReportStatusCode;
};
static_assert(sizeof(EFI_STATUS_CODE_RUNTIME_PROTOCOL) == 8, "status code protocol");

constexpr EFI_GUID EFI_STATUS_CODE_RUNTIME_PROTOCOL_GUID = {
    0xD2B2B828, 0x0826, 0x48A7, {0xB3, 0xDF, 0x98, 0x3C, 0x00, 0x60, 0x24, 0xF0}};
