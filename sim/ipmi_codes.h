// The IPMI network functions, commands and completion codes the simulated BMC answers, numbered
// as the IPMI standard numbers them (the OEM commands as the blade's BMC defines them).
#pragma once

#include "uefi/types.h"

namespace sim::ipmi {

constexpr UINT8 NetFnChassis = 0x00;
constexpr UINT8 NetFnStorage = 0x0A;
constexpr UINT8 NetFnOem = 0x30;

constexpr UINT8 CmdSetPowerRestorePolicy = 0x06; // chassis
constexpr UINT8 CmdGetFruInventoryAreaInfo = 0x10;
constexpr UINT8 CmdReadFruData = 0x11;
constexpr UINT8 CmdWriteFruData = 0x12;
constexpr UINT8 CmdOemAdapterWait = 0x30;
constexpr UINT8 CmdOemSystemUuid = 0x41;

constexpr UINT8 CompletionOk = 0x00;
constexpr UINT8 CompletionFruBusy = 0x81;
constexpr UINT8 CompletionInvalidCommand = 0xC1;
constexpr UINT8 CompletionBadLength = 0xC7;
constexpr UINT8 CompletionCannotReturnCount = 0xCA;
constexpr UINT8 CompletionNotPresent = 0xCB;
constexpr UINT8 CompletionBadField = 0xCC;

} // namespace sim::ipmi
