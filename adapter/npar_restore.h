// Putting an adapter's multi-function mode back to its default, NPAR, when TalBladeData's
// NparRestoreMask holds the bit of the adapter's position: two commands through the adapter
// driver's own Execute, each of which must answer 0x0500.
#pragma once

#include "core/protocols.h"
#include "platform/text.h"

// The default-restore commands, in the order they are sent.
constexpr UINTN NparRestoreCommandWidth = 48;
constexpr CHAR8 NparRestoreCommands[][NparRestoreCommandWidth] = {
    "set netport1 OEMTAL_MULTIFUNCTIONMODE=NPAR",
    "exit",
};
static_assert(NparRestoreCommandWidth < TextBufferSize, "a command fits the command buffer");

// The status word each default-restore command must answer with.
constexpr UINT32 NparRestoreAccepted = 0x0500;

// Adapter: the arriving adapter's interface, which Execute receives as This. BladeData: the 280
// bytes of TalBladeData the caller read, whose NparRestoreMask loses the adapter's bit. Bus and
// Function locate the adapter (Device is not used).
//
// EFI_ABORTED for an adapter outside the AdapterSlotTable; EFI_SUCCESS when its bit is not set,
// and also when a command fails (an Execute error, or a status word other than 0x0500, which is
// reported): the bit then stays set and nothing is written. Once both commands are accepted, the
// adapter's FRU device leaves ClpCommandFruIdList and its bit the mask: the system is reset when
// the mask is empty, else TalBladeData is written and that status returned. A buffer that cannot
// be had returns the pool's status.
EFI_STATUS RestoreNparDefault(ADAPTER_CLP_PROTOCOL* Adapter, UINT8* BladeData, UINTN Bus,
                              UINTN Device, UINTN Function);
