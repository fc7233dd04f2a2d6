// The byte formats the driver reads and writes: big- and little-endian integers, and the layout of
// the command mailbox the BMC keeps in a FRU device (header, lock bytes, command records, result
// area). Mailbox integers are big-endian except the status of a result record; variable fields,
// SMBIOS fields and IPMI FRU offsets are little-endian.
#pragma once

#include "uefi/types.h"

inline UINT16 ReadBe16(const UINT8* P) {
  return static_cast<UINT16>((P[0] << 8) | P[1]);
}
inline void WriteBe16(UINT8* P, UINT16 Value) {
  P[0] = static_cast<UINT8>(Value >> 8);
  P[1] = static_cast<UINT8>(Value);
}
inline UINT16 ReadLe16(const UINT8* P) {
  return static_cast<UINT16>(P[0] | (P[1] << 8));
}
inline void WriteLe16(UINT8* P, UINT16 Value) {
  P[0] = static_cast<UINT8>(Value);
  P[1] = static_cast<UINT8>(Value >> 8);
}
inline UINT32 ReadLe32(const UINT8* P) {
  return static_cast<UINT32>(P[0]) | (static_cast<UINT32>(P[1]) << 8) |
         (static_cast<UINT32>(P[2]) << 16) | (static_cast<UINT32>(P[3]) << 24);
}
inline void WriteLe32(UINT8* P, UINT32 Value) {
  P[0] = static_cast<UINT8>(Value);
  P[1] = static_cast<UINT8>(Value >> 8);
  P[2] = static_cast<UINT8>(Value >> 16);
  P[3] = static_cast<UINT8>(Value >> 24);
}

// The mailbox header lies at one of eight candidate offsets: 512, 768, ... 512 + 7 * 256.
constexpr UINT16 MailboxFirstOffset = 512;
constexpr UINT16 MailboxStride = 256;
constexpr UINT8 MailboxCandidates = 8;

constexpr UINT8 MailboxCommandLists = 8;
constexpr UINT8 MailboxSignature[4] = {'$', 'F', 'I', 'P'};

#pragma pack(push, 1)
// The 14 big-endian words of the header add up to 0 modulo 65536. An offset of 0 means "none".
struct MailboxHeader {
  UINT8 Signature[4];
  UINT8 Reserved1[4];
  UINT8 CommandListOffset[MailboxCommandLists][2];
  UINT8 ResultAreaOffset[2];
  UINT8 Reserved2[2];
};
// The lock the host shares with the BMC, right behind the header and outside its checksum.
struct MailboxLock {
  UINT8 LockTurn;
  UINT8 BmcLockFlag;
  UINT8 HostLockFlag;
};
// A command record starts with this id; its NUL-terminated text follows.
struct CommandRecordHead {
  UINT8 Id[2]; // big-endian
};
struct ResultRecord {
  UINT8 Id[2];     // big-endian
  UINT8 Status[4]; // little-endian
};
#pragma pack(pop)
static_assert(sizeof(MailboxHeader) == 28, "MailboxHeader");
static_assert(sizeof(MailboxLock) == 3, "MailboxLock");
static_assert(sizeof(ResultRecord) == 6, "ResultRecord");

// Offsets from the start of the header.
constexpr UINT16 CommandListOffsetField(UINT8 List) {
  return static_cast<UINT16>(offsetof(MailboxHeader, CommandListOffset) + 2 * List);
}
constexpr UINT16 ResultAreaOffsetField = offsetof(MailboxHeader, ResultAreaOffset);
constexpr UINT16 LockTurnOffset = sizeof(MailboxHeader) + offsetof(MailboxLock, LockTurn);
constexpr UINT16 BmcLockFlagOffset = sizeof(MailboxHeader) + offsetof(MailboxLock, BmcLockFlag);
constexpr UINT16 HostLockFlagOffset = sizeof(MailboxHeader) + offsetof(MailboxLock, HostLockFlag);
static_assert(CommandListOffsetField(0) == 8 && ResultAreaOffsetField == 24, "header fields");
static_assert(LockTurnOffset == 28 && HostLockFlagOffset == 30, "lock bytes");

// Offset of a command record's text from the record's start.
constexpr UINT16 CommandTextField = sizeof(CommandRecordHead);
// The id that ends a command list; no text follows it.
constexpr UINT16 CommandEndId = 0xFFFF;

// The result area: one list area per command list, each of 32 records.
constexpr UINT8 MailboxCommandsPerList = 32;
constexpr UINT16 ResultRecordSize = sizeof(ResultRecord);
constexpr UINT16 ResultListStride = MailboxCommandsPerList * ResultRecordSize;
static_assert(ResultListStride == 192, "result list area");

// Offset of the record of command Index of list List.
inline UINT16 ResultRecordOffset(UINT16 ResultAreaOffset, UINT8 List, UINT8 Index) {
  return static_cast<UINT16>(ResultAreaOffset + ResultListStride * List + ResultRecordSize * Index);
}

inline void PutResultRecord(ResultRecord& Record, UINT16 Id, UINT32 Status) {
  WriteBe16(Record.Id, Id);
  WriteLe32(Record.Status, Status);
}

// Written over the start of a list's result area when the list holds more than 32 commands.
constexpr UINT8 OverflowMarker[4] = {0xFD, 0x00, 0x00, 0x00};
