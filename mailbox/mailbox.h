// The operations on the command mailbox the BMC keeps in a FRU device: finding its header, the
// host's side of the lock shared with the BMC, and result records. The layout is in
// core/byte_format.h.
#pragma once

#include "core/byte_format.h"
#include "mailbox/fru_access.h"

// The size of the area the host reads a command text into: a text holds at most 255 characters.
constexpr UINT16 CommandTextCapacity = 256;

constexpr UINT8 LockPolls = 40;
constexpr UINTN LockPollMicroseconds = 500000;

// True when the 14 big-endian words of the header add up to 0 modulo 65536.
bool MailboxChecksumValid(const MailboxHeader& Header);

// Searches the eight candidate offsets for "$FIP"; the first signature found must have a valid
// checksum. Header receives the 28 header bytes.
EFI_STATUS FindMailbox(IPMI_TRANSPORT_PROTOCOL* Transport, UINT8 FruId, MailboxHeader* Header,
                       UINT16* HeaderOffset);

// The host's side of the lock: HostLockFlag := 1, LockTurn := 1, then up to 40 polls half a second
// apart until the BMC neither wants the mailbox nor holds the turn.
EFI_STATUS LockMailbox(IPMI_TRANSPORT_PROTOCOL* Transport, UINT8 FruId, UINT16 HeaderOffset);

// HostLockFlag := 0.
EFI_STATUS UnlockMailbox(IPMI_TRANSPORT_PROTOCOL* Transport, UINT8 FruId, UINT16 HeaderOffset);

// Writes one six-byte record: id big-endian, status little-endian.
EFI_STATUS WriteResultRecord(IPMI_TRANSPORT_PROTOCOL* Transport, FruDelay Delay, UINT8 FruId,
                             UINT16 RecordOffset, UINT16 Id, UINT32 Status);
