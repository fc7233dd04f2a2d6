// The command mailbox the BMC keeps in a FRU device: header, command lists, result area and the
// three lock bytes the host shares with the BMC.
#pragma once

#include "mailbox/fru_access.h"

// Header candidates: 512, 768, ... 512 + 7 * 256.
constexpr UINT16 MailboxFirstOffset = 512;
constexpr UINT16 MailboxStride = 256;
constexpr UINT8 MailboxCandidates = 8;

constexpr UINT8 MailboxCommandLists = 8;
constexpr UINT8 MailboxCommandsPerList = 32;
constexpr UINT16 ResultListStride = 192;
constexpr UINT16 ResultRecordSize = 6;
constexpr UINT16 CommandEndId = 0xFFFF;
constexpr UINT16 CommandTextCapacity = 256;

// Header layout; all integers big-endian.
#pragma pack(push, 1)
struct MailboxHeader {
  UINT8 Signature[4];
  UINT8 Reserved1[4];
  UINT8 CommandListOffset[MailboxCommandLists][2];
  UINT8 ResultAreaOffset[2];
  UINT8 Reserved2[2];
};
struct ResultRecord {
  UINT8 Id[2];     // big-endian
  UINT8 Status[4]; // little-endian
};
#pragma pack(pop)
static_assert(sizeof(MailboxHeader) == 28, "MailboxHeader");
static_assert(offsetof(MailboxHeader, CommandListOffset) == 8, "CommandListOffset");
static_assert(offsetof(MailboxHeader, ResultAreaOffset) == 24, "ResultAreaOffset");
static_assert(sizeof(ResultRecord) == ResultRecordSize, "ResultRecord");

// Lock bytes right behind the header, outside the checksum.
constexpr UINT16 LockTurnOffset = 28;
constexpr UINT16 BmcLockFlagOffset = 29;
constexpr UINT16 HostLockFlagOffset = 30;

constexpr UINT8 LockPolls = 40;
constexpr UINTN LockPollMicroseconds = 500000;

constexpr UINT8 OverflowMarker[4] = {0xFD, 0x00, 0x00, 0x00};

inline UINT16 ReadBe16(const UINT8* P) {
  return static_cast<UINT16>((P[0] << 8) | P[1]);
}

// Offset of the record of command Index of list List.
inline UINT16 ResultRecordOffset(UINT16 ResultAreaOffset, UINT8 List, UINT8 Index) {
  return static_cast<UINT16>(ResultAreaOffset + ResultListStride * List + ResultRecordSize * Index);
}

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
