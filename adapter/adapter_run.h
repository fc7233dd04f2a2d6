// The adapter command run: the eight command lists of an adapter's mailbox carried out through its
// driver's Execute, a result record for every command sent, then every other adapter of the same
// PCI vendor that still has commands pending, the vendor's pending mask kept in TalBladeData, and
// the reset the commands asked for.
#pragma once

#include "core/byte_format.h"
#include "core/protocols.h"

// An adapter's status word with any of these bits set means the command failed.
constexpr UINT32 AdapterStatusFailedBits = 0xF0FF;

// The most adapters one run serves.
constexpr UINT8 AdapterRunMaxAdapters = 32;

// The buffer an adapter's Execute answers into; its contents are never read.
constexpr UINTN AdapterResponseSize = 4096;

// TalBladeData DeferredReset bit: a reset is owed once no 0x14E4 adapter is pending.
constexpr UINT8 DeferredResetOwed = 0x02;

// Runs the commands of the adapter whose AdapterClpProtocol interface is Adapter, at
// AdapterSlotTable row RowIndex, from the mailbox at MailboxOffset in its row's FRU device; then
// the other pending adapters of its vendor, each through Adapter's Execute with that adapter's
// PCI I/O handle in a copy of the interface, Header and MailboxOffset receiving each one's
// mailbox. Flags is the arrival's CommandFlags byte, handed to every rewrite.
//
// EFI_SUCCESS, also when the vendor's pending mask is 0 (nothing is read then). EFI_ABORTED when
// a lock, a FRU transfer, a rewrite or an Execute failed (TalBladeData keeps its pending mask; a
// locked mailbox stays locked). A failing PCI lookup, TalBladeData read or write, pool allocation
// or search for the next adapter returns its status; the response buffer's allocation failing
// returns EFI_ABORTED. Resets the system (and does not return) when a command asked for it and,
// for vendor 0x14E4, no adapter of the vendor is left pending.
EFI_STATUS RunAdapterCommands(IPMI_TRANSPORT_PROTOCOL* Transport, UINT8 RowIndex,
                              MailboxHeader* Header, UINT16 MailboxOffset,
                              ADAPTER_CLP_PROTOCOL* Adapter, UINT8* Flags);

// Offset in TalBladeData of the pending mask of adapters of Vendor; FALSE for a vendor that has
// none.
BOOLEAN PendingMaskField(UINT16 Vendor, UINTN* Offset);
