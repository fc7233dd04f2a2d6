// IPMI requests the driver sends to the BMC through IpmiTransportProtocol.
#pragma once

#include "core/protocols.h"

constexpr UINT8 IpmiNetFnChassis = 0x00;
constexpr UINT8 IpmiNetFnStorage = 0x0A;
constexpr UINT8 IpmiNetFnOem = 0x30;

constexpr UINT8 IpmiCmdReadFruData = 0x11;
constexpr UINT8 IpmiCmdWriteFruData = 0x12;
constexpr UINT8 IpmiCmdSetPowerRestorePolicy = 0x06;
constexpr UINT8 IpmiCmdOemAdapterWait = 0x30;
constexpr UINT8 IpmiCmdOemSystemUuid = 0x41;

// Completion codes. The driver acts on busy and not-present; the rest are what a BMC answers.
constexpr UINT8 IpmiCompletionOk = 0x00;
constexpr UINT8 IpmiCompletionFruBusy = 0x81;
constexpr UINT8 IpmiCompletionInvalidCommand = 0xC1;
constexpr UINT8 IpmiCompletionBadLength = 0xC7;
constexpr UINT8 IpmiCompletionCannotReturnCount = 0xCA;
constexpr UINT8 IpmiCompletionNotPresent = 0xCB;
constexpr UINT8 IpmiCompletionBadField = 0xCC;
