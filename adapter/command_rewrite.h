// Adapter commands on their way from the mailbox to the adapter driver: the short port form
// widened, commands for other ports held back, ports renumbered or keywords translated for the
// vendor, and the platform settings that may stand in an adapter list carried out.
#pragma once

#include "core/protocols.h"
#include "platform/command_status.h"

// Rewrites Text (a 256-byte buffer, zero-filled behind the text) in place for the adapter of
// AdapterSlotTable row RowIndex, whose vendor is the low half of VendorDevice and device the high
// half. Clears CommandFlagNoRecord first and sets it when the command is not to be sent; sets
// CommandFlagReset when the adapter needs a reset after it.
//
// A platform setting ("SET BOOTCFGSETTING1 " or "SET B1 ") is carried out only with
// CommandFlagAfterWait; it is then not sent unless its keyword is unknown, which presets Status
// to ClpStatusBadKeyword. Not sent, it resets the system at once when CommandFlagReset is set.
//
// Returns EFI_SUCCESS, EFI_ABORTED for a short port form that cannot be widened,
// EFI_INVALID_PARAMETER for a row index past the table or a text without a NUL in its buffer, or
// the status of a failing variable read or write, UUID message or SMBIOS update (nothing not yet
// written is written after it). A refused text is left as it was.
EFI_STATUS RewriteAdapterCommand(IPMI_TRANSPORT_PROTOCOL* Ipmi, CHAR8* Text, UINT8 RowIndex,
                                 UINT32 VendorDevice, UINT32* Status, UINT8* Flags);

// Widens "SET N" to "Set Netport" in place, moving the rest of the text six places on. EFI_ABORTED,
// text unchanged, for a text shorter than 5 characters or one that would not fit its 256-byte
// buffer with its NUL (more than 249 characters).
EFI_STATUS ExpandShortNetPort(CHAR8* Text);
