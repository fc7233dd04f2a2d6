// The notification that runs each time an adapter driver installs AdapterClpProtocol: the adapter
// found in the AdapterSlotTable with its mailbox, and then its commands run at once, its
// multi-function mode restored, or first a wait for the adapter-ready input with every processor
// slowed down and the BMC told of the wait.
#pragma once

#include "core/protocols.h"
#include "uefi/tables.h"

// The OEM messages (NetFn 0x30, command 0x30) that tell the BMC the wait begins and ends.
constexpr UINTN AdapterWaitMessageSize = 5;
constexpr UINT8 AdapterWaitBegins[AdapterWaitMessageSize] = {0x02, 0x00, 0x00, 'C', 'F'};
constexpr UINT8 AdapterWaitEnds[AdapterWaitMessageSize] = {0x02, 0x00, 0x00, 'B', '2'};

// The platform information item 30 answer that moves an adapter row of FRU device 1 to FRU device
// 2 at its arrival. Unlike the platform pass, which takes any nonzero answer, only this value does.
constexpr UINT64 AdapterMailboxInFru2Answer = 1;

// How often the adapter-ready input is read during the wait.
constexpr UINTN AdapterReadyPollMicroseconds = 500000;

// Serves one new AdapterClpProtocol handle per call; its arguments are not used. Failures end it:
// those of the command run and of the restore are reported, the others are not.
void EFIAPI HandleAdapterArrival(EFI_EVENT Event, void* Context);

// Sends Message; only the status counts, the BMC's answer (one byte at most) is not looked at.
EFI_STATUS SendAdapterWaitMessage(IPMI_TRANSPORT_PROTOCOL* Transport,
                                  const UINT8 (&Message)[AdapterWaitMessageSize]);
