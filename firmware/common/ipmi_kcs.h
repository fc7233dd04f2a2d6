// IPMI messages over KCS, with the calling rules of IpmiTransportProtocol: the request is framed as
// NetFn/LUN, command, data; the BMC's answer must echo the response NetFn and the command; the
// completion code is taken off so that on success the response holds only the bytes after it, and
// a nonzero code returns EFI_DEVICE_ERROR with the code in response byte 0.
#pragma once

#include "firmware/common/kcs.h"

// The largest request data one message carries here (Write FRU Data: 3 + 16 bytes, OEM UUID: 16).
constexpr UINT8 IpmiKcsMaxRequestData = 64;

// *ResponseSize holds the response buffer's capacity on entry and the number of bytes stored on
// return. A response with more data than the capacity returns EFI_BUFFER_TOO_SMALL with the first
// bytes stored; a malformed answer (too short, wrong NetFn or command) returns EFI_PROTOCOL_ERROR.
EFI_STATUS IpmiKcsSend(const KcsPorts& Ports, const KcsLimits& Limits, UINT8 NetFn, UINT8 Lun,
                       UINT8 Command, const UINT8* RequestData, UINT8 RequestSize,
                       UINT8* ResponseData, UINT8* ResponseSize);

// Waits until the BMC carries out requests: asks Get Device ID up to Tries times, pausing
// PauseMicroseconds between tries while the BMC says it is still starting (completion code 0xD2)
// or busy (0xC0). A BMC outside the machine is reached through a link that answers 0xD2 itself
// until it is connected (QEMU's ipmi-bmc-extern). Returns the status of the last request.
EFI_STATUS IpmiKcsAwaitBmc(const KcsPorts& Ports, const KcsLimits& Limits, UINT32 Tries,
                           UINT32 PauseMicroseconds);
